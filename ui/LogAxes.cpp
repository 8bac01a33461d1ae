#include "ui/LogAxes.h"

#include <algorithm>
#include <cmath>

namespace ui {

namespace {

constexpr double kNominalStepSeconds = 0.108;   // the polling cycle: nine ticks of 12 ms
constexpr int kPixelsPerTimeTick = 90;          // room for "1:02:30.5" and a gap

// Decimals of a second a step needs: 0.5 s needs one, 0.02 s two.
int StepDecimals(double step)
{
    int decimals = 0;
    while (decimals < 3 && std::fabs(step * std::pow(10.0, decimals) - std::round(step * std::pow(10.0, decimals))) > 1e-6)
        ++decimals;
    return decimals;
}

}  // namespace

double TimeTickStep(double span, int wanted)
{
    static const double steps[] = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30,
                                   60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400};
    wanted = std::max(wanted, 1);
    for (double step : steps)
        if (span / step <= wanted) return step;
    double step = 86400;
    while (span / step > wanted) step *= 2;
    return step;
}

QString TimeTickLabel(double seconds, double step, double viewEnd, QChar point)
{
    const int decimals = StepDecimals(step);
    const double scale = std::pow(10.0, decimals);
    // Whole units of the last decimal, so that 59.9999 never reads 0:60.
    const long long units = std::llround(std::fabs(seconds) * scale);
    const long long whole = units / (long long)scale;
    const long long fraction = units % (long long)scale;
    QString text = seconds < 0 && units != 0 ? QStringLiteral("-") : QString();
    if (viewEnd < 60) {
        text += QString::number(whole);
    } else if (viewEnd < 3600) {
        text += QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
    } else {
        text += QStringLiteral("%1:%2:%3")
                    .arg(whole / 3600)
                    .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
                    .arg(whole % 60, 2, 10, QLatin1Char('0'));
    }
    if (decimals > 0) text += point + QStringLiteral("%1").arg(fraction, decimals, 10, QLatin1Char('0'));
    if (viewEnd < 60) text += QStringLiteral(" s");
    return text;
}

double SampleClock::SecondsAt(double index) const
{
    const int n = count ? count() : 0;
    if (n <= 0 || !seconds) return index * kNominalStepSeconds;
    if (index <= 0) return seconds(0) + index * kNominalStepSeconds;
    const int last = n - 1;
    if (index >= last) return seconds(last) + (index - last) * kNominalStepSeconds;
    const int i = int(std::floor(index));
    const double a = seconds(i);
    return a + (seconds(i + 1) - a) * (index - i);
}

double SampleClock::IndexAt(double t) const
{
    const int n = count ? count() : 0;
    if (n <= 0 || !seconds) return t / kNominalStepSeconds;
    const double first = seconds(0);
    if (t <= first) return (t - first) / kNominalStepSeconds;
    const int last = n - 1;
    const double end = seconds(last);
    if (t >= end) return last + (t - end) / kNominalStepSeconds;
    // The last sample taken at or before t, then the share of the way to the next.
    int low = 0, high = last;   // seconds(low) <= t < seconds(high)
    while (high - low > 1) {
        const int mid = low + (high - low) / 2;
        if (seconds(mid) <= t)
            low = mid;
        else
            high = mid;
    }
    const double a = seconds(low), b = seconds(high);
    return b > a ? low + (t - a) / (b - a) : low;
}

void TimeTicker::generate(const QCPRange& range, const QLocale& locale, QChar, int, QVector<double>& ticks,
                          QVector<double>* subTicks, QVector<QString>* tickLabels)
{
    ticks.clear();
    if (subTicks) subTicks->clear();
    if (tickLabels) tickLabels->clear();
    const double from = clock_.SecondsAt(range.lower);
    const double to = clock_.SecondsAt(range.upper);
    if (!(to > from)) return;
    const double step = TimeTickStep(to - from, std::max(pixels_ / kPixelsPerTimeTick, 2));
    const QChar point = locale.decimalPoint().isEmpty() ? QLatin1Char('.') : locale.decimalPoint().at(0);
    // Where the log paused (another page shown), seconds crowd into few samples: a tick too
    // close to the one before is left out rather than written over it.
    const double perIndex = pixels_ / std::max(range.size(), 1e-12);
    const double minGap = kPixelsPerTimeTick * 0.8;
    int tried = 0;
    for (double k = std::ceil(from / step - 1e-9); k * step <= to + 1e-9 * step && ++tried < 100000; k += 1) {
        const double t = k * step;
        const double index = clock_.IndexAt(t);
        if (!ticks.isEmpty() && (index - ticks.last()) * perIndex < minGap) continue;
        ticks.push_back(index);
        if (tickLabels) tickLabels->push_back(TimeTickLabel(t, step, to, point));
        if (ticks.size() > 1000) break;   // never: a broken clock must not hang the drawing
    }
}

