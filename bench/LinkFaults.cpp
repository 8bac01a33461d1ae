// The link on a bad day, end to end through the window against the simulated ECU:
//  - polling a far end that reads the line only every 20 ms, for 60 s (or the seconds given as
//    the first argument): every frame sent must arrive whole, none lost, none cut short;
//  - one XOFF from the line: how long an event posted to the window waits while the line is
//    held, and how soon polling flows again after XON;
//  - the device unplugged: what looking for it costs, and how soon it is read once back.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/Mainform.h"
#include "bench/BenchSupport.h"
#include "bench/BenchWindow.h"
#include "ecu/LineOwner.h"
#include "tools/ecu-sim/EcuSim.h"
#include "ui/PageControl.h"

namespace {

using bench::ShowPage;
void ShowGauges(TForm1& form) { ShowPage(form, 3); }

bool Start(bench::SimFolder& folder, TForm1& form) { return bench::StartWindow(folder, form); }

void SlowReader(int seconds)
{
    bench::SimFolder folder;
    TForm1 form;
    if (!Start(folder, form)) return;
    folder.ecu.SetReadEvery(20);
    ShowPage(form, 5);    // polling off (the read switched it on): a quiet line to count from
    bench::RunFor(300);
    const uint64_t sentBefore = form.Line->FramesSent();
    const size_t receivedBefore = folder.ecu.ReceivedCount();
    const size_t rejectedBefore = folder.ecu.RejectedCount();
    const uint64_t droppedBefore = form.Line->FramesDropped();
    ShowGauges(form);
    bench::RunFor(seconds * 1000);
    ShowPage(form, 5);
    bench::RunFor(300);   // the last frames reach the slow reader
    const uint64_t sent = form.Line->FramesSent() - sentBefore;
    const size_t received = folder.ecu.ReceivedCount() - receivedBefore;
    const size_t cut = folder.ecu.RejectedCount() - rejectedBefore;
    std::printf("slow reader (every 20 ms), %d s of polling: %llu frames sent, %zu arrived whole, %lld lost, "
                "%zu cut short, %llu dropped at the sender\n",
                seconds, static_cast<unsigned long long>(sent), received,
                static_cast<long long>(sent) - static_cast<long long>(received), cut,
                static_cast<unsigned long long>(form.Line->FramesDropped() - droppedBefore));
}

void Xoff()
{
    bench::SimFolder folder;
    TForm1 form;
    if (!Start(folder, form)) return;
    ShowGauges(form);
    bench::RunFor(300);
    folder.ecu.SendFlowControl(true);
    bench::RunFor(50);
    // An event posted every 10 ms for 3 s while the line is held: how long each waits.
    std::vector<double> waits;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3000) {
        QElapsedTimer posted;
        bool handled = false;
        posted.start();
        QTimer::singleShot(0, &form, [&] { handled = true; });
        while (!handled) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        waits.push_back(posted.nsecsElapsed() / 1e6);
        bench::RunFor(10);
    }
    const uint64_t dropped = form.Line->FramesDropped();
    const size_t before = folder.ecu.ReceivedCount();
    QElapsedTimer resumed;
    resumed.start();
    folder.ecu.SendFlowControl(false);
    const bool flowing = bench::RunUntil([&] { return folder.ecu.ReceivedCount() >= before + 9; }, 5000);
    std::printf("XOFF held 3 s: an event posted to the window waited median %.2f ms, p99 %.2f ms, max %.2f ms; "
                "%llu frames dropped at the sender; after XON a whole polling cycle arrived %s %.0f ms\n",
                bench::Median(waits), bench::Percentile(waits, 0.99), *std::max_element(waits.begin(), waits.end()),
                static_cast<unsigned long long>(dropped), flowing ? "in" : "NOT within", resumed.nsecsElapsed() / 1e6);
}

// The device unplugged for 10 s with the Gauges page shown (polling on, the probe looking for
// it every second): what the program costs meanwhile, and how soon it reads the ECU again.
void Unplugged()
{
    bench::SimFolder folder;
    TForm1 form;
    if (!Start(folder, form)) return;
    ShowGauges(form);
    bench::RunFor(300);
    folder.ecu.Unplug();
    bench::RunFor(500);
    const double cpu = bench::CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    bench::RunFor(10000);
    const double share = (bench::CpuSeconds() - cpu) / (wall.nsecsElapsed() / 1e9);
    QElapsedTimer back;
    back.start();
    std::string error;
    if (!folder.ecu.Replug(&error)) {
        std::fprintf(stderr, "cannot plug the simulated ECU in again: %s\n", error.c_str());
        return;
    }
    const bool read = bench::RunUntil([&] { return form.ReadPending == 0; }, 30000);
    std::printf("unplugged 10 s on the Gauges page: %.2f %% of a core; plugged in again, the calibration was read "
                "%s %.2f s\n",
                share * 100, read ? "after" : "NOT within", back.nsecsElapsed() / 1e9);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    SlowReader(seconds);
    Xoff();
    Unplugged();
    return 0;
}
