// Whether the screen tells the truth on a slow or noisy ECU, and what that costs, end to end
// through the window against the simulated ECU:
//  - an upload at 19200 baud, plain and with "Verify every upload" (all 500 bytes read back);
//  - quick steps on an ECU that needs 200 ms to store a byte and keeps one command while busy:
//    runs in which a cell shows, unmarked, another value than the ECU holds (the first argument
//    gives the number of runs, 100 by default);
//  - a 1 s pause of the window while an echo is on its way, then one lost echo: how long the
//    step waits before it is sent again;
//  - one noise byte read as XOFF in a reply: how long until commands reach the ECU again;
//  - an ECU whose writes go from 1 ms to 80 ms in the middle of an upload: how often each step
//    is sent once it has slowed (a step sent again for nothing is a byte written twice).
// The second argument picks one part: "pause", "xoff", "upload", "quick" or "slowing" (all by
// default).
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "app/Mainform.h"
#include "bench/BenchSupport.h"
#include "bench/BenchWindow.h"
#include "calibration/ImageLayout.h"
#include "ecu/LineOwner.h"
#include "tools/ecu-sim/EcuSim.h"
#include "ui/PageControl.h"
#include "ui/StringGrid.h"

namespace {

using bench::ShowPage;

bool Start(bench::SimFolder& folder, TForm1& form)
{
    if (!bench::StartWindow(folder, form)) return false;
    ShowPage(form, calibration::PageSetup);   // no polling: the line is the walk's alone
    return true;
}

// Seconds from the start of an upload until it has said how it ended.
double UploadSeconds(bool verifyAll)
{
    bench::SimFolder folder(19200);
    TForm1 form;
    if (!Start(folder, form)) return -1;
    form.VerifyEveryUpload = verifyAll;
    for (std::size_t a = 0; a < form.EepromImage.size(); ++a)
        if (a != calibration::LockAddress) form.EepromImage[a] = static_cast<uint8_t>(form.EepromImage[a] + 3);
    QElapsedTimer clock;
    clock.start();
    form.StartUpload();
    if (!bench::RunUntil([&] { return form.UploadActive == 0; }, 120000)) return -1;
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (form.EepromImage != folder.ecu.Eeprom()) std::fprintf(stderr, "the ECU differs from the image\n");
    return seconds;
}

void Upload()
{
    std::vector<double> plain, verified;
    for (int i = 0; i < 3; ++i) {
        plain.push_back(UploadSeconds(false));
        verified.push_back(UploadSeconds(true));
    }
    const double p = bench::Median(plain), v = bench::Median(verified);
    std::printf("upload at 19200 baud, median of 3: plain %.2f s, verifying every byte %.2f s (%.2f x)\n", p, v, v / p);
}

// One run of four quick steps and five typed values; true when every cell of the map shows what
// the ECU holds or is marked.
bool QuickEditsRun(uint64_t seed, int* sends)
{
    sim::SimOptions options;
    options.writeMs = 200;
    options.seed = seed;
    bench::SimFolder folder(options);
    TForm1 form;
    if (!Start(folder, form)) return false;
    ShowPage(form, calibration::PageIgnition);
    StringGrid* grid = form.MapGrid[7];
    const size_t before = folder.ecu.ReceivedCount();
    grid->SetCol(5);
    for (int i = 0; i < 4; ++i) {
        form.StringGrid1Command(grid, StringGrid::Command::StepUp);
        bench::RunFor(20);
    }
    for (const char* value : {"60", "90", "60", "30"}) {
        grid->SetCol(8);
        grid->SetCells(8, 1, QString::fromLatin1(value));
        form.StringGrid1KeyUp(grid, Qt::Key_Return);
        bench::RunFor(40);
    }
    bench::RunUntil([&] { return !form.Line->Busy() && form.Marks.Count(calibration::WriteMark::Pending) == 0; },
                    30000);
    bench::RunFor(800);
    *sends = static_cast<int>(folder.ecu.ReceivedCount() - before);
    const sim::Image held = folder.ecu.Eeprom();
    const calibration::MapLayout* map = calibration::MapByNumber(7);
    for (int col = 0; col < map->columns; ++col) {
        const QString ecuShows = QString::number(calibration::ShownValue(map->encoding, held[std::size_t(map->base + col)]));
        if (grid->CellMarkAt(col, 1) == StringGrid::CellMark::None && grid->Cells(col, 1) != ecuShows) return false;
    }
    return true;
}

void QuickEdits(int runs)
{
    int wrong = 0;
    std::vector<double> sends;
    for (int i = 0; i < runs; ++i) {
        int n = 0;
        if (!QuickEditsRun(static_cast<uint64_t>(i + 1), &n)) ++wrong;
        sends.push_back(n);
    }
    std::printf("200 ms writes, one command kept while busy; 4 quick steps and 4 typed values, %d runs: "
                "%d runs with a cell showing unmarked what the ECU does not hold; commands per run median %.0f\n",
                runs, wrong, bench::Median(sends));
}

// Milliseconds between the first send of a write whose echo is lost and its second send, after
// the window was paused 1 s while an earlier echo arrived.
double WaitAfterPause()
{
    bench::SimFolder folder;
    TForm1 form;
    if (!Start(folder, form)) return -1;
    form.WriteByte(443, 61);
    QThread::msleep(1000);   // the window busy elsewhere (a large log loading)
    bench::RunUntil([&] { return !form.Line->Busy(); }, 5000);
    std::atomic<bool> lost{false};
    folder.ecu.SetRawReplyHook([&](const sim::Command& c, const std::string& reply) -> std::vector<std::string> {
        if (c.letter == 'W' && !lost.exchange(true)) return {};
        return {reply};
    });
    const size_t before = folder.ecu.ReceivedCount();
    form.WriteByte(443, 62);
    bench::RunUntil([&] { return folder.ecu.ReceivedCount() >= before + 2; }, 10000);
    const auto times = folder.ecu.ReceivedTimes();
    if (times.size() < before + 2) return -1;
    return std::chrono::duration<double, std::milli>(times[before + 1] - times[before]).count();
}

// Milliseconds from a reply carrying an XOFF noise byte until the ECU receives commands again.
double XoffNoise()
{
    bench::SimFolder folder;
    TForm1 form;
    if (!Start(folder, form)) return -1;
    ShowPage(form, 3);
    bench::RunFor(300);
    std::atomic<bool> done{false};
    std::atomic<int64_t> sentAt{0};
    QElapsedTimer clock;
    clock.start();
    folder.ecu.SetRawReplyHook([&](const sim::Command&, const std::string& reply) -> std::vector<std::string> {
        if (done.exchange(true)) return {reply};
        std::string noisy = reply;
        noisy[4] = '\x13';
        sentAt = clock.nsecsElapsed();
        return {noisy};
    });
    bench::RunUntil([&] { return form.Line->OutputHeld(); }, 3000);
    const size_t before = folder.ecu.ReceivedCount();
    if (!bench::RunUntil([&] { return folder.ecu.ReceivedCount() > before; }, 10000)) return -1;
    return (clock.nsecsElapsed() - sentAt) / 1e6;
}

// Sends of a 'W' per address written once the ECU has slowed from 1 ms to 80 ms a write, in
// the middle of an upload; `seconds` gets how long the upload took.
double SendsPerStepOnceSlowed(double* seconds)
{
    sim::SimOptions options;
    options.writeMs = 1;
    // The probe and the read of 500 addresses come first; the upload's 150th write or so is
    // the first one the ECU takes 80 ms for.
    options.slowAfter = 650;
    options.slowWriteMs = 80;
    bench::SimFolder folder(options);
    TForm1 form;
    if (!Start(folder, form)) return -1;
    for (std::size_t a = 0; a < form.EepromImage.size(); ++a)
        if (a != calibration::LockAddress) form.EepromImage[a] = static_cast<uint8_t>(form.EepromImage[a] + 3);
    const sim::Image file = form.EepromImage;
    QElapsedTimer clock;
    clock.start();
    form.StartUpload();
    if (!bench::RunUntil([&] { return form.UploadActive == 0; }, 300000)) return -1;
    *seconds = clock.nsecsElapsed() / 1e9;
    if (folder.ecu.Eeprom() != file) std::fprintf(stderr, "the ECU differs from the file\n");
    const std::vector<sim::Command> frames = folder.ecu.Received();
    if (frames.size() <= *options.slowAfter) return -1;
    std::size_t writes = folder.ecu.CommandsRefusedBusy();   // sent, and lost because the ECU was busy
    std::set<uint16_t> addresses;
    for (std::size_t i = *options.slowAfter; i < frames.size(); ++i) {
        if (frames[i].letter != 'W') continue;
        ++writes;
        addresses.insert(frames[i].address);
    }
    if (addresses.empty()) return -1;
    return static_cast<double>(writes) / static_cast<double>(addresses.size());
}

void SlowingEcu()
{
    std::vector<double> ratios, times;
    for (int i = 0; i < 3; ++i) {
        double seconds = 0;
        ratios.push_back(SendsPerStepOnceSlowed(&seconds));
        times.push_back(seconds);
    }
    std::printf("writes going from 1 ms to 80 ms mid-upload: %.3f sends per step once slowed, upload %.1f s "
                "(medians of 3)\n",
                bench::Median(ratios), bench::Median(times));
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const std::string part = argc > 2 ? argv[2] : "all";
    auto wanted = [&part](const char* name) { return part == "all" || part == name; };
    std::printf("load average %.1f\n", bench::LoadAverage());
    if (wanted("pause")) {
        std::vector<double> waits;
        for (int i = 0; i < 5; ++i) waits.push_back(WaitAfterPause());
        std::printf("1 s window pause, then one lost echo: the write was sent again after median %.1f ms (5 runs)\n",
                    bench::Median(waits));
    }
    if (wanted("xoff")) {
        std::vector<double> flows;
        for (int i = 0; i < 5; ++i) flows.push_back(XoffNoise());
        std::printf("an XOFF noise byte in a reply: commands reached the ECU again after median %.0f ms (5 runs)\n",
                    bench::Median(flows));
    }
    if (wanted("upload")) Upload();
    if (wanted("slowing")) SlowingEcu();
    if (wanted("quick")) QuickEdits(runs);
    return 0;
}
