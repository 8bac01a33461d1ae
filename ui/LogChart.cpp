#include "ui/LogChart.h"

#include <QFontInfo>
#include <QFontMetrics>

#include <algorithm>
#include <cmath>
#include <limits>

#include "ui/LogLine.h"

namespace {

constexpr double kHitTolerance = 4;   // pixels between the mouse and a line that still count as on it
constexpr int kClickSlack = 3;        // pixels a click may move between press and release
constexpr int kMinZoomPixels = 4;     // a smaller rectangle is a slip of the hand, not a zoom
constexpr double kMinSpan = 8;        // the fewest samples the wheel zooms in to
constexpr double kWheelZoom = 0.8;    // the share of the samples one wheel step keeps in view
constexpr double kWheelPan = 0.1;     // the share of the view one wheel step moves it
// The value axis spans 2 % to 98 % of the plot's height: the data fills the middle 96 %.
constexpr double kValueMargin = 0.02 / 0.96;

// A dark slate: every line colour stands at least 3:1 in contrast against it.
const QColor kBackground(24, 26, 34);
const QColor kGridColour(255, 255, 255, 48);
const QColor kInkColour(232, 232, 240);   // axis, ticks, labels, legend text
const QColor kCursorColour(255, 255, 255);
const QColor kSecondCursorColour(255, 200, 90);   // the second log's picked sample: apart from the cursor

// A value with two decimals comes back as the double nearest those decimals: the float nearest
// 65.43 gives 65.43, as it was recorded and as the file writes it.
double StoredValue(float v)
{
    const double hundredths = std::nearbyint(double(v) * 100);
    const double decimal = hundredths / 100;
    return float(decimal) == v ? decimal : double(v);
}

ui::LinearMap MapOf(const QCPAxis* axis)
{
    const double origin = axis->coordToPixel(0);
    return {origin, axis->coordToPixel(1) - origin};
}

}  // namespace

// A series: the chart's QCPGraph (name, pen, visibility, legend entry) with its values held in
// a SampleColumn instead of QCPGraph's own points, and drawn from it.
class LogGraph : public QCPGraph {
public:
    LogGraph(QCPAxis* keyAxis, QCPAxis* valueAxis) : QCPGraph(keyAxis, valueAxis) {}

    base::SampleColumn values;
    int shift = 0;         // the key of value 0: a second log stands where it was aligned
    bool dashed = false;   // the second log's lines

    // The segments of the line between the pixel columns from and to, as drawn; true when they
    // are the vertical strokes of pixel columns.
    bool Segments(double from, double to, std::vector<QLineF>* out) const
    {
        ui::LinearMap x = MapOf(mKeyAxis.data());
        x.origin += shift * x.scale;
        const bool columnwise = x.scale > 0 && 1 / x.scale > ui::kColumnwiseDensity;
        ui::LineSegments(values, x, MapOf(mValueAxis.data()), from, to, columnwise, out);
        return columnwise;
    }

    // QCustomPlot's own hit test would look into the empty container; the chart does its own.
    double selectTest(const QPointF&, bool, QVariant*) const override { return -1; }

    QCPRange getKeyRange(bool& foundRange, QCP::SignDomain) const override
    {
        foundRange = values.Count() > 0;
        return QCPRange(shift, shift + std::max(values.Count() - 1, 0));
    }

    QCPRange getValueRange(bool& foundRange, QCP::SignDomain, const QCPRange&) const override
    {
        const base::ValueRange r = values.Range();
        foundRange = !r.Empty();
        return foundRange ? QCPRange(r.low, r.high) : QCPRange();
    }

protected:
    void draw(QCPPainter* painter) override
    {
        if (!mKeyAxis || !mValueAxis || values.Count() == 0) return;
        const QRect rect = clipRect();
        segments_.clear();
        const bool columnwise = Segments(rect.left(), rect.right() + 1, &segments_);
        applyDefaultAntialiasingHint(painter);
        if (!columnwise) {
            painter->setPen(mPen);
            painter->setBrush(Qt::NoBrush);
            if (!dashed) {
                painter->drawLines(segments_.data(), int(segments_.size()));
                return;
            }
            // The segments join end to start: as one polyline the dashes run on across them.
            points_.clear();
            for (const QLineF& s : segments_) {
                if (points_.isEmpty() || points_.last() != s.p1()) points_.append(s.p1());
                points_.append(s.p2());
            }
            painter->drawPolyline(points_);
            return;
        }
        // A vertical stroke of the pen's width is a rectangle; filling whole pixels is many
        // times cheaper than stroking a wide line.
        const double w = std::max(mPen.widthF(), 1.0);
        rects_.clear();
        for (const QLineF& s : segments_) {
            // Dashed where drawn by columns: four columns drawn, four left out.
            if (dashed && (int(std::floor(s.x1())) >> 2 & 1)) continue;
            const int left = int(std::lround(s.x1() - w / 2));
            const int top = int(std::lround(s.y1() - w / 2));
            const int bottom = int(std::lround(s.y2() + w / 2));
            rects_.emplace_back(left, top, int(w), std::max(bottom - top, 1));
        }
        painter->setPen(Qt::NoPen);
        painter->setBrush(mPen.color());
        painter->drawRects(rects_.data(), int(rects_.size()));
    }

private:
    // Kept between replots: the room is reused.
    std::vector<QLineF> segments_;
    std::vector<QRect> rects_;
    QPolygonF points_;
};

