#include "ui/LogChart.h"

#include <QFontMetrics>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kHitTolerance = 4;   // pixels between the mouse and a line that still count as on it
constexpr int kClickSlack = 3;        // pixels a click may move between press and release
constexpr int kMinZoomPixels = 4;     // a smaller rectangle is a slip of the hand, not a zoom
constexpr double kSmoothDensity = 2;  // samples per pixel column up to which lines are antialiased
// The value axis spans 2 % to 98 % of the plot's height: the data fills the middle 96 %.
constexpr double kValueMargin = 0.02 / 0.96;

double SegmentDistance(const QPointF& p, const QPointF& a, const QPointF& b)
{
    const QPointF ab = b - a;
    const double length2 = QPointF::dotProduct(ab, ab);
    double t = length2 > 0 ? QPointF::dotProduct(p - a, ab) / length2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    const QPointF d = p - (a + t * ab);
    return std::hypot(d.x(), d.y());
}

}  // namespace

LogChart::LogChart(QWidget* parent) : QCustomPlot(parent)
{
    setLocale(QLocale::system());
    setAutoAddPlottableToLegend(false);   // the legend is rebuilt in channel order instead

    // The sample index is not drawn, but its range still follows the data (and the zoom).
    xAxis->setVisible(false);

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

    // Hours of samples reduce to a few points per pixel column (adaptive sampling), drawn as
    // separate segments: stroking them as one long wide polyline costs ten times as much.
    setPlottingHint(QCP::phFastPolylines, true);

    setSelectionRectMode(QCP::srmZoom);
    setMouseTracking(true);   // the cursor shape follows the lines without a button held

    connect(this, &QCustomPlot::beforeReplot, this, &LogChart::BeforeReplot);
    RescaleAxes();
}

int LogChart::AddSeries(const QString& title, const QColor& color, int penWidth)
{
    QCPGraph* graph = addGraph(xAxis, yAxis);
    graph->setName(title);
    graph->setPen(QPen(color, penWidth));
    graph->setLineStyle(QCPGraph::lsLine);
    graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    graph->setAdaptiveSampling(true);
    graph->setSelectable(QCP::stNone);   // a click reads a value; it must not restyle the line
    mSeries.push_back({graph, kInf, -kInf});
    RebuildLegend();
    Changed();
    return static_cast<int>(mSeries.size()) - 1;
}

int LogChart::SeriesCount() const
{
    return static_cast<int>(mSeries.size());
}

int LogChart::Count(int series) const
{
    return Valid(series) ? mSeries[series].graph->dataCount() : 0;
}

double LogChart::YValue(int series, int index) const
{
    if (!Valid(series) || index < 0 || index >= Count(series)) return std::numeric_limits<double>::quiet_NaN();
    return mSeries[series].graph->data()->at(index)->value;
}

void LogChart::AppendY(int series, double y)
{
    if (!Valid(series)) return;
    Series& s = mSeries[series];
    s.graph->addData(s.graph->dataCount(), y);
    if (!std::isnan(y)) {
        s.min = std::min(s.min, y);
        s.max = std::max(s.max, y);
    }
    Changed();
}

void LogChart::AppendBulk(int series, const double* ys, int n)
{
    if (!Valid(series) || !ys || n <= 0) return;
    Series& s = mSeries[series];
    const double first = s.graph->dataCount();
    // One allocation and one hand-over: into an empty series the vector becomes its storage.
    QVector<QCPGraphData> points(n);
    QCPGraphData* out = points.data();
    for (int i = 0; i < n; ++i) {
        const double y = ys[i];
        out[i].key = first + i;
        out[i].value = y;
        if (!std::isnan(y)) {
            s.min = std::min(s.min, y);
            s.max = std::max(s.max, y);
        }
    }
    s.graph->data()->add(points, true);
    Changed();
}

void LogChart::ClearSeries(int series)
{
    if (!Valid(series)) return;
    Series& s = mSeries[series];
    s.graph->data()->clear();
    s.min = kInf;
    s.max = -kInf;
    Changed();
}

void LogChart::SetSeriesVisible(int series, bool visible)
{
    if (!Valid(series) || mSeries[series].graph->visible() == visible) return;
    mSeries[series].graph->setVisible(visible);
    RebuildLegend();
    Changed();
}

bool LogChart::SeriesVisible(int series) const
{
    return Valid(series) && mSeries[series].graph->visible();
}

// Appending while the chart is not shown must stay a matter of microseconds: no rescale and no
// replot, only a note that one is due.
void LogChart::Changed()
{
    mStale = true;
    if (isVisible()) replot(rpQueuedReplot);
}

void LogChart::RequestReplot()
{
    Changed();
}

void LogChart::UndoZoom()
{
    mZoomed = false;
    RescaleAxes();
    Changed();
}

void LogChart::RescaleAxes()
{
    int count = 0;
    double low = kInf;
    double high = -kInf;
    for (const Series& s : mSeries) {
        count = std::max(count, s.graph->dataCount());
        if (s.graph->visible() && s.min <= s.max) {
            low = std::min(low, s.min);
            high = std::max(high, s.max);
        }
    }
    if (count == 0)
        xAxis->setRange(0, 1);
    else if (count == 1)
        xAxis->setRange(-1, 1);
    else
        xAxis->setRange(0, count - 1);

    if (low > high)
        yAxis->setRange(0, 1);
    else if (low == high)
        yAxis->setRange(low - 1, high + 1);
    else {
        const double margin = (high - low) * kValueMargin;
        yAxis->setRange(low - margin, high + margin);
    }
}

