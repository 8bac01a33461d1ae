// What live polling costs the program: the window polls the simulated ECU with the Gauges
// page shown, offscreen, for 20 s (or the seconds given), and the program's CPU time over
// that span is printed as a share of one core, with the peak resident memory. Then, for half
// as long again, it counts the paint events each widget receives (counting costs a little
// itself, so it is kept out of the CPU figure): a new live value should repaint its box and
// nothing under it. The simulated ECU runs in a child process so that its own work is not
// counted.
//
// Usage: bench_PollingCost [seconds] [--frozen] [--bare-link] [--baud N] [--screenshot file.png]
//   --frozen      the engine holds still: every reply repeats, nothing on screen changes
//   --bare-link   no window: the threaded timer and the serial component alone, sending one
//                 polling frame a tick and draining the replies. What is left when the
//                 program does nothing with what it polls: the floor of the thread design.
//   --baud N      the line paced like a real one: each reply arrives a character at a time
//   --screenshot  saves the window as it looks at the end
//
// Then the map pages with "Live values on map pages" on: slices of 2 s alternate between the
// Gauges page and the Fuel page in the same run, and the median CPU share of each is printed;
// the "RPM Fuel" grid's paints per second while the operating point stands still and while it
// moves from column to column (replies handed to the window 80 times a second, polling off);
// and the time from a reply's handling to the grid's paint that shows the mark in its new place.
#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/Application.h"
#include "app/Mainform.h"
#include "bench/BenchSupport.h"
#include "ecu/Protocol.h"
#include "ecu/Threadedtimer.h"
#include "ecu/Zcomm.h"
#include "tools/ecu-sim/EcuSim.h"
#include "ui/PageControl.h"
#include "ui/StringGrid.h"

#include <vector>

namespace {

// Counts the paint events each widget receives.
class PaintCounter : public QObject {
public:
    std::map<QString, long> counts;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            QString name = watched->objectName();
            if (name.isEmpty()) name = QString::fromLatin1(watched->metaObject()->className());
            ++counts[name];
        }
        return false;
    }
};

// The simulated ECU in a child process; returns its pid once its link exists. The child
// runs until *stop is closed.
pid_t StartEcu(const std::string& link, bool frozen, uint32_t baud, int* stop)
{
    int ready[2];
    int hold[2];
    if (pipe(ready) != 0 || pipe(hold) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        close(hold[1]);
        sim::SimOptions options;
        options.link = link;
        options.baud = baud;
        sim::EcuSim ecu(options);
        std::string error;
        if (!ecu.Start(&error)) {
            std::fprintf(stderr, "simulated ECU: %s\n", error.c_str());
            _exit(1);
        }
        if (frozen) bench::HoldEngineStill(ecu);
        (void)!write(ready[1], "1", 1);
        char c;
        while (read(hold[0], &c, 1) > 0) {}   // until the parent ends
        ecu.Stop();
        _exit(0);
    }
    close(ready[1]);
    close(hold[0]);
    *stop = hold[1];
    char c = 0;
    if (read(ready[0], &c, 1) != 1) return -1;
    close(ready[0]);
    return pid;
}

double Median(std::vector<double> v)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Records when a widget was last painted.
class PaintClock : public QObject {
public:
    QElapsedTimer clock;
    qint64 lastPaintNs = -1;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) lastPaintNs = clock.nsecsElapsed();
        return false;
    }
};

using bench::LoadAverage;
using bench::RunFor;
using bench::RunUntil;

