// Charts: number pictures on axis labels, the map chart's series and axes, and the log chart's
// series, legend, lazy replot, click, zoom and double click.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <vector>

#include "base/FormatFloat.h"
#include "ui/LogChart.h"
#include "ui/MapChart.h"

using base::FormatFloatPattern;

namespace {

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);
const QLocale kGerman(QLocale::German, QLocale::Germany);
const QString kDegree = QStringLiteral("\u00BA");

}  // namespace

TEST(FormatFloatPattern, PercentPictureGroupsAndDropsTrailingZeros)
{
    const QString pct = QStringLiteral("#,##0.###%");
    EXPECT_EQ(FormatFloatPattern(pct, 12.5, kEnglish), "12.5%");
    EXPECT_EQ(FormatFloatPattern(pct, 1234.5678, kEnglish), "1,234.568%");
    EXPECT_EQ(FormatFloatPattern(pct, 1234.5678, QLocale::c()), "1,234.568%");
    EXPECT_EQ(FormatFloatPattern(pct, 0, kEnglish), "0%");
    EXPECT_EQ(FormatFloatPattern(pct, 200, kEnglish), "200%");
    EXPECT_EQ(FormatFloatPattern(pct, 1234567, kEnglish), "1,234,567%");
    EXPECT_EQ(FormatFloatPattern(pct, 0.25, kEnglish), "0.25%");
    EXPECT_EQ(FormatFloatPattern(pct, -1500, kEnglish), "-1,500%");
}

TEST(FormatFloatPattern, SignsAndSuffixes)
{
    const QString signedDegrees = "+#,##0.###" + kDegree;
    EXPECT_EQ(FormatFloatPattern(signedDegrees, 5, kEnglish), "+5" + kDegree);
    EXPECT_EQ(FormatFloatPattern(signedDegrees, -5, kEnglish), "-5" + kDegree);
    EXPECT_EQ(FormatFloatPattern("#,##0.###" + kDegree, -10, kEnglish), "-10" + kDegree);
    EXPECT_EQ(FormatFloatPattern("#,##0.###kPa", 40, kEnglish), "40kPa");
    // A value that rounds to zero shows no minus; tick sums carry such noise.
    EXPECT_EQ(FormatFloatPattern("#,##0.###%", -1e-17, kEnglish), "0%");
    EXPECT_EQ(FormatFloatPattern("#,##0.###%", -0.0004, kEnglish), "0%");
    // Required decimals stay, optional ones go.
    EXPECT_EQ(FormatFloatPattern("0.00", 1.5, kEnglish), "1.50");
    EXPECT_EQ(FormatFloatPattern("000", 7, kEnglish), "007");
    EXPECT_EQ(FormatFloatPattern("0.###", 2.0005, kEnglish), "2.001");
}

TEST(FormatFloatPattern, UsesTheLocalesSeparators)
{
    EXPECT_EQ(FormatFloatPattern("#,##0.###%", 1234.5678, kGerman), "1.234,568%");
    EXPECT_EQ(FormatFloatPattern("#,##0.###%", 12.5, kGerman), "12,5%");
    EXPECT_EQ(FormatFloatPattern("#,##0.###kPa", 340, kGerman), "340kPa");
}

// ---- map chart -----------------------------------------------------------------------------

namespace {

void Fill(MapChart& chart, int first, int step, int columns, int valueBase)
{
    chart.Clear();
    for (int k = 0; k < columns; ++k) chart.AddXY(first + step * k, valueBase + k);
}

void ShowAt(QCustomPlot& chart, int width, int height)
{
    chart.resize(width, height);
    chart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
    chart.replot(QCustomPlot::rpImmediateRefresh);
}

std::vector<double> TickSteps(const QVector<double>& ticks)
{
    std::vector<double> steps;
    for (int i = 1; i < ticks.size(); ++i) steps.push_back(ticks[i] - ticks[i - 1]);
    return steps;
}

}  // namespace

TEST(MapChart, ClearAndAddXYHoldOneSetOfPointsInColumnOrder)
{
    MapChart chart;
    Fill(chart, -30, 10, 16, 5);
    Fill(chart, -30, 10, 16, 5);   // a second decode must not add a second set
    ASSERT_EQ(chart.Count(), 16);
    for (int k = 0; k < 16; ++k) EXPECT_EQ(chart.Point(k), QPointF(-30 + 10 * k, 5 + k)) << k;
    EXPECT_TRUE(std::isnan(chart.Point(16).x()));
    EXPECT_TRUE(std::isnan(chart.Point(-1).y()));
    chart.Clear();
    EXPECT_EQ(chart.Count(), 0);
}