// The marked spans, as bands from the top of the first plot to the bottom of the last, under
// the lines. Spans narrower than a pixel still get one pixel column: a single marked sample in a
// zoomed-out hour is still seen.
class SpanShade : public QCPLayerable {
public:
    explicit SpanShade(LogChart* chart) : QCPLayerable(chart), chart_(chart) {}

protected:
    void applyDefaultAntialiasingHint(QCPPainter* painter) const override { painter->setAntialiasing(false); }
    QRect clipRect() const override { return Area(); }
    void draw(QCPPainter* painter) override
    {
        const std::vector<LogChart::Span>& spans = chart_->marks_;
        const QRect area = Area();
        if (spans.empty() || area.isEmpty()) return;
        const QCPAxis* x = chart_->xAxis;
        const QCPRange range = x->range();
        // The first span that reaches into view.
        auto it = std::lower_bound(spans.begin(), spans.end(), range.lower - 0.5,
                                   [](const LogChart::Span& s, double key) { return s.second - 0.5 < key; });
        painter->setPen(Qt::NoPen);
        painter->setBrush(LogChart::MarkColour());
        int left = 0, right = -1;   // the band being gathered, in pixels [left, right]
        auto flush = [&] {
            if (right >= left) painter->drawRect(QRect(left, area.top(), right - left + 1, area.height()));
        };
        for (; it != spans.end() && it->first - 0.5 <= range.upper; ++it) {
            const double a = x->coordToPixel(it->first - 0.5), b = x->coordToPixel(it->second - 0.5);
            const int p0 = std::max(area.left(), int(std::floor(std::min(a, b))));
            const int p1 = std::min(area.right(), std::max(p0, int(std::ceil(std::max(a, b))) - 1));
            if (p1 < p0) continue;
            if (p0 <= right + 1) {
                right = std::max(right, p1);
            } else {
                flush();
                left = p0;
                right = p1;
            }
        }
        flush();
    }

private:
    QRect Area() const
    {
        const QRect top = chart_->mainRect_->rect();
        const QRect bottom = chart_->lanesOn_ && !chart_->lanes_.empty() ? chart_->lanes_.back().rect->rect() : top;
        return QRect(QPoint(top.left(), top.top()), QPoint(top.right(), std::max(top.bottom(), bottom.bottom())));
    }
    LogChart* chart_;
};

