#include "calibration/FileComparison.h"

namespace calibration {

void FileComparison::Begin(const EepromImage& file, const QString& name)
{
    file_ = file;
    name_ = name;
    active_ = true;
}

bool FileComparison::Differs(uint16_t address, const EcuByteAt& ecu) const
{
    return active_ && address < ImageSize && ecu(address) != file_[address];
}

std::size_t FileComparison::CountDiffering(const EcuByteAt& ecu) const
{
    if (!active_) return 0;
    return CompareWithEcu(file_, ecu).addresses.size();
}

QString FileComparison::ToolTip(uint16_t address, Encoding encoding, std::optional<uint8_t> ecuByte) const
{
    const QString ecu = ecuByte ? QString::number(ShownValue(encoding, *ecuByte)) : QStringLiteral("not known");
    return QStringLiteral("Differs from %1: the file holds %2, the ECU %3")
        .arg(name_, QString::number(ShownValue(encoding, file_[address])), ecu);
}

CellBytes FileComparison::TakeColumns(const MapLayout& map, const std::vector<int>& columns,
                                      const EcuByteAt& ecu) const
{
    CellBytes cells;
    if (!active_) return cells;
    for (const int column : columns) {
        if (column < 0 || column >= map.columns) continue;
        const auto address = static_cast<uint16_t>(map.base + column);
        if (Differs(address, ecu)) cells.push_back({column, file_[address]});
    }
    return cells;
}

}  // namespace calibration
