// Axis ticks labelled by a number picture ("#,##0.###%"), with an optional fixed label step.
#pragma once

#include <qcustomplot.h>

#include <QString>

class PatternTicker : public QCPAxisTicker {
public:
    // pattern: picture for FormatFloatPattern, empty for the plot's plain numbers.
    // step: distance between labels, 0 for an automatic step. A fixed step is the smallest
    // distance shown: when its labels would overlap on the axis's length, a multiple of it
    // (2, 4, 5, 10, 20 ... times) is used instead, so the labels stay readable.
    PatternTicker(QCPAxis* axis, QString pattern, double step);

    QString Pattern() const { return pattern_; }
    double Step() const { return step_; }

    // True when the last tick step was chosen for an axis length other than the current one
    // (the layout moved after the ticks were made): one more layout pass fixes the labels.
    bool StaleForLength() const;

protected:
    double getTickStep(const QCPRange& range) override;
    QString getTickLabel(double tick, const QLocale& locale, QChar formatChar, int precision) override;

private:
    int AxisLength() const;
    QString Label(double value) const;

    QCPAxis* axis_;
    QString pattern_;
    double step_;
    int lengthUsed_ = -1;
};
