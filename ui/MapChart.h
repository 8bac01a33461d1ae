// The line chart beside a map grid: one red series of (breakpoint, shown value) points, a title,
// a left value axis and a bottom x axis that are either fixed or follow the data, labelled by
// number pictures, and an optional second fixed axis on the right.
#pragma once

#include <qcustomplot.h>

#include <QColor>
#include <QPointF>
#include <QSharedPointer>
#include <QString>

#include <optional>
#include <vector>

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

    // The operating point: a vertical line at the live axis value x and a dot on the series
    // where it crosses that line; none hides both. They live on a layer of their own, so a
    // move repaints that layer only, and a move within the same pixel repaints nothing.
    void SetOperatingPoint(std::optional<double> x);
    std::optional<double> OperatingPoint() const { return operatingX_; }
    // Where the dot stands (x, the map's value there); none while hidden.
    std::optional<QPointF> OperatingDot() const;
    quint64 OperatingRepaints() const { return operatingRepaints_; }

    // Values proposed for some columns (breakpoint, proposed value), drawn as dots in a colour
    // of their own beside the line of what the map holds; none takes them away. They count in
    // an automatic value axis, so a proposal is never drawn off the chart.
    void SetProposals(const std::vector<QPointF>& points, const QColor& colour);
    int ProposalCount() const;

protected:
    void showEvent(QShowEvent* event) override;
    void updateLayout() override;

private:
    void ApplyAxis(QCPAxis* axis, const AxisSetup& setup, QSharedPointer<PatternTicker>& ticker);
    void RescaleAutomaticAxes();
    void ScheduleReplot();
    void BeforeReplot();

    QCPGraph* series_ = nullptr;
    QCPGraph* proposals_ = nullptr;   // made at the first proposal
    QCPTextElement* title_ = nullptr;
    AxisSetup valueSetup_;
    AxisSetup xSetup_;
    QSharedPointer<PatternTicker> valueTicker_;
    QSharedPointer<PatternTicker> xTicker_;
    bool stale_ = false;   // data or axes changed since the last replot
    QCPItemStraightLine* operatingLine_ = nullptr;
    QCPItemTracer* operatingDot_ = nullptr;
    std::optional<double> operatingX_;
    int operatingPixel_ = -1;          // where the line was last put, -1 hidden
    quint64 operatingRepaints_ = 0;
};
