// quenrix-ecu-sim: the simulated ECU as a program, for running the tool without hardware.
#include <csignal>
#include <cstdio>
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

    int received = 0;
    sigwait(&stopSignals, &received);
    ecu.Stop();
    return 0;
}
