// The log as the chart holds it: series set-up, recording into it, reading it back out, how
// dense lines are drawn, and the slider's rules.
#include "logging/LogViewer.h"
#include "logging/LogChannels.h"
#include "ui/LogChart.h"
#include "base/NumberFormat.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

using logging::kLogChannelCount;

const std::array<QString, kLogChannelCount> kExample = {
    "6543", "12.50", "3.25", "15", "85", "30", "100", "0", "13.80", "0", "95", "850", "2.5", "39"};

class LogViewerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        base::SetDisplayLocale(QLocale::c());
        logging::AddLogSeries(chart);
    }
    void TearDown() override { base::ResetDisplayLocale(); }

    LogChart chart;
};

TEST_F(LogViewerTest, SeriesFollowTheChannelTable)
{
    ASSERT_EQ(chart.SeriesCount(), kLogChannelCount);
    for (int k = 0; k < kLogChannelCount; ++k) {
        const logging::LogChannel& c = logging::kLogChannels[k];
        EXPECT_EQ(chart.graph(k)->objectName(), c.seriesName);
        EXPECT_EQ(chart.graph(k)->name(), c.seriesTitle);
        EXPECT_EQ(chart.graph(k)->pen().color().rgb(), c.colour);
        EXPECT_EQ(chart.SeriesVisible(k), c.initiallyVisible);
    }
    // The legend lists the shown series only.
    QStringList names;
    for (int i = 0; i < chart.legend->itemCount(); ++i)
        if (auto* item = qobject_cast<QCPPlottableLegendItem*>(chart.legend->item(i))) names << item->plottable()->name();
    EXPECT_EQ(names.join(','), "RPM/100,TPS,Fuel (ms),Advance,Lambda,Map,EGT,Oil Pressure,PWM");
}

// The name a chooser, a lane or the scatter's axis shows: the unit once, also where the
// heading already carries it.
TEST(LogChannelNames, EachNameCarriesItsUnitOnce)
{
    EXPECT_EQ(logging::NameWithUnit(0).toStdString(), "RPM (rpm)");
    EXPECT_EQ(logging::NameWithUnit(1).toStdString(), "TPS");
    EXPECT_EQ(logging::NameWithUnit(2).toStdString(), "Fuel (ms)");
    for (int k = 0; k < kLogChannelCount; ++k) {
        const QString unit = logging::DisplayUnit(k);
        if (!unit.isEmpty()) {
            EXPECT_EQ(logging::NameWithUnit(k).count("(" + unit + ")"), 1) << logging::NameWithUnit(k).toStdString();
        }
    }
}

TEST_F(LogViewerTest, RecordingAppendsToEverySeriesOrNone)
{
    EXPECT_TRUE(logging::AppendSample(chart, kExample));
    auto bad = kExample;
    bad[13] = "3 9";
    EXPECT_FALSE(logging::AppendSample(chart, bad));
    bad[13] = "39";
    bad[0] = "";
    EXPECT_FALSE(logging::AppendSample(chart, bad));
    EXPECT_TRUE(logging::AppendSample(chart, kExample));
    for (int k = 0; k < kLogChannelCount; ++k) EXPECT_EQ(chart.Count(k), 2) << "hidden or not: " << k;
    EXPECT_EQ(logging::SampleCount(chart), 2);
    EXPECT_EQ(chart.YValue(0, 1), 65.43);   // the double nearest 65.43, not 6543 * 0.01 in double
    EXPECT_EQ(chart.YValue(13, 1), 3.9);

    const auto row = logging::Readout(chart, 1);
    ASSERT_TRUE(row);
    QStringList texts(row->begin(), row->end());
    EXPECT_EQ(texts.join(' '), "6543 12.50 3.25 15 85 30 1.00 0 13.80 0 95 850 3 39");
    EXPECT_FALSE(logging::Readout(chart, 2));
    EXPECT_FALSE(logging::Readout(chart, -1));

    logging::ClearLog(chart);
    EXPECT_EQ(logging::SampleCount(chart), 0);
    EXPECT_FALSE(logging::Readout(chart, 0));
    EXPECT_FALSE(chart.SeriesVisible(4)) << "clearing keeps what is shown";
}

TEST_F(LogViewerTest, ASampleBeyondTheRangeOfTheStoredFloatsIsNotRecorded)
{
    auto huge = kExample;
    huge[0] = "1e39";   // 1e37 in the chart: still a float
    EXPECT_TRUE(logging::AppendSample(chart, huge));
    huge[4] = "-4e38";
    EXPECT_FALSE(logging::AppendSample(chart, huge));
    EXPECT_EQ(logging::SampleCount(chart), 1);
    EXPECT_EQ(chart.Count(0), 1);
    EXPECT_FLOAT_EQ(float(chart.YValue(0, 0)), 1e37f);
}