TEST(MapChart, FixedAxesKeepTheirRangeAutomaticOnesFollowTheData)
{
    MapChart chart;
    chart.SetValueAxis({true, -10, 10, 0, "#,##0.###" + kDegree, QString()});
    chart.SetXAxis({});
    chart.SetRightAxis(-10, 10);
    Fill(chart, -30, 10, 16, 40);   // values 40..55, far outside the fixed value range
    chart.Redraw();
    EXPECT_EQ(chart.yAxis->range(), QCPRange(-10, 10));
    EXPECT_EQ(chart.yAxis2->range(), QCPRange(-10, 10));
    EXPECT_TRUE(chart.yAxis2->visible());
    EXPECT_EQ(chart.xAxis->range(), QCPRange(-30, 120));

    chart.SetXAxis({true, 250, 9000, 250, QString(), QString()});
    chart.SetValueAxis({});
    Fill(chart, 0, 1, 16, 100);
    chart.Redraw();
    EXPECT_EQ(chart.xAxis->range(), QCPRange(250, 9000));
    EXPECT_EQ(chart.yAxis->range(), QCPRange(100, 115));
}

TEST(MapChart, AxisLabelsUseThePictureAndTitlesShow)
{
    MapChart chart;
    chart.setLocale(kEnglish);
    chart.SetTitle("RPM Fuel");
    chart.SetValueAxis({true, 0, 100, 0, QString(), "PWM Duty cycle %"});
    chart.SetXAxis({true, 40, 340, 20, "#,##0.###kPa", QString()});
    ShowAt(chart, 1600, 300);

    EXPECT_EQ(chart.Title(), "RPM Fuel");
    EXPECT_EQ(chart.accessibleName(), "RPM Fuel");
    EXPECT_EQ(chart.yAxis->label(), "PWM Duty cycle %");
    const QVector<QString> labels = chart.xAxis->tickVectorLabels();
    ASSERT_FALSE(labels.isEmpty());
    EXPECT_TRUE(labels.contains("40kPa"));
    EXPECT_TRUE(labels.contains("340kPa"));
    for (double step : TickSteps(chart.xAxis->tickVector())) EXPECT_NEAR(step, 20, 1e-9);
}

TEST(MapChart, FixedLabelStepThinsOutLabelsThatWouldOverlap)
{
    MapChart chart;
    chart.SetXAxis({true, 250, 9000, 250, QString(), QString()});
    ShowAt(chart, 3000, 300);
    for (double step : TickSteps(chart.xAxis->tickVector())) EXPECT_NEAR(step, 250, 1e-9);

    ShowAt(chart, 400, 250);
    const QVector<double> ticks = chart.xAxis->tickVector();
    ASSERT_GE(ticks.size(), 2);
    const double step = ticks[1] - ticks[0];
    EXPECT_GT(step, 250);
    EXPECT_NEAR(std::fmod(step, 250), 0, 1e-9);
    // The labels fit the axis one beside the other.
    const QFontMetrics metrics(chart.xAxis->tickLabelFont());
    int total = 0;
    for (const QString& label : chart.xAxis->tickVectorLabels()) total += metrics.horizontalAdvance(label);
    EXPECT_LT(total, chart.axisRect()->width());
}

TEST(MapChart, HiddenChartIsNotDrawnUntilShown)
{
    MapChart chart;
    chart.resize(400, 250);
    QCoreApplication::processEvents();   // the plot's own first replot, queued at construction
    QSignalSpy replots(&chart, &QCustomPlot::afterReplot);
    Fill(chart, 0, 1, 16, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(replots.count(), 0);

    chart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
    QCoreApplication::processEvents();
    EXPECT_GE(replots.count(), 1);
    EXPECT_EQ(chart.xAxis->range(), QCPRange(0, 15));   // the automatic axis caught up
}

// ---- log chart -----------------------------------------------------------------------------

namespace {

QStringList LegendNames(const LogChart& chart)
{
    QStringList names;
    for (int i = 0; i < chart.legend->itemCount(); ++i)
        if (auto* item = qobject_cast<QCPPlottableLegendItem*>(chart.legend->item(i)))
            names << item->plottable()->name();
    return names;
}

QPoint PixelOf(const LogChart& chart, double x, double y)
{
    return QPoint(qRound(chart.xAxis->coordToPixel(x)), qRound(chart.yAxis->coordToPixel(y)));
}

// A shown chart with a ramp (y = x) and a flat line at 50, 100 samples each.
struct ShownLogChart {
    LogChart chart;
    ShownLogChart()
    {
        chart.AddSeries("Ramp", Qt::red, 2);
        chart.AddSeries("Flat", Qt::blue, 2);
        std::vector<double> ramp(100), flat(100, 50.0);
        for (int i = 0; i < 100; ++i) ramp[i] = i;
        chart.AppendBulk(0, ramp.data(), 100);
        chart.AppendBulk(1, flat.data(), 100);
        chart.resize(750, 377);
        chart.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&chart));
        chart.replot(QCustomPlot::rpImmediateRefresh);
    }
};

}  // namespace

