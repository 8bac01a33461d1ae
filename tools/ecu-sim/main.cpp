// quenrix-ecu-sim: the simulated ECU as a program, for running the tool without hardware.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <pthread.h>
#include <string>
#include <vector>

#include "quenrix/Version.h"
#include "tools/ecu-sim/EcuSim.h"

int main(int argc, char** argv)
{
    const sim::ParsedOptions parsed = sim::ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "quenrix-ecu-sim: %s\nTry 'quenrix-ecu-sim --help'.\n", parsed.error.c_str());
        return 2;
    }
    if (parsed.help) {
        std::fputs(sim::UsageText().c_str(), stdout);
        return 0;
    }
    if (parsed.version) {
        std::printf("quenrix-ecu-sim %s\n", quenrix::Version);
        return 0;
    }
    if (!parsed.options.imagePath.empty()) {
        sim::Image image;
        std::string error;
        if (!sim::LoadImageFile(parsed.options.imagePath, image, &error)) {
            std::fprintf(stderr, "quenrix-ecu-sim: %s\n", error.c_str());
            return 2;
        }
    }

    // Block the stop signals before the answering thread exists, so only sigwait sees them
    // and the link is removed on the way out.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopSignals, s);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::EcuSim ecu(parsed.options);
    std::string error;
    if (!ecu.Start(&error)) {
        std::fprintf(stderr, "quenrix-ecu-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", ecu.SlavePath().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "quenrix-ecu-sim: answering on %s%s; Ctrl+C stops.\n", ecu.SlavePath().c_str(),
                 parsed.options.link.empty() ? "" : (" (link " + parsed.options.link + ")").c_str());

    // The line's bad days on a schedule: XOFF held for a while, the device unplugged and back.
    using Clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;
    const sim::SimOptions& o = parsed.options;
    const auto never = Clock::time_point::max();
    auto nextXoff = o.xoffEveryMs ? Clock::now() + milliseconds(o.xoffEveryMs) : never;
    auto xonAt = never;
    auto nextUnplug = o.unplugEveryMs ? Clock::now() + milliseconds(o.unplugEveryMs) : never;
    auto replugAt = never;
    for (;;) {
        const auto now = Clock::now();
        if (now >= nextXoff) {
            ecu.SendFlowControl(true);
            xonAt = now + milliseconds(o.xoffHoldMs);
            nextXoff = now + milliseconds(o.xoffEveryMs);
        }
        if (now >= xonAt) {
            ecu.SendFlowControl(false);
            xonAt = never;
        }
        if (now >= nextUnplug) {
            ecu.Unplug();
            std::fprintf(stderr, "quenrix-ecu-sim: unplugged for %u ms\n", o.unplugForMs);
            replugAt = now + milliseconds(o.unplugForMs);
            nextUnplug = never;
        }
        if (now >= replugAt) {
            if (!ecu.Replug(&error)) {
                std::fprintf(stderr, "quenrix-ecu-sim: %s\n", error.c_str());
                return 1;
            }
            std::fprintf(stderr, "quenrix-ecu-sim: back on %s\n", ecu.SlavePath().c_str());
            replugAt = never;
            nextUnplug = now + milliseconds(o.unplugEveryMs);
        }
        const auto next = std::min({nextXoff, xonAt, nextUnplug, replugAt});
        timespec wait{3600, 0};
        if (next != never) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::max(Clock::duration::zero(), next - Clock::now())).count();
            wait = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        }
        if (sigtimedwait(&stopSignals, nullptr, &wait) > 0) break;
    }
    ecu.Stop();
    return 0;
}
