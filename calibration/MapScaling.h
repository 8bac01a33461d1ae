// Scaling a map's cells by a percentage, as tuners trim a region of fuel or advance: each
// selected cell's shown value times (100 + p) / 100, rounded to what the cell can hold. Decides
// bytes only; the window sends them through its one edit path.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "calibration/ImageLayout.h"
#include "calibration/MapEditing.h"

namespace calibration {

// A percentage as typed: an optional sign, digits, at most two decimals after a full stop or a
// comma, an optional trailing '%', spaces around. In hundredths of a percent (2.5 -> 250).
// nullopt for anything else, and for -100 % or less (a cell cannot be scaled to nothing or
// below), and beyond +1000 %.
std::optional<int> ParsePercent(std::string_view text);

// Every listed column scaled by `hundredths` / 100 percent: shown value v becomes
// v * (10000 + hundredths) / 10000, rounded to the nearest value the map holds (halves away from
// zero; the doubled map holds even values only). Refused as a whole (nullopt) when a cell is not
// a number the map can hold, a column lies outside the map, or any new value would leave the
// byte's range; nothing is then to be sent.
std::optional<CellBytes> ScaleColumns(const MapLayout& map, const std::vector<int>& columns,
                                      const ColumnText& text, int hundredths);

}  // namespace calibration
