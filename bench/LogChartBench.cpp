// The log chart with an eight-hour log: 14 channels of 300,000 samples each.
// Prints medians of: one sample appended (14 AppendY) while the chart is hidden, a full replot
// of the shown chart at 750 x 377 (default channels shown, then all fourteen), and a bulk load
// of the whole log; and the peak resident set size.
#include <QApplication>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "bench/BenchSupport.h"
#include "ui/LogChart.h"

namespace {

using bench::Median;

using Clock = std::chrono::steady_clock;

constexpr int kSamples = 300000;
constexpr int kChannels = 14;

struct Channel {
    const char* title;
    QColor color;
    int width;
    bool shown;
};

const Channel kChannelTable[kChannels] = {
    {"RPM/100", {255, 0, 0}, 2, true},    {"TPS", {0, 128, 0}, 2, true},
    {"Fuel (ms)", {255, 255, 0}, 2, true}, {"Advance", {0, 0, 255}, 2, true},
    {"Water", {255, 0, 255}, 2, false},   {"Air", {128, 128, 128}, 2, false},
    {"Lambda", {0, 0, 0}, 2, true},       {"POT", {0, 128, 128}, 2, false},
    {"Volt", {255, 255, 255}, 1, false},  {"Acc", {0, 0, 128}, 2, false},
    {"Map", {128, 0, 0}, 2, true},        {"EGT", {0, 255, 0}, 2, true},
    {"Oil Pressure", {128, 128, 64}, 2, true}, {"PWM", {64, 128, 128}, 2, true},
};

// Engine-like traces: slow pulls with some noise, each channel on its own scale.
double Sample(int channel, int i)
{
    const double pull = std::sin(i / (900.0 + 37 * channel));
    const double ripple = std::sin(i / (7.0 + channel)) * 0.05;
    const double noise = ((i * 2654435761u + channel * 40503u) % 1000) / 1000.0 - 0.5;
    return 10.0 * channel + 30.0 * (0.5 + 0.5 * pull) + 3 * ripple + noise;
}

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Processor time of this thread: the machine is shared, so wall time alone overstates the cost.
double ThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

long PeakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;   // kilobytes on Linux
}

// Loads the whole log; returns the time spent inside AppendBulk only.
double BulkLoad(LogChart& chart, std::vector<double>& buffer)
{
    Clock::duration spent{};
    for (int k = 0; k < kChannels; ++k) chart.ClearSeries(k);
    for (int k = 0; k < kChannels; ++k) {
        for (int i = 0; i < kSamples; ++i) buffer[i] = Sample(k, i);
        const auto start = Clock::now();
        chart.AppendBulk(k, buffer.data(), kSamples);
        spent += Clock::now() - start;
    }
    return Seconds(spent);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    LogChart chart;
    for (const Channel& c : kChannelTable) chart.AddSeries(c.title, c.color, c.width);
    for (int k = 0; k < kChannels; ++k) chart.SetSeriesVisible(k, kChannelTable[k].shown);
    chart.resize(750, 377);
    QCoreApplication::processEvents();

    std::vector<double> buffer(kSamples);
    std::vector<double> loads;
    for (int run = 0; run < 7; ++run) loads.push_back(BulkLoad(chart, buffer));
    std::printf("bulk load, %d x %d points (AppendBulk): median %.1f ms\n", kChannels, kSamples,
                Median(loads) * 1e3);
    std::printf("peak RSS after loading: %ld MB\n", PeakRssMb());

    // (a) one sample while the Logging page is not shown: fourteen appends.
    std::vector<double> appends;
    for (int n = 0; n < 2000; ++n) {
        const int i = chart.Count(0);
        const auto start = Clock::now();
        for (int k = 0; k < kChannels; ++k) chart.AppendY(k, Sample(k, i));
        appends.push_back(Seconds(Clock::now() - start));
    }
    std::printf("append one sample (14 AppendY), chart hidden: median %.2f us\n", Median(appends) * 1e6);

    // (b) full replot of the shown chart.
    chart.show();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    auto replots = [&] {
        chart.replot(QCustomPlot::rpImmediateRefresh);   // warm-up
        std::vector<double> times, cpu;
        for (int n = 0; n < 15; ++n) {
            const double cpuStart = ThreadCpuSeconds();
            const auto start = Clock::now();
            chart.replot(QCustomPlot::rpImmediateRefresh);
            times.push_back(Seconds(Clock::now() - start));
            cpu.push_back(ThreadCpuSeconds() - cpuStart);
        }
        return std::make_pair(Median(times), Median(cpu));
    };
    auto [wall9, cpu9] = replots();
    std::printf("full replot at 750x377, 9 channels shown: median %.1f ms (cpu %.1f ms)\n", wall9 * 1e3, cpu9 * 1e3);
    for (int k = 0; k < kChannels; ++k) chart.SetSeriesVisible(k, true);
    auto [wall14, cpu14] = replots();
    std::printf("full replot at 750x377, all 14 shown: median %.1f ms (cpu %.1f ms)\n", wall14 * 1e3, cpu14 * 1e3);

    std::printf("peak RSS at the end: %ld MB\n", PeakRssMb());

    // bench_LogChartBench FILE.png also saves the picture, to judge the look of a long log.
    if (argc > 1) {
        for (int k = 0; k < kChannels; ++k) chart.SetSeriesVisible(k, kChannelTable[k].shown);
        chart.replot(QCustomPlot::rpImmediateRefresh);
        chart.grab().save(QString::fromLocal8Bit(argv[1]));
    }
    return 0;
}
