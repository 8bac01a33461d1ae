// The data log chart: one line series per channel on one left value axis, the samples along an
// x axis labelled with their time from the log's start (see LogAxes), a legend under the plot listing the shown series, rectangle zoom by dragging,
// wheel zoom and pan along the samples, a cursor line at one sample, and a click on a line that
// reports the point under the mouse. The series are the log itself: nothing else keeps a copy
// of the samples.
//
// Hours of samples must stay cheap. Each series holds its values as 32-bit floats, and the x of
// a point is its position, so a sample of fourteen channels takes 56 bytes. Drawing and the
// pointer's hit test work per pixel column, from each column's lowest and highest value (see
// SampleColumn), so they cost the same for three thousand samples and three million. Appending
// never rescales or replots a chart that is not shown; it only notes that a replot is due.
#pragma once

#include <qcustomplot.h>

#include <QColor>
#include <QPoint>
#include <QString>

#include <functional>
#include <vector>

#include "base/SampleColumn.h"
#include "ui/LogAxes.h"

class LogGraph;
class SpanShade;

class LogChart : public QCustomPlot {
    Q_OBJECT
public:
    explicit LogChart(QWidget* parent = nullptr);

    // Adds a line series (shown, in the legend) and returns its position. graph(position) is
    // the series' QCPGraph: its name, pen and visibility are the series'; its own data
    // container stays empty.
    int AddSeries(const QString& title, const QColor& color, int penWidth);
    int SeriesCount() const;

    int Count(int series) const;                 // 0 for a series that does not exist
    // The value at an index (NaN for a point that does not exist): the two-decimal number the
    // stored float stands for when there is one (the value a log file holds), else the float.
    double YValue(int series, int index) const;
    void AppendY(int series, double y);          // x = the series' point count
    void AppendBulk(int series, const double* ys, int n);   // x = count .. count + n - 1
    void ClearSeries(int series);

    // The values of a series as stored; and a whole series handed over at once (a loaded log
    // becomes the chart's without a copy). False for a series that does not exist.
    const base::SampleColumn& Column(int series) const;
    bool TakeColumn(int series, base::SampleColumn&& column);

    // A hidden series keeps its points and still takes appends; it leaves the drawing, the
    // legend, the automatic value range and the click test.
    void SetSeriesVisible(int series, bool visible);
    bool SeriesVisible(int series) const;

    // Replots soon if shown, else when next shown. The axes follow the data unless the user
    // zoomed; a zoom holds until UndoZoom.
    void RequestReplot();
    void UndoZoom();
    bool Zoomed() const { return zoomedX_ || zoomedY_; }

    // A vertical line at one sample index; -1 (or any index the log lacks) takes it away.
    // Moving it redraws only its own layer, not the lines.
    void SetCursorIndex(int index);
    int CursorIndex() const { return cursorIndex_; }

    // The shown series whose line, as drawn, passes within a few pixels of pos (the nearest
    // one), or -1. valueIndex receives the index nearest to pos in x.
    int SeriesAt(const QPoint& pos, int* valueIndex = nullptr) const;

    // The wheel zooms the sample axis about the pointer (up: in); with Shift, or sideways, it
    // pans. Dragging with the right or middle button pans too. Neither goes beyond the log.
    void ZoomSamples(double centreKey, double factor);
    void PanSamples(double samples);

    // The colour behind the plot and the legend.
    static QColor Background();

    // Lanes: each shown series in a plot of its own, stacked in series order, each with its own
    // value axis labelled in the series' unit; all share the time axis (drawn under the last
    // lane), the zoom along it, and the cursor. Off: all shown series on the one value axis.
    // A drag in lanes zooms the time only.
    void SetLanes(bool on);
    bool Lanes() const { return lanesOn_; }
    // The lanes as laid out at the last replot: the plot of each, its series and its caption.
    struct Lane {
        QCPAxisRect* rect;
        int series;
        QCPItemText* caption;
    };
    const std::vector<Lane>& LaneList() const { return lanes_; }
    // A series' caption in its lane ("EGT (°C)") and the power of ten its values are held in:
    // the lane's axis labels the value times 10^shift (RPM/100 reads in rpm).
    void SetSeriesAxis(int series, const QString& caption, int shift);

    // When each sample was taken, for the time axis (seconds from the first sample), and the
    // axis' caption. Until set, samples count as the nominal polling cycle apart.
    void SetSampleClock(std::function<double(int index)> seconds);
    void SetTimeLabel(const QString& label);

