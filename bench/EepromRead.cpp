// The whole calibration memory over the link, end to end through the window: a full read
// (500 'R' exchanges) and the load of a calibration file with its upload (500 'W' exchanges),
// against the simulated ECU, unpaced and paced like the real line at 19200 baud. Prints the
// medians and, for the paced line, the ratio to the line's own limit: 500 exchanges of two
// ten-character frames at ten bits a character, 5.21 s.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/Mainform.h"
#include "bench/BenchSupport.h"
#include "tools/ecu-sim/EcuSim.h"
#include "ui/Dialogs.h"
#include "ui/PageControl.h"

namespace {

constexpr double LineLimitSeconds = 500.0 * 20 * 10 / 19200;

// Handles events as they come until cond holds; false after timeoutMs. Not bench::RunUntil,
// which looks every millisecond: this looks after each event, so a timed walk ends the moment
// its last reply has been handled.
bool RunUntil(const std::function<bool()>& cond, int timeoutMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer wake;   // only to look at the clock when nothing else happens
    wake.start(50);
    while (!cond()) {
        if (elapsed.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Off the Gauges page: no live polling around the walk being measured (it pauses while the walk
// runs anyway). A poll already handed over still runs once; its reply is let in first, so that
// it is not timed with the walk.
void StopPolling(TForm1& form)
{
    form.PageControl1->SetActivePageIndex(5);
    form.PageControl1Change(form.PageControl1);
    RunUntil([] { return false; }, 100);
}

std::vector<double> TimeReads(TForm1& form, int rounds)
{
    std::vector<double> seconds;
    for (int i = 0; i < rounds; ++i) {
        StopPolling(form);
        form.ReadPending = 1;   // its completion clears it; no 'V' goes out to start another
        QElapsedTimer t;
        t.start();
        form.Button11Click(nullptr);
        if (!RunUntil([&] { return form.ReadPending == 0; }, 60000)) {
            std::fprintf(stderr, "read %d did not complete\n", i);
            break;
        }
        seconds.push_back(t.nsecsElapsed() / 1e9);
    }
    StopPolling(form);
    return seconds;
}

// Loads the two files in turn: a file equal to what the ECU holds sends nothing, so each load
// uploads the calibration the previous one replaced.
std::vector<double> TimeLoads(TForm1& form, const QString& file, const QString& other, int rounds)
{
    int round = 0;
    ui::SetFileDialogHook([&](ui::FileDialog&) -> std::optional<QString> { return round % 2 ? other : file; });
    ui::SetQuestionHook([](const QString&, const QString& yes, const QString&) { return yes == "Upload"; });
    std::vector<double> seconds;
    for (int i = 0; i < rounds; ++i, ++round) {
        QElapsedTimer t;
        t.start();
        form.Button7Click(nullptr);
        if (form.UploadActive != 1 || !RunUntil([&] { return form.UploadActive == 0; }, 60000)) {
            std::fprintf(stderr, "load %d did not complete\n", i);
            break;
        }
        seconds.push_back(t.nsecsElapsed() / 1e9);
    }
    ui::SetFileDialogHook({});
    ui::SetQuestionHook({});
    return seconds;
}

void Report(const char* what, const std::vector<double>& seconds, bool paced)
{
    if (seconds.empty()) return;
    const double median = bench::Median(seconds);
    if (paced)
        std::printf("%-34s median %7.3f s over %zu runs, %.3f of the line's limit (%.2f s)\n", what,
                    median, seconds.size(), median / LineLimitSeconds, LineLimitSeconds);
    else
        std::printf("%-34s median %7.1f ms over %zu runs\n", what, median * 1000, seconds.size());
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) return 1;

    // Two calibration files unlike the simulator's own and each other, with their descriptions.
    const auto shifted = [](int shift) {
        sim::Image image = sim::EcuSim::DefaultImage();
        for (auto& b : image) b = uint8_t(b + shift);
        image[454] = 20;
        return image;
    };
    const sim::Image image = shifted(1), otherImage = shifted(2);
    const auto writeFile = [&](const QString& name, const sim::Image& bytes) {
        QFile qxe(dir.filePath(name + QStringLiteral(".qxe")));
        QFile qxc(dir.filePath(name + QStringLiteral(".qxc")));
        if (!qxe.open(QIODevice::WriteOnly) || !qxc.open(QIODevice::WriteOnly)) return QString();
        qxe.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        qxc.write("bench\r\n");
        return qxe.fileName();
    };
    const QString file = writeFile(QStringLiteral("bench"), image);
    const QString other = writeFile(QStringLiteral("other"), otherImage);
    if (file.isEmpty() || other.isEmpty()) return 1;

    // Clean lines first, unpaced and paced like the real line; then the paced line losing
    // replies, against the clean paced medians of the same run.
    struct Line {
        const char* name;
        uint32_t baud;
        double drop;
    };
    double cleanRead = 0, cleanLoad = 0;
    for (const Line line : {Line{"unpaced", 0, 0}, Line{"paced 19200", 19200, 0}, Line{"19200, 5% lost", 19200, 0.05},
                            Line{"19200, 3% lost", 19200, 0.03}}) {
        const bool paced = line.baud != 0;
        sim::SimOptions options;
        options.baud = line.baud;
        options.drop = line.drop;
        bench::SimFolder folder(options);   // the window, made after it, goes first
        if (!folder.started) return 1;
        TForm1 form;
        form.show();
        if (!RunUntil([&] { return form.ReadPending == 0; }, 60000)) {
            std::fprintf(stderr, "the first read did not complete\n");
            return 1;
        }
        const int rounds = paced ? 5 : 20;
        const bool lossy = line.drop > 0;
        const bool reads = !lossy || line.drop == 0.05;   // reads lose 5 %, uploads 3 %
        const bool loads = !lossy || line.drop == 0.03;
        if (reads) {
            const auto seconds = TimeReads(form, rounds);
            Report((std::string("full read, ") + line.name).c_str(), seconds, paced);
            if (paced && !lossy) cleanRead = bench::Median(seconds);
            if (lossy && cleanRead > 0)
                std::printf("%-34s %.3f of the clean paced read\n", "", bench::Median(seconds) / cleanRead);
        }
        if (loads) {
            const auto seconds = TimeLoads(form, file, other, rounds);
            Report((std::string("file load + upload, ") + line.name).c_str(), seconds, paced);
            if (paced && !lossy) cleanLoad = bench::Median(seconds);
            if (lossy && cleanLoad > 0)
                std::printf("%-34s %.3f of the clean paced upload; the ECU %s the file\n", "",
                            bench::Median(seconds) / cleanLoad, folder.ecu.Eeprom() == (seconds.size() % 2 ? image : otherImage) ? "holds" : "DOES NOT hold");
        }
    }
    return 0;
}
