// The scalar settings' editors as decisions: what leaving a setting edit does, given the
// window's transfer flags and the edit's text. The edit's Tag is the setting's image address.
#pragma once

#include <cstdint>
#include <string_view>

#include "calibration/ImageLayout.h"

namespace calibration {

struct SettingLeave {
    enum Action {
        Nothing,   // a read or an upload is running: the ECU must not get a byte in between
        Beep,      // not a whole number, or its byte would fall outside 0..255
        Send,      // 'W' address data
    } action;
    uint16_t address = 0;
    uint8_t data = 0;
};

SettingLeave LeaveSetting(bool readPending, bool uploadActive, int tag, std::string_view text);

// A decode found a lock byte other than off (0) or on (20): the tuner must look at it.
inline bool LockByteValid(uint8_t byte) { return byte == 0 || byte == 20; }

// The shown value a decode gives a setting's spin control.
int SettingShownValue(const SettingLayout& setting, const EepromImage& image);

}  // namespace calibration
