#include "ui/MapChart.h"

#include "ui/PatternTicker.h"

#include <cmath>
#include <limits>

MapChart::MapChart(QWidget* parent) : QCustomPlot(parent)
{
    setLocale(QLocale::system());   // tick labels use the system's separators

    series_ = addGraph(xAxis, yAxis);
    series_->setPen(QPen(QColor(255, 0, 0), 3));
    series_->setLineStyle(QCPGraph::lsLine);
    series_->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    legend->setVisible(false);

    // Plain-number tickers until the window sets the axes, so every axis uses the plot's locale.
    ApplyAxis(xAxis, xSetup_, xTicker_);
    ApplyAxis(yAxis, valueSetup_, valueTicker_);

    connect(this, &QCustomPlot::beforeReplot, this, &MapChart::BeforeReplot);

    addLayer(QStringLiteral("operating"), layer(QStringLiteral("main")), limAbove);
    QCPLayer* operating = layer(QStringLiteral("operating"));
    operating->setMode(QCPLayer::lmBuffered);
    const QColor ink(0, 90, 200);
    operatingLine_ = new QCPItemStraightLine(this);
    operatingLine_->setLayer(operating);
    operatingLine_->setPen(QPen(ink, 1, Qt::DashLine));
    operatingLine_->setClipToAxisRect(true);
    operatingLine_->setVisible(false);
    operatingDot_ = new QCPItemTracer(this);
    operatingDot_->setLayer(operating);
    operatingDot_->setInterpolating(true);
    operatingDot_->setStyle(QCPItemTracer::tsCircle);
    operatingDot_->setSize(8);
    operatingDot_->setPen(QPen(ink, 1));
    operatingDot_->setBrush(ink);
    operatingDot_->setVisible(false);
}

void MapChart::SetOperatingPoint(std::optional<double> x)
{
    if (x && !std::isfinite(*x)) x.reset();
    operatingX_ = x;
    const int pixel = x ? int(std::lround(xAxis->coordToPixel(*x))) : -1;
    if (pixel == operatingPixel_ && operatingLine_->visible() == x.has_value()) return;
    operatingPixel_ = pixel;
    operatingLine_->setVisible(bool(x));
    operatingDot_->setVisible(x && Count() > 0);
    // Tied to the series once it has points: the tracer complains of an empty one at once.
    if (operatingDot_->visible() && !operatingDot_->graph()) operatingDot_->setGraph(series_);
    if (x) {
        operatingLine_->point1->setCoords(*x, 0);
        operatingLine_->point2->setCoords(*x, 1);
        operatingDot_->setGraphKey(*x);
    }
    if (!isVisible() || stale_) {
        ScheduleReplot();
        return;
    }
    ++operatingRepaints_;
    layer(QStringLiteral("operating"))->replot();
}

std::optional<QPointF> MapChart::OperatingDot() const
{
    if (!operatingX_ || Count() == 0 || !operatingDot_->graph()) return std::nullopt;
    operatingDot_->updatePosition();
    return operatingDot_->position->coords();
}

void MapChart::SetTitle(const QString& title)
{
    setAccessibleName(title);
    if (title.isEmpty()) {
        if (title_) {
            plotLayout()->remove(title_);
            plotLayout()->simplify();
            title_ = nullptr;
        }
    } else if (!title_) {
        QFont font = this->font();
        font.setBold(true);
        title_ = new QCPTextElement(this, title, font);
        plotLayout()->insertRow(0);
        plotLayout()->addElement(0, 0, title_);
    } else {
        title_->setText(title);
    }
    ScheduleReplot();
}

QString MapChart::Title() const
{
    return title_ ? title_->text() : QString();
}

void MapChart::ApplyAxis(QCPAxis* axis, const AxisSetup& setup, QSharedPointer<PatternTicker>& ticker)
{
    ticker.reset(new PatternTicker(axis, setup.format, setup.labelStep));
    axis->setTicker(ticker);
    axis->setLabel(setup.title);
    if (setup.fixed) axis->setRange(setup.min, setup.max);
}

void MapChart::SetValueAxis(const AxisSetup& setup)
{
    valueSetup_ = setup;
    ApplyAxis(yAxis, valueSetup_, valueTicker_);
    Redraw();
}

void MapChart::SetXAxis(const AxisSetup& setup)
{
    xSetup_ = setup;
    ApplyAxis(xAxis, xSetup_, xTicker_);
    Redraw();
}

void MapChart::SetRightAxis(double min, double max)
{
    yAxis2->setTicker(QSharedPointer<PatternTicker>(new PatternTicker(yAxis2, QString(), 0)));
    yAxis2->setRange(min, max);
    yAxis2->setVisible(true);
    yAxis2->setTickLabels(true);
    ScheduleReplot();
}

void MapChart::Clear()
{
    series_->data()->clear();
    ScheduleReplot();
}

void MapChart::AddXY(double x, double y)
{
    series_->addData(x, y);
    ScheduleReplot();
}

int MapChart::Count() const
{
    return series_->dataCount();
}

QPointF MapChart::Point(int i) const
{
    if (i < 0 || i >= Count()) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return {nan, nan};
    }
    const auto it = series_->data()->at(i);
    return {it->key, it->value};
}

void MapChart::SetProposals(const std::vector<QPointF>& points, const QColor& colour)
{
    if (!proposals_) {
        if (points.empty()) return;
        proposals_ = addGraph(xAxis, yAxis);
        proposals_->setLineStyle(QCPGraph::lsNone);
        proposals_->setSelectable(QCP::stNone);
    }
    proposals_->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, colour, colour, 7));
    proposals_->data()->clear();
    for (const QPointF& p : points) proposals_->addData(p.x(), p.y());
    ScheduleReplot();
}

int MapChart::ProposalCount() const
{
    return proposals_ ? proposals_->dataCount() : 0;
}

void MapChart::RescaleAutomaticAxes()
{
    if (!xSetup_.fixed) xAxis->rescale(true);
    if (!valueSetup_.fixed) yAxis->rescale(true);
}

void MapChart::Redraw()
{
    RescaleAutomaticAxes();
    ScheduleReplot();
}

// A chart on a page that is not shown is not drawn: it notes the change and draws when shown.
void MapChart::ScheduleReplot()
{
    stale_ = true;
    if (isVisible()) replot(rpQueuedReplot);
}

void MapChart::BeforeReplot()
{
    // A dot needs a line to sit on: none while the series is empty (between a clear and a refill).
    operatingDot_->setVisible(operatingX_.has_value() && Count() > 0);
    if (operatingDot_->visible() && !operatingDot_->graph()) operatingDot_->setGraph(series_);
    if (stale_) RescaleAutomaticAxes();
    stale_ = false;
}

void MapChart::showEvent(QShowEvent* event)
{
    QCustomPlot::showEvent(event);
    if (stale_) replot(rpQueuedRefresh);
}

// A fixed label step thins out its labels by the axis's length, which is known only after the
// layout ran; when the length moved, lay out once more so the labels match what is drawn.
void MapChart::updateLayout()
{
    QCustomPlot::updateLayout();
    if ((xTicker_ && xTicker_->StaleForLength()) || (valueTicker_ && valueTicker_->StaleForLength()))
        QCustomPlot::updateLayout();
}