TEST(LogChart, AppendsKeepSampleIndexAsX)
{
    LogChart chart;
    const int s0 = chart.AddSeries("RPM/100", Qt::red, 2);
    const int s1 = chart.AddSeries("Volt", Qt::white, 1);
    EXPECT_EQ(s0, 0);
    EXPECT_EQ(s1, 1);
    EXPECT_EQ(chart.SeriesCount(), 2);
    EXPECT_EQ(chart.graph(1)->pen().width(), 1);

    chart.AppendY(0, 65.43);
    const double bulk[] = {1.5, -3.0, 12.5};
    chart.AppendBulk(0, bulk, 3);
    chart.AppendY(0, 7);
    ASSERT_EQ(chart.Count(0), 5);
    const double expected[] = {65.43, 1.5, -3.0, 12.5, 7};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(chart.YValue(0, i), expected[i]) << i;
        EXPECT_EQ(chart.Column(0).At(i), float(expected[i])) << "held as a float";
    }
    EXPECT_EQ(chart.Count(1), 0);

    // Positions that do not exist are answered, not crashed on.
    EXPECT_TRUE(std::isnan(chart.YValue(0, 5)));
    EXPECT_TRUE(std::isnan(chart.YValue(2, 0)));
    EXPECT_EQ(chart.Count(-1), 0);
    chart.AppendY(9, 1);
    chart.AppendBulk(0, nullptr, 4);
    EXPECT_EQ(chart.Count(0), 5);

    chart.ClearSeries(0);
    EXPECT_EQ(chart.Count(0), 0);
    chart.AppendY(0, 2);
    EXPECT_EQ(chart.Count(0), 1);
    EXPECT_EQ(chart.YValue(0, 0), 2);
}

TEST(LogChart, HiddenSeriesLeaveTheLegendAndComeBackInChannelOrder)
{
    LogChart chart;
    chart.AddSeries("RPM/100", Qt::red, 2);
    chart.AddSeries("TPS", Qt::green, 2);
    chart.AddSeries("Fuel (ms)", Qt::yellow, 2);
    chart.AddSeries("Advance", Qt::blue, 2);
    EXPECT_EQ(LegendNames(chart), QStringList({"RPM/100", "TPS", "Fuel (ms)", "Advance"}));

    chart.SetSeriesVisible(1, false);
    chart.SetSeriesVisible(3, false);
    EXPECT_FALSE(chart.SeriesVisible(1));
    EXPECT_TRUE(chart.SeriesVisible(0));
    EXPECT_EQ(LegendNames(chart), QStringList({"RPM/100", "Fuel (ms)"}));

    chart.SetSeriesVisible(3, true);
    chart.SetSeriesVisible(1, true);
    EXPECT_EQ(LegendNames(chart), QStringList({"RPM/100", "TPS", "Fuel (ms)", "Advance"}));

    // A hidden series still takes its samples.
    chart.SetSeriesVisible(2, false);
    chart.AppendY(2, 4.5);
    EXPECT_EQ(chart.Count(2), 1);
}

