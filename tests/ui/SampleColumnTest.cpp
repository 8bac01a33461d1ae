// The log chart's storage and line: the range of any stretch of samples from the summaries must
// equal a walk over the values, and the line drawn per pixel column must pass through every
// sample.
#include "ui/LogLine.h"
#include "ui/PageArray.h"
#include "ui/SampleColumn.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

ui::ValueRange Walk(const std::vector<float>& v, int from, int to)
{
    ui::ValueRange r;
    for (int i = std::max(from, 0); i < std::min<int>(to, int(v.size())); ++i) r.Add(v[size_t(i)]);
    return r;
}

void ExpectSame(const ui::ValueRange& a, const ui::ValueRange& b, int from, int to)
{
    ASSERT_EQ(a.Empty(), b.Empty()) << from << ".." << to;
    if (a.Empty()) return;
    ASSERT_EQ(a.low, b.low) << from << ".." << to;
    ASSERT_EQ(a.high, b.high) << from << ".." << to;
}

TEST(PageArray, GrowsKeepsItsValuesAndGivesRoomBack)
{
    ui::PageArray<float> a;
    EXPECT_TRUE(a.Empty());
    for (int i = 0; i < 100000; ++i) ASSERT_TRUE(a.Push(float(i)));
    ASSERT_EQ(a.Size(), 100000u);
    EXPECT_GE(a.Capacity(), a.Size());
    ASSERT_TRUE(a.Reserve(5000000));   // moves the pages, keeps the values
    for (size_t i = 0; i < a.Size(); i += 997) ASSERT_EQ(a[i], float(i));
    a.Fit();
    EXPECT_LT(a.Capacity(), 110000u);
    EXPECT_EQ(a[99999], 99999.0f);

    ui::PageArray<float> b = std::move(a);
    EXPECT_EQ(b.Size(), 100000u);
    EXPECT_EQ(a.Size(), 0u);   // NOLINT: a moved-from array is empty and usable
    EXPECT_TRUE(a.Push(1));
    b.Clear();
    EXPECT_EQ(b.Capacity(), 0u);
    EXPECT_FALSE(b.Reserve(size_t(1) << 62)) << "an impossible size is refused, not wrapped";
}

TEST(SampleColumn, RangesFromTheSummariesEqualAWalkOverTheValues)
{
    // More than 64^3 values, so that three summary levels exist; filled partly one at a time and
    // partly in bulk, as recording and loading do; a few NaN, which no range may take in.
    std::mt19937 rng(17);
    std::vector<float> values;
    ui::SampleColumn column;
    auto next = [&] {
        const float v = rng() % 500 == 0 ? kNaN : float(int(rng() % 200000) - 100000) / 100;
        values.push_back(v);
        return v;
    };
    for (int i = 0; i < 70000; ++i) ASSERT_TRUE(column.Append(next()));
    float* room = column.Room(230000);
    ASSERT_NE(room, nullptr);
    for (int i = 0; i < 230000; ++i) room[i] = next();
    column.Grow(230000);
    for (int i = 0; i < 1234; ++i) ASSERT_TRUE(column.Append(next()));
    ASSERT_EQ(column.Count(), int(values.size()));

    const int n = column.Count();
    ExpectSame(column.Range(), Walk(values, 0, n), 0, n);
    for (int trial = 0; trial < 3000; ++trial) {
        const int length = trial % 3 == 0 ? int(rng() % 100) : int(rng() % (n + 1));
        const int from = int(rng() % (n + 1 - length));
        ExpectSame(column.Range(from, from + length), Walk(values, from, from + length), from, from + length);
    }
    for (int from : {-5, 0, 63, 64, 4095, 4096, 262143, 262144, n - 1})
        for (int to : {from, from + 1, from + 64, from + 4097, n, n + 9})
            ExpectSame(column.Range(from, to), Walk(values, from, to), from, to);

    column.Clear();
    EXPECT_EQ(column.Count(), 0);
    EXPECT_TRUE(column.Range().Empty());
    EXPECT_TRUE(column.Range(0, 10).Empty());
}

