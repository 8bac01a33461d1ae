// Editing a map cell by cell: what a confirmed cell sends, where the cursor goes next, and
// the chart points read back from a grid's two rows. No widgets: the window hands in texts.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "calibration/ImageLayout.h"

namespace calibration {

// The write a confirmed cell asks for. nullopt when the text is not a whole number or the
// number does not fit the map's byte (the tuner hears a beep and nothing goes out).
struct CellWrite {
    uint16_t address;
    uint8_t data;
};
std::optional<CellWrite> ConfirmCell(const MapLayout& map, int column, std::string_view text);

// The column the cursor moves to after a confirmed cell: one to the right, and from the last
// column back to column 1 (column 0, the first site, is left out of the wrap-around).
int NextColumn(const MapLayout& map, int column);

// The chart points of a grid, column by column: (row 0, row 1) as whole numbers. Stops at the
// first cell that is not a whole number; `complete` tells whether every column made a point.
struct ChartPoints {
    std::vector<std::pair<int, int>> points;
    bool complete = true;
};
using CellText = std::function<std::string(int column, int row)>;
ChartPoints PointsFromCells(int columns, const CellText& cell);

}  // namespace calibration