TEST(LogChart, NotRedrawnWhileHiddenThenScaledToTheShownDataWhenShown)
{
    LogChart chart;
    chart.AddSeries("A", Qt::red, 2);
    chart.AddSeries("B", Qt::blue, 2);
    chart.SetSeriesVisible(1, false);
    chart.resize(750, 377);
    QCoreApplication::processEvents();   // the plot's own first replot, queued at construction
    QSignalSpy replots(&chart, &QCustomPlot::afterReplot);
    for (int i = 0; i < 50; ++i) {
        chart.AppendY(0, 10 + i);   // 10 .. 59
        chart.AppendY(1, 1000);     // hidden: must not widen the value axis
    }
    chart.RequestReplot();
    QCoreApplication::processEvents();
    EXPECT_EQ(replots.count(), 0);

    chart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
    QCoreApplication::processEvents();
    EXPECT_GE(replots.count(), 1);
    EXPECT_EQ(chart.xAxis->range(), QCPRange(0, 49));
    // The data fills 2 % to 98 % of the height.
    const QCPRange y = chart.yAxis->range();
    EXPECT_NEAR((10 - y.lower) / y.size(), 0.02, 1e-9);
    EXPECT_NEAR((y.upper - 59) / y.size(), 0.02, 1e-9);
    EXPECT_TRUE(chart.xAxis->visible()) << "the samples' times";
}

TEST(LogChart, ClickOnALineReportsTheNearestPointInX)
{
    ShownLogChart shown;
    LogChart& chart = shown.chart;
    std::vector<std::pair<int, int>> clicks;
    chart.OnSeriesClick = [&](int series, int index) { clicks.emplace_back(series, index); };

    QTest::mouseClick(&chart, Qt::LeftButton, {}, PixelOf(chart, 30.3, 30.3));
    QTest::mouseClick(&chart, Qt::LeftButton, {}, PixelOf(chart, 70.6, 50));
    ASSERT_EQ(clicks.size(), 2u);
    EXPECT_EQ(clicks[0], std::make_pair(0, 30));
    EXPECT_EQ(clicks[1], std::make_pair(1, 71));

    // Away from both lines: nothing.
    clicks.clear();
    QTest::mouseClick(&chart, Qt::LeftButton, {}, PixelOf(chart, 10, 90));
    EXPECT_TRUE(clicks.empty());

    // A hidden line cannot be clicked.
    chart.SetSeriesVisible(1, false);
    chart.replot(QCustomPlot::rpImmediateRefresh);
    QTest::mouseClick(&chart, Qt::LeftButton, {}, PixelOf(chart, 70.6, 50));
    EXPECT_TRUE(clicks.empty());
}

TEST(LogChart, CursorIsACrossHairOverALine)
{
    ShownLogChart shown;
    LogChart& chart = shown.chart;
    QTest::mouseMove(&chart, PixelOf(chart, 40, 40));
    QCoreApplication::processEvents();
    EXPECT_EQ(chart.cursor().shape(), Qt::CrossCursor);
    QTest::mouseMove(&chart, PixelOf(chart, 10, 90));
    QCoreApplication::processEvents();
    EXPECT_EQ(chart.cursor().shape(), Qt::ArrowCursor);
}

TEST(LogChart, DragZoomsUndoZoomRestoresTheWholeLogAndDoubleClickIsReported)
{
    ShownLogChart shown;
    LogChart& chart = shown.chart;
    const QCPRange fullX = chart.xAxis->range();
    const QCPRange fullY = chart.yAxis->range();
    int doubleClicks = 0;
    chart.OnDblClick = [&] { ++doubleClicks; };

    const QPoint from = PixelOf(chart, 20, 60);
    const QPoint to = PixelOf(chart, 40, 30);
    QTest::mousePress(&chart, Qt::LeftButton, {}, from);
    QTest::mouseMove(&chart, (from + to) / 2);
    QTest::mouseMove(&chart, to);
    QTest::mouseRelease(&chart, Qt::LeftButton, {}, to);
    QCoreApplication::processEvents();
    EXPECT_TRUE(chart.Zoomed());
    EXPECT_NEAR(chart.xAxis->range().lower, 20, 0.5);
    EXPECT_NEAR(chart.xAxis->range().upper, 40, 0.5);
    EXPECT_NEAR(chart.yAxis->range().lower, 30, 0.5);

    // New samples do not undo the user's zoom.
    chart.AppendY(0, 500);
    chart.AppendY(1, 500);
    chart.replot(QCustomPlot::rpImmediateRefresh);
    EXPECT_NEAR(chart.xAxis->range().upper, 40, 0.5);

    chart.UndoZoom();
    EXPECT_FALSE(chart.Zoomed());
    EXPECT_EQ(chart.xAxis->range(), QCPRange(0, 100));
    EXPECT_GT(chart.yAxis->range().upper, 500);
    EXPECT_EQ(fullX, QCPRange(0, 99));
    EXPECT_LT(fullY.lower, 0);

    QTest::mouseDClick(&chart, Qt::LeftButton, {}, PixelOf(chart, 10, 90));
    EXPECT_EQ(doubleClicks, 1);
}
