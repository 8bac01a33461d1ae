// The per-column statistics against a log small enough to work out by hand: which column each
// sample stands in, the delayed value, the filter's reasons, mean, extremes, spread and time.
#include "logging/ColumnStats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(ColumnStats, MatchesAHandWorkedLog)
{
    // Three columns at 250, 500 and 750 rpm; the value is read one sample later.
    const double breakpoints[] = {250, 500, 750};
    const float axis[] = {240, 374, 375, 500, 620, 625, 900, kNaN, 760, 499};
    const float value[] = {1, 2, 4, 8, 3, 5, kNaN, 7, 9, 6};
    // By hand, sample -> column (nearest breakpoint, halves up, ends held) and delayed value:
    //   0: 240 -> 0, 2     1: 374 -> 0, 4     2: 375 -> 1, 8 (half-way goes up)
    //   3: 500 -> 1, 3     4: 620 -> 1, 5 but the filter leaves it out (reason 2)
    //   5: 625 -> 2, NaN (no value)           6: 900 -> 2, 7 (beyond the end: last column)
    //   7: NaN axis: no column                8: 760 -> 2, 6
    //   9: 499 -> 1, nothing after the log's end (no value)
    logging::ColumnStatsInput in;
    in.axis = axis;
    in.value = value;
    in.count = 10;
    in.breakpoints = breakpoints;
    in.columns = 3;
    in.valueDelay = 1;
    in.periodMs = 100;
    int asked = 0;
    const logging::ColumnStats s = logging::ComputeColumnStats(in, [&](int i) {
        ++asked;
        return i == 4 ? 2 : 0;
    });
    EXPECT_EQ(asked, 7) << "the filter is asked only for samples with a column and a value";
    ASSERT_EQ(s.columns.size(), 3u);
    const logging::ColumnStat& c0 = s.columns[0];
    const logging::ColumnStat& c1 = s.columns[1];
    const logging::ColumnStat& c2 = s.columns[2];
    EXPECT_EQ(c0.samples, 2);
    EXPECT_DOUBLE_EQ(c0.mean, 3.0);
    EXPECT_DOUBLE_EQ(c0.low, 2.0);
    EXPECT_DOUBLE_EQ(c0.high, 4.0);
    EXPECT_DOUBLE_EQ(c0.spread, std::sqrt(2.0));
    EXPECT_DOUBLE_EQ(c0.seconds, 0.2);
    EXPECT_EQ(c1.samples, 2);
    EXPECT_DOUBLE_EQ(c1.mean, 5.5);
    EXPECT_DOUBLE_EQ(c1.low, 3.0);
    EXPECT_DOUBLE_EQ(c1.high, 8.0);
    EXPECT_DOUBLE_EQ(c1.spread, std::sqrt(12.5));
    EXPECT_EQ(c1.leftOut[2], 1);
    EXPECT_EQ(c1.noValue, 1);
    EXPECT_EQ(c2.samples, 2);
    EXPECT_DOUBLE_EQ(c2.mean, 6.5);
    EXPECT_DOUBLE_EQ(c2.spread, std::sqrt(0.5));
    EXPECT_EQ(c2.noValue, 1);
    EXPECT_EQ(s.noColumn, 1);
    EXPECT_EQ(s.leftOut[2], 1);
    EXPECT_EQ(s.noValue, 2);
    EXPECT_EQ(s.Counted(), 6);

    // With the times the log kept, a sample stands for the gap to the next one, a pause held to
    // four nominal cycles: column 0 = 100 + 150 ms; column 1 = 50 + 100; column 2 = 432 + 100.
    logging::SampleTimes times;
    times.StartRecorded();
    const auto t0 = logging::SampleTimes::Clock::now();
    const int ms[] = {0, 100, 250, 300, 400, 500, 600, 1500, 1800, 1900};
    for (int i = 0; i < 10; ++i) times.Record(i, t0 + std::chrono::milliseconds(ms[i]));
    in.times = &times;
    const logging::ColumnStats timed = logging::ComputeColumnStats(in, [](int i) { return i == 4 ? 2 : 0; });
    EXPECT_DOUBLE_EQ(timed.columns[0].seconds, 0.25);
    EXPECT_DOUBLE_EQ(timed.columns[1].seconds, 0.15);
    EXPECT_DOUBLE_EQ(timed.columns[2].seconds, 0.532);

    // Spread of values far from zero keeps its digits (a naive sum of squares loses them).
    const float flat[] = {500, 500, 500, 500};
    const float big[] = {100000.5f, 100001.5f, 100000.5f, 100001.5f};
    logging::ColumnStatsInput far;
    far.axis = flat;
    far.value = big;
    far.count = 4;
    far.breakpoints = breakpoints;
    far.columns = 3;
    const logging::ColumnStats f = logging::ComputeColumnStats(far);
    EXPECT_EQ(f.columns[1].samples, 4);
    EXPECT_DOUBLE_EQ(f.columns[1].mean, 100001.0);
    EXPECT_DOUBLE_EQ(f.columns[1].spread, std::sqrt(1.0 / 3.0));
    EXPECT_TRUE(std::isnan(f.columns[0].mean));

    // Breakpoints that are not evenly spaced: the same rule through the edges between columns.
    const double uneven[] = {0, 10, 30};
    EXPECT_EQ(logging::ColumnOf(uneven, 3, -5), 0);
    EXPECT_EQ(logging::ColumnOf(uneven, 3, 4.99), 0);
    EXPECT_EQ(logging::ColumnOf(uneven, 3, 5), 1);
    EXPECT_EQ(logging::ColumnOf(uneven, 3, 19.9), 1);
    EXPECT_EQ(logging::ColumnOf(uneven, 3, 20), 2);
    EXPECT_EQ(logging::ColumnOf(uneven, 3, 1e9), 2);
    EXPECT_EQ(logging::ColumnOf(uneven, 3, std::nan("")), -1);
}

}  // namespace
