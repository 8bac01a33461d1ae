// A calibration file held up against what the ECU holds, without sending anything: which cells
// and settings differ, what a differing one says of itself (both values), and the edit that
// takes a selection's bytes from the file when the tuner asks for them.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "calibration/ImageDiff.h"
#include "calibration/ImageLayout.h"
#include "calibration/MapEditing.h"

namespace calibration {

class FileComparison {
public:
    void Begin(const EepromImage& file, const QString& name);
    void End() { active_ = false; }
    bool Active() const { return active_; }
    const QString& Name() const { return name_; }
    uint8_t FileByte(uint16_t address) const { return file_[address]; }

    // The file's byte differs from what the ECU holds there, or what it holds is not known.
    bool Differs(uint16_t address, const EcuByteAt& ecu) const;
    std::size_t CountDiffering(const EcuByteAt& ecu) const;
    // What a differing cell or setting says of itself: the file's value and the ECU's, as shown.
    QString ToolTip(uint16_t address, Encoding encoding, std::optional<uint8_t> ecuByte) const;
    // The listed columns of a map whose byte differs, with the file's byte: what "Take from file"
    // sends as one edit. Empty when none differs.
    CellBytes TakeColumns(const MapLayout& map, const std::vector<int>& columns, const EcuByteAt& ecu) const;

private:
    bool active_ = false;
    EepromImage file_{};
    QString name_;
};

}  // namespace calibration
