// Where the engine runs on a map: which live value each map is laid out over, and where that
// value falls among the map's breakpoints. Pure arithmetic; the window draws the result.
#pragma once

#include <optional>
#include <string>

#include "calibration/ImageLayout.h"

namespace calibration {

// The live value a map's breakpoints stand for.
enum class AxisChannel {
    EngineSpeed,        // rpm: maps 4, 7, 11
    ManifoldPressure,   // kPa: maps 6, 9
    ThrottleSite,       // site 0..15: maps 5, 8, 12
    WaterTemperature,   // °C: maps 1, 2, 3
    AirTemperature,     // °C: map 13
};
AxisChannel AxisChannelOf(const MapLayout& map);

// The throttle reading the ECU reports is sixteenths of the full range (the 'b' reply's data
// byte, 0..255); a throttle map has sixteen sites, one per sixteenth. Site = byte / 16, so the
// TPS figure the Gauges page shows (byte × 0.0625) is the site itself: 7.50 lies half-way
// between sites 7 and 8, and 15.00 to 15.94 all stand on the last site.
double ThrottleSite(int tpsByte);

// Where a value lies on a map's breakpoints. `position` counts columns from 0 and may lie
// between two (12.4: four tenths of the way from column 12 to 13); values beyond the first or
// last breakpoint stand on that end column. `column` is the column the engine is in: the
// nearest one, halves to the higher.
struct AxisSpot {
    double value;      // the live value, as it came
    double position;   // 0 .. columns - 1
    int column;
    int lower, upper;  // the columns either side; equal when on a breakpoint or beyond an end
    double axisValue;  // the breakpoint value at `position` (the value, held within the axis)
};
AxisSpot SpotOnAxis(const MapLayout& map, double value);

// The sentence a screen reader says for it, columns counted from 1 as a tuner counts them:
// "engine at 3250 rpm, at column 13", "engine at 3125 rpm, between columns 12 and 13",
// "engine at 95 kPa, ...", "throttle at site 7.5, ...", "water at 85 °C, ...",
// "air at -35 °C, below column 1", "engine at 9500 rpm, beyond column 36".
std::string SpotText(const MapLayout& map, const AxisSpot& spot);

}  // namespace calibration
