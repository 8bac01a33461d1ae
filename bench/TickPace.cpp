// Pace of live polling as the ECU sees it: the window polls the simulated ECU (unpaced line)
// with the Gauges page shown, offscreen, and the interval between consecutive polling frames
// is taken from the simulator's receive times. Prints median, 99th percentile, least and
// greatest interval, and how many intervals were so short that two frames came from one tick.
// Then it silences the simulator several times and measures how long the status bar takes to
// turn red. Usage: bench_TickPace [seconds of polling, default 10] [--frozen]
// --frozen holds every live reply still, so that nothing on the page repaints: the pace
// without the cost of drawing.
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/Mainform.h"
#include "bench/BenchSupport.h"
#include "ecu/Threadedtimer.h"
#include "tools/ecu-sim/EcuSim.h"
#include "ui/StatusBar.h"

using bench::Percentile;
using bench::RunFor;
using bench::RunUntil;

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int seconds = 10;
    bool frozen = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--frozen") frozen = true;
        else seconds = std::max(1, std::atoi(argv[i]));
    }
    QuenrixApplication app(argc, argv);

    bench::SimFolder folder;
    if (!folder.started) return 1;
    sim::EcuSim& ecu = folder.ecu;

    if (frozen) bench::HoldEngineStill(ecu);

    TForm1 form;
    form.show();
    if (!RunUntil([&] { return form.ReadPending == 0; }, 20000)) {
        std::fprintf(stderr, "the EEPROM read did not complete\n");
        return 1;
    }
    RunFor(500);   // settle

    // The window's side as well: when each tick sent its frame. A late frame at the ECU with
    // an on-time tick behind it is the receiving side's delay, not ours.
    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> tickTimes;
    tickTimes.reserve(static_cast<size_t>(seconds) * 100 + 100);
    form.ThreadedTimer1->SetOnTimer([&](TThreadedTimer* sender) {
        tickTimes.push_back(Clock::now());
        form.ThreadedTimer1Timer(sender);
    });
    RunFor(100);
    const size_t from = ecu.ReceivedCount();
    const size_t firstTick = tickTimes.size();
    RunFor(seconds * 1000);
    const size_t to = ecu.ReceivedCount();
    const size_t lastTick = tickTimes.size();
    const auto times = ecu.ReceivedTimes();
    const auto received = ecu.Received();

    std::vector<double> ms;
    for (size_t i = from + 1; i < to && i < times.size(); ++i)
        ms.push_back(std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
    std::sort(ms.begin(), ms.end());
    const auto oneTick = std::count_if(ms.begin(), ms.end(), [](double v) { return v < 6.0; });
    std::printf("polling frames: %zu over %d s\n", ms.size() + 1, seconds);
    std::printf("interval: median %.3f ms, p99 %.3f ms, min %.3f ms, max %.3f ms\n", Percentile(ms, 0.5),
                Percentile(ms, 0.99), ms.empty() ? 0 : ms.front(), ms.empty() ? 0 : ms.back());
    std::printf("intervals under half a period: %ld\n", static_cast<long>(oneTick));
    // Two frames of one tick would show as more frames than ticks, or as a break in the cycle.
    const std::string cycle = "GABCDEVFH";
    long outOfOrder = 0;
    for (size_t i = from + 1; i < to && i < received.size(); ++i) {
        const size_t at = cycle.find(received[i - 1].letter);
        if (at == std::string::npos || cycle[(at + 1) % cycle.size()] != received[i].letter) ++outOfOrder;
    }
    std::printf("ticks %zu, frames %zu, frames out of cycle order %ld\n", lastTick - firstTick, to - from, outOfOrder);
    std::vector<double> sent;
    for (size_t i = firstTick + 1; i < lastTick; ++i)
        sent.push_back(std::chrono::duration<double, std::milli>(tickTimes[i] - tickTimes[i - 1]).count());
    std::sort(sent.begin(), sent.end());
    std::printf("tick interval on the window's side: median %.3f ms, p90 %.3f ms, p99 %.3f ms, min %.3f ms, max %.3f ms\n",
                Percentile(sent, 0.5), Percentile(sent, 0.9), Percentile(sent, 0.99), sent.empty() ? 0 : sent.front(),
                sent.empty() ? 0 : sent.back());
    const auto late = std::count_if(sent.begin(), sent.end(), [](double v) { return v > 14.0; });
    std::printf("ticks later than 14 ms: %ld of %zu\n", static_cast<long>(late), sent.size());

    form.ThreadedTimer1->SetOnTimer([&](TThreadedTimer* sender) { form.ThreadedTimer1Timer(sender); });

    // Silence to red: from the moment the ECU stops answering to the red status bar.
    const QColor red(255, 0, 0);
    std::vector<double> toRed;
    for (int round = 0; round < 10; ++round) {
        QElapsedTimer clock;
        ecu.SetSilent(true);
        clock.start();
        if (!RunUntil([&] { return form.StatusBar1->Color() == red; }, 2000)) {
            std::fprintf(stderr, "the bar did not turn red\n");
            return 1;
        }
        toRed.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        ecu.SetSilent(false);
        if (!RunUntil([&] { return form.StatusBar1->Color() != red; }, 2000)) {
            std::fprintf(stderr, "the bar did not come back\n");
            return 1;
        }
        RunFor(100);
    }
    std::sort(toRed.begin(), toRed.end());
    std::printf("silence to red bar over %zu rounds: median %.1f ms, max %.1f ms\n", toRed.size(),
                Percentile(toRed, 0.5), toRed.back());

    form.ThreadedTimer1->SetEnabled(false);
    ecu.Stop();
    return 0;
}