// The link machinery with nothing behind it: each 12 ms tick writes one live-value request,
// and the replies are read and dropped. Same threads, same wake-ups, no decoding, no drawing.
int BareLink(const QString& link, int seconds)
{
    TZComm comm;
    comm.SetPort(link);
    comm.SetBaudRate(19200);
    long replyBytes = 0;
    comm.OnDataAvailable = [&](TZComm* sender) {
        uint8_t buffer[256];
        for (int n; (n = sender->ReadComm(buffer, sizeof buffer)) > 0;) replyBytes += n;
    };
    if (!comm.OpenConnection()) {
        std::fprintf(stderr, "could not open %s\n", qPrintable(link));
        return 1;
    }
    const auto frame = protocol::BuildFrame('A', 0, 0);
    long ticks = 0;
    TThreadedTimer timer(nullptr, 12);
    timer.SetOnTimer([&](TThreadedTimer*) {
        ++ticks;
        comm.WriteComm(reinterpret_cast<const uint8_t*>(frame.data()), static_cast<int32_t>(frame.size()));
    });
    RunFor(1000);
    const double load = LoadAverage();
    const double cpuStart = bench::CpuSeconds();
    const long ticksStart = ticks;
    const long bytesStart = replyBytes;
    const auto wallStart = std::chrono::steady_clock::now();
    RunFor(seconds * 1000);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const double cpu = bench::CpuSeconds() - cpuStart;
    timer.SetEnabled(false);
    std::printf("bare link (timer and serial component, no window), %.1f s: %ld ticks, %ld reply bytes, "
                "CPU %.2f %% of one core (machine load %.2f on 2 cores)\n",
                wall, ticks - ticksStart, replyBytes - bytesStart, 100.0 * cpu / wall, load);
    comm.CloseConnection();
    return 0;
}

// The map pages with live values on: CPU against the Gauges page, the grid's paints with the
// operating point still and moving, and the time from a reply to the mark's paint.
void MapPages(TForm1& form, int seconds)
{
    form.SetLiveOnMapPages(true);
    auto show = [&form](int page) {
        form.PageControl1->SetActivePageIndex(page);
        form.PageControl1Change(form.PageControl1);
    };
    std::vector<double> gauges, fuel;
    for (int slice = 0; slice < seconds; ++slice) {
        const bool onFuel = slice % 2 == 1;
        show(onFuel ? 1 : 3);
        RunFor(300);   // the page's first paints
        const double cpuStart = bench::CpuSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        RunFor(2000);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        (onFuel ? fuel : gauges).push_back(100.0 * (bench::CpuSeconds() - cpuStart) / wall);
    }
    std::printf("polling, 2 s slices alternating in one run, median CPU %% of one core: Gauges page %.2f "
                "(%zu slices), Fuel page with live values on %.2f (%zu slices)\n",
                Median(gauges), gauges.size(), Median(fuel), fuel.size());

    // Paints of the grid alone: polling off, replies handed in at the polling pace.
    show(1);
    form.ThreadedTimer1->SetEnabled(false);
    RunFor(300);
    StringGrid* grid = form.MapGrid[4];
    auto paintsPerSecond = [&](bool moving) {
        std::vector<double> rates;
        for (int round = 0; round < 5; ++round) {
            const quint64 before = grid->PaintCount();
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < 80; ++i) {
                const uint16_t rpm = moving ? uint16_t(1000 + 250 * (i % 20)) : 3250;
                form.ProcessReply('a', rpm, 120);
                RunFor(12);
            }
            const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            rates.push_back(double(grid->PaintCount() - before) / wall);
        }
        return Median(rates);
    };
    const double still = paintsPerSecond(false);
    const double moving = paintsPerSecond(true);
    std::printf("\"RPM Fuel\" grid paints per second, median of 5: operating point still %.1f, moving %.1f\n",
                still, moving);

    PaintClock paints;
    paints.clock.start();
    grid->viewport()->installEventFilter(&paints);
    std::vector<double> latencies;
    for (int i = 0; i < 100; ++i) {
        paints.lastPaintNs = -1;
        const qint64 sent = paints.clock.nsecsElapsed();
        form.ProcessReply('a', uint16_t(i % 2 ? 2000 : 6000), 120);
        RunUntil([&] { return paints.lastPaintNs >= 0; }, 1000);
        if (paints.lastPaintNs >= 0) latencies.push_back(double(paints.lastPaintNs - sent) / 1e6);
        RunFor(10);
    }
    grid->viewport()->removeEventFilter(&paints);
    std::printf("reply handled to operating point painted, median of %zu: %.2f ms\n", latencies.size(),
                Median(latencies));
}

}  // namespace

