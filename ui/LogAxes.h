// The axes of the log views. Time: the views place samples by their index, and this axis labels
// that index with the time the sample was taken, in ticks that are round in time (a tick at
// 0:02:00 stands where the log was two minutes old), readable at every zoom from milliseconds to
// hours. Values: a view's coordinates may carry a channel's internal power of ten (RPM/100); its
// labels show the value in the unit the Gauges page uses.
#pragma once

#include <qcustomplot.h>

#include <QString>

#include <algorithm>
#include <functional>
#include <vector>

namespace ui {

// The round step between time ticks (seconds) that puts at most `wanted` ticks over `span`
// seconds: 1, 2 and 5 of a power of ten below a minute, then 1, 2, 5, 10, 15 and 30 minutes,
// then hours.
double TimeTickStep(double span, int wanted);

// A tick's text: "12.5 s" for a view that ends within the first minute, "2:30" (m:ss) within the
// first hour, "1:02:30" beyond; decimals of a second where the step needs them, after `point`.
QString TimeTickLabel(double seconds, double step, double viewEnd, QChar point);

// Where each sample of a log was taken: seconds from its first sample, and how many it holds.
struct SampleClock {
    std::function<double(int index)> seconds;   // nondecreasing in index
    std::function<int()> count;
    // The seconds at a fractional index, and back; beyond the log both run on at the nominal
    // cycle, so that the axis reaches past the ends.
    double SecondsAt(double index) const;
    double IndexAt(double seconds) const;
};

class TimeTicker : public QCPAxisTicker {
public:
    explicit TimeTicker(SampleClock clock) : clock_(std::move(clock)) {}
    void generate(const QCPRange& range, const QLocale& locale, QChar formatChar, int precision,
                  QVector<double>& ticks, QVector<double>* subTicks, QVector<QString>* tickLabels) override;
    void SetWidth(int pixels) { pixels_ = pixels; }

private:
    SampleClock clock_;
    int pixels_ = 600;
};

// The ticks of a value axis of `pixels` height over `range`, ascending, whose labels it holds:
// a label is `labelHeight` high and centred on its tick, so no tick stands nearer than half a
// label (and a pixel) to either end, where its label would hang over the plot's edge, into the
// plot above or below, or off the widget. The ticks are the multiples of a round step (1, 2,
// 2.5 or 5 times a power of ten): the widest step that puts two labels in the room, no wider
// than keeps them a comfortable way apart and no narrower than keeps them clear of each other;
// where no step does, the roundest value the room holds, so that a thin plot still has its
// scale. Empty only when the plot is too thin for any label.
std::vector<double> LabelledTicks(const QCPRange& range, int pixels, int labelHeight);

// A value axis whose coordinates are the value / 10^shift: ticks are round in the shown unit
// and labelled with it (a tick at 65 of RPM/100 reads 6500).
class ScaledTicker : public QCPAxisTicker {
public:
    explicit ScaledTicker(int shift) : shift_(shift) {}
    void SetShift(int shift) { shift_ = shift; }
    // The axis' height and its labels' height, as drawn: the ticks are then LabelledTicks. A
    // thin lane cannot hold QCustomPlot's guess of a tick count, nor a label at its edge.
    void SetLabelRoom(int pixels, int labelHeight)
    {
        pixels_ = pixels;
        labelHeight_ = labelHeight;
    }
    void generate(const QCPRange& range, const QLocale& locale, QChar formatChar, int precision,
                  QVector<double>& ticks, QVector<double>* subTicks, QVector<QString>* tickLabels) override;

protected:
    QString getTickLabel(double tick, const QLocale& locale, QChar formatChar, int precision) override;

private:
    int shift_;
    int pixels_ = 0;   // 0: the room is not known, every tick inside the range is kept
    int labelHeight_ = 0;
};

}  // namespace ui
