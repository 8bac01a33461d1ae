// Log days as a tuner meets them. Each measurement runs in a fresh process of its own (this
// program started again with --child), so that a load is a first load: no memory freed by an
// earlier run to reuse. The files are read once beforehand, so they are in the page cache.
//
// For logs of 30,000, 300,000 and 3,000,000 samples of fourteen channels it prints the medians
// of: the cold load through the window (Button4Click: read the file, fill Chart10, set the
// slider) and the load until the chart is drawn; and, each in its own fresh process in the same
// run, a plain reference reader of the same file (all of it into memory, then a strtod loop),
// with the ratio of the two. For the largest log: the memory the loaded log holds and the peak
// during the load. Then the memory per sample while recording 1,000,000 samples, and on the
// 300,000-sample day a Save against a plain fprintf writer, a full replot and one sample
// appended while the Logging page is hidden.
//
// Arguments: [--runs N] [--png file] [folder]. The folder holds the log files (default: the
// temp folder); --png saves a picture of the Logging page with the largest log loaded.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QSlider>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "app/Mainform.h"
#include "bench/BenchSupport.h"
#include "logging/LogViewer.h"
#include "ui/Dialogs.h"
#include "ui/LogChart.h"

namespace {

using bench::LoadAverage;
using bench::Median;
using bench::Percentile;
using bench::ReferenceRead;
using bench::RunFor;
using bench::TimeMs;
using logging::kLogChannelCount;

constexpr int kSizes[] = {30000, 300000, 3000000};
constexpr int kRecorded = 1000000;

// Chart values of a day of pulls, made up on the fly so that no copy of the log exists
// before the window loads it: each pull a rise over about a minute, idling in between, with
// the sensor noise and the two-decimal resolution of a real log.
class DayLog : public logging::LogStore {
public:
    explicit DayLog(int samples) : samples_(samples) {}
    int SeriesCount() const override { return kLogChannelCount; }
    int Count(int) const override { return samples_; }
    double YValue(int k, int i) const override
    {
        const double pull = std::max(0.0, std::sin(i / 95.0) * std::sin(i / 4100.0 + k));
        const double noise = double((unsigned(i) * 2654435761u + unsigned(k) * 40503u) % 1000) / 1000.0;
        static const double kBase[] = {9, 0, 1.5, 10, 80, 25, 9.5, 0, 13.6, 0, 3.5, 30, 1.5, 2};
        static const double kSwing[] = {55, 95, 14, 22, 12, 15, 2.5, 900, 0.6, 60, 14, 55, 4, 6};
        const double v = kBase[k] + kSwing[k] * pull + 0.01 * kSwing[k] * noise;
        return std::round(v * 100) / 100;
    }
    void Append(int, const double*, int) override {}

private:
    int samples_;
};

long StatusKb(const char* key)
{
    long kb = 0;
    if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        const size_t n = std::strlen(key);
        while (std::fgets(line, sizeof line, f))
            if (std::strncmp(line, key, n) == 0 && std::sscanf(line + n, " %ld", &kb) == 1) break;
        std::fclose(f);
    }
    return kb;
}

// Starts the peak resident size afresh from the present one.
void ResetPeak()
{
    if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

// The reference writer: the chart's values through fprintf, no fsync.
void ReferenceWrite(const LogChart& chart, const QString& path)
{
    std::FILE* f = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!f) return;
    const int rows = logging::SampleCount(chart);
    for (int i = 0; i < rows; ++i) {
        for (int k = 0; k < kLogChannelCount; ++k) std::fprintf(f, "%.2f\t", chart.YValue(k, i));
        std::fputs("\r\n", f);
    }
    std::fclose(f);
}

// ---- the measurements, each in a fresh process -----------------------------------------------

// The window as a user has it before loading: shown, the Logging page up. No ECU is attached,
// so that nothing but the load runs.
struct Window {
    QTemporaryDir dir;
    TForm1 form;
    QString answer;
    Window()
    {
        QDir::setCurrent(dir.path());
        form.show();
        form.FormShortCut(Qt::Key_F5);
        RunFor(200);
        ui::SetFileDialogHook([this](ui::FileDialog&) { return std::optional<QString>(answer); });
        ui::SetMessageHook([](ui::MessageKind, const QString& text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });
    }
};

