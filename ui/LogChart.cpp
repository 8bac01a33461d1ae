#include "ui/LogChart.h"

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

    // The segments of the line between the pixel columns from and to, as drawn; true when they
    // are the vertical strokes of pixel columns.
    bool Segments(double from, double to, std::vector<QLineF>* out) const
    {
        const ui::LinearMap x = MapOf(mKeyAxis.data());
        const bool columnwise = x.scale > 0 && 1 / x.scale > ui::kColumnwiseDensity;
        ui::LineSegments(values, x, MapOf(mValueAxis.data()), from, to, columnwise, out);
        return columnwise;
    }

    // QCustomPlot's own hit test would look into the empty container; the chart does its own.
    double selectTest(const QPointF&, bool, QVariant*) const override { return -1; }

    QCPRange getKeyRange(bool& foundRange, QCP::SignDomain) const override
    {
        foundRange = values.Count() > 0;
        return QCPRange(0, std::max(values.Count() - 1, 0));
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
            painter->drawLines(segments_.data(), int(segments_.size()));
            return;
        }
        // A vertical stroke of the pen's width is a rectangle; filling whole pixels is many
        // times cheaper than stroking a wide line.
        const double w = std::max(mPen.widthF(), 1.0);
        rects_.clear();
        for (const QLineF& s : segments_) {
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

    // Legend in its own row under the plot, filled left to right, as narrow as its items and
    // centred between two empty elements that take the spare width.
    axisRect()->insetLayout()->take(legend);
    auto* legendRow = new QCPLayoutGrid;
    plotLayout()->addElement(1, 0, legendRow);
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
    cursor_ = new QCPItemStraightLine(this);
    cursor_->setLayer(cursorLayer_);
    cursor_->setSelectable(false);
    cursor_->setAntialiased(false);   // a crisp line, not a smudge across two pixel columns
    cursor_->setPen(QPen(kCursorColour, 1, Qt::DashLine));
    cursor_->setVisible(cursorIndex_ >= 0);

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
    xAxis->setLabel(label);
    Changed();
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
    const float v = series_[series]->values.At(index);
    // A value with two decimals comes back as the double nearest those decimals: the float
    // nearest 65.43 gives 65.43, as it was recorded and as the file writes it.
    const double hundredths = std::nearbyint(double(v) * 100);
    const double decimal = hundredths / 100;
    return float(decimal) == v ? decimal : double(v);
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
        const int count = LongestCount();
        if (count == 0)
            xAxis->setRange(0, 1);
        else if (count == 1)
            xAxis->setRange(-1, 1);
        else
            xAxis->setRange(0, count - 1);
    }
    if (zoomedY_) return;
    base::ValueRange range;
    for (const LogGraph* s : series_)
        if (s->visible()) range.Add(s->values.Range());
    if (range.Empty())
        yAxis->setRange(0, 1);
    else if (range.low == range.high)
        yAxis->setRange(range.low - 1.0, range.high + 1.0);
    else {
        const double margin = (double(range.high) - range.low) * kValueMargin;
        yAxis->setRange(range.low - margin, range.high + margin);
    }
}

void LogChart::BeforeReplot()
{
    if (stale_) RescaleAxes();
    stale_ = false;
    PlaceCursor();
    timeTicker_->SetWidth(axisRect()->width());
    // Where samples share pixel columns the lines are strokes of whole pixels that smoothing
    // cannot improve. A zoom into fewer samples than pixels gets smooth lines back.
    const double perPixel = xAxis->range().size() / std::max(axisRect()->width(), 1);
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
        if (s->visible()) s->addToLegend(legend);
    legend->setVisible(legend->itemCount() > 0);
}

void LogChart::resizeEvent(QResizeEvent* event)
{
    if (LegendColumns() != legendColumns_) RebuildLegend();
    QCustomPlot::resizeEvent(event);
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
    cursor_->setVisible(cursorIndex_ >= 0);
    if (cursorIndex_ < 0) return;
    cursor_->point1->setCoords(cursorIndex_, 0);
    cursor_->point2->setCoords(cursorIndex_, 1);
}

// ---- pointer ---------------------------------------------------------------------------------

int LogChart::SeriesAt(const QPoint& pos, int* valueIndex) const
{
    if (!axisRect()->rect().contains(pos)) return -1;
    int found = -1;
    double nearest = kHitTolerance;
    std::vector<QLineF> segments;
    // From the last series down: on a tie the line drawn on top wins.
    for (int i = SeriesCount() - 1; i >= 0; --i) {
        const LogGraph* graph = series_[i];
        if (!graph->visible()) continue;
        segments.clear();
        graph->Segments(pos.x() - kHitTolerance - 1, pos.x() + kHitTolerance + 1, &segments);
        const double d = ui::DistanceToSegments(pos, segments);
        if (d < nearest || (found < 0 && d <= nearest)) {
            nearest = d;
            found = i;
        }
    }
    if (found >= 0 && valueIndex) {
        const double key = std::nearbyint(xAxis->pixelToCoord(pos.x()));
        *valueIndex = int(std::clamp(key, 0.0, double(Count(found) - 1)));
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
        const double perPixel = xAxis->range().size() / std::max(axisRect()->width(), 1);
        PanSamples((panFromX_ - pos.x()) * perPixel);
        panFromX_ = pos.x();
        return;
    }
    QCustomPlot::mouseMoveEvent(event);
    if (event->buttons() == Qt::NoButton) {
        int index = 0;
        const int series = SeriesAt(pos, &index);
        setCursor(series >= 0 ? Qt::CrossCursor : Qt::ArrowCursor);
        const QString tip = series >= 0 && HoverText ? HoverText(series, index) : QString();
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
    if (!OnSeriesClick) return;
    int index = 0;
    const int series = SeriesAt(pos, &index);
    if (series >= 0) OnSeriesClick(series, index);
}

void LogChart::mouseDoubleClickEvent(QMouseEvent* event)
{
    QCustomPlot::mouseDoubleClickEvent(event);
    if (OnDblClick) OnDblClick();
}

void LogChart::wheelEvent(QWheelEvent* event)
{
    const QPoint delta = event->angleDelta();
    if (!axisRect()->rect().contains(event->position().toPoint()) || delta.isNull()) {
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
    if (LongestCount() < 2 || !(factor > 0)) return;
    const QCPRange range = xAxis->range();
    const double full = LongestCount() - 1;
    const double span = std::clamp(range.size() * factor, std::min(kMinSpan, full), full);
    const double share = range.size() > 0 ? (centreKey - range.lower) / range.size() : 0.5;
    const double lower = centreKey - std::clamp(share, 0.0, 1.0) * span;
    SetSampleRange(lower, lower + span);
}

void LogChart::PanSamples(double samples)
{
    if (LongestCount() < 2) return;
    const QCPRange range = xAxis->range();
    SetSampleRange(range.lower + samples, range.upper + samples);
}

// Holds a range of the sample axis, shifted back inside the log where it reaches beyond it. The
// whole log again is no zoom: the axis then follows the log as it grows.
void LogChart::SetSampleRange(double lower, double upper)
{
    const double full = LongestCount() - 1;
    const double span = std::min(upper - lower, full);
    lower = std::clamp(lower, 0.0, full - span);
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
    zoomedX_ = true;
    zoomedY_ = true;
    QCustomPlot::processRectZoom(rect, event);
}
