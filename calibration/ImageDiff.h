// What a calibration would change in the ECU: the bytes that differ from what the ECU holds,
// grouped as the tuner knows them (maps and their columns, settings with both values), so that
// nothing goes to a running engine before the tuner has seen what it changes.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "calibration/ImageLayout.h"

namespace calibration {

// What the ECU holds at an address as far as the window knows; nullopt where it is not known
// (before the first read, or a write never confirmed).
using EcuByteAt = std::function<std::optional<uint8_t>(uint16_t address)>;

struct MapDifference {
    const MapLayout* map;
    std::vector<int> columns;   // the columns whose byte differs or is not known
};

struct SettingDifference {
    const SettingLayout* setting;
    std::optional<int> ecuValue;   // as shown; nullopt: not known
    int fileValue;
};

struct ImageDifference {
    std::vector<uint16_t> addresses;   // every address that differs or is not known, ascending
    int unknown = 0;                   // of those, the addresses whose ECU byte is not known
    std::vector<MapDifference> maps;   // in map number order
    std::vector<SettingDifference> settings;   // in address order
    std::vector<uint16_t> others;      // differing addresses of neither a map nor a setting

    bool Equal() const { return addresses.empty(); }
};

ImageDifference CompareWithEcu(const EepromImage& file, const EcuByteAt& ecu);

// The question before a calibration file is uploaded: how many bytes differ, which maps (with
// their cells), each setting with the ECU's and the file's value. For a difference that is
// empty the text says the file equals what the ECU holds.
QString UploadQuestion(const QString& file, const ImageDifference& difference);

// The question when what the ECU holds is not known (it has not been read, or does not answer).
QString UploadBlindQuestion(const QString& file);

}  // namespace calibration
