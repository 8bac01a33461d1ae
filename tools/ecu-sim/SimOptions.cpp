#include "tools/ecu-sim/SimOptions.h"

#include <charconv>
#include <functional>
#include <map>

namespace sim {

namespace {

template <class T>
bool ParseNumber(const std::string& text, T& out)
{
    if (text.empty() || text[0] == '+' || text[0] == '-') return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

bool ParseProbability(const std::string& text, double& out)
{
    return ParseNumber(text, out) && out >= 0.0 && out <= 1.0;
}

}  // namespace

std::string UsageText()
{
    return "Usage: quenrix-ecu-sim [options]\n"
           "A simulated ECU on a pseudo-terminal. Prints the terminal's path, links it, and answers\n"
           "command frames until interrupted.\n"
           "\n"
           "  --link PATH        symbolic link to the terminal (default ./COM1); an existing link is replaced\n"
           "  --image FILE       start from this 500-byte calibration image instead of the built-in one\n"
           "  --persist          write every change of the EEPROM back to --image (atomically)\n"
           "  --baud N           pace the line at N baud, 10 bits a character (default 0: unpaced)\n"
           "  --latency-ms N     wait N ms before answering each command, as a USB adapter's latency timer\n"
           "                     delays what it delivers (16 on an FTDI adapter)\n"
           "  --low-latency-ms N the wait once the program has asked the adapter for low latency (default 1);\n"
           "                     only a program in the same process can ask (a pseudo-terminal cannot carry it)\n"
           "  --drop P           lose each reply with probability P (0 to 1); the command still acts\n"
           "  --corrupt P        damage one character of each reply with probability P (0 to 1)\n"
           "  --drop-commands P  lose each command on its way with probability P (0 to 1): it neither acts nor is answered\n"
           "  --write-ms N       a slow EEPROM: each 'W' takes N ms; while busy the ECU keeps one more command\n"
           "                     and loses any beyond it\n"
           "  --slow-after N:MS  after N commands each 'W' takes MS ms (as --write-ms), an ECU that slows down\n"
           "                     mid-run\n"
           "  --dup-echo P       send each 'w' echo twice with probability P (0 to 1)\n"
           "  --damage-address P damage the address of each command with probability P (0 to 1): its high byte\n"
           "                     gains or loses 1, which the checksum does not see, and the command acts there\n"
           "  --xoff-in-reply P  turn one character of each reply into XOFF (0x13) with probability P (0 to 1)\n"
           "  --read-every-ms N  a slow reader: take what the line holds only every N ms\n"
           "  --xoff-every-ms N  send XOFF (0x13) every N ms, and XON (0x11) --xoff-hold-ms later (default 100)\n"
           "  --unplug-every-ms N  go away every N ms (terminal closed, link removed) and come back under the\n"
           "                     same link --unplug-for-ms later (default 2000)\n"
           "  --crlf             send CR LF after each reply\n"
           "  --silent-after N   stop answering after N replies (lost and damaged ones count)\n"
           "  --seed N           seed for the engine model and the faults (default 1)\n"
           "  --trace            write every frame both ways, time-stamped, to stderr\n"
           "  --help             show this text\n"
           "  --version          show the version\n"
           "\n"
           "Exit status: 0 when stopped by Ctrl+C or a signal, 1 when it cannot start, 2 for bad options.\n";
}

ParsedOptions ParseOptions(const std::vector<std::string>& args)
{
    ParsedOptions result;
    SimOptions& o = result.options;
    o.link = "./COM1";

    using Setter = std::function<bool(const std::string&)>;
    const std::map<std::string, Setter> withValue = {
        {"--link", [&](const std::string& v) { o.link = v; return !v.empty(); }},
        {"--image", [&](const std::string& v) { o.imagePath = v; return !v.empty(); }},
        {"--baud", [&](const std::string& v) { return ParseNumber(v, o.baud); }},
        {"--latency-ms", [&](const std::string& v) { return ParseNumber(v, o.latencyMs); }},
        {"--low-latency-ms", [&](const std::string& v) { return ParseNumber(v, o.lowLatencyMs); }},
        {"--drop", [&](const std::string& v) { return ParseProbability(v, o.drop); }},
        {"--corrupt", [&](const std::string& v) { return ParseProbability(v, o.corrupt); }},
        {"--drop-commands", [&](const std::string& v) { return ParseProbability(v, o.dropCommands); }},
        {"--write-ms", [&](const std::string& v) { return ParseNumber(v, o.writeMs); }},
        {"--slow-after", [&](const std::string& v) {
             const auto colon = v.find(':');
             uint64_t n = 0;
             uint32_t ms = 0;
             if (colon == std::string::npos || !ParseNumber(v.substr(0, colon), n) ||
                 !ParseNumber(v.substr(colon + 1), ms))
                 return false;
             o.slowAfter = n;
             o.slowWriteMs = ms;
             return true;
         }},
        {"--dup-echo", [&](const std::string& v) { return ParseProbability(v, o.dupEcho); }},
        {"--damage-address", [&](const std::string& v) { return ParseProbability(v, o.damageAddress); }},
        {"--xoff-in-reply", [&](const std::string& v) { return ParseProbability(v, o.xoffInReply); }},
        {"--read-every-ms", [&](const std::string& v) { return ParseNumber(v, o.readEveryMs); }},
        {"--xoff-every-ms", [&](const std::string& v) { return ParseNumber(v, o.xoffEveryMs); }},
        {"--xoff-hold-ms", [&](const std::string& v) { return ParseNumber(v, o.xoffHoldMs); }},
        {"--unplug-every-ms", [&](const std::string& v) { return ParseNumber(v, o.unplugEveryMs); }},
        {"--unplug-for-ms", [&](const std::string& v) { return ParseNumber(v, o.unplugForMs); }},
        {"--silent-after", [&](const std::string& v) {
             uint64_t n = 0;
             if (!ParseNumber(v, n)) return false;
             o.silentAfter = n;
             return true;
         }},
        {"--seed", [&](const std::string& v) { return ParseNumber(v, o.seed); }},
    };
    const std::map<std::string, bool*> flags = {
        {"--persist", &o.persist}, {"--crlf", &o.crlf}, {"--trace", &o.trace}, {"--help", &result.help},
        {"--version", &result.version}};

    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (const auto flag = flags.find(name); flag != flags.end()) {
            if (value) {
                result.error = name + " takes no value";
                return result;
            }
            *flag->second = true;
            continue;
        }
        const auto setter = withValue.find(name);
        if (setter == withValue.end()) {
            result.error = "unknown option '" + args[i] + "'";
            return result;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                result.error = name + " needs a value";
                return result;
            }
            value = args[++i];
        }
        if (!setter->second(*value)) {
            const bool probability = name == "--drop" || name == "--corrupt" || name == "--drop-commands" ||
                                     name == "--dup-echo" || name == "--damage-address" || name == "--xoff-in-reply";
            const bool path = name == "--link" || name == "--image";
            result.error = "bad value '" + *value + "' for " + name +
                           (probability ? ": give a probability from 0 to 1"
                            : path      ? ": give a path"
                            : name == "--slow-after" ? ": give two whole numbers as N:MS"
                                        : ": give a whole number, 0 or more");
            return result;
        }
    }
    if (o.persist && o.imagePath.empty()) result.error = "--persist needs --image FILE to write to";
    return result;
}

}  // namespace sim
