#include "app/CommandLine.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace cli {

namespace {

// Qt's own options, as Qt reads them (with one dash or two). Those of the first list take the
// next argument as their value; style and stylesheet also come as -style=NAME.
constexpr std::array<std::string_view, 15> QtWithValue = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon",
    "qwindowtitle", "session", "display", "geometry", "name", "title", "visual", "style", "stylesheet"};
constexpr std::array<std::string_view, 8> QtFlags = {
    "reverse", "widgetcount", "nograb", "dograb", "sync", "testability", "cmap", "qwindowalwaysontop"};
constexpr std::array<std::string_view, 3> QtJoined = {"style=", "stylesheet=", "qmljsdebugger="};

template <std::size_t N>
bool Among(const std::array<std::string_view, N>& names, std::string_view name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// "-platform" and "--platform" both name Qt's option "platform"; anything else gives "".
std::string_view QtName(std::string_view arg)
{
    if (arg.size() < 2 || arg[0] != '-') return {};
    arg.remove_prefix(arg.substr(0, 2) == "--" ? 2 : 1);
    return arg;
}

CommandLine Failed(std::string error)
{
    CommandLine line;
    line.action = CommandLine::Action::Fail;
    line.error = std::move(error);
    return line;
}

bool NeedsNoDisplay(std::string_view name)
{
    // Platforms that draw into memory, a frame buffer or a VNC client.
    return name == "offscreen" || name == "minimal" || name == "vnc" || name == "eglfs" || name == "linuxfb"
           || name == "vkkhrdisplay" || name == "minimalegl" || name == "directfb";
}

}  // namespace

CommandLine Parse(const std::vector<std::string>& args)
{
    CommandLine line;
    bool help = false;
    bool version = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            line.simArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            if (!line.demo) return Failed("what follows -- is for the simulated ECU and needs --demo before it");
            break;
        }
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--version") {
            version = true;
        } else if (arg == "--demo") {
            line.demo = true;
        } else if (arg == "--print-status") {
            line.printStatus = true;
        } else if (const std::string_view qt = QtName(arg); Among(QtWithValue, qt)) {
            if (i + 1 >= args.size()) return Failed("option '" + arg + "' needs a value");
            if (qt == "platform") line.platform = args[i + 1];
            line.qtArgs.push_back(arg);
            line.qtArgs.push_back(args[++i]);
        } else if (Among(QtFlags, qt)
                   || std::any_of(QtJoined.begin(), QtJoined.end(),
                                  [&](std::string_view p) { return qt.substr(0, p.size()) == p && qt.size() > p.size(); })) {
            line.qtArgs.push_back(arg);
        } else if (!arg.empty() && arg[0] == '-') {
            return Failed("unknown option '" + arg + "'");
        } else {
            return Failed("unexpected argument '" + arg + "': the program opens no file named on its command line");
        }
    }
    // The simulator's link is the demo's to make: the window looks for it in the demo's folder.
    for (const std::string& arg : line.simArgs)
        if (arg == "--link" || arg.rfind("--link=", 0) == 0)
            return Failed("--demo makes the simulated ECU's link itself; leave out --link");
    if (help) line.action = CommandLine::Action::Help;
    else if (version) line.action = CommandLine::Action::Version;
    return line;
}

std::string UsageText()
{
    return "Usage: quenrix [options]\n"
           "       quenrix --demo [-- simulator options]\n"
           "Tunes and monitors an aftermarket engine control unit (ECU) over a serial line.\n"
           "\n"
           "  --demo          try the program without an ECU: starts the simulated ECU (quenrix-ecu-sim)\n"
           "                  in a private folder, connects to it, and removes it all when the window\n"
           "                  closes. Remembered settings (the port) are neither read nor changed.\n"
           "                  Options after -- go to the simulator, for example\n"
           "                  quenrix --demo -- --baud 19200 --drop 0.05 (see quenrix-ecu-sim --help)\n"
           "  --print-status  print the link's status, as the status bar shows it, on standard output\n"
           "                  each time it changes, one line each (for scripts and tests)\n"
           "  -h, --help      show this text\n"
           "  --version       show the version\n"
           "\n"
           "Qt's own options work as in any Qt program, for example -platform offscreen or -style Fusion.\n"
           "The window needs a graphical display; to run it for a test without one: xvfb-run -a quenrix\n"
           "\n"
           "Exit status: 0 when the window was closed, 1 when the program cannot start (no display, no\n"
           "simulated ECU for --demo), 2 for bad options.\n";
}

std::optional<std::string> MissingDisplay(const std::string& platform,
                                          const std::function<std::string(const char*)>& env)
{
    std::string names = platform.empty() ? env("QT_QPA_PLATFORM") : platform;
    const bool x11 = !env("DISPLAY").empty();
    const bool wayland = !env("WAYLAND_DISPLAY").empty();
    if (names.empty()) {
        if (x11 || wayland) return std::nullopt;
        return "quenrix: the window needs a graphical display, and none is set (DISPLAY and WAYLAND_DISPLAY are "
               "empty); to run it for a test without one, start a virtual display: xvfb-run -a quenrix";
    }
    // A list of platforms to try in turn ("wayland;xcb"), each with its own options ("xcb:...").
    std::string_view rest = names;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find(';'), rest.size());
        std::string_view name = rest.substr(0, end);
        name = name.substr(0, name.find(':'));
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (NeedsNoDisplay(name)) return std::nullopt;
        if (name == "xcb" && x11) return std::nullopt;
        if (name.substr(0, 7) == "wayland" && wayland) return std::nullopt;
        if (name != "xcb" && name.substr(0, 7) != "wayland") return std::nullopt;   // Qt will say
    }
    return "quenrix: the window needs a graphical display for the platform '" + names
           + "', and none is set; to run it for a test without one, start a virtual display: xvfb-run -a quenrix";
}

std::string DisplayUnusable(const std::string& reason)
{
    return "quenrix: the window needs a graphical display, and the one set cannot be used (" + reason
           + "); to run it for a test without one, start a virtual display: xvfb-run -a quenrix";
}

}  // namespace cli
