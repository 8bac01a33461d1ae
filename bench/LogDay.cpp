// An eight-hour dyno day through the window: 300,000 samples of fourteen channels in Chart10.
// Times, as medians, the whole paths a tuner takes: Load (Button4Click: read the file, empty the
// chart, fill it, set the slider) and, beside it in the same run, ReadLogFile straight into the
// chart and a plain reference reader of the same file (all of it into memory, then a strtod
// loop); Save (Button3Click: WriteLogFile from the chart, with fsync and rename) and a plain
// fprintf writer of the same values for reference; one sample appended by AddLogSample while the
// Logging page is hidden; a full replot of the shown chart. Then the peak resident set size.
//
// Arguments: [--png file] [folder]. The folder holds the log files (default: the temp folder);
// --png saves a picture of the Logging page with the day loaded.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QSlider>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/Mainform.h"
#include "bench/BenchSupport.h"
#include "logging/LogViewer.h"
#include "ui/Dialogs.h"
#include "ui/LogChart.h"

namespace {

using Clock = std::chrono::steady_clock;
using bench::Median;
using bench::Percentile;
using bench::ReferenceRead;
using bench::RunFor;
using bench::TimeMs;
using logging::kLogChannelCount;

constexpr int kSamples = 300000;
constexpr int kRuns = 5;
constexpr int kAppends = 20000;
constexpr int kReplots = 15;

// Chart values of a day of pulls, made up on the fly so that no copy of the log exists
// before the window loads it: each pull a rise over about a minute, idling in between, with
// the sensor noise and the two-decimal resolution of a real log.
class DayLog : public logging::LogStore {
public:
    int SeriesCount() const override { return kLogChannelCount; }
    int Count(int) const override { return kSamples; }
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
};

long PeakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long CurrentRssKb()
{
    long kb = 0;
    if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "VmRSS: %ld", &kb) == 1) break;
        std::fclose(f);
    }
    return kb;
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

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QString png;
    QString folder = QDir::tempPath();
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--png") && i + 1 < argc) png = QFileInfo(QString::fromLocal8Bit(argv[++i])).absoluteFilePath();
        else folder = arg;
    }
    bench::SimFolder work(0, folder);
    if (!work.started) return 1;

    const QString day = work.dir.filePath(QStringLiteral("day.qxl"));
    const QString saved = work.dir.filePath(QStringLiteral("saved.qxl"));
    const QString plain = work.dir.filePath(QStringLiteral("plain.qxl"));
    QString error;
    if (!logging::WriteLogFile(DayLog(), day, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const long rssBeforeWindow = CurrentRssKb();

    TForm1 form;
    form.show();
    RunFor(300);   // the read of the calibration runs; then the Logging page stops the polling
    form.FormShortCut(Qt::Key_F5);
    RunFor(50);
    QString answer;
    ui::SetFileDialogHook([&answer](ui::FileDialog&) { return std::optional<QString>(answer); });
    ui::SetMessageHook([](ui::MessageKind, const QString& text) {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    });
    LogChart& chart = *form.Chart10;
    logging::ChartLogStore store(chart);

    // Load side by side with the reference, run by run, so that both see the same machine.
    std::vector<double> loads, reads, references;
    size_t referenceValues = 0;
    double referenceSum = 0;
    answer = day;
    for (int r = 0; r < kRuns; ++r) {
        references.push_back(TimeMs([&] { referenceValues = ReferenceRead(day, &referenceSum); }));
        loads.push_back(TimeMs([&] { form.Button4Click(nullptr); }));
        logging::ClearLog(chart);
        reads.push_back(TimeMs([&] { logging::ReadLogFile(store, day, &error); }));
    }
    const int loaded = logging::SampleCount(chart);
    const long rssLoaded = CurrentRssKb();
    const long peakAfterLoads = PeakRssKb();

    std::vector<double> saves, plainWrites;
    answer = saved;
    for (int r = 0; r < kRuns; ++r) {
        saves.push_back(TimeMs([&] { form.Button3Click(nullptr); }));
        plainWrites.push_back(TimeMs([&] { ReferenceWrite(chart, plain); }));
    }
    QFile a(day), b(saved);
    const bool identical = a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) && a.readAll() == b.readAll();

    // A full replot of the shown chart, as after a zoom or a check box.
    RunFor(50);
    std::vector<double> replots;
    for (int r = 0; r < kReplots; ++r) replots.push_back(TimeMs([&] { chart.replot(QCustomPlot::rpImmediateRefresh); }));

    if (!png.isEmpty()) {
        form.TrackBar1->setValue(loaded * 2 / 3);   // a sample in the readout row
        RunFor(100);
        form.TabSheet[4]->grab().save(png);
    }

    // One sample while the Gauges page is shown (and the Logging page hidden), as the polling
    // tick takes it; the live edits hold texts of the usual lengths.
    form.FormShortCut(Qt::Key_F4);
    RunFor(50);
    const char* texts[] = {"6543", "12.50", "3.25", "15", "85", "30", "100", "512", "13.80", "0", "95", "850", "2.5", "39"};
    for (int k = 0; k < kLogChannelCount; ++k) form.LogSourceEdit[k]->setText(QLatin1String(texts[k]));
    std::vector<double> appends;
    appends.reserve(kAppends);
    for (int r = 0; r < kAppends; ++r) {
        const auto t0 = Clock::now();
        form.AddLogSample();
        appends.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    const int afterAppends = logging::SampleCount(chart);
    work.ecu.Stop();

    std::printf("day: %d samples x %d channels, file %.1f MB in %s\n", loaded, kLogChannelCount,
                double(QFileInfo(day).size()) / 1e6, qPrintable(folder));
    std::printf("median of %d runs:\n", kRuns);
    std::printf("  Load (Button4Click, whole path)       %8.1f ms\n", Median(loads));
    std::printf("  ReadLogFile into Chart10              %8.1f ms\n", Median(reads));
    std::printf("  reference: read all + strtod loop     %8.1f ms  (%zu values, sum %.2f)\n",
                Median(references), referenceValues, referenceSum);
    std::printf("  Save (Button3Click, fsync + rename)   %8.1f ms  (file %s)\n", Median(saves),
                identical ? "identical to the loaded one" : "DIFFERS from the loaded one");
    std::printf("  reference: fprintf writer, no fsync   %8.1f ms\n", Median(plainWrites));
    std::printf("  full replot of Chart10 (%d runs)      %8.1f ms\n", kReplots, Median(replots));
    std::printf("  AddLogSample, Logging page hidden     %8.2f us  (p99 %.2f us, %d appends, log now %d)\n",
                Median(appends), Percentile(appends, 0.99), kAppends, afterAppends);
    std::printf("RSS: %.0f MB before the window, %.0f MB with the day loaded; peak %.0f MB while loading, %.0f MB at the end\n",
                rssBeforeWindow / 1024.0, rssLoaded / 1024.0, peakAfterLoads / 1024.0, PeakRssKb() / 1024.0);
    if (!png.isEmpty()) std::printf("picture of the Logging page: %s\n", qPrintable(png));
    return 0;
}
