#include "ui/ScatterPlot.h"

#include <algorithm>
#include <cmath>

#include "ui/LogAxes.h"

namespace {

const QColor kGround(24, 26, 34);
const QColor kInk(232, 232, 240);
constexpr double kMargin = 0.02;   // of an axis' span beyond the extreme samples

// Blue through teal and green to yellow: light grows with the value, and the order reads the
// same to the red-green colour blind.
QCPColorGradient Gradient()
{
    QCPColorGradient g;
    g.clearColorStops();
    g.setColorStopAt(0.0, QColor(68, 1, 84));
    g.setColorStopAt(0.25, QColor(59, 82, 139));
    g.setColorStopAt(0.5, QColor(33, 145, 140));
    g.setColorStopAt(0.75, QColor(94, 201, 98));
    g.setColorStopAt(1.0, QColor(253, 231, 37));
    g.setColorInterpolation(QCPColorGradient::ciRGB);
    return g;
}

void Style(QCPAxis* axis)
{
    axis->setBasePen(QPen(kInk));
    axis->setTickPen(QPen(kInk));
    axis->setSubTickPen(QPen(kInk));
    axis->setTickLabelColor(kInk);
    axis->setLabelColor(kInk);
    axis->grid()->setPen(QPen(QColor(255, 255, 255, 48), 1, Qt::DotLine));
}

}  // namespace

// The samples binned into the plot's pixels and drawn as one image.
class ScatterDensity : public QCPAbstractPlottable {
public:
    explicit ScatterDensity(ScatterPlot* plot) : QCPAbstractPlottable(plot->xAxis, plot->yAxis), plot_(plot) {}

    double selectTest(const QPointF&, bool, QVariant*) const override { return -1; }
    QCPRange getKeyRange(bool& found, QCP::SignDomain) const override { return Span(ScatterPlot::X, found); }
    QCPRange getValueRange(bool& found, QCP::SignDomain, const QCPRange&) const override { return Span(ScatterPlot::Y, found); }

    QCPRange Span(ScatterPlot::Role role, bool& found) const
    {
        const base::SampleColumn* c = plot_->channels_[role].column;
        const base::ValueRange r = c ? c->Range(plot_->from_, plot_->to_) : base::ValueRange{};
        found = !r.Empty();
        return found ? QCPRange(r.low, r.high) : QCPRange(0, 1);
    }

    // Bins [from, to) into the w x h pixels of the axis rect.
    void Bin(const QRect& rect)
    {
        rect_ = rect;
        const int w = std::max(rect.width(), 1), h = std::max(rect.height(), 1);
        count_.assign(size_t(w) * h, 0);
        sum_.assign(size_t(w) * h, 0.0);
        const auto& ch = plot_->channels_;
        if (!ch[0].column || !ch[1].column || !ch[2].column) return;
        const int from = plot_->from_;
        const int to = std::min({plot_->to_, ch[0].column->Count(), ch[1].column->Count(), ch[2].column->Count()});
        if (to <= from) return;
        const float* xs = ch[0].column->Data();
        const float* ys = ch[1].column->Data();
        const float* cs = ch[2].column->Data();
        const double x0 = mKeyAxis->coordToPixel(0), xs1 = mKeyAxis->coordToPixel(1) - x0;
        const double y0 = mValueAxis->coordToPixel(0), ys1 = mValueAxis->coordToPixel(1) - y0;
        const double left = rect.left(), top = rect.top();
        for (int i = from; i < to; ++i) {
            const double px = x0 + xs[i] * xs1 - left;
            const double py = y0 + ys[i] * ys1 - top;
            if (!(px >= 0 && px < w && py >= 0 && py < h)) continue;   // also NaN
            const float c = cs[i];
            if (std::isnan(c)) continue;
            const size_t at = size_t(int(py)) * w + size_t(int(px));
            ++count_[at];
            sum_[at] += c;
        }
    }

    ScatterPlot::Cell CellAt(const QPoint& pos) const
    {
        if (!rect_.contains(pos) || count_.empty()) return {};
        const size_t at = size_t(pos.y() - rect_.top()) * rect_.width() + size_t(pos.x() - rect_.left());
        if (at >= count_.size() || count_[at] == 0) return {};
        return {count_[at], sum_[at] / count_[at]};
    }

