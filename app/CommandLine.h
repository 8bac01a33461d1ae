// The program's command line, read before Qt starts: --help and --version must answer on a
// machine with no display, and a display that is missing must be said in words, not with Qt's
// abort. Qt's own options (-platform, -style, -display, ...) are kept and handed to Qt as
// given; whatever follows "--demo --" belongs to the simulated ECU.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cli {

struct CommandLine {
    enum class Action { Run, Help, Version, Fail };
    Action action = Action::Run;
    std::string error;                   // Fail: what was wrong, for one line on stderr
    bool demo = false;                   // --demo: start the simulated ECU and connect to it
    bool printStatus = false;            // --print-status: the link's status texts on stdout
    std::vector<std::string> simArgs;    // after "--demo --", for quenrix-ecu-sim
    std::vector<std::string> qtArgs;     // Qt's own options with their values, in order
    std::string platform;                // the value of -platform, empty when not given
};

// args: the arguments after the program's name.
CommandLine Parse(const std::vector<std::string>& args);

// What --help prints.
std::string UsageText();

// The one line that says no window can be opened here and how to get a virtual display, or
// nothing when one may be there. platform is -platform's value; env reads a variable (empty
// when unset). A platform that needs no display (offscreen, vnc, a frame buffer) never misses it.
std::optional<std::string> MissingDisplay(const std::string& platform,
                                          const std::function<std::string(const char*)>& env);

// The same line when Qt found a display named but could not use it; reason is Qt's own word.
std::string DisplayUnusable(const std::string& reason);

}  // namespace cli