    // Marked samples: spans [begin, end) of sample indices, ascending and apart, shaded under the
    // lines across the plot (and every lane) so that samples picked in another view (the
    // scatter) are seen in time. Drawing costs the spans in view, merged per pixel column.
    using Span = std::pair<int, int>;
    void SetMarks(std::vector<Span> spans);
    const std::vector<Span>& Marks() const { return marks_; }
    static QColor MarkColour();

    // A second log beside the first, for viewing only: a line for each series of the first, drawn
    // in the same plot (in lanes, the same lane) in a lighter tint of the series' colour and
    // dashed, its sample 0 standing at the first log's index `shift`. Everything above (counts,
    // values, columns, cursor, marks) is the first log's; the second joins only the drawing, the
    // axes' ranges and the pointer. Its lines follow the first's visibility.
    void SetSecondLog(std::vector<base::SampleColumn> columns);
    void ClearSecondLog();
    bool HasSecondLog() const { return !second_.empty(); }
    int SecondCount() const;
    double SecondValue(int series, int index) const;   // NaN where it has none
    void SetSecondShift(int shift);
    int SecondShift() const { return secondShift_; }
    // A dashed line, in the second log's colour, at one of its samples; -1 takes it away.
    void SetSecondCursor(int index);
    int SecondCursor() const { return secondCursorIndex_; }
    // The second log's line that passes within a few pixels of pos, as SeriesAt; valueIndex
    // receives the second log's index.
    int SecondSeriesAt(const QPoint& pos, int* valueIndex = nullptr) const;
    // A line at the top right of the (first) plot naming the second log; empty: none.
    void SetSecondCaption(const QString& text);
    QString SecondCaption() const;
    static QColor SecondColour(const QColor& first);

    std::function<void(int series, int valueIndex)> OnSeriesClick;
    std::function<void(int series, int valueIndex)> OnSecondClick;
    std::function<void()> OnDblClick;
    // The text the pointer is told over a line at a sample: it becomes the chart's tooltip.
    std::function<QString(int series, int valueIndex)> HoverText;
    std::function<QString(int series, int valueIndex)> SecondHoverText;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void processRectZoom(QRect rect, QMouseEvent* event) override;

private:
    bool Valid(int series) const { return series >= 0 && series < static_cast<int>(series_.size()); }
    int LongestCount() const;
    QCPRange Extent() const;   // the sample axis' whole reach: the first log, and the second where it stands
    int HitLine(const std::vector<LogGraph*>& lines, const QPoint& pos, int* valueIndex) const;
    QCPItemStraightLine* AddCursorLine(QCPAxisRect* rect, const QPen& pen);
    void Changed();
    void RescaleAxes();
    void SetSampleRange(double lower, double upper);
    void BeforeReplot();
    void RebuildLegend();
    int LegendColumns() const;
    void PlaceCursor();
    void RebuildLanes();
    void ClearLanes();
    bool InPlot(const QPoint& pos) const;
    void StyleAxis(QCPAxis* axis) const;

    std::vector<LogGraph*> series_;
    bool stale_ = false;     // data or visibility changed since the last replot
    bool zoomedX_ = false;   // the sample axis holds the user's range
    bool zoomedY_ = false;   // the value axis holds the user's range
    int legendColumns_ = 0;
    QPoint pressPos_;
    bool panning_ = false;
    int panFromX_ = 0;
    QSharedPointer<ui::TimeTicker> timeTicker_;
    QCPAxisRect* mainRect_ = nullptr;        // the one chart's plot, and the first lane's
    QSize mainMinimum_;
    QCPLayoutGrid* laneGrid_ = nullptr;      // the plots, top to bottom; row 0 is axisRect()
    QCPMarginGroup* laneMargins_ = nullptr;  // keeps the lanes' plots aligned left and right
    QCPAxisRect* timeRuler_ = nullptr;       // in lanes: the time axis under the last lane
    std::vector<Lane> lanes_;
    std::vector<QCPItemStraightLine*> laneCursors_;   // lanes 1 ..: the cursor in each
    std::vector<QCPItemStraightLine*> laneSecondCursors_;   // lanes 1 ..: the second log's cursor
    std::vector<QString> seriesCaption_;
    std::vector<int> seriesShift_;
    bool lanesOn_ = false;
    QString timeLabel_;
    std::function<double(int)> seconds_;
    QCPItemStraightLine* cursor_ = nullptr;
    friend class SpanShade;
    std::vector<Span> marks_;
    SpanShade* shade_ = nullptr;
    QCPLayer* cursorLayer_ = nullptr;
    int cursorIndex_ = -1;
    std::vector<LogGraph*> second_;   // the second log, by series; empty without one
    int secondShift_ = 0;
    int secondCursorIndex_ = -1;
    QCPItemStraightLine* secondCursor_ = nullptr;
    QCPItemText* secondCaption_ = nullptr;
};
