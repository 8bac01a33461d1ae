#include "calibration/MapScaling.h"

#include <cstdint>
#include <cstdlib>

namespace calibration {

namespace {

bool Blank(char c) { return c == ' ' || c == '\t'; }

// num / den rounded to the nearest whole number, halves away from zero; den > 0.
int64_t RoundedQuotient(int64_t num, int64_t den)
{
    const int64_t magnitude = (2 * std::llabs(num) + den) / (2 * den);
    return num < 0 ? -magnitude : magnitude;
}

}  // namespace

std::optional<int> ParsePercent(std::string_view text)
{
    while (!text.empty() && Blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && Blank(text.back())) text.remove_suffix(1);
    if (!text.empty() && text.back() == '%') text.remove_suffix(1);
    while (!text.empty() && Blank(text.back())) text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int64_t whole = 0;
    int digits = 0, decimals = 0, fraction = 0;
    bool separator = false;
    for (char c : text) {
        if (c == '.' || c == ',') {
            if (separator) return std::nullopt;
            separator = true;
        } else if (c >= '0' && c <= '9') {
            if (separator) {
                if (++decimals > 2) return std::nullopt;
                fraction = fraction * 10 + (c - '0');
            } else {
                if (++digits > 5) return std::nullopt;
                whole = whole * 10 + (c - '0');
            }
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0 && decimals == 0) return std::nullopt;
    if (decimals == 1) fraction *= 10;
    int64_t hundredths = whole * 100 + fraction;
    if (negative) hundredths = -hundredths;
    if (hundredths <= -10000 || hundredths > 100000) return std::nullopt;
    return static_cast<int>(hundredths);
}

std::optional<CellBytes> ScaleColumns(const MapLayout& map, const std::vector<int>& columns,
                                      const ColumnText& text, int hundredths)
{
    if (columns.empty()) return std::nullopt;
    CellBytes cells;
    for (int column : columns) {
        if (column < 0 || column >= map.columns) return std::nullopt;
        const std::optional<uint8_t> byte = ShownToByte(map.encoding, text(column));
        if (!byte) return std::nullopt;
        // From what the cell holds, not from its text: 101 typed into the doubled map is 100.
        const int64_t shown = ShownValue(map.encoding, *byte);
        const int64_t num = shown * (10000 + hundredths);
        // The nearest value the cell can hold, in its own units: bytes of two for the doubled map.
        const int64_t unit = ShownStep(map.encoding);
        const int64_t steps = RoundedQuotient(num, 10000 * unit);
        const int64_t newShown = steps * unit;
        const int64_t newByte = map.encoding == Encoding::Offset ? newShown + 100
                                : map.encoding == Encoding::Doubled ? newShown / 2
                                                                    : newShown;
        if (newByte < 0 || newByte > 255) return std::nullopt;
        cells.push_back({column, static_cast<uint8_t>(newByte)});
    }
    return cells;
}

}  // namespace calibration