TEST_F(LogViewerTest, DenseLinesAreDrawnWithoutSmoothing)
{
    chart.resize(750, 377);
    auto texts = kExample;
    for (int i = 0; i < 5000; ++i) {
        texts[0] = QString::number(900 + i % 700);
        ASSERT_TRUE(logging::AppendSample(chart, texts));
    }
    chart.replot();
    EXPECT_TRUE(chart.notAntialiasedElements().testFlag(QCP::aePlottables));
    // A look at a few samples gets smooth lines back; the whole log again does not.
    chart.xAxis->setRange(100, 300);
    chart.replot();
    EXPECT_FALSE(chart.notAntialiasedElements().testFlag(QCP::aePlottables));
    chart.UndoZoom();
    chart.replot();
    EXPECT_TRUE(chart.notAntialiasedElements().testFlag(QCP::aePlottables));
}

TEST_F(LogViewerTest, ALoadHandsItsColumnsToTheChartWithoutACopy)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("run.qxl");
    QByteArray text;
    for (int i = 0; i < 1000; ++i)
        for (int k = 0; k < kLogChannelCount; ++k) text += QByteArray::number(i % 97 + k) + ".25\t";
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text + "\r\n9.5\t");
    f.close();

    logging::LogLoadResult load = logging::ParseLogFile(path, kLogChannelCount);
    ASSERT_FALSE(load.Refused()) << load.reason.toStdString();
    EXPECT_EQ(load.samples.SampleCount(), 1000) << "the 9.5 of an incomplete sample is dropped";
    std::vector<const float*> read;
    for (const base::SampleColumn& c : load.samples.series) read.push_back(c.Data());

    logging::ChartLogStore store(chart);
    logging::AppendSamples(store, std::move(load.samples));
    ASSERT_EQ(logging::SampleCount(chart), 1000);
    for (int k = 0; k < kLogChannelCount; ++k) EXPECT_EQ(chart.Column(k).Data(), read[size_t(k)]) << "copied: " << k;
    EXPECT_EQ(chart.YValue(13, 999), 999 % 97 + 13 + 0.25);

    // Onto a chart that holds samples: appended after them.
    load = logging::ParseLogFile(path, kLogChannelCount);
    logging::AppendSamples(store, std::move(load.samples));
    EXPECT_EQ(logging::SampleCount(chart), 2000);
    EXPECT_EQ(chart.YValue(0, 1000), 0.25);
}

TEST(LogSlider, AfterStopShownFromThreeSamples)
{
    EXPECT_EQ(logging::SliderAfterStop(0).maximum, 0);
    EXPECT_FALSE(logging::SliderAfterStop(0).show);
    EXPECT_EQ(logging::SliderAfterStop(1).maximum, 0);
    EXPECT_FALSE(logging::SliderAfterStop(1).show);
    EXPECT_EQ(logging::SliderAfterStop(2).maximum, 1);
    EXPECT_FALSE(logging::SliderAfterStop(2).show);
    EXPECT_EQ(logging::SliderAfterStop(3).maximum, 2);
    EXPECT_TRUE(logging::SliderAfterStop(3).show);
}

TEST(LogSlider, AfterLoadThePositionStaysWithinTheLog)
{
    EXPECT_EQ(logging::SliderAfterLoad(0, 5).maximum, 0);
    EXPECT_EQ(logging::SliderAfterLoad(0, 5).position, 0);
    EXPECT_EQ(logging::SliderAfterLoad(10, 3).maximum, 9);
    EXPECT_EQ(logging::SliderAfterLoad(10, 3).position, 3);
    EXPECT_EQ(logging::SliderAfterLoad(10, 9).position, 9);
    EXPECT_EQ(logging::SliderAfterLoad(10, 10).position, 9);
}

TEST(LogSlider, TicksThinOutOnlyWhenTheyWouldTouch)
{
    EXPECT_EQ(logging::SliderTickInterval(0, 699), 1);
    EXPECT_EQ(logging::SliderTickInterval(100, 699), 1);
    EXPECT_EQ(logging::SliderTickInterval(174, 699), 1);   // 174 gaps of 4 px fit
    EXPECT_EQ(logging::SliderTickInterval(175, 699), 2);
    EXPECT_EQ(logging::SliderTickInterval(1000, 699), 10);
    EXPECT_EQ(logging::SliderTickInterval(299999, 699), 2000);
    for (int max : {3, 500, 7777, 123456, 2000000000}) {
        const int interval = logging::SliderTickInterval(max, 699);
        EXPECT_LE(max / interval, 174) << max;
        EXPECT_GE(interval, 1);
    }
}

}  // namespace
