// The line chart beside a map grid: one red series of (breakpoint, shown value) points, a title,
// a left value axis and a bottom x axis that are either fixed or follow the data, labelled by
// number pictures, and an optional second fixed axis on the right.
#pragma once

#include <qcustomplot.h>

#include <QPointF>
#include <QSharedPointer>
#include <QString>

#include "base/FormatFloat.h"

class PatternTicker;

class MapChart : public QCustomPlot {
    Q_OBJECT
public:
    struct AxisSetup {
        bool fixed = false;     // false: the axis follows the data at every redraw
        double min = 0, max = 0;
        double labelStep = 0;   // 0 = automatic
        QString format;         // e.g. "#,##0.###%", "+#,##0.###º"; empty = plain number
        QString title;
    };

    explicit MapChart(QWidget* parent = nullptr);

    // The title shown above the plot; it is also the chart's accessible name.
    void SetTitle(const QString& title);
    QString Title() const;

    void SetValueAxis(const AxisSetup& setup);   // left
    void SetXAxis(const AxisSetup& setup);       // bottom
    void SetRightAxis(double min, double max);   // a second fixed value axis on the right
    const AxisSetup& ValueAxisSetup() const { return valueSetup_; }
    const AxisSetup& XAxisSetup() const { return xSetup_; }

    // Clear and AddXY only schedule one queued redraw, so refilling the series point by point
    // costs one replot. Points are kept in ascending x.
    void Clear();
    void AddXY(double x, double y);
    int Count() const;
    QPointF Point(int i) const;   // (NaN, NaN) for an index that does not exist

    // Rescales the automatic axes now and replots soon (at once when next shown, if hidden).
    void Redraw();

protected:
    void showEvent(QShowEvent* event) override;
    void updateLayout() override;

private:
    void ApplyAxis(QCPAxis* axis, const AxisSetup& setup, QSharedPointer<PatternTicker>& ticker);
    void RescaleAutomaticAxes();
    void ScheduleReplot();
    void BeforeReplot();

    QCPGraph* series_ = nullptr;
    QCPTextElement* title_ = nullptr;
    AxisSetup valueSetup_;
    AxisSetup xSetup_;
    QSharedPointer<PatternTicker> valueTicker_;
    QSharedPointer<PatternTicker> xTicker_;
    bool stale_ = false;   // data or axes changed since the last replot
};
