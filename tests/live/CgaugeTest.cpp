// TCGauge: the percentage and range rules, when it repaints, and the pixels it composes.
#include <gtest/gtest.h>

#include <QTest>

#include <functional>
#include <limits>
#include <set>

#include "live/Cgauges.h"

namespace {

const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kLime = qRgb(0, 255, 0);
const QRgb kMagenta = qRgb(255, 0, 255);
const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kRed = qRgb(255, 0, 0);

// Pixels of `image` for which `where` holds that are not `color`.
int CountOther(const QImage& image, QRgb color, const std::function<bool(int, int)>& where)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (where(x, y) && image.pixel(x, y) != color) ++n;
    return n;
}

bool OnFrame(const QImage& image, int x, int y)
{
    return x == 0 || y == 0 || x == image.width() - 1 || y == image.height() - 1;
}

std::string RangeErrorText(const std::function<void()>& call)
{
    try {
        call();
    } catch (const EGaugeRangeError& e) {
        return e.what();
    }
    return "(no exception)";
}

// The exhaust gauge of the window: a blue bar rising on a white face, 49 x 57 with a frame.
void MakeExhaustGauge(TCGauge& g)
{
    g.resize(49, 57);
    g.SetKind(gkVerticalBar);
    g.SetShowText(false);
    g.SetForeColor(Qt::blue);
    g.SetBackColor(Qt::white);
    g.SetMaxValue(150);
    g.SetMinValue(100);
}

TEST(CGauge, PercentageIsRoundedDown)
{
    EXPECT_EQ(GaugePercent(0, 3, 1), 33);
    EXPECT_EQ(GaugePercent(0, 3, 2), 66);   // not 67
    EXPECT_EQ(GaugePercent(100, 150, 125), 50);
    EXPECT_EQ(GaugePercent(7, 7, 7), 0);
    // Ranges wider than 32 bits hold are still right.
    EXPECT_EQ(GaugePercent(-2147483647, 2147483647, 0), 50);
    EXPECT_EQ(GaugePercent(std::numeric_limits<int32_t>::min(), 2147483647, 2147483647), 100);

    TCGauge g;
    g.SetMaxValue(3);
    g.SetProgress(2);
    EXPECT_EQ(g.GetPercentDone(), 66);
    g.SetMinValue(3);   // equal limits are accepted and show 0 %
    EXPECT_EQ(g.Progress(), 3);
    EXPECT_EQ(g.GetPercentDone(), 0);
}

TEST(CGauge, ProgressIsClampedIntoTheRange)
{
    TCGauge g;
    g.SetMaxValue(150);
    g.SetMinValue(100);
    EXPECT_EQ(g.Progress(), 100);   // raised with the minimum
    g.SetProgress(99);
    EXPECT_EQ(g.Progress(), 100);
    g.SetProgress(151);
    EXPECT_EQ(g.Progress(), 150);
    g.SetMaxValue(120);
    EXPECT_EQ(g.Progress(), 120);   // lowered with the maximum
    g.AddProgress(std::numeric_limits<int32_t>::max());   // must not wrap around
    EXPECT_EQ(g.Progress(), 120);
    g.AddProgress(-5);
    EXPECT_EQ(g.Progress(), 115);
}

TEST(CGauge, InvertingTheRangeThrowsAndChangesNothing)
{
    TCGauge g;
    g.SetMaxValue(150);
    g.SetProgress(60);
    EXPECT_EQ(RangeErrorText([&] { g.SetMinValue(151); }),
              "Value must be between -2147483647 and 149");
    EXPECT_EQ(g.MinValue(), 0);
    EXPECT_EQ(g.Progress(), 60);

    g.SetMinValue(100);
    EXPECT_EQ(RangeErrorText([&] { g.SetMaxValue(99); }),
              "Value must be between 101 and 2147483647");
    EXPECT_EQ(g.MaxValue(), 150);
    EXPECT_EQ(g.Progress(), 100);
}