    QCPRange colourRange;
    QCPColorGradient gradient = Gradient();

protected:
    void draw(QCPPainter* painter) override
    {
        const QRect rect = clipRect();
        Bin(rect);
        const int w = rect.width(), h = rect.height();
        if (w <= 0 || h <= 0) return;
        int most = 0;
        for (int c : count_) most = std::max(most, c);
        if (most == 0) return;
        QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        const double logMost = std::log1p(double(most));
        for (int y = 0; y < h; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < w; ++x) {
                const size_t at = size_t(y) * w + x;
                const int n = count_[at];
                if (n == 0) continue;
                const QRgb colour = gradient.color(sum_[at] / n, colourRange);
                // One sample is still seen; the busiest pixels are opaque.
                const int alpha = int(110 + 145 * std::log1p(double(n)) / logMost);
                line[x] = qPremultiply(qRgba(qRed(colour), qGreen(colour), qBlue(colour), alpha));
            }
        }
        painter->drawImage(rect.topLeft(), image);
    }
    void drawLegendIcon(QCPPainter*, const QRectF&) const override {}

private:
    ScatterPlot* plot_;
    QRect rect_;
    std::vector<int> count_;
    std::vector<double> sum_;
};

ScatterPlot::ScatterPlot(QWidget* parent) : QCustomPlot(parent)
{
    setLocale(QLocale::system());
    setBackground(kGround);
    Style(xAxis);
    Style(yAxis);
    density_ = new ScatterDensity(this);
    scale_ = new QCPColorScale(this);
    plotLayout()->addElement(0, 1, scale_);
    scale_->setType(QCPAxis::atRight);
    scale_->setGradient(density_->gradient);
    scale_->setBarWidth(12);
    Style(scale_->axis());
    auto* group = new QCPMarginGroup(this);
    axisRect()->setMarginGroup(QCP::msTop | QCP::msBottom, group);
    scale_->setMarginGroup(QCP::msTop | QCP::msBottom, group);
    for (QCPAxis* a : {xAxis, yAxis, scale_->axis()}) a->setTicker(QSharedPointer<ui::ScaledTicker>::create(0));
    setMouseTracking(true);

    // A drag selects samples; the rectangle drawn stays as the selection's mark.
    setSelectionRectMode(QCP::srmSelect);
    selectionRect()->setPen(QPen(kInk, 1, Qt::DashLine));
    selectionRect()->setBrush(QColor(255, 255, 255, 40));
    selectionBox_ = new QCPItemRect(this);
    selectionBox_->setPen(QPen(QColor(255, 190, 60), 1, Qt::DashLine));
    selectionBox_->setBrush(QColor(255, 190, 60, 40));
    selectionBox_->setSelectable(false);
    selectionBox_->setVisible(false);
    setFocusPolicy(Qt::StrongFocus);   // for Esc
}

void ScatterPlot::Select(const QCPRange& x, const QCPRange& y)
{
    spans_.clear();
    const auto& ch = channels_;
    if (ch[X].column && ch[Y].column) {
        const int to = std::min({to_, ch[X].column->Count(), ch[Y].column->Count()});
        const float* xs = ch[X].column->Data();
        const float* ys = ch[Y].column->Data();
        // Compared as the floats are stored, so that a sample on the rectangle's edge counts
        // the same way it is drawn; NaN fails.
        const double xl = x.lower, xh = x.upper, yl = y.lower, yh = y.upper;
        for (int i = from_; i < to; ++i) {
            const double xv = xs[i], yv = ys[i];
            if (!(xv >= xl && xv <= xh && yv >= yl && yv <= yh)) continue;
            if (!spans_.empty() && spans_.back().second == i)
                spans_.back().second = i + 1;
            else
                spans_.push_back({i, i + 1});
        }
    }
    selected_ = true;
    selectionBox_->topLeft->setCoords(x.lower, y.upper);
    selectionBox_->bottomRight->setCoords(x.upper, y.lower);
    selectionBox_->setVisible(true);
    replot(isVisible() ? rpQueuedReplot : rpImmediateRefresh);
    if (OnSelectionChanged) OnSelectionChanged();
}

