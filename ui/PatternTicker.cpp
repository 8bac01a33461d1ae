#include "ui/PatternTicker.h"

#include "base/FormatFloat.h"

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
    : axis_(axis), pattern_(std::move(pattern)), step_(step > 0 && std::isfinite(step) ? step : 0)
{
}

int PatternTicker::AxisLength() const
{
    if (!axis_ || !axis_->axisRect()) return 0;
    const QRect rect = axis_->axisRect()->rect();
    return axis_->orientation() == Qt::Horizontal ? rect.width() : rect.height();
}

bool PatternTicker::StaleForLength() const
{
    return step_ > 0 && lengthUsed_ != AxisLength();
}

QString PatternTicker::Label(double value) const
{
    const QLocale locale = axis_ && axis_->parentPlot() ? axis_->parentPlot()->locale() : QLocale::system();
    if (pattern_.isEmpty()) return locale.toString(value, 'g', 6);
    return base::FormatFloatPattern(pattern_, value, locale);
}

double PatternTicker::getTickStep(const QCPRange& range)
{
    if (step_ <= 0) return QCPAxisTicker::getTickStep(range);
    const int length = AxisLength();
    lengthUsed_ = length;
    if (range.size() / step_ > kMaxFixedTicks) return QCPAxisTicker::getTickStep(range);
    if (length < 20 || range.size() <= 0) return step_;

    int needed;   // pixels one label takes along the axis, gap included
    const QFontMetrics metrics(axis_->tickLabelFont());
    if (axis_->orientation() == Qt::Horizontal) {
        int widest = 0;
        for (double v : {range.lower, range.upper, std::floor(range.upper / step_) * step_})
            widest = std::max(widest, metrics.horizontalAdvance(Label(v)));
        needed = widest + kLabelGap;
    } else {
        needed = metrics.height() + kLabelGap / 2;
    }

    static const int kMultiples[] = {1, 2, 4, 5};
    for (double decade = 1; decade <= 1e6; decade *= 10) {
        for (int m : kMultiples) {
            const double step = step_ * m * decade;
            if (length * step / range.size() >= needed) return step;
        }
    }
    return step_ * 1e6;
}

QString PatternTicker::getTickLabel(double tick, const QLocale& locale, QChar formatChar, int precision)
{
    if (pattern_.isEmpty()) return QCPAxisTicker::getTickLabel(tick, locale, formatChar, precision);
    // Ticks are sums of steps and carry rounding noise (1e-17 for zero): the picture rounds it away.
    return base::FormatFloatPattern(pattern_, tick, locale);
}
