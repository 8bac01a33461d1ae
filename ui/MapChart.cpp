#include "ui/MapChart.h"

#include "ui/PatternTicker.h"

#include <limits>

MapChart::MapChart(QWidget* parent) : QCustomPlot(parent)
{
    setLocale(QLocale::system());   // tick labels use the system's separators

    mSeries = addGraph(xAxis, yAxis);
    mSeries->setPen(QPen(QColor(255, 0, 0), 3));
    mSeries->setLineStyle(QCPGraph::lsLine);
    mSeries->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssNone));
    legend->setVisible(false);

    // Plain-number tickers until the window sets the axes, so every axis uses the plot's locale.
    ApplyAxis(xAxis, mXSetup, mXTicker);
    ApplyAxis(yAxis, mValueSetup, mValueTicker);

    connect(this, &QCustomPlot::beforeReplot, this, &MapChart::BeforeReplot);
}

void MapChart::SetTitle(const QString& title)
{
    setAccessibleName(title);
    if (title.isEmpty()) {
        if (mTitle) {
            plotLayout()->remove(mTitle);
            plotLayout()->simplify();
            mTitle = nullptr;
        }
    } else if (!mTitle) {
        QFont font = this->font();
        font.setBold(true);
        mTitle = new QCPTextElement(this, title, font);
        plotLayout()->insertRow(0);
        plotLayout()->addElement(0, 0, mTitle);
    } else {
        mTitle->setText(title);
    }
    ScheduleReplot();
}

QString MapChart::Title() const
{
    return mTitle ? mTitle->text() : QString();
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
    mValueSetup = setup;
    ApplyAxis(yAxis, mValueSetup, mValueTicker);
    Redraw();
}

void MapChart::SetXAxis(const AxisSetup& setup)
{
    mXSetup = setup;
    ApplyAxis(xAxis, mXSetup, mXTicker);
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
    mSeries->data()->clear();
    ScheduleReplot();
}

void MapChart::AddXY(double x, double y)
{
    mSeries->addData(x, y);
    ScheduleReplot();
}

int MapChart::Count() const
{
    return mSeries->dataCount();
}

QPointF MapChart::Point(int i) const
{
    if (i < 0 || i >= Count()) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return {nan, nan};
    }
    const auto it = mSeries->data()->at(i);
    return {it->key, it->value};
}

void MapChart::RescaleAutomaticAxes()
{
    if (!mXSetup.fixed) xAxis->rescale(true);
    if (!mValueSetup.fixed) yAxis->rescale(true);
}

void MapChart::Redraw()
{
    RescaleAutomaticAxes();
    ScheduleReplot();
}

// A chart on a page that is not shown is not drawn: it notes the change and draws when shown.
void MapChart::ScheduleReplot()
{
    mStale = true;
    if (isVisible()) replot(rpQueuedReplot);
}

void MapChart::BeforeReplot()
{
    if (mStale) RescaleAutomaticAxes();
    mStale = false;
}

void MapChart::showEvent(QShowEvent* event)
{
    QCustomPlot::showEvent(event);
    if (mStale) replot(rpQueuedRefresh);
}

// A fixed label step thins out its labels by the axis's length, which is known only after the
// layout ran; when the length moved, lay out once more so the labels match what is drawn.
void MapChart::updateLayout()
{
    QCustomPlot::updateLayout();
    if ((mXTicker && mXTicker->StaleForLength()) || (mValueTicker && mValueTicker->StaleForLength()))
        QCustomPlot::updateLayout();
}
