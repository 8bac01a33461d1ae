#include "calibration/OperatingPoint.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace calibration {

AxisChannel AxisChannelOf(const MapLayout& map)
{
    switch (map.number) {
    case 4: case 7: case 11: return AxisChannel::EngineSpeed;
    case 6: case 9: return AxisChannel::ManifoldPressure;
    case 5: case 8: case 12: return AxisChannel::ThrottleSite;
    case 13: return AxisChannel::AirTemperature;
    default: return AxisChannel::WaterTemperature;   // 1, 2, 3
    }
}

double ThrottleSite(int tpsByte) { return tpsByte / 16.0; }

AxisSpot SpotOnAxis(const MapLayout& map, double value)
{
    const int last = map.columns - 1;
    double position = (value - map.breakpoints.first) / map.breakpoints.step;
    if (!std::isfinite(position)) position = 0;
    position = std::clamp(position, 0.0, double(last));
    AxisSpot spot;
    spot.value = value;
    spot.position = position;
    spot.lower = int(std::floor(position));
    spot.upper = std::min(last, int(std::ceil(position)));
    spot.column = std::min(last, int(std::floor(position + 0.5)));
    spot.axisValue = map.breakpoints.first + map.breakpoints.step * position;
    return spot;
}

std::string SpotText(const MapLayout& map, const AxisSpot& spot)
{
    char value[48];
    switch (AxisChannelOf(map)) {
    case AxisChannel::EngineSpeed: std::snprintf(value, sizeof value, "engine at %.0f rpm", spot.value); break;
    case AxisChannel::ManifoldPressure: std::snprintf(value, sizeof value, "engine at %.0f kPa", spot.value); break;
    case AxisChannel::ThrottleSite: std::snprintf(value, sizeof value, "throttle at site %g", spot.value); break;
    case AxisChannel::WaterTemperature: std::snprintf(value, sizeof value, "water at %.0f \u00b0C", spot.value); break;
    case AxisChannel::AirTemperature: std::snprintf(value, sizeof value, "air at %.0f \u00b0C", spot.value); break;
    }
    const double first = map.breakpoints.first;
    const double last = map.breakpoints.first + double(map.breakpoints.step) * (map.columns - 1);
    char where[48];
    if (spot.value < first) std::snprintf(where, sizeof where, "below column 1");
    else if (spot.value > last) std::snprintf(where, sizeof where, "beyond column %d", map.columns);
    else if (spot.lower == spot.upper || spot.position == spot.lower)
        std::snprintf(where, sizeof where, "at column %d", spot.lower + 1);
    else std::snprintf(where, sizeof where, "between columns %d and %d", spot.lower + 1, spot.upper + 1);
    return std::string(value) + ", " + where;
}

}  // namespace calibration