int main(int argc, char** argv)
{
    int seconds = 20;
    bool frozen = false;
    bool bareLink = false;
    uint32_t baud = 0;
    QString screenshot;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--frozen") == 0) frozen = true;
        else if (std::strcmp(argv[i], "--bare-link") == 0) bareLink = true;
        else if (std::strcmp(argv[i], "--baud") == 0 && i + 1 < argc) baud = static_cast<uint32_t>(std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) screenshot = QString::fromLocal8Bit(argv[++i]);
        else seconds = std::max(1, std::atoi(argv[i]));
    }
    if (!screenshot.isEmpty()) screenshot = QDir::current().absoluteFilePath(screenshot);

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    // The switch this bench turns on is remembered: in its own folder, not the user's.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    calibration::SetRestorePointFolder(dir.filePath(QStringLiteral("restore points")));   // so do its restore points
    // Before any thread of ours exists: the child then starts from a plain process.
    int stopEcu = -1;
    const pid_t ecu = StartEcu(dir.filePath(QStringLiteral("COM1")).toStdString(), frozen, baud, &stopEcu);
    if (ecu < 0) return 1;

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QuenrixApplication app(argc, argv);
    if (bareLink) {
        const int result = BareLink(dir.filePath(QStringLiteral("COM1")), seconds);
        close(stopEcu);
        waitpid(ecu, nullptr, 0);
        return result;
    }
    TForm1 form;
    form.show();
    if (!RunUntil([&] { return form.ReadPending == 0; }, 20000)) {
        std::fprintf(stderr, "the EEPROM read did not complete\n");
        return 1;
    }
    long ticks = 0;
    form.ThreadedTimer1->SetOnTimer([&](TThreadedTimer* sender) {
        ++ticks;
        form.ThreadedTimer1Timer(sender);
    });
    RunFor(1000);   // settle: fonts, caches, the first paints

    const double load = LoadAverage();
    const double cpuStart = bench::CpuSeconds();
    const long ticksStart = ticks;
    const auto wallStart = std::chrono::steady_clock::now();
    RunFor(seconds * 1000);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const double cpu = bench::CpuSeconds() - cpuStart;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const std::string line = baud ? ", line paced at " + std::to_string(baud) + " baud" : std::string(", unpaced line");
    std::printf("polling %s engine%s, Gauges page shown, %.1f s: %ld ticks, CPU %.2f %% of one core, peak RSS %.1f MB"
                " (machine load %.2f on 2 cores)\n",
                frozen ? "a still" : "a running", line.c_str(), wall, ticks - ticksStart, 100.0 * cpu / wall,
                static_cast<double>(usage.ru_maxrss) / 1024.0, load);

    PaintCounter counter;
    app.installEventFilter(&counter);
    const auto countStart = std::chrono::steady_clock::now();
    RunFor(std::max(seconds / 2, 1) * 1000);
    const double counted = std::chrono::duration<double>(std::chrono::steady_clock::now() - countStart).count();
    app.removeEventFilter(&counter);
    long total = 0;
    for (const auto& [name, count] : counter.counts) total += count;
    std::printf("paint events per second: %.1f in all; by widget:\n", static_cast<double>(total) / counted);
    for (const auto& [name, count] : counter.counts)
        std::printf("  %-24s %8.1f\n", qPrintable(name), static_cast<double>(count) / counted);
    for (const char* under : {"Form1", "PageControl1", "TabSheet4"})
        if (!counter.counts.count(QLatin1String(under))) std::printf("  %-24s %8.1f\n", under, 0.0);
    MapPages(form, std::max(seconds / 2, 4));
    if (!screenshot.isEmpty()) {
        if (form.grab().save(screenshot)) std::printf("window saved to %s\n", qPrintable(screenshot));
        else std::fprintf(stderr, "could not save %s\n", qPrintable(screenshot));
    }
    form.ThreadedTimer1->SetEnabled(false);
    close(stopEcu);
    waitpid(ecu, nullptr, 0);
    return 0;
}