TEST(SampleColumn, OnlyNaNIsAnEmptyRange)
{
    ui::SampleColumn column;
    for (int i = 0; i < 200; ++i) column.Append(kNaN);
    column.Append(2.5f);
    EXPECT_TRUE(column.Range(0, 200).Empty());
    EXPECT_FALSE(column.Range(0, 201).Empty());
    EXPECT_EQ(column.Range().low, 2.5f);
    EXPECT_EQ(column.Range().high, 2.5f);
}

// ---- the line ---------------------------------------------------------------------------------

struct Plot {
    ui::SampleColumn column;
    std::vector<float> values;
    Plot(int n, unsigned seed)
    {
        std::mt19937 rng(seed);
        float v = 50;
        for (int i = 0; i < n; ++i) {
            v += float(int(rng() % 21) - 10) / 10;
            values.push_back(v);
            column.Append(v);
        }
    }
};

TEST(LogLine, ColumnwiseStrokesHoldEverySampleAndJoinUp)
{
    Plot plot(100000, 3);
    const ui::LinearMap y{400, -3};
    // The whole log over 700 pixels, then a zoom of 2,000 samples starting mid-pixel.
    for (const auto& [first, last] : {std::pair{0.0, 99999.0}, std::pair{40000.3, 42000.3}}) {
        const ui::LinearMap x{40 - first * 700 / (last - first), 700 / (last - first)};
        std::vector<QLineF> strokes;
        ui::LineSegments(plot.column, x, y, 40, 741, true, &strokes);
        ASSERT_FALSE(strokes.empty());
        // One stroke per pixel column, top to bottom, at the column's centre.
        for (size_t s = 0; s < strokes.size(); ++s) {
            ASSERT_EQ(strokes[s].x1(), strokes[s].x2());
            ASSERT_LE(strokes[s].y1(), strokes[s].y2());
            if (s > 0) {
                ASSERT_GT(strokes[s].x1(), strokes[s - 1].x1());
            }
        }
        auto strokeAt = [&](double px) -> const QLineF* {
            for (const QLineF& s : strokes)
                if (s.x1() == std::floor(px) + 0.5) return &s;
            return nullptr;
        };
        for (int i = int(std::ceil(first)); i <= int(last); ++i) {
            const QLineF* s = strokeAt(x.ToPixel(i));
            ASSERT_NE(s, nullptr) << "sample " << i;
            const double py = y.ToPixel(plot.values[size_t(i)]);
            ASSERT_TRUE(s->y1() <= py && py <= s->y2()) << "sample " << i << " off its column's stroke";
            // The segment to the next sample is covered: the next sample's stroke reaches back
            // to this one.
            if (i + 1 <= int(last)) {
                const QLineF* next = strokeAt(x.ToPixel(i + 1));
                ASSERT_TRUE(next->y1() <= py && py <= next->y2()) << "gap after sample " << i;
            }
        }
    }
}

TEST(LogLine, SparseSamplesGiveTheExactSegmentsAndALoneSampleAPoint)
{
    Plot plot(50, 5);
    const ui::LinearMap x{40, 14}, y{300, -2};
    std::vector<QLineF> segments;
    ui::LineSegments(plot.column, x, y, 40 + 14 * 10.5, 40 + 14 * 20.5, false, &segments);
    // Samples 10 .. 21: the neighbours just outside are included, so the line reaches the edges.
    ASSERT_EQ(segments.size(), 11u);
    for (int s = 0; s < 11; ++s) {
        const int i = 10 + s;
        EXPECT_EQ(segments[size_t(s)], QLineF(x.ToPixel(i), y.ToPixel(plot.values[size_t(i)]), x.ToPixel(i + 1),
                                              y.ToPixel(plot.values[size_t(i + 1)])));
    }
    EXPECT_LE(ui::DistanceToSegments(segments[3].p1() + QPointF(0, 3), segments), 3);

    ui::SampleColumn one;
    one.Append(7);
    segments.clear();
    ui::LineSegments(one, x, y, 0, 750, false, &segments);
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].p1(), segments[0].p2());
    EXPECT_EQ(ui::DistanceToSegments(QPointF(40, 286 + 4), segments), 4);
    segments.clear();
    ui::LineSegments(ui::SampleColumn(), x, y, 0, 750, true, &segments);
    EXPECT_TRUE(segments.empty());
}

}  // namespace
