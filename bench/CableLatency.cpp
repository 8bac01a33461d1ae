// A USB serial adapter on the desk, played by the simulated ECU: every reply waits out the
// adapter's latency timer (16 ms on an FTDI chip) until the program asks the driver for low
// latency, then 1 ms. Prints, as medians:
//   - a full read (500 'R' exchanges) at 19200 baud with the request refused and granted, as a
//     ratio to the line's own limit (500 exchanges of two ten-character frames: 5.21 s);
//   - from the adapter's link appearing (plugged in) to its name in the port list, to the first
//     frame reaching it, and, as the remembered port, to "Status- ECU connected" (read done).
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>

#include <unistd.h>

#include <cstdio>
#include <vector>

#include "base/UserSettings.h"
#include "app/Mainform.h"
#include "bench/BenchSupport.h"
#include "ecu/SerialPlatform.h"
#include "ecu/Zcomm.h"
#include "ui/PageControl.h"
#include "ui/StatusBar.h"

namespace {

constexpr double LineLimitSeconds = 500.0 * 20 * 10 / 19200;

// A driver that turns the request down, as one without a latency setting does.
class RefusingDriver : public serial::LatencyDriver {
public:
    bool RequestLowLatency(int) override { return false; }
};

sim::SimOptions Adapter(uint32_t latencyMs = 16)
{
    sim::SimOptions options;
    options.baud = 19200;
    options.latencyMs = latencyMs;
    options.lowLatencyMs = 1;
    return options;
}

std::vector<double> TimeReads(bool refuse, int rounds, uint32_t latencyMs = 16)
{
    RefusingDriver refusing;
    serial::setLatencyDriver(refuse ? &refusing : nullptr);   // else the simulator's, set when it starts
    std::vector<double> seconds;
    {
        bench::SimFolder folder(Adapter(latencyMs));
        if (!folder.started) return seconds;
        TForm1 form;
        form.show();
        if (!bench::RunUntil([&] { return form.ReadPending == 0; }, 60000)) return seconds;
        if (latencyMs > 0 && folder.ecu.LowLatencyGranted() == refuse) std::fprintf(stderr, "the request went the wrong way\n");
        form.PageControl1->SetActivePageIndex(5);   // no live polling around the reads
        form.PageControl1Change(form.PageControl1);
        bench::RunFor(100);
        for (int i = 0; i < rounds; ++i) {
            form.ReadPending = 1;
            QElapsedTimer t;
            t.start();
            form.Button11Click(nullptr);
            if (!bench::RunUntil([&] { return form.ReadPending == 0; }, 60000)) break;
            seconds.push_back(t.nsecsElapsed() / 1e9);
        }
    }
    serial::setLatencyDriver(nullptr);
    return seconds;
}

struct PlugTimes {
    double listed, firstFrame, connected;
};

PlugTimes PlugIn()
{
    bench::SimFolder folder(Adapter());
    const QString dev = folder.dir.filePath(QStringLiteral("dev"));
    QDir().mkpath(dev);
    const QString adapter = dev + QStringLiteral("/ttyUSB3");
    TForm1::PortPlaces.dev = dev;
    TForm1::PortPlaces.byId = dev + QStringLiteral("/serial/by-id");
    base::UserSettings().setValue(QStringLiteral("port"), adapter);
    TForm1 form;
    form.show();
    bench::RunFor(300);   // settled: the remembered adapter is not there yet
    PlugTimes times{-1, -1, -1};
    QElapsedTimer t;
    t.start();
    if (::symlink(folder.ecu.SlavePath().c_str(), adapter.toLocal8Bit().constData()) != 0) return times;
    if (bench::RunUntil([&] { return form.ComboBox1->findText(adapter) >= 0; }, 10000)) times.listed = t.nsecsElapsed() / 1e6;
    if (bench::RunUntil([&] { return folder.ecu.ReceivedCount() > 0; }, 10000)) times.firstFrame = t.nsecsElapsed() / 1e6;
    if (bench::RunUntil([&] { return form.StatusBar1->PanelText(2) == QStringLiteral("Status- ECU connected"); }, 60000))
        times.connected = t.nsecsElapsed() / 1e6;
    TForm1::PortPlaces = {};
    return times;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir settings;   // the bench's remembered port, not the user's
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, settings.path());
    std::printf("load average %.2f\n", bench::LoadAverage());

    // The third: no adapter latency at all, the floor the program and the simulator set.
    struct Run {
        bool refuse;
        uint32_t latencyMs;
        const char* name;
    };
    for (const Run run : {Run{true, 16, "16 ms (request refused)"}, Run{false, 16, "1 ms (request granted)"},
                          Run{false, 0, "none (a plain UART)"}}) {
        const std::vector<double> seconds = TimeReads(run.refuse, 3, run.latencyMs);
        if (seconds.empty()) return 1;
        const double median = bench::Median(seconds);
        std::printf("full read, 19200 baud, adapter latency %s: median %.3f s over %zu runs, %.3f of the line's limit (%.2f s)\n",
                    run.name, median, seconds.size(), median / LineLimitSeconds, LineLimitSeconds);
    }

    std::vector<double> listed, firstFrame, connected;
    for (int i = 0; i < 5; ++i) {
        const PlugTimes t = PlugIn();
        if (t.listed < 0 || t.firstFrame < 0 || t.connected < 0) {
            std::fprintf(stderr, "plug-in round %d did not complete\n", i);
            return 1;
        }
        listed.push_back(t.listed);
        firstFrame.push_back(t.firstFrame);
        connected.push_back(t.connected);
    }
    std::printf("adapter plugged in (link appears) -> in the port list: median %.1f ms\n", bench::Median(listed));
    std::printf("                                  -> first frame reaches it: median %.1f ms\n", bench::Median(firstFrame));
    std::printf("                                  -> \"Status- ECU connected\" (full read at 19200 done): median %.0f ms\n",
                bench::Median(connected));
    return 0;
}