TEST(CGauge, MaxValueZeroIsIgnored)
{
    TCGauge g;
    g.SetMinValue(-10);
    g.SetMaxValue(0);
    EXPECT_EQ(g.MaxValue(), 100);

    // Not even checked against a positive minimum.
    g.SetMinValue(5);
    EXPECT_NO_THROW(g.SetMaxValue(0));
    EXPECT_EQ(g.MaxValue(), 100);
    EXPECT_EQ(g.MinValue(), 5);
}

TEST(CGauge, RepaintsOnlyWhenTheWholePercentageChanges)
{
    TCGauge g;
    g.SetMaxValue(1000);
    g.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&g));
    QTest::qWait(20);
    const int start = g.PaintCount();

    g.SetProgress(500);   // 50 %: painted before the setter returns
    EXPECT_EQ(g.PaintCount(), start + 1);
    g.SetProgress(509);   // still 50 %
    EXPECT_EQ(g.Progress(), 509);
    EXPECT_EQ(g.PaintCount(), start + 1);
    g.SetProgress(509);
    EXPECT_EQ(g.PaintCount(), start + 1);
    g.AddProgress(0);   // always repaints
    EXPECT_EQ(g.PaintCount(), start + 2);
    g.SetForeColor(Qt::black);   // the value it already has
    EXPECT_EQ(g.PaintCount(), start + 2);
    g.SetForeColor(Qt::red);
    EXPECT_EQ(g.PaintCount(), start + 3);

    // What reaches the screen is the composed picture.
    EXPECT_EQ(g.grab().toImage().convertToFormat(QImage::Format_RGB32), g.RenderImage());
}

TEST(CGauge, VerticalBarFillsThePaintRectangleExactly)
{
    TCGauge g;
    MakeExhaustGauge(g);
    const auto inR = [](int x, int y) { return x >= 1 && x <= 47 && y >= 1 && y <= 55; };

    g.SetProgress(150);   // 100 %: F = 56 becomes 55, the bar covers the whole of R
    QImage image = g.RenderImage();
    ASSERT_EQ(image.size(), QSize(49, 57));
    EXPECT_EQ(CountOther(image, kBlue, inR), 0);
    EXPECT_EQ(CountOther(image, kBlack, [&](int x, int y) { return OnFrame(image, x, y); }), 0);

    g.SetProgress(100);   // 0 %: only the white face inside the black frame
    image = g.RenderImage();
    EXPECT_EQ(CountOther(image, kWhite, inR), 0);
    EXPECT_EQ(CountOther(image, kBlack, [&](int x, int y) { return OnFrame(image, x, y); }), 0);

    g.SetProgress(125);   // 50 %: F = 28, blue from row 56 - 28 = 28 down
    image = g.RenderImage();
    EXPECT_EQ(CountOther(image, kWhite, [&](int x, int y) { return inR(x, y) && y < 28; }), 0);
    EXPECT_EQ(CountOther(image, kBlue, [&](int x, int y) { return inR(x, y) && y >= 28; }), 0);
}

TEST(CGauge, HorizontalBarEndsWhereItsFormulaSays)
{
    TCGauge g;
    g.resize(177, 36);   // R = (1, 1)-(176, 35), W = 176
    g.SetShowText(false);
    g.SetForeColor(Qt::red);
    const auto inR = [](int x, int y) { return x >= 1 && x <= 175 && y >= 1 && y <= 34; };

    QImage image = g.RenderImage();   // 0 %: no bar at all
    EXPECT_EQ(CountOther(image, kWhite, inR), 0);

    g.SetProgress(100);   // ends at x = W, the excluded right edge of R
    image = g.RenderImage();
    EXPECT_EQ(CountOther(image, kRed, inR), 0);
    EXPECT_EQ(CountOther(image, kBlack, [&](int x, int y) { return OnFrame(image, x, y); }), 0);

    g.SetProgress(29);   // F = 29 * 176 / 100 = 51 exactly, no floating-point loss
    image = g.RenderImage();
    EXPECT_EQ(CountOther(image, kRed, [&](int x, int y) { return inR(x, y) && x < 51; }), 0);
    EXPECT_EQ(CountOther(image, kWhite, [&](int x, int y) { return inR(x, y) && x >= 51; }), 0);

    // Without a frame the bar paints to the edges.
    g.SetBorderStyle(bsNone);
    g.SetProgress(100);
    image = g.RenderImage();
    EXPECT_EQ(CountOther(image, kRed, [](int, int) { return true; }), 0);
}

