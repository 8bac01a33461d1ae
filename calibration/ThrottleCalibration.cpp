#include "calibration/ThrottleCalibration.h"

#include "calibration/ImageLayout.h"

namespace calibration {

ThrottleReading ReadThrottle(std::string_view potText)
{
    const std::optional<int> reading = ParseWholeNumber(potText);
    if (!reading) return {ThrottleReading::Ignore};
    if (*reading < 0 || *reading > 255) return {ThrottleReading::Refuse};
    return {ThrottleReading::Store, uint8_t(*reading)};
}

}  // namespace calibration