LogChart::LogChart(QWidget* parent) : QCustomPlot(parent)
{
    setLocale(QLocale::system());
    setAutoAddPlottableToLegend(false);   // the legend is rebuilt in channel order instead

    // The x axis counts samples; its ticks and labels are the samples' times.
    timeTicker_.reset(new ui::TimeTicker(ui::SampleClock{
        [this](int index) { return seconds_ ? seconds_(index) : index * 0.108; }, [this] { return LongestCount(); }}));
    xAxis->setTicker(timeTicker_);
    xAxis->setSubTicks(false);
    xAxis->setLabel(QStringLiteral("Time from the log's start"));

    // The plots stand in a grid of their own: one in the one-chart view, one per lane in lanes.
    mainRect_ = axisRect();
    mainMinimum_ = mainRect_->minimumSize();
    QCPAxisRect* main = mainRect_;
    plotLayout()->take(main);
    laneGrid_ = new QCPLayoutGrid;
    plotLayout()->addElement(0, 0, laneGrid_);
    laneGrid_->setRowSpacing(0);
    laneGrid_->addElement(0, 0, main);
    laneMargins_ = new QCPMarginGroup(this);
    main->setMarginGroup(QCP::msLeft | QCP::msRight, laneMargins_);
    timeLabel_ = xAxis->label();

    // Legend in its own row under the plot, filled left to right, as narrow as its items and
    // centred between two empty elements that take the spare width.
    mainRect_->insetLayout()->take(legend);
    auto* legendRow = new QCPLayoutGrid;
    plotLayout()->addElement(plotLayout()->rowCount(), 0, legendRow);
    plotLayout()->setRowStretchFactor(1, 0.001);
    legendRow->addElement(0, 0, new QCPLayoutElement(this));
    legendRow->addElement(0, 1, legend);
    legendRow->addElement(0, 2, new QCPLayoutElement(this));
    legendRow->setColumnStretchFactors({1, 0.001, 1});
    legendRow->setMargins(QMargins(0, 0, 0, 4));
    legend->setFillOrder(QCPLegend::foColumnsFirst);
    legend->setSelectableParts(QCPLegend::spNone);
    legend->setVisible(true);

    // One background under the plot and the legend, on which every line colour stands out.
    setBackground(kBackground);
    legend->setBrush(kBackground);
    legend->setBorderPen(QPen(kInkColour));
    legend->setTextColor(kInkColour);
    yAxis->setBasePen(QPen(kInkColour));
    yAxis->setTickPen(QPen(kInkColour));
    yAxis->setSubTickPen(QPen(kInkColour));
    yAxis->setTickLabelColor(kInkColour);
    xAxis->setBasePen(QPen(kInkColour));
    xAxis->setTickPen(QPen(kInkColour));
    xAxis->setTickLabelColor(kInkColour);
    xAxis->setLabelColor(kInkColour);
    yAxis->grid()->setPen(QPen(kGridColour, 1, Qt::DotLine));
    xAxis->grid()->setPen(QPen(kGridColour, 1, Qt::DotLine));
    selectionRect()->setPen(QPen(kInkColour, 1, Qt::DashLine));
    selectionRect()->setBrush(QColor(255, 255, 255, 40));

    // Samples reduce to a few segments per pixel column, drawn as separate segments: stroking
    // them as one long wide polyline costs ten times as much.
    setPlottingHint(QCP::phFastPolylines, true);

    // The cursor has a layer of its own, so that moving it repaints no line.
    addLayer(QStringLiteral("cursor"), layer(QStringLiteral("main")), QCustomPlot::limAbove);
    cursorLayer_ = layer(QStringLiteral("cursor"));
    cursorLayer_->setMode(QCPLayer::lmBuffered);
    cursor_ = AddCursorLine(mainRect_, QPen(kCursorColour, 1, Qt::DashLine));
    cursor_->setVisible(cursorIndex_ >= 0);

    shade_ = new SpanShade(this);
    shade_->setLayer(QStringLiteral("grid"));

    // A second log's lines go under the first's: the log being read stays on top.
    addLayer(QStringLiteral("second"), layer(QStringLiteral("main")), QCustomPlot::limBelow);
    secondCursor_ = AddCursorLine(mainRect_, QPen(kSecondCursorColour, 1, Qt::DotLine));
    secondCursor_->setVisible(false);
    secondCaption_ = new QCPItemText(this);
    secondCaption_->setClipAxisRect(mainRect_);
    secondCaption_->position->setType(QCPItemPosition::ptAxisRectRatio);
    secondCaption_->position->setAxisRect(mainRect_);
    secondCaption_->position->setCoords(1, 0);
    secondCaption_->setPositionAlignment(Qt::AlignRight | Qt::AlignTop);
    secondCaption_->setColor(kInkColour);
    secondCaption_->setBrush(QColor(kBackground.red(), kBackground.green(), kBackground.blue(), 220));
    secondCaption_->setPadding(QMargins(4, 1, 4, 1));
    secondCaption_->setSelectable(false);
    secondCaption_->setVisible(false);

    setSelectionRectMode(QCP::srmZoom);
    setMouseTracking(true);   // the cursor shape follows the lines without a button held

    connect(this, &QCustomPlot::beforeReplot, this, &LogChart::BeforeReplot);
    RescaleAxes();
}

QColor LogChart::Background()
{
    return kBackground;
}

void LogChart::SetSampleClock(std::function<double(int index)> seconds)
{
    seconds_ = std::move(seconds);
    Changed();
}

void LogChart::SetTimeLabel(const QString& label)
{
    timeLabel_ = label;
    (timeRuler_ ? timeRuler_->axis(QCPAxis::atBottom) : xAxis)->setLabel(label);
    Changed();
}

void LogChart::StyleAxis(QCPAxis* axis) const
{
    axis->setBasePen(QPen(kInkColour));
    axis->setTickPen(QPen(kInkColour));
    axis->setSubTickPen(QPen(kInkColour));
    axis->setTickLabelColor(kInkColour);
    axis->setLabelColor(kInkColour);
    axis->grid()->setPen(QPen(kGridColour, 1, Qt::DotLine));
}

void LogChart::SetSeriesAxis(int series, const QString& caption, int shift)
{
    if (!Valid(series)) return;
    seriesCaption_[size_t(series)] = caption;
    seriesShift_[size_t(series)] = shift;
    if (lanesOn_) RebuildLanes();
}

void LogChart::SetLanes(bool on)
{
    if (on == lanesOn_) return;
    lanesOn_ = on;
    zoomedY_ = false;   // a value zoom of the one chart means nothing in a lane
    RebuildLanes();
    RebuildLegend();
    Changed();
}

// Takes the lanes apart: every series back on the one chart's axes, the extra plots gone.
QColor LogChart::MarkColour()
{
    return QColor(255, 190, 60, 70);   // amber, light enough that every line still reads over it
}

void LogChart::SetMarks(std::vector<Span> spans)
{
    marks_ = std::move(spans);
    if (isVisible()) replot(rpQueuedReplot);
}