TEST(CGauge, TextInvertsWhatLiesBeneathIt)
{
    // The duty gauge: a lime bar on black with the percentage over it.
    TCGauge g;
    g.resize(177, 36);
    g.SetForeColor(Qt::green);
    g.SetBackColor(Qt::black);
    QFont font = g.Font();
    font.setPixelSize(11);
    g.SetFont(font);
    g.SetProgress(50);   // the bar ends at x = 88, under the middle of "50%"

    const QImage image = g.RenderImage();
    int white = 0, magenta = 0;
    std::set<QRgb> others;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (p == kWhite) {
                ++white;
                EXPECT_GE(x, 88) << "white over the bar at " << x << "," << y;
            } else if (p == kMagenta) {
                ++magenta;
                EXPECT_LT(x, 88) << "magenta off the bar at " << x << "," << y;
            } else if (p != kBlack && p != kLime) {
                others.insert(p);
            }
        }
    EXPECT_GT(white, 0);
    EXPECT_GT(magenta, 0);
    EXPECT_TRUE(others.empty()) << others.size() << " stray colours";

    g.SetShowText(false);
    EXPECT_EQ(CountOther(g.RenderImage(), kLime, [](int x, int y) {
                  return x >= 1 && x < 88 && y >= 1 && y <= 34;
              }),
              0);
}

TEST(CGauge, PieGrowsClockwiseFromTwelveAndNeedleSwingsLeftToRight)
{
    TCGauge g;   // 100 x 100, R = (1, 1)-(99, 99)
    g.SetShowText(false);
    g.SetForeColor(Qt::blue);
    g.SetColor(Qt::red);
    g.SetKind(gkPie);

    QImage image = g.RenderImage();   // 0 %: only the face
    EXPECT_EQ(image.pixel(50, 50), kWhite);
    EXPECT_EQ(image.pixel(2, 2), kRed);   // the corner around the face
    EXPECT_EQ(image.pixel(0, 0), kBlack);

    g.SetProgress(25);   // a quarter from 12 to 3 o'clock
    image = g.RenderImage();
    EXPECT_EQ(image.pixel(70, 30), kBlue);
    EXPECT_EQ(image.pixel(30, 30), kWhite);
    EXPECT_EQ(image.pixel(70, 70), kWhite);

    g.SetProgress(100);   // the whole face
    image = g.RenderImage();
    for (const QPoint p : {QPoint(50, 10), QPoint(51, 10), QPoint(30, 30), QPoint(70, 70)})
        EXPECT_EQ(image.pixel(p), kBlue) << p.x() << "," << p.y();

    g.SetKind(gkNeedle);
    g.SetProgress(0);   // only the dial and its base line
    image = g.RenderImage();
    EXPECT_EQ(image.pixel(50, 60), kWhite);
    EXPECT_EQ(image.pixel(60, 97), kWhite);
    EXPECT_EQ(image.pixel(3, 3), kRed);   // beside the half ellipse
    EXPECT_EQ(image.pixel(50, 99), kBlue);   // the base line, on the frame's row

    // Whether the needle is blue somewhere in a few pixels around (x, y).
    const auto needleNear = [&](int x, int y, bool across) {
        for (int d = -1; d <= 1; ++d)
            if (image.pixel(across ? x + d : x, across ? y : y + d) == kBlue) return true;
        return false;
    };
    g.SetProgress(50);   // straight up
    image = g.RenderImage();
    EXPECT_TRUE(needleNear(50, 30, true));
    EXPECT_FALSE(needleNear(75, 60, false));
    g.SetProgress(100);   // flat to the right
    image = g.RenderImage();
    EXPECT_FALSE(needleNear(50, 30, true));
    EXPECT_EQ(image.pixel(60, 97), kBlue);
    EXPECT_EQ(image.pixel(40, 97), kWhite);
}

}   // namespace