std::vector<double> LabelledTicks(const QCPRange& range, int pixels, int labelHeight)
{
    const double size = range.size();
    if (!(size > 0) || pixels <= 0) return {};
    const double perPixel = size / pixels;
    // Where a tick's label stays inside the plot: half a label from each end, and a pixel and
    // a half more (QCustomPlot puts the top end a pixel above the plot's first row).
    const double inset = (labelHeight / 2.0 + 1.5) * perPixel;
    const double low = range.lower + inset, high = range.upper - inset;
    if (low > high) return {};
    auto multiples = [&](double step) {
        std::vector<double> ticks;
        for (double n = std::ceil(low / step); n * step <= high; ++n) {
            // A step lost in the rounding of huge values ends the ticks rather than repeat one.
            if (!ticks.empty() && n * step <= ticks.back()) break;
            ticks.push_back(n == 0 ? 0.0 : n * step);
        }
        return ticks;
    };
    // The round steps (1, 2, 2.5 or 5 times a power of ten) from the one that keeps labels just
    // clear of each other to the one that keeps them a comfortable way apart. The widest that
    // puts two labels in the room is the scale.
    const double tight = (labelHeight + 2.0) * perPixel;
    const double comfortable = std::max(3.0 * labelHeight, 40.0) * perPixel;
    std::vector<double> steps;
    for (double decade = std::pow(10.0, std::floor(std::log10(tight))); steps.empty() || steps.back() < comfortable; decade *= 10)
        for (double m : {1.0, 2.0, 2.5, 5.0})
            if (m * decade >= tight && (steps.empty() || steps.back() < comfortable)) steps.push_back(m * decade);
    for (auto step = steps.rbegin(); step != steps.rend(); ++step)
        if (std::vector<double> ticks = multiples(*step); ticks.size() >= 2) return ticks;
    if (low == high) return {low};
    // The roundest value in [low, high]: a multiple of the largest step of 1, 2 or 5 times a
    // power of ten that has one there (zero, where the room holds it). A step no wider than the
    // room always has one, but for the rounding of huge values.
    double decade = std::pow(10.0, std::ceil(std::log10(std::max({std::fabs(low), std::fabs(high), high - low}))));
    for (; decade >= (high - low) / 10; decade /= 10)
        for (double m : {5.0, 2.0, 1.0}) {
            const double step = m * decade;
            const double t = std::ceil(low / step) * step;
            if (t <= high) return {t == 0 ? 0.0 : t};
        }
    return {low};
}

void ScaledTicker::generate(const QCPRange& range, const QLocale& locale, QChar formatChar, int precision,
                            QVector<double>& ticks, QVector<double>* subTicks, QVector<QString>* tickLabels)
{
    if (subTicks) subTicks->clear();
    if (pixels_ > 0) {
        const std::vector<double> labelled = LabelledTicks(range, pixels_, labelHeight_);
        ticks = QVector<double>(labelled.begin(), labelled.end());
    } else {
        QCPAxisTicker::generate(range, locale, formatChar, precision, ticks, nullptr, nullptr);
        // Only the ticks the axis draws count: the base adds one beyond each end.
        const double step = ticks.size() > 1 ? ticks[1] - ticks[0] : 1;
        ticks.removeIf([&](double t) { return t < range.lower - 1e-9 * step || t > range.upper + 1e-9 * step; });
    }
    if (!tickLabels) return;
    tickLabels->clear();
    for (double t : ticks) tickLabels->push_back(getTickLabel(t, locale, formatChar, precision));
}

QString ScaledTicker::getTickLabel(double tick, const QLocale& locale, QChar formatChar, int precision)
{
    if (shift_ == 0) return QCPAxisTicker::getTickLabel(tick, locale, formatChar, precision);
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    // Seven significant digits lose the float noise of the shift (9.5 x 0.1 reads 0.95).
    const double value = tick * std::pow(10.0, shift_);
    return plain.toString(std::fabs(value) < 1e-9 ? 0.0 : value, 'g', 7);
}

}  // namespace ui
