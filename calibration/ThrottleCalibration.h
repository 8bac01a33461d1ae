// Teaching the ECU the throttle sensor's end points: the two rows (closed and open throttle)
// and what the raw reading in the POT box turns into once the tuner has confirmed the prompt.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace calibration {

struct ThrottleEnd {
    int address;          // image address of the end point
    const char* prompt;   // the information box the tuner confirms with the throttle in place
};

inline constexpr ThrottleEnd ThrottleClosed{450, "Release throttle!\n Then press OK"};
inline constexpr ThrottleEnd ThrottleOpen{451, "Push throttle to maximum!\n Then press OK"};

struct ThrottleReading {
    enum Outcome {
        Ignore,   // not a whole number: nothing to store, and nothing to complain about
        Refuse,   // outside 0..255: a byte the sensor never gave must not be taught (beep)
        Store,
    } outcome;
    uint8_t byte = 0;
};

ThrottleReading ReadThrottle(std::string_view potText);

}  // namespace calibration
