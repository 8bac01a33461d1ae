// What looking at a long log costs: the log chart at 750 x 377 with fourteen channels of an
// hour of logging (33,000 samples) and of a three-million-sample log. For each it prints the
// medians of: a full replot (the nine channels shown at start, then all fourteen), one mouse
// move over the plot (the hit test that picks the cursor shape), one wheel step of zoom, a
// channel toggle until the chart is redrawn, the cursor moved to another sample, and a replot
// zoomed in to as many samples as pixels; then the bulk load of the values and the memory the
// chart holds per sample; and a full replot of the fourteen channels in lanes, and a redraw
// of the scatter (engine speed against manifold pressure, coloured by lambda) over every sample,
// which must stay within 50 ms at three million samples.
//
// Arguments: [samples ...] (default 33000 3000000); --png FILE saves the largest chart.
#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/BenchSupport.h"
#include "logging/LogViewer.h"
#include "ui/LogChart.h"
#include "ui/LogLine.h"
#include "ui/ScatterPlot.h"

namespace {

using bench::Median;
using bench::Percentile;
using bench::TimeMs;
using logging::kLogChannelCount;

constexpr int kRuns = 15;
constexpr double kScatterBoundMs = 50;   // a redraw of the scatter a tuner does not wait for
bool overBound = false;

// Engine-like traces: pulls of a minute or so with idling between, sensor noise, each channel
// on its own scale.
double Sample(int channel, int i)
{
    const double pull = std::max(0.0, std::sin(i / 95.0) * std::sin(i / 4100.0 + channel));
    const double noise = double((unsigned(i) * 2654435761u + unsigned(channel) * 40503u) % 1000) / 1000.0;
    return 10.0 * channel + 30.0 * pull + noise;
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

void SendMove(LogChart& chart, QPoint pos)
{
    QMouseEvent e(QEvent::MouseMove, pos, chart.mapToGlobal(pos), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&chart, &e);
}

void SendWheel(LogChart& chart, QPoint pos, int delta)
{
    QWheelEvent e(pos, chart.mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(&chart, &e);
}

// Runs the event loop until the chart has replotted and painted.
double UntilRedrawn(LogChart& chart, const std::function<void()>& change)
{
    bool replotted = false;
    const auto connection = QObject::connect(&chart, &QCustomPlot::afterReplot, [&] { replotted = true; });
    const double ms = TimeMs([&] {
        change();
        while (!replotted) QCoreApplication::processEvents(QEventLoop::AllEvents);
        chart.repaint();
    });
    QObject::disconnect(connection);
    return ms;
}

void Measure(int samples, const QString& png)
{
    std::vector<double> values(size_t(samples), 0.0);   // the source, before the memory is counted
    LogChart chart;
    logging::AddLogSeries(chart);
    chart.resize(750, 377);
    const long rssBefore = CurrentRssKb();   // the empty chart's own memory is not the log's
    std::vector<double> loads;
    for (int k = 0; k < kLogChannelCount; ++k) {
        for (int i = 0; i < samples; ++i) values[size_t(i)] = std::round(Sample(k, i) * 100) / 100;
        loads.push_back(TimeMs([&] { chart.AppendBulk(k, values.data(), samples); }));
    }
    const double perSample = double(CurrentRssKb() - rssBefore) * 1024.0 / samples;

    chart.show();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    auto replots = [&] {
        chart.replot(QCustomPlot::rpImmediateRefresh);   // warm-up
        std::vector<double> times;
        for (int n = 0; n < kRuns; ++n) times.push_back(TimeMs([&] { chart.replot(QCustomPlot::rpImmediateRefresh); }));
        return Median(times);
    };
    const double replot9 = replots();

    // The pointer crosses the plot: a move every few pixels, over lines and between them.
    const QRect plot = chart.axisRect()->rect();
    std::vector<double> moves;
    for (int x = plot.left() + 2; x < plot.right(); x += 7)
        for (int y : {plot.top() + plot.height() / 3, plot.center().y(), plot.bottom() - 20})
            moves.push_back(TimeMs([&] { SendMove(chart, QPoint(x, y)); }));

    std::vector<double> toggles;
    for (int n = 0; n < 6; ++n)
        for (int k : {4, 5, 7, 8, 9}) {
            const bool shown = chart.SeriesVisible(k);
            toggles.push_back(UntilRedrawn(chart, [&] { chart.SetSeriesVisible(k, !shown); }));
        }
    for (int k = 0; k < kLogChannelCount; ++k) chart.SetSeriesVisible(k, true);
    const double replot14 = replots();

    // Of a replot, the part that is the lines' geometry (the rest is painting).
    std::vector<double> geometry;
    std::vector<QLineF> segments;
    for (int n = 0; n < kRuns; ++n)
        geometry.push_back(TimeMs([&] {
            const auto map = [](const QCPAxis* a) { return ui::LinearMap{a->coordToPixel(0), a->coordToPixel(1) - a->coordToPixel(0)}; };
            for (int k = 0; k < kLogChannelCount; ++k) {
                segments.clear();
                ui::LineSegments(chart.Column(k), map(chart.xAxis), map(chart.yAxis), plot.left(), plot.right() + 1,
                                 double(samples) / plot.width() > ui::kColumnwiseDensity, &segments);
            }
        }));

    std::vector<double> cursors;
    for (int n = 0; n < kRuns; ++n)
        cursors.push_back(TimeMs([&] {
            chart.SetCursorIndex(samples / 3 + n);
            QCoreApplication::processEvents();
            chart.repaint();
        }));

    // Zoomed in to as many samples as pixels: every line exact and smoothed, the dearest case.
    chart.ZoomSamples(samples / 2.0, double(plot.width()) / samples);
    const double replotZoomed = replots();
    chart.UndoZoom();

    std::vector<double> wheels;
    for (int n = 0; n < 8; ++n)
        wheels.push_back(UntilRedrawn(chart, [&] { SendWheel(chart, plot.center(), n < 4 ? 120 : -120); }));

    // Lanes: all fourteen, each in its own plot over the shared time axis.
    chart.UndoZoom();
    chart.SetLanes(true);
    const double replotLanes = replots();

    // A second log as long beside it, a third of the way in: both logs in the one chart and in lanes.
    std::vector<base::SampleColumn> second(kLogChannelCount);
    for (int k = 0; k < kLogChannelCount; ++k)
        for (int i = 0; i < samples; ++i) second[size_t(k)].Append(float(std::round(Sample(k, i + 7) * 100) / 100));
    chart.SetLanes(false);
    chart.SetSecondLog(std::move(second));
    chart.SetSecondShift(samples / 3);
    chart.UndoZoom();
    const double replotSecond = replots();
    chart.SetLanes(true);
    const double replotSecondLanes = replots();
    chart.SetLanes(false);
    chart.ClearSecondLog();

    // The scatter of engine speed against manifold pressure coloured by lambda, drawn per pixel.
    ScatterPlot scatter;
    scatter.resize(750, 353);
    const int roles[] = {0, 10, 6};
    for (int r = 0; r < 3; ++r) scatter.SetChannel(ScatterPlot::Role(r), {&chart.Column(roles[r]), QString(), 0});
    scatter.SetSampleRange(0, samples);
    scatter.Refresh();
    scatter.show();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    scatter.replot(QCustomPlot::rpImmediateRefresh);
    std::vector<double> scatters;
    for (int n = 0; n < kRuns; ++n) scatters.push_back(TimeMs([&] { scatter.replot(QCustomPlot::rpImmediateRefresh); }));
    scatter.hide();

    std::printf("%d samples x %d channels, chart 750 x 377 (median of runs, ms):\n", samples, kLogChannelCount);
    std::printf("  full replot, 9 channels shown         %8.2f\n", replot9);
    std::printf("  full replot, all 14 shown             %8.2f\n", replot14);
    std::printf("    of which the lines' geometry        %8.2f\n", Median(geometry));
    std::printf("  full replot, 14 shown, zoomed to %d  %8.2f   (lines exact and smoothed)\n", plot.width(), replotZoomed);
    std::printf("  full replot, 14 lanes                 %8.2f\n", replotLanes);
    std::printf("  the same with a second log beside it  %8.2f   (one chart)  %.2f   (lanes)\n", replotSecond, replotSecondLanes);
    std::printf("  scatter redraw, per pixel (bound 50)  %8.2f%s\n", Median(scatters),
                Median(scatters) > kScatterBoundMs ? "   OVER THE BOUND" : "");
    if (Median(scatters) > kScatterBoundMs) overBound = true;
    std::printf("  mouse move over the plot (hit test)   %8.3f   (p99 %.3f, %zu moves)\n", Median(moves),
                Percentile(moves, 0.99), moves.size());
    std::printf("  channel toggle until redrawn          %8.2f   (max %.2f)\n", Median(toggles),
                *std::max_element(toggles.begin(), toggles.end()));
    std::printf("  wheel step until redrawn              %8.2f\n", Median(wheels));
    std::printf("  cursor moved and painted              %8.3f\n", Median(cursors));
    std::printf("  bulk load of one channel              %8.2f\n", Median(loads));
    std::printf("  memory held: %.1f bytes per sample (all fourteen channels)\n", perSample);
    if (!png.isEmpty()) {
        chart.UndoZoom();
        chart.replot(QCustomPlot::rpImmediateRefresh);
        chart.grab().save(png);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::vector<int> sizes;
    QString png;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--png") == 0 && i + 1 < argc) png = QString::fromLocal8Bit(argv[++i]);
        else sizes.push_back(std::max(2, std::atoi(argv[i])));
    }
    if (sizes.empty()) sizes = {33000, 3000000};
    std::sort(sizes.begin(), sizes.end());
    for (size_t i = 0; i < sizes.size(); ++i) Measure(sizes[i], i + 1 == sizes.size() ? png : QString());
    return overBound ? 1 : 0;
}