void ChildReference(const QString& file)
{
    double sum = 0;
    size_t values = 0;
    const double ms = TimeMs([&] { values = ReferenceRead(file, &sum); });
    std::printf("reference_ms=%f values=%zu\n", ms, values);
}

void ChildLoad(const QString& file, const QString& png)
{
    Window w;
    w.answer = file;
    const long before = StatusKb("VmRSS:");
    ResetPeak();
    bool drawn = false;
    QObject::connect(w.form.Chart10, &QCustomPlot::afterReplot, [&] { drawn = true; });
    const auto t0 = std::chrono::steady_clock::now();
    w.form.Button4Click(nullptr);
    const double loadMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    while (!drawn) QCoreApplication::processEvents();
    const double drawnMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    const long peak = StatusKb("VmHWM:");
    const long after = StatusKb("VmRSS:");
    std::printf("load_ms=%f drawn_ms=%f held_kb=%ld peak_kb=%ld samples=%d\n", loadMs, drawnMs, after - before,
                peak - before, logging::SampleCount(*w.form.Chart10));
    if (!png.isEmpty()) {
        w.form.TrackBar1->setValue(w.form.TrackBar1->maximum() * 2 / 3);   // a sample in the readout row
        RunFor(100);
        w.form.TabSheet[4]->grab().save(png);
    }
}

void ChildRecord()
{
    Window w;
    w.form.Button1Click(nullptr);
    w.form.FormShortCut(Qt::Key_F4);   // recording runs with the Gauges page shown
    RunFor(50);
    const char* texts[] = {"6543", "12.50", "3.25", "15", "85", "30", "100", "512", "13.80", "0", "95", "850", "2.5", "39"};
    for (int k = 0; k < kLogChannelCount; ++k) w.form.LogSourceEdit[k]->setText(QLatin1String(texts[k]));
    w.form.AddLogSample();   // the first sample sets up what every log has
    const long before = StatusKb("VmRSS:");
    std::vector<double> appends;
    appends.reserve(kRecorded);
    for (int r = 1; r < kRecorded; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        w.form.AddLogSample();
        appends.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    const long after = StatusKb("VmRSS:") - long(appends.capacity() * sizeof(double) / 1024);
    std::printf("bytes_per_sample=%f append_us=%f append_p99_us=%f samples=%d\n",
                double(after - before) * 1024 / (kRecorded - 1), Median(appends), Percentile(appends, 0.99),
                logging::SampleCount(*w.form.Chart10));
}

void ChildDay(const QString& file)
{
    Window w;
    w.answer = file;
    w.form.Button4Click(nullptr);
    LogChart& chart = *w.form.Chart10;
    const QString saved = w.dir.filePath(QStringLiteral("saved.qxl"));
    const QString plain = w.dir.filePath(QStringLiteral("plain.qxl"));
    std::vector<double> saves, plainWrites, replots;
    w.answer = saved;
    for (int r = 0; r < 5; ++r) {
        saves.push_back(TimeMs([&] { w.form.Button3Click(nullptr); }));
        plainWrites.push_back(TimeMs([&] { ReferenceWrite(chart, plain); }));
    }
    QFile a(file), b(saved);
    const bool identical = a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) && a.readAll() == b.readAll();
    RunFor(50);
    for (int r = 0; r < 15; ++r) replots.push_back(TimeMs([&] { chart.replot(QCustomPlot::rpImmediateRefresh); }));
    std::printf("save_ms=%f plain_write_ms=%f identical=%d replot_ms=%f\n", Median(saves), Median(plainWrites),
                int(identical), Median(replots));
}

int Child(const QStringList& args)
{
    const QString mode = args.value(0);
    if (mode == QLatin1String("reference")) ChildReference(args.value(1));
    else if (mode == QLatin1String("load")) ChildLoad(args.value(1), args.value(2));
    else if (mode == QLatin1String("record")) ChildRecord();
    else if (mode == QLatin1String("day")) ChildDay(args.value(1));
    else return 2;
    return 0;
}

// ---- the parent: files, fresh processes, medians ---------------------------------------------