void LogChart::ClearLanes()
{
    for (const std::vector<LogGraph*>* lines : {&series_, &second_}) {
        for (LogGraph* g : *lines) {
            g->setKeyAxis(xAxis);
            g->setValueAxis(yAxis);
        }
    }
    for (QCPItemStraightLine* c : laneCursors_) removeItem(c);
    laneCursors_.clear();
    for (QCPItemStraightLine* c : laneSecondCursors_) removeItem(c);
    laneSecondCursors_.clear();
    for (const Lane& lane : lanes_) {
        if (lane.caption) removeItem(lane.caption);
        if (lane.rect != mainRect_) laneGrid_->remove(lane.rect);
    }
    lanes_.clear();
    if (timeRuler_) {
        plotLayout()->remove(timeRuler_);
        plotLayout()->simplify();
    }
    timeRuler_ = nullptr;
    laneGrid_->simplify();
    mainRect_->setAutoMargins(QCP::msAll);
    mainRect_->setMinimumSize(mainMinimum_);
    yAxis->setTicker(QSharedPointer<QCPAxisTicker>(new QCPAxisTicker));
    yAxis->setTickLabelFont(font());
    yAxis->setSubTicks(true);
    xAxis->setTickLabels(true);
    xAxis->setTickLengthIn(5);
    xAxis->setLabel(timeLabel_);
}

void LogChart::RebuildLanes()
{
    ClearLanes();
    if (!lanesOn_) return;
    std::vector<int> shown;
    for (int k = 0; k < SeriesCount(); ++k)
        if (series_[size_t(k)]->visible()) shown.push_back(k);
    if (shown.empty()) return;
    QFont small = font();
    small.setPointSizeF(std::max(6.5, QFontInfo(font()).pointSizeF() - 1.5));
    for (size_t i = 0; i < shown.size(); ++i) {
        const int k = shown[i];
        QCPAxisRect* rect = mainRect_;
        if (i > 0) {
            rect = new QCPAxisRect(this);
            laneGrid_->addElement(int(i), 0, rect);
            rect->setMarginGroup(QCP::msLeft | QCP::msRight, laneMargins_);
            laneCursors_.push_back(AddCursorLine(rect, cursor_->pen()));
            laneSecondCursors_.push_back(AddCursorLine(rect, secondCursor_->pen()));
        }
        // Thin plots: no room above or below for anything but the lines, and no minimum
        // height (a plot's own is 50 pixels: fourteen of them would not fit).
        rect->setMinimumSize(0, 0);
        rect->setAutoMargins(QCP::msLeft | QCP::msRight);
        rect->setMargins(QMargins(0, 1, 0, 1));
        QCPAxis* time = rect->axis(QCPAxis::atBottom);
        QCPAxis* value = rect->axis(QCPAxis::atLeft);
        time->setTicker(timeTicker_);
        time->setSubTicks(false);
        time->setTickLabels(false);
        time->setLabel(QString());
        time->setTickLengthIn(3);
        StyleAxis(time);
        StyleAxis(value);
        value->setTickLabelFont(small);
        value->setSubTicks(false);
        auto ticker = QSharedPointer<ui::ScaledTicker>::create(seriesShift_[size_t(k)]);
        value->setTicker(ticker);
        series_[size_t(k)]->setKeyAxis(time);
        series_[size_t(k)]->setValueAxis(value);
        if (size_t(k) < second_.size()) {   // the second log's line in the same lane
            second_[size_t(k)]->setKeyAxis(time);
            second_[size_t(k)]->setValueAxis(value);
        }

        // The lane's name and unit in its corner, in the line's colour.
        auto* caption = new QCPItemText(this);
        caption->setClipAxisRect(rect);
        caption->setClipToAxisRect(true);
        caption->position->setType(QCPItemPosition::ptAxisRectRatio);
        caption->position->setAxisRect(rect);
        caption->position->setCoords(0, 0);
        caption->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
        caption->setText(seriesCaption_[size_t(k)].isEmpty() ? series_[size_t(k)]->name() : seriesCaption_[size_t(k)]);
        caption->setFont(small);
        caption->setColor(series_[size_t(k)]->pen().color());
        caption->setBrush(QColor(kBackground.red(), kBackground.green(), kBackground.blue(), 200));
        caption->setPadding(QMargins(3, 0, 3, 0));
        caption->setSelectable(false);
        lanes_.push_back({rect, k, caption});
    }
    // The time axis' labels under the last lane, in a plot of no height of its own.
    timeRuler_ = new QCPAxisRect(this);
    plotLayout()->insertRow(1);
    plotLayout()->addElement(1, 0, timeRuler_);
    plotLayout()->setRowStretchFactor(1, 0.001);
    timeRuler_->setMarginGroup(QCP::msLeft | QCP::msRight, laneMargins_);
    timeRuler_->setAutoMargins(QCP::msLeft | QCP::msRight | QCP::msBottom);
    timeRuler_->setMargins(QMargins());
    timeRuler_->axis(QCPAxis::atLeft)->setVisible(false);
    QCPAxis* ruler = timeRuler_->axis(QCPAxis::atBottom);
    ruler->setTicker(timeTicker_);
    ruler->setSubTicks(false);
    ruler->setLabel(timeLabel_);
    ruler->grid()->setVisible(false);
    StyleAxis(ruler);
    // A plot of no height of its own: all it holds is the axis' labels and caption.
    const QFontMetrics tickMetrics(ruler->tickLabelFont()), labelMetrics(ruler->labelFont());
    const int rulerHeight = tickMetrics.height() + labelMetrics.height() + ruler->tickLabelPadding() +
                            ruler->labelPadding() + ruler->tickLengthOut() + 6;
    timeRuler_->setSizeConstraintRect(QCPLayoutElement::scrOuterRect);
    timeRuler_->setMinimumSize(0, rulerHeight);
    timeRuler_->setMaximumSize(QWIDGETSIZE_MAX, rulerHeight);
    xAxis->setLabel(QString());
}

