// The log chart's line: drawn per pixel column, it must pass through every sample, and where
// samples stand apart it must be the exact segments between them.
#include "ui/LogLine.h"
#include "base/SampleColumn.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

struct Plot {
    base::SampleColumn column;
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

    base::SampleColumn one;
    one.Append(7);
    segments.clear();
    ui::LineSegments(one, x, y, 0, 750, false, &segments);
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].p1(), segments[0].p2());
    EXPECT_EQ(ui::DistanceToSegments(QPointF(40, 286 + 4), segments), 4);
    segments.clear();
    ui::LineSegments(base::SampleColumn(), x, y, 0, 750, true, &segments);
    EXPECT_TRUE(segments.empty());
}

}  // namespace
