#include "ui/PatternTicker.h"

#include "ui/FormatFloat.h"

#include <QFontMetrics>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Beyond this many labels a fixed step is surely a mistake for the range shown (an automatic
// range far wider than the step was meant for); fall back to automatic ticks.
constexpr double kMaxFixedTicks = 2000;
constexpr int kLabelGap = 6;   // pixels kept free between neighbouring labels

}  // namespace

PatternTicker::PatternTicker(QCPAxis* axis, QString pattern, double step)
    : mAxis(axis), mPattern(std::move(pattern)), mStep(step > 0 && std::isfinite(step) ? step : 0)
{
}

int PatternTicker::AxisLength() const
{
    if (!mAxis || !mAxis->axisRect()) return 0;
    const QRect rect = mAxis->axisRect()->rect();
    return mAxis->orientation() == Qt::Horizontal ? rect.width() : rect.height();
}

bool PatternTicker::StaleForLength() const
{
    return mStep > 0 && mLengthUsed != AxisLength();
}

QString PatternTicker::Label(double value) const
{
    const QLocale locale = mAxis && mAxis->parentPlot() ? mAxis->parentPlot()->locale() : QLocale::system();
    if (mPattern.isEmpty()) return locale.toString(value, 'g', 6);
    return ui::FormatFloatPattern(mPattern, value, locale);
}

double PatternTicker::getTickStep(const QCPRange& range)
{
    if (mStep <= 0) return QCPAxisTicker::getTickStep(range);
    const int length = AxisLength();
    mLengthUsed = length;
    if (range.size() / mStep > kMaxFixedTicks) return QCPAxisTicker::getTickStep(range);
    if (length < 20 || range.size() <= 0) return mStep;

    int needed;   // pixels one label takes along the axis, gap included
    const QFontMetrics metrics(mAxis->tickLabelFont());
    if (mAxis->orientation() == Qt::Horizontal) {
        int widest = 0;
        for (double v : {range.lower, range.upper, std::floor(range.upper / mStep) * mStep})
            widest = std::max(widest, metrics.horizontalAdvance(Label(v)));
        needed = widest + kLabelGap;
    } else {
        needed = metrics.height() + kLabelGap / 2;
    }

    static const int kMultiples[] = {1, 2, 4, 5};
    for (double decade = 1; decade <= 1e6; decade *= 10) {
        for (int m : kMultiples) {
            const double step = mStep * m * decade;
            if (length * step / range.size() >= needed) return step;
        }
    }
    return mStep * 1e6;
}

QString PatternTicker::getTickLabel(double tick, const QLocale& locale, QChar formatChar, int precision)
{
    if (mPattern.isEmpty()) return QCPAxisTicker::getTickLabel(tick, locale, formatChar, precision);
    // Ticks are sums of steps and carry rounding noise (1e-17 for zero): the picture rounds it away.
    return ui::FormatFloatPattern(mPattern, tick, locale);
}