QCPItemStraightLine* LogChart::AddCursorLine(QCPAxisRect* rect, const QPen& pen)
{
    auto* line = new QCPItemStraightLine(this);
    line->setLayer(cursorLayer_);
    line->setSelectable(false);
    line->setAntialiased(false);   // a crisp line, not a smudge across two pixel columns
    line->setPen(pen);
    line->setClipAxisRect(rect);
    line->point1->setAxes(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
    line->point2->setAxes(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
    return line;
}

// ---- a second log ----------------------------------------------------------------------------

QColor LogChart::SecondColour(const QColor& first)
{
    // Half-way to white: the same hue, lighter, so that a channel is known in both logs and the
    // logs apart; lighter only gains contrast against the dark ground.
    return QColor((first.red() + 255) / 2, (first.green() + 255) / 2, (first.blue() + 255) / 2);
}

void LogChart::SetSecondLog(std::vector<base::SampleColumn> columns)
{
    ClearSecondLog();
    columns.resize(series_.size());
    for (size_t k = 0; k < series_.size(); ++k) {
        auto* graph = new LogGraph(xAxis, yAxis);
        graph->setLayer(QStringLiteral("second"));
        graph->setName(series_[k]->name());
        graph->setPen(QPen(SecondColour(series_[k]->pen().color()), 1.5, Qt::DashLine));
        graph->setSelectable(QCP::stNone);
        graph->setVisible(series_[k]->visible());
        graph->values = std::move(columns[k]);
        graph->shift = secondShift_;
        graph->dashed = true;
        second_.push_back(graph);
    }
    if (lanesOn_) RebuildLanes();
    Changed();
}

void LogChart::ClearSecondLog()
{
    for (LogGraph* g : second_) removeGraph(g);
    second_.clear();
    secondShift_ = 0;
    SetSecondCursor(-1);
    SetSecondCaption(QString());
    Changed();
}

int LogChart::SecondCount() const
{
    int count = 0;
    for (const LogGraph* g : second_) count = std::max(count, g->values.Count());
    return count;
}

double LogChart::SecondValue(int series, int index) const
{
    if (series < 0 || size_t(series) >= second_.size() || index < 0 || index >= second_[size_t(series)]->values.Count())
        return std::numeric_limits<double>::quiet_NaN();
    return StoredValue(second_[size_t(series)]->values.At(index));
}

void LogChart::SetSecondShift(int shift)
{
    secondShift_ = shift;
    for (LogGraph* g : second_) g->shift = shift;
    PlaceCursor();
    Changed();
}

void LogChart::SetSecondCursor(int index)
{
    secondCursorIndex_ = index >= 0 && index < SecondCount() ? index : -1;
    PlaceCursor();
    if (isVisible()) replot(rpQueuedReplot);
}

void LogChart::SetSecondCaption(const QString& text)
{
    secondCaption_->setText(text);
    secondCaption_->setVisible(!text.isEmpty());
    if (isVisible()) replot(rpQueuedReplot);
}

QString LogChart::SecondCaption() const
{
    return secondCaption_->visible() ? secondCaption_->text() : QString();
}

int LogChart::SecondSeriesAt(const QPoint& pos, int* valueIndex) const
{
    return HitLine(second_, pos, valueIndex);
}

int LogChart::AddSeries(const QString& title, const QColor& color, int penWidth)
{
    auto* graph = new LogGraph(xAxis, yAxis);
    graph->setName(title);
    graph->setPen(QPen(color, penWidth));
    graph->setLineStyle(QCPGraph::lsLine);
    graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    graph->setSelectable(QCP::stNone);   // a click reads a value; it must not restyle the line
    series_.push_back(graph);
    seriesCaption_.push_back(title);
    seriesShift_.push_back(0);
    if (lanesOn_) RebuildLanes();
    RebuildLegend();
    Changed();
    return static_cast<int>(series_.size()) - 1;
}

int LogChart::SeriesCount() const
{
    return static_cast<int>(series_.size());
}

int LogChart::Count(int series) const
{
    return Valid(series) ? series_[series]->values.Count() : 0;
}

double LogChart::YValue(int series, int index) const
{
    if (!Valid(series) || index < 0 || index >= Count(series)) return std::numeric_limits<double>::quiet_NaN();
    return StoredValue(series_[series]->values.At(index));
}

void LogChart::AppendY(int series, double y)
{
    if (!Valid(series)) return;
    series_[series]->values.Append(float(y));
    Changed();
}

void LogChart::AppendBulk(int series, const double* ys, int n)
{
    if (!Valid(series) || !ys || n <= 0) return;
    base::SampleColumn& column = series_[series]->values;
    float* room = column.Room(size_t(n));
    if (!room) return;
    for (int i = 0; i < n; ++i) room[i] = float(ys[i]);
    column.Grow(size_t(n));
    Changed();
}

void LogChart::ClearSeries(int series)
{
    if (!Valid(series)) return;
    series_[series]->values.Clear();
    if (cursorIndex_ >= LongestCount()) SetCursorIndex(-1);
    Changed();
}

const base::SampleColumn& LogChart::Column(int series) const
{
    static const base::SampleColumn none;
    return Valid(series) ? series_[series]->values : none;
}

bool LogChart::TakeColumn(int series, base::SampleColumn&& column)
{
    if (!Valid(series)) return false;
    series_[series]->values = std::move(column);
    if (cursorIndex_ >= LongestCount()) SetCursorIndex(-1);
    Changed();
    return true;
}

void LogChart::SetSeriesVisible(int series, bool visible)
{
    if (!Valid(series) || series_[series]->visible() == visible) return;
    series_[series]->setVisible(visible);
    if (size_t(series) < second_.size()) second_[size_t(series)]->setVisible(visible);
    if (lanesOn_) RebuildLanes();
    RebuildLegend();
    Changed();
}

bool LogChart::SeriesVisible(int series) const
{
    return Valid(series) && series_[series]->visible();
}

int LogChart::LongestCount() const
{
    int count = 0;
    for (const LogGraph* s : series_) count = std::max(count, s->values.Count());
    return count;
}

QCPRange LogChart::Extent() const
{
    QCPRange extent(0, LongestCount() - 1);
    if (const int second = SecondCount(); second > 0) {
        if (extent.upper < 0) extent = QCPRange(secondShift_, secondShift_);   // no first log
        extent.lower = std::min(extent.lower, double(secondShift_));
        extent.upper = std::max(extent.upper, double(secondShift_ + second - 1));
    }
    return extent;
}

// Appending while the chart is not shown must stay a matter of microseconds: no rescale and no
// replot, only a note that one is due.
void LogChart::Changed()
{
    stale_ = true;
    if (isVisible()) replot(rpQueuedReplot);
}

void LogChart::RequestReplot()
{
    Changed();
}

void LogChart::UndoZoom()
{
    zoomedX_ = false;
    zoomedY_ = false;
    RescaleAxes();
    Changed();
}

void LogChart::RescaleAxes()
{
    if (!zoomedX_) {
        const QCPRange extent = Extent();
        if (extent.upper < extent.lower)
            xAxis->setRange(0, 1);
        else if (extent.upper == extent.lower)
            xAxis->setRange(extent.lower - 1, extent.lower + 1);
        else
            xAxis->setRange(extent);
    }
    auto fit = [](QCPAxis* axis, const base::ValueRange& range) {
        if (range.Empty())
            axis->setRange(0, 1);
        else if (range.low == range.high)
            axis->setRange(range.low - 1.0, range.high + 1.0);
        else {
            const double margin = (double(range.high) - range.low) * kValueMargin;
            axis->setRange(range.low - margin, range.high + margin);
        }
    };
    // A lane fits its series in both logs; the one chart every shown line.
    auto rangeOf = [this](size_t k) {
        base::ValueRange range = series_[k]->values.Range();
        if (k < second_.size()) range.Add(second_[k]->values.Range());
        return range;
    };
    if (!lanes_.empty()) {
        for (const Lane& lane : lanes_) fit(lane.rect->axis(QCPAxis::atLeft), rangeOf(size_t(lane.series)));
        return;
    }
    if (zoomedY_) return;
    base::ValueRange range;
    for (size_t k = 0; k < series_.size(); ++k)
        if (series_[k]->visible()) range.Add(rangeOf(k));
    fit(yAxis, range);
}

void LogChart::BeforeReplot()
{
    if (stale_) RescaleAxes();
    stale_ = false;
    // The lanes share the grid's height. Their ticks are made before this replot lays them out,
    // and the last layout's heights are stale after a resize (or a lane more or less): the
    // plots are laid out here first. Their heights need no tick labels (a lane's top and bottom
    // margins are fixed), so this layout is the one the replot makes.
    if (!lanes_.empty()) plotLayout()->update(QCPLayoutElement::upLayout);
    // The lanes follow the first plot's time range, which the zoom and the pan move.
    for (const Lane& lane : lanes_) {
        lane.rect->axis(QCPAxis::atBottom)->setRange(xAxis->range());
        // As many value labels as the lane holds with room between them, every one inside the
        // lane. A label's height is the box QCustomPlot draws it in (in some sizes a pixel
        // taller than the font's height).
        QCPAxis* value = lane.rect->axis(QCPAxis::atLeft);
        const QRect label = QFontMetrics(value->tickLabelFont())
                                .boundingRect(QRect(0, 0, 0, 0), Qt::TextDontClip | Qt::AlignHCenter, QStringLiteral("0"));
        if (auto* scaled = dynamic_cast<ui::ScaledTicker*>(value->ticker().data()))
            scaled->SetLabelRoom(lane.rect->height(), label.height());
    }
    if (timeRuler_) timeRuler_->axis(QCPAxis::atBottom)->setRange(xAxis->range());
    PlaceCursor();
    // The ticks are made before this replot lays the plot out, so the plot's own width is the
    // one of the last layout: after a resize, or at the first drawing, that is the old size
    // (the first picture of a log had one tick in eight seconds). The margins keep their width,
    // so the plot's width follows the widget's.
    const int margins = mainRect_->outerRect().width() > 0 ? mainRect_->outerRect().width() - mainRect_->width() : 0;
    const int known = mainRect_->outerRect().width() > 0 ? width() - margins : width() * 9 / 10;
    timeTicker_->SetWidth(std::max(known, 1));
    // Where samples share pixel columns the lines are strokes of whole pixels that smoothing
    // cannot improve. A zoom into fewer samples than pixels gets smooth lines back.
    const double perPixel = xAxis->range().size() / std::max(mainRect_->width(), 1);
    setNotAntialiasedElements(perPixel > ui::kColumnwiseDensity ? QCP::aePlottables : QCP::aeNone);
}

void LogChart::showEvent(QShowEvent* event)
{
    QCustomPlot::showEvent(event);
    if (stale_) replot(rpQueuedRefresh);
}

int LogChart::LegendColumns() const
{
    // An item is the line sample, a gap and the title; the legend adds its margins around them.
    const QFontMetrics metrics(legend->font());
    int widest = 0;
    for (const LogGraph* s : series_)
        if (s->visible()) widest = std::max(widest, metrics.horizontalAdvance(s->name()));
    const int item = legend->iconSize().width() + legend->iconTextPadding() + widest;
    const int spacing = legend->columnSpacing();
    const QMargins m = legend->margins();
    const int available = width() - m.left() - m.right() - 2 * plotLayout()->margins().left() - 10;
    return std::max(1, (available + spacing) / (item + spacing));
}

void LogChart::RebuildLegend()
{
    legend->clearItems();
    legendColumns_ = LegendColumns();
    legend->setWrap(legendColumns_);
    for (LogGraph* s : series_)
        if (s->visible() && !lanesOn_) s->addToLegend(legend);   // a lane names its own line
    legend->setVisible(legend->itemCount() > 0);
}

void LogChart::resizeEvent(QResizeEvent* event)
{
    if (LegendColumns() != legendColumns_) RebuildLegend();
    QCustomPlot::resizeEvent(event);
}

bool LogChart::InPlot(const QPoint& pos) const
{
    if (lanes_.empty()) return mainRect_->rect().contains(pos);
    for (const Lane& lane : lanes_)
        if (lane.rect->rect().contains(pos)) return true;
    return false;
}

// ---- cursor ----------------------------------------------------------------------------------

void LogChart::SetCursorIndex(int index)
{
    if (index < 0 || index >= LongestCount()) index = -1;
    if (index == cursorIndex_) return;
    cursorIndex_ = index;
    PlaceCursor();
    // A replot that is due draws the cursor anyway; else only the cursor's layer is redrawn.
    if (!isVisible()) return;
    if (stale_)
        replot(rpQueuedReplot);
    else
        cursorLayer_->replot();
}

void LogChart::PlaceCursor()
{
    auto place = [](QCPItemStraightLine* line, int key, bool shown) {
        line->setVisible(shown);
        line->point1->setCoords(key, 0);
        line->point2->setCoords(key, 1);
    };
    place(cursor_, cursorIndex_, cursorIndex_ >= 0);
    for (QCPItemStraightLine* c : laneCursors_) place(c, cursorIndex_, cursorIndex_ >= 0);
    const bool second = secondCursorIndex_ >= 0 && HasSecondLog();
    place(secondCursor_, secondShift_ + secondCursorIndex_, second);
    for (QCPItemStraightLine* c : laneSecondCursors_) place(c, secondShift_ + secondCursorIndex_, second);
}

// ---- pointer ---------------------------------------------------------------------------------

int LogChart::SeriesAt(const QPoint& pos, int* valueIndex) const
{
    return HitLine(series_, pos, valueIndex);
}

int LogChart::HitLine(const std::vector<LogGraph*>& lines, const QPoint& pos, int* valueIndex) const
{
    if (!InPlot(pos)) return -1;
    int found = -1;
    double nearest = kHitTolerance;
    std::vector<QLineF> segments;
    // From the last series down: on a tie the line drawn on top wins.
    for (int i = int(lines.size()) - 1; i >= 0; --i) {
        const LogGraph* graph = lines[size_t(i)];
        if (!graph->visible() || !graph->keyAxis()->axisRect()->rect().contains(pos)) continue;
        segments.clear();
        graph->Segments(pos.x() - kHitTolerance - 1, pos.x() + kHitTolerance + 1, &segments);
        const double d = ui::DistanceToSegments(pos, segments);
        if (d < nearest || (found < 0 && d <= nearest)) {
            nearest = d;
            found = i;
        }
    }
    if (found >= 0 && valueIndex) {
        const LogGraph* graph = lines[size_t(found)];
        const double key = std::nearbyint(graph->keyAxis()->pixelToCoord(pos.x())) - graph->shift;
        *valueIndex = int(std::clamp(key, 0.0, double(graph->values.Count() - 1)));
    }
    return found;
}

void LogChart::mousePressEvent(QMouseEvent* event)
{
    pressPos_ = event->position().toPoint();
    // The left button keeps the rectangle zoom; the others pan along the samples.
    if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
        panning_ = true;
        panFromX_ = pressPos_.x();
        event->accept();
        return;
    }
    QCustomPlot::mousePressEvent(event);
}

void LogChart::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (panning_) {
        const double perPixel = xAxis->range().size() / std::max(mainRect_->width(), 1);
        PanSamples((panFromX_ - pos.x()) * perPixel);
        panFromX_ = pos.x();
        return;
    }
    QCustomPlot::mouseMoveEvent(event);
    if (event->buttons() == Qt::NoButton) {
        int index = 0;
        int series = SeriesAt(pos, &index);
        QString tip = series >= 0 && HoverText ? HoverText(series, index) : QString();
        if (series < 0 && (series = SecondSeriesAt(pos, &index)) >= 0 && SecondHoverText)
            tip = SecondHoverText(series, index);
        setCursor(series >= 0 ? Qt::CrossCursor : Qt::ArrowCursor);
        if (tip != toolTip()) setToolTip(tip);
    }
}

