// Options of the simulated ECU, shared by the program's command line and by tests that
// run the simulator in-process.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct SimOptions {
    std::string link;               // symbolic link made to the slave; empty: none
    std::string imagePath;          // 500-byte calibration image to start from; empty: built-in
    bool persist = false;           // write EEPROM changes back to imagePath
    uint32_t baud = 0;              // pace the line at this rate (10 bits a byte); 0: unpaced
    uint32_t latencyMs = 0;         // extra answer time before each reply (a USB adapter's latency timer) ...
    uint32_t lowLatencyMs = 1;      // ... and what it falls to once the program asks for low latency
    double drop = 0;                // probability that a reply is lost
    double corrupt = 0;             // probability that one character of a reply is damaged
    double dropCommands = 0;        // probability that a command is lost on its way (never acts)
    uint32_t writeMs = 0;           // a slow EEPROM: a 'W' takes this long, and while the ECU is
                                    // busy it keeps one more command; any beyond that are lost
    // An ECU that slows down mid-run: after this many commands, a 'W' takes slowWriteMs instead.
    std::optional<uint64_t> slowAfter;
    uint32_t slowWriteMs = 0;
    double dupEcho = 0;             // probability that a 'w' echo is sent twice
    double damageAddress = 0;       // probability that a command's address loses or gains 0x100 on
                                    // its way (the checksum does not cover it): it acts there
    double xoffInReply = 0;         // probability that one character of a reply arrives as XOFF
    uint32_t readEveryMs = 0;       // a slow reader: takes what the line holds only every N ms
    uint32_t xoffEveryMs = 0;       // sends XOFF every N ms ...
    uint32_t xoffHoldMs = 100;      // ... and XON this long after it
    uint32_t unplugEveryMs = 0;     // the device goes away every N ms ...
    uint32_t unplugForMs = 2000;    // ... and comes back under the same link this long after
    bool crlf = false;              // CR LF after each reply
    std::optional<uint64_t> silentAfter;   // stop answering after this many replies
    uint64_t seed = 1;
    bool trace = false;             // every frame both ways, time-stamped, to stderr
};

struct ParsedOptions {
    SimOptions options;
    bool help = false;
    bool version = false;
    std::string error;   // empty when the command line was good
};

// Parses the arguments after the program name. The program's link defaults to ./COM1,
// where the tool looks for a port named COM1.
ParsedOptions ParseOptions(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace sim
