// The log chart's line: drawn per pixel column, it must pass through every sample, and where
// samples stand apart it must be the exact segments between them.
#include "ui/LogLine.h"
#include "ui/LogAxes.h"
#include "base/SampleColumn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
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

// The time axis' ticks: round steps at every zoom, texts that say which unit they are in.
TEST(LogTimeAxis, StepsAndTextsFromMillisecondsToHours)
{
    EXPECT_EQ(ui::TimeTickStep(0.009, 8), 0.002);
    EXPECT_EQ(ui::TimeTickStep(0.86, 7), 0.2);
    EXPECT_EQ(ui::TimeTickStep(50, 7), 10);
    EXPECT_EQ(ui::TimeTickStep(400, 7), 60);
    EXPECT_EQ(ui::TimeTickStep(5 * 3600, 7), 3600);
    EXPECT_EQ(ui::TimeTickStep(1e6, 7), 172800);

    EXPECT_EQ(ui::TimeTickLabel(0.004, 0.002, 0.009, '.'), "0.004 s");
    EXPECT_EQ(ui::TimeTickLabel(12.5, 0.5, 20, ','), "12,5 s");
    EXPECT_EQ(ui::TimeTickLabel(40, 10, 55, '.'), "40 s");
    EXPECT_EQ(ui::TimeTickLabel(150, 30, 400, '.'), "2:30");
    EXPECT_EQ(ui::TimeTickLabel(59.9999, 0.1, 400, '.'), "1:00.0") << "never 0:60";
    EXPECT_EQ(ui::TimeTickLabel(3750, 30, 7200, '.'), "1:02:30");
    EXPECT_EQ(ui::TimeTickLabel(36000, 3600, 90000, '.'), "10:00:00");

    // Samples taken irregularly: a time maps to the share of the way between its two samples,
    // and back; beyond the log the nominal cycle carries on.
    const std::vector<double> at = {0, 0.1, 0.2, 1.4, 1.5};
    const ui::SampleClock clock{[&](int i) { return at[size_t(i)]; }, [] { return 5; }};
    EXPECT_DOUBLE_EQ(clock.IndexAt(0.8), 2.5);
    EXPECT_DOUBLE_EQ(clock.SecondsAt(2.5), 0.8);
    EXPECT_DOUBLE_EQ(clock.IndexAt(1.5), 4);
    EXPECT_NEAR(clock.IndexAt(1.716), 6, 1e-9);
    EXPECT_NEAR(clock.SecondsAt(-1), -0.108, 1e-12);
}

// A lane's value labels: round values, none over the plot's edges, none on another, and a thin
// lane still gets the roundest value its room holds.
TEST(LogValueAxis, LabelsStayInsideThePlotApartAndAThinPlotKeepsItsRoundestValue)
{
    using V = std::vector<double>;
    // 300 pixels for 0..100, labels 10 high: a comfortable 40 pixels apart (a step of 20, not
    // 10), and not at the ends, where the labels would hang out by half.
    EXPECT_EQ(ui::LabelledTicks(QCPRange(0, 100), 300, 10), (V{20, 40, 60, 80}));
    EXPECT_EQ(ui::LabelledTicks(QCPRange(-3, 103), 300, 10), (V{0, 20, 40, 60, 80, 100}));
    // In the shown unit's decimals: lambda 0.85 to 1.15 over 100 pixels.
    const V lambda = ui::LabelledTicks(QCPRange(0.85, 1.15), 100, 10);
    ASSERT_EQ(lambda.size(), 3u);
    EXPECT_NEAR(lambda[0], 0.9, 1e-12);
    EXPECT_EQ(lambda[1], 1);
    EXPECT_NEAR(lambda[2], 1.1, 1e-12);
    // 60 pixels hold two labels only closer together than is comfortable: 15 pixels apart.
    EXPECT_EQ(ui::LabelledTicks(QCPRange(0, 100), 60, 10), (V{25, 50, 75}));
    // 44 pixels hold one: 40 and 60 would be 9 pixels apart, labels on each other.
    EXPECT_EQ(ui::LabelledTicks(QCPRange(0, 100), 44, 11), (V{50}));
    // A 24-pixel lane: one label, the roundest value in the middle.
    EXPECT_EQ(ui::LabelledTicks(QCPRange(1, 19), 24, 11), (V{10}));
    EXPECT_EQ(ui::LabelledTicks(QCPRange(-9, 11), 24, 11), (V{0}));
    EXPECT_EQ(ui::LabelledTicks(QCPRange(0.93, 1.07), 20, 11), (V{1}));
    EXPECT_EQ(ui::LabelledTicks(QCPRange(7310, 7390), 24, 11), (V{7350}));
    // Too thin for a whole label: none rather than one cut.
    EXPECT_EQ(ui::LabelledTicks(QCPRange(0, 100), 12, 11), V{});
    EXPECT_EQ(ui::LabelledTicks(QCPRange(50, 50), 100, 11), V{});
    // Values so large that a step drowns in their rounding: an answer, not a spin.
    const V huge = ui::LabelledTicks(QCPRange(1e17, 1e17 + 64), 600, 12);
    EXPECT_FALSE(huge.empty());
    EXPECT_TRUE(std::adjacent_find(huge.begin(), huge.end(), std::greater_equal<>()) == huge.end()) << "ascending";
    // Wherever the range lies, every label inside, apart, round, never on each other.
    for (double lower : {-1234.5, -0.07, 0.0, 3.3, 99.0, 12000.0})
        for (double span : {0.01, 0.5, 7.0, 130.0, 9000.0})
            for (int pixels : {18, 24, 44, 61, 150, 600}) {
                const QCPRange range(lower, lower + span);
                const V ticks = ui::LabelledTicks(range, pixels, 12);
                EXPECT_FALSE(ticks.empty()) << lower << " " << span << " " << pixels;
                for (size_t i = 0; i < ticks.size(); ++i) {
                    const double y = (ticks[i] - lower) / span * pixels;   // from the bottom
                    EXPECT_GE(y, 6 + 1) << lower << " " << span << " " << pixels;
                    EXPECT_LE(y, pixels - 6 - 1) << lower << " " << span << " " << pixels;
                    if (i > 0) {
                        EXPECT_GE((ticks[i] - ticks[i - 1]) / span * pixels, 12 + 2 - 1e-9);
                    }
                }
            }
}
