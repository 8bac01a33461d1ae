#include "calibration/SettingEditors.h"

namespace calibration {

SettingLeave LeaveSetting(bool readPending, bool uploadActive, int tag, std::string_view text)
{
    if (readPending || uploadActive) return {SettingLeave::Nothing};
    // The offset settings are told by their address; every other address stores the number.
    const SettingLayout* setting = SettingByAddress(tag);
    const Encoding encoding = setting ? setting->encoding : Encoding::Plain;
    const std::optional<uint8_t> byte = SettingTextToByte(encoding, text);
    if (!byte || tag < 0 || tag > 0xFFFF) return {SettingLeave::Beep};
    return {SettingLeave::Send, static_cast<uint16_t>(tag), *byte};
}

int SettingShownValue(const SettingLayout& setting, const EepromImage& image)
{
    return ShownValue(setting.encoding, image[std::size_t(setting.address)]);
}

}  // namespace calibration