void ScatterPlot::ClearSelection()
{
    if (!selected_) return;
    selected_ = false;
    spans_.clear();
    selectionBox_->setVisible(false);
    replot(isVisible() ? rpQueuedReplot : rpImmediateRefresh);
    if (OnSelectionChanged) OnSelectionChanged();
}

void ScatterPlot::processRectSelection(QRect rect, QMouseEvent*)
{
    const QRect plot = axisRect()->rect();
    rect = rect.normalized().intersected(plot);
    if (rect.width() < 3 || rect.height() < 3) {   // a slip of the hand, not a rectangle
        replot(rpQueuedReplot);
        return;
    }
    // Whole pixels: a sample drawn on a pixel inside the rectangle is selected.
    const double x0 = xAxis->pixelToCoord(rect.left()), x1 = xAxis->pixelToCoord(rect.right() + 1);
    const double y0 = yAxis->pixelToCoord(rect.bottom() + 1), y1 = yAxis->pixelToCoord(rect.top());
    Select(QCPRange(std::min(x0, x1), std::max(x0, x1)), QCPRange(std::min(y0, y1), std::max(y0, y1)));
}

void ScatterPlot::processPointSelection(QMouseEvent* event)
{
    // A click outside the selection's rectangle lets it go; one inside keeps it.
    if (!selected_) return;
    const QPointF p = event->position();
    const QRectF box = QRectF(selectionBox_->topLeft->pixelPosition(), selectionBox_->bottomRight->pixelPosition()).normalized();
    if (!box.contains(p)) ClearSelection();
}

void ScatterPlot::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && selected_) {
        ClearSelection();
        event->accept();
        return;
    }
    QCustomPlot::keyPressEvent(event);
}

void ScatterPlot::SetChannel(Role role, const Channel& channel)
{
    if (selected_ && role != Colour && (channels_[role].column != channel.column || channels_[role].shift != channel.shift))
        ClearSelection();
    channels_[role] = channel;
    QCPAxis* axis = role == X ? xAxis : role == Y ? yAxis : scale_->axis();
    axis->setLabel(channel.caption);
    static_cast<ui::ScaledTicker*>(axis->ticker().data())->SetShift(channel.shift);
}

void ScatterPlot::SetSampleRange(int from, int to)
{
    from_ = std::max(from, 0);
    to_ = std::max(to, from_);
}

void ScatterPlot::Refresh()
{
    auto fit = [](QCPAxis* axis, QCPRange r) {
        const double span = r.size() > 0 ? r.size() : 1;
        axis->setRange(r.lower - kMargin * span, r.upper + kMargin * span);
    };
    bool found = false;
    fit(xAxis, density_->Span(X, found));
    fit(yAxis, density_->Span(Y, found));
    density_->colourRange = density_->Span(Colour, found);
    if (density_->colourRange.size() <= 0) density_->colourRange = QCPRange(density_->colourRange.lower - 1, density_->colourRange.upper + 1);
    scale_->setDataRange(density_->colourRange);
    replot(isVisible() ? rpQueuedReplot : rpImmediateRefresh);
}

ScatterPlot::Cell ScatterPlot::CellAt(const QPoint& pos) const
{
    return density_->CellAt(pos);
}

QString ScatterPlot::HoverText(const QPoint& pos) const
{
    if (!axisRect()->rect().contains(pos) || !Format) return {};
    const double x = xAxis->pixelToCoord(pos.x() + 0.5);
    const double y = yAxis->pixelToCoord(pos.y() + 0.5);
    QString text = QStringLiteral("%1 %2, %3 %4")
                       .arg(channels_[X].caption, Format(X, x), channels_[Y].caption, Format(Y, y));
    const Cell cell = CellAt(pos);
    if (cell.samples == 0) return text + QStringLiteral(": no sample");
    return text + QStringLiteral(": %1 %2 (mean of %3 %4)")
                      .arg(channels_[Colour].caption, Format(Colour, cell.mean))
                      .arg(cell.samples)
                      .arg(cell.samples == 1 ? QStringLiteral("sample") : QStringLiteral("samples"));
}

void ScatterPlot::mouseMoveEvent(QMouseEvent* event)
{
    QCustomPlot::mouseMoveEvent(event);
    const QString tip = HoverText(event->position().toPoint());
    if (tip != toolTip()) setToolTip(tip);
}
