// The decisions of the two link timers, kept apart from the window so that they can be
// checked without one: which live-value command each polling tick sends, when the link
// watchdog reports the ECU lost or back, and what the probe tick does while looking for the
// ECU or waiting on a stalled EEPROM read. The window owns the counters and passes them in.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace polling {

// The live-value commands, indexed by the polling step.
inline constexpr std::array<char, 9> Cycle = {'G', 'A', 'B', 'C', 'D', 'E', 'V', 'F', 'H'};
inline constexpr uint8_t LogSampleStep = 7;   // right after 'F' has gone out

// More silent ticks than this report the link lost (132 ms at the 12 ms pace).
inline constexpr uint32_t SilentTicksLimit = 10;
// More probe ticks than this without a read reply restart the read (about 5 s).
inline constexpr uint32_t ReadStallLimit = 3;

// Status bar panel 2.
inline constexpr const char* TextLinkLost = "Status- ECU connection lost";
inline constexpr const char* TextConnected = "Status- ECU connected";
// Our output is stopped by flow control (an XOFF): the ECU is not lost, it cannot be asked.
inline constexpr const char* TextLineHeld = "Status- line held (XOFF)";
// Output held for too long was let go on; `times` in this run.
std::string LineHeldText(uint64_t times);
inline constexpr const char* TextNotConnected = "Status- ECO  NOT connected";   // two spaces
inline constexpr const char* TextReading = "Reading eeprom - ";               // + address
inline constexpr const char* TextUploading = "Uploading eeprom - ";           // + address
inline constexpr const char* TextReadError = "Status- error reading eeprom";  // read and upload

// What one polling tick must do, in this order: report the link lost (panel 2 and a red bar)
// or back (panel 2 and the normal bar colour), send `command` with address 0 and data 0,
// then take a log sample.
struct TickPlan {
    char command;
    bool reportLost;
    bool reportBack;
    bool takeLogSample;
};

// Advances PollStep (raised before use, so the first poll of the run is 'A'; the cycle
// continues where it stopped when polling resumes) and SilentTicks (cleared by the window on
// every accepted reply). At exactly SilentTicksLimit silent ticks nothing is reported.
TickPlan PollTick(uint8_t& PollStep, uint32_t& SilentTicks, bool barIsRed, bool loggingActive);

// SendProbe: send 'V'. RestartRead: ReadStallTicks has been cleared; send 'V', whose reply
// starts the read again from address 0. Count: nothing to send; ReadStallTicks was raised.
enum class ProbeAction { SendProbe, RestartRead, Count };

ProbeAction ProbeTick(bool EcuAnswered, bool ReadPending, uint32_t& ReadStallTicks);

}  // namespace polling
