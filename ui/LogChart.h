// The data log chart: one line series per channel on one left value axis, the sample index on a
// hidden x axis, a legend under the plot listing the shown series, rectangle zoom by dragging,
// and a click on a line that reports the point under the mouse. The series are the log itself:
// nothing else keeps a copy of the samples.
//
// Hours of samples must stay cheap: appending never rescales or replots a chart that is not
// shown; it only notes that a replot is due, which happens when the chart is shown again.
#pragma once

#include <qcustomplot.h>

#include <QColor>
#include <QPoint>
#include <QString>

#include <functional>
#include <vector>

class LogChart : public QCustomPlot {
    Q_OBJECT
public:
    explicit LogChart(QWidget* parent = nullptr);

    // Adds a line series (shown, in the legend) and returns its position.
    int AddSeries(const QString& title, const QColor& color, int penWidth);
    int SeriesCount() const;

    int Count(int series) const;                 // 0 for a series that does not exist
    double YValue(int series, int index) const;  // NaN for a point that does not exist
    void AppendY(int series, double y);          // x = the series' point count
    void AppendBulk(int series, const double* ys, int n);   // x = count .. count + n - 1
    void ClearSeries(int series);

    // A hidden series keeps its points and still takes appends; it leaves the drawing, the
    // legend, the automatic value range and the click test.
    void SetSeriesVisible(int series, bool visible);
    bool SeriesVisible(int series) const;

    // Replots soon if shown, else when next shown. The axes follow the data unless the user
    // zoomed; a zoom holds until UndoZoom.
    void RequestReplot();
    void UndoZoom();
    bool Zoomed() const { return mZoomed; }

    // The shown series whose line passes within a few pixels of pos (the nearest one), or -1.
    // valueIndex receives the index of that series' point nearest to pos in x.
    int SeriesAt(const QPoint& pos, int* valueIndex = nullptr) const;

    std::function<void(int series, int valueIndex)> OnSeriesClick;
    std::function<void()> OnDblClick;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void processRectZoom(QRect rect, QMouseEvent* event) override;

private:
    struct Series {
        QCPGraph* graph;
        double min;   // of the non-NaN values, kept as points arrive so that rescaling
        double max;   // never walks hours of samples
    };

    bool Valid(int series) const { return series >= 0 && series < static_cast<int>(mSeries.size()); }
    void Changed();
    void RescaleAxes();
    void BeforeReplot();
    void RebuildLegend();
    int LegendColumns() const;
    double LineDistance(const QCPGraph* graph, const QPointF& pos) const;

    std::vector<Series> mSeries;
    bool mStale = false;    // data or visibility changed since the last replot
    bool mZoomed = false;
    int mLegendColumns = 0;
    QPoint mPressPos;
};