void LogChart::mouseReleaseEvent(QMouseEvent* event)
{
    if (panning_) {
        panning_ = false;
        return;
    }
    QCustomPlot::mouseReleaseEvent(event);
    const QPoint pos = event->position().toPoint();
    if (event->button() != Qt::LeftButton || (pos - pressPos_).manhattanLength() > kClickSlack) return;
    int index = 0;
    if (const int series = SeriesAt(pos, &index); series >= 0) {
        if (OnSeriesClick) OnSeriesClick(series, index);
    } else if (const int second = SecondSeriesAt(pos, &index); second >= 0) {
        if (OnSecondClick) OnSecondClick(second, index);
    }
}

void LogChart::mouseDoubleClickEvent(QMouseEvent* event)
{
    QCustomPlot::mouseDoubleClickEvent(event);
    if (OnDblClick) OnDblClick();
}

void LogChart::wheelEvent(QWheelEvent* event)
{
    const QPoint delta = event->angleDelta();
    if (!InPlot(event->position().toPoint()) || delta.isNull()) {
        QCustomPlot::wheelEvent(event);
        return;
    }
    event->accept();
    // Some desktops turn Shift and the wheel into a sideways wheel themselves.
    const bool sideways = delta.x() != 0 || event->modifiers().testFlag(Qt::ShiftModifier);
    const double steps = (delta.x() != 0 ? delta.x() : delta.y()) / 120.0;
    if (sideways)
        PanSamples(-steps * kWheelPan * xAxis->range().size());
    else
        ZoomSamples(xAxis->pixelToCoord(event->position().x()), std::pow(kWheelZoom, steps));
}