// Runs this program again with --child and the arguments; the key=value pairs it printed.
std::map<std::string, double> RunChild(const QStringList& args)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("--child")} + args);
    child.waitForFinished(-1);
    std::map<std::string, double> result;
    for (const QByteArray& pair : child.readAllStandardOutput().simplified().split(' ')) {
        const qsizetype eq = pair.indexOf('=');
        if (eq > 0) result[pair.left(eq).toStdString()] = pair.mid(eq + 1).toDouble();
    }
    if (child.exitCode() != 0 || result.empty())
        std::fprintf(stderr, "child %s failed\n", qPrintable(args.join(QLatin1Char(' '))));
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--child")) return Child(args.mid(1));

    int runs = 7;
    QString png;
    QString folder = QDir::tempPath();
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs") && i + 1 < args.size()) runs = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--png") && i + 1 < args.size()) png = QFileInfo(args[++i]).absoluteFilePath();
        else folder = args[i];
    }
    QTemporaryDir work(QDir(folder).filePath(QStringLiteral("quenrix-day-XXXXXX")));
    std::printf("machine load (1 min average) at the start: %.2f on %d cores\n", LoadAverage(), QThread::idealThreadCount());

    std::map<int, QString> files;
    for (int samples : kSizes) {
        const QString file = work.filePath(QStringLiteral("day-%1.qxl").arg(samples));
        QString error;
        if (!logging::WriteLogFile(DayLog(samples), file, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        double sum = 0;
        ReferenceRead(file, &sum);   // into the page cache
        files[samples] = file;
    }

    for (int samples : kSizes) {
        const QString& file = files[samples];
        std::vector<double> loads, drawn, references, ratios;
        std::map<std::string, double> last;
        for (int r = 0; r < runs; ++r) {
            // Alternate which goes first, so that neither always meets the other's aftermath.
            auto reference = [&] { return RunChild({QStringLiteral("reference"), file})["reference_ms"]; };
            auto load = [&] { return RunChild({QStringLiteral("load"), file}); };
            double ref = 0;
            if (r % 2 == 0) {
                ref = reference();
                last = load();
            } else {
                last = load();
                ref = reference();
            }
            references.push_back(ref);
            loads.push_back(last["load_ms"]);
            drawn.push_back(last["drawn_ms"]);
            ratios.push_back(last["load_ms"] / ref);
        }
        std::printf("%d samples (file %.1f MB), cold, median of %d fresh processes each:\n", samples,
                    double(QFileInfo(file).size()) / 1e6, runs);
        std::printf("  Load (Button4Click)                 %9.1f ms\n", Median(loads));
        std::printf("  Load until the chart is drawn       %9.1f ms\n", Median(drawn));
        std::printf("  reference: read all + strtod loop   %9.1f ms\n", Median(references));
        std::printf("  ratio Load / reference              %9.2f    (median of the runs' ratios %.2f)\n",
                    Median(loads) / Median(references), Median(ratios));
        std::printf("  memory: the loaded log holds %.1f MB (%.1f bytes a sample), peak during the load %.1f MB (x %.2f)\n",
                    last["held_kb"] / 1024, last["held_kb"] * 1024 / samples, last["peak_kb"] / 1024,
                    last["peak_kb"] / std::max(last["held_kb"], 1.0));
    }
    if (!png.isEmpty()) RunChild({QStringLiteral("load"), files[kSizes[2]], png});

    auto record = RunChild({QStringLiteral("record")});
    std::printf("recording %d samples: %.1f bytes a sample; AddLogSample median %.2f us (p99 %.2f us)\n", kRecorded,
                record["bytes_per_sample"], record["append_us"], record["append_p99_us"]);
    auto day = RunChild({QStringLiteral("day"), files[300000]});
    std::printf("300000-sample day: Save (Button3Click, fsync + rename) %.1f ms, plain fprintf writer %.1f ms (file %s); full replot %.1f ms\n",
                day["save_ms"], day["plain_write_ms"], day["identical"] ? "identical to the loaded one" : "DIFFERS",
                day["replot_ms"]);
    std::printf("machine load (1 min average) at the end: %.2f\n", LoadAverage());
    return 0;
}
