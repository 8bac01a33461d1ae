#include "calibration/MapTables.h"

namespace calibration {

std::optional<CellWrite> ConfirmCell(const MapLayout& map, int column, std::string_view text)
{
    if (column < 0 || column >= map.columns) return std::nullopt;
    const std::optional<uint8_t> byte = ShownToByte(map.encoding, text);
    if (!byte) return std::nullopt;
    return CellWrite{static_cast<uint16_t>(map.base + column), *byte};
}

int NextColumn(const MapLayout& map, int column)
{
    return column + 1 < map.columns ? column + 1 : 1;
}

ChartPoints PointsFromCells(int columns, const CellText& cell)
{
    ChartPoints result;
    result.points.reserve(std::size_t(columns > 0 ? columns : 0));
    for (int col = 0; col < columns; ++col) {
        const std::optional<int> x = ParseWholeNumber(cell(col, 0));
        const std::optional<int> y = x ? ParseWholeNumber(cell(col, 1)) : std::nullopt;
        if (!x || !y) {
            result.complete = false;
            break;
        }
        result.points.emplace_back(*x, *y);
    }
    return result;
}

}  // namespace calibration