void LogChart::ZoomSamples(double centreKey, double factor)
{
    const double full = Extent().size();
    if (!(full >= 1) || !(factor > 0)) return;
    const QCPRange range = xAxis->range();
    const double span = std::clamp(range.size() * factor, std::min(kMinSpan, full), full);
    const double share = range.size() > 0 ? (centreKey - range.lower) / range.size() : 0.5;
    const double lower = centreKey - std::clamp(share, 0.0, 1.0) * span;
    SetSampleRange(lower, lower + span);
}

void LogChart::PanSamples(double samples)
{
    if (!(Extent().size() >= 1)) return;
    const QCPRange range = xAxis->range();
    SetSampleRange(range.lower + samples, range.upper + samples);
}

// Holds a range of the sample axis, shifted back inside the log where it reaches beyond it. The
// whole log again is no zoom: the axis then follows the log as it grows.
void LogChart::SetSampleRange(double lower, double upper)
{
    const QCPRange extent = Extent();
    const double full = extent.size();
    const double span = std::min(upper - lower, full);
    lower = std::clamp(lower, extent.lower, extent.upper - span);
    zoomedX_ = span < full;
    if (zoomedX_)
        xAxis->setRange(lower, lower + span);
    else
        RescaleAxes();
    if (isVisible()) replot(rpQueuedReplot);
}

void LogChart::processRectZoom(QRect rect, QMouseEvent* event)
{
    if (rect.width() < kMinZoomPixels || rect.height() < kMinZoomPixels) {
        replot(rpQueuedReplot);   // only wipe the rectangle
        return;
    }
    if (lanesOn_) {   // the time only: each lane keeps its values in view
        const double a = xAxis->pixelToCoord(rect.left()), b = xAxis->pixelToCoord(rect.right());
        SetSampleRange(std::min(a, b), std::max(a, b));
        return;
    }
    zoomedX_ = true;
    zoomedY_ = true;
    QCustomPlot::processRectZoom(rect, event);
}