void LogChart::BeforeReplot()
{
    if (mStale && !mZoomed) RescaleAxes();
    mStale = false;
    // Where several samples share a pixel column the lines merge into a band that smoothing
    // cannot improve, and smoothing wide lines there costs more than the rest of the replot.
    // A zoom into a few samples gets smooth lines back.
    const double perPixel = xAxis->range().size() / std::max(axisRect()->width(), 1);
    setNotAntialiasedElements(perPixel > kSmoothDensity ? QCP::aePlottables : QCP::aeNone);
}

void LogChart::showEvent(QShowEvent* event)
{
    QCustomPlot::showEvent(event);
    if (mStale) replot(rpQueuedRefresh);
}

int LogChart::LegendColumns() const
{
    // An item is the line sample, a gap and the title; the legend adds its margins around them.
    const QFontMetrics metrics(legend->font());
    int widest = 0;
    for (const Series& s : mSeries)
        if (s.graph->visible()) widest = std::max(widest, metrics.horizontalAdvance(s.graph->name()));
    const int item = legend->iconSize().width() + legend->iconTextPadding() + widest;
    const int spacing = legend->columnSpacing();
    const QMargins m = legend->margins();
    const int available = width() - m.left() - m.right() - 2 * plotLayout()->margins().left() - 10;
    return std::max(1, (available + spacing) / (item + spacing));
}

void LogChart::RebuildLegend()
{
    legend->clearItems();
    mLegendColumns = LegendColumns();
    legend->setWrap(mLegendColumns);
    for (const Series& s : mSeries)
        if (s.graph->visible()) s.graph->addToLegend(legend);
    legend->setVisible(legend->itemCount() > 0);
}

void LogChart::resizeEvent(QResizeEvent* event)
{
    if (LegendColumns() != mLegendColumns) RebuildLegend();
    QCustomPlot::resizeEvent(event);
}

double LogChart::LineDistance(const QCPGraph* graph, const QPointF& pos) const
{
    const auto data = graph->data();
    if (data->isEmpty()) return kInf;
    double from = xAxis->pixelToCoord(pos.x() - kHitTolerance);
    double to = xAxis->pixelToCoord(pos.x() + kHitTolerance);
    if (from > to) std::swap(from, to);
    // One point beyond each end, so that a long segment crossing the window counts too.
    const auto begin = data->findBegin(from, true);
    const auto end = data->findEnd(to, true);
    double best = kInf;
    QPointF previous;
    bool havePrevious = false;
    for (auto it = begin; it != end; ++it) {
        if (std::isnan(it->value)) {   // a gap in the line
            havePrevious = false;
            continue;
        }
        const QPointF p(xAxis->coordToPixel(it->key), yAxis->coordToPixel(it->value));
        const double d = havePrevious ? SegmentDistance(pos, previous, p) : std::hypot(pos.x() - p.x(), pos.y() - p.y());
        best = std::min(best, d);
        previous = p;
        havePrevious = true;
    }
    return best;
}

int LogChart::SeriesAt(const QPoint& pos, int* valueIndex) const
{
    if (!axisRect()->rect().contains(pos)) return -1;
    int found = -1;
    double nearest = kHitTolerance;
    // From the last series down: on a tie the line drawn on top wins.
    for (int i = SeriesCount() - 1; i >= 0; --i) {
        const QCPGraph* graph = mSeries[i].graph;
        if (!graph->visible()) continue;
        const double d = LineDistance(graph, pos);
        if (d < nearest || (found < 0 && d <= nearest)) {
            nearest = d;
            found = i;
        }
    }
    if (found >= 0 && valueIndex) {
        const auto data = mSeries[found].graph->data();
        const double key = xAxis->pixelToCoord(pos.x());
        const auto begin = data->constBegin();
        const auto end = data->constEnd();
        auto it = std::lower_bound(begin, end, key, [](const QCPGraphData& d, double k) { return d.key < k; });
        if (it == end || (it != begin && key - (it - 1)->key <= it->key - key)) --it;
        *valueIndex = static_cast<int>(it - begin);
    }
    return found;
}

void LogChart::mousePressEvent(QMouseEvent* event)
{
    mPressPos = event->position().toPoint();
    QCustomPlot::mousePressEvent(event);
}

void LogChart::mouseMoveEvent(QMouseEvent* event)
{
    QCustomPlot::mouseMoveEvent(event);
    if (event->buttons() == Qt::NoButton) {
        const bool over = SeriesAt(event->position().toPoint()) >= 0;
        setCursor(over ? Qt::CrossCursor : Qt::ArrowCursor);
    }
}

void LogChart::mouseReleaseEvent(QMouseEvent* event)
{
    QCustomPlot::mouseReleaseEvent(event);
    const QPoint pos = event->position().toPoint();
    if (event->button() != Qt::LeftButton || (pos - mPressPos).manhattanLength() > kClickSlack) return;
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

void LogChart::processRectZoom(QRect rect, QMouseEvent* event)
{
    if (rect.width() < kMinZoomPixels || rect.height() < kMinZoomPixels) {
        replot(rpQueuedReplot);   // only wipe the rectangle
        return;
    }
    mZoomed = true;
    QCustomPlot::processRectZoom(rect, event);
}
