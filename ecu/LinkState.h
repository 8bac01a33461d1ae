// The window's record of the link: whether the calibration still has to be read, whether an
// upload runs, whether the ECU has answered, and the counters of the watchdog, the read's stall
// and rejected replies. The window carries these under their own names (it derives from this),
// and every reset of the link (start-up, a port change, a lost device) goes through ResetLink,
// so a new field is reset in one place.
#pragma once

#include <cstdint>

namespace ecu {

// What a reset does to the link watchdog's count of silent ticks.
enum class WatchdogAfterReset {
    Restart,     // counts from zero (start-up)
    Keep,        // goes on counting (a port change)
    PastLimit,   // already past its limit: the link is reported back only after a reply
};

// Where the resets differ; everything else they do alike (a read to do from address 0, no
// upload running, the ECU not heard yet).
struct LinkReset {
    WatchdogAfterReset watchdog;
    bool restartStallCount;   // the read's stall count from zero
    bool keepBadReplyCount;   // the count of rejected replies stays on screen
};
inline constexpr LinkReset kResetAtStart{WatchdogAfterReset::Restart, true, false};
inline constexpr LinkReset kResetOnPortChange{WatchdogAfterReset::Keep, false, false};
inline constexpr LinkReset kResetOnDeviceLost{WatchdogAfterReset::PastLimit, false, true};

struct LinkState {
    uint8_t ReadPending = 0;
    uint8_t UploadActive = 0;
    uint8_t EcuAnswered = 0;
    int32_t BadReplyCount = 0;
    uint32_t SilentTicks = 0;
    uint32_t ReadStallTicks = 0;
    uint16_t ReadResumeAddress = 0;   // where a read that stalled goes on

    void ResetLink(const LinkReset& reset);
};

}  // namespace ecu
