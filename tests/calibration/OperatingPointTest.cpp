// Scaling by a percentage and the operating point's place on a map: the arithmetic the window
// trusts, at the edges where a wrong rounding or a wrong column would mislead a tuner.
#include <gtest/gtest.h>

#include "calibration/MapScaling.h"
#include "calibration/OperatingPoint.h"

namespace {

using namespace calibration;

ColumnText Texts(std::vector<std::string> texts)
{
    return [texts](int column) { return texts.at(std::size_t(column)); };
}

TEST(MapScaling, RoundsToWhatEachCellHoldsAndRefusesTheWholeSelectionAtTheEdge)
{
    const MapLayout& plain = *MapByNumber(4);
    const MapLayout& offset = *MapByNumber(9);
    const MapLayout& doubled = *MapByNumber(6);

    // Halves away from zero, in the map's own unit.
    auto cells = ScaleColumns(plain, {0, 1, 2}, Texts({"44", "45", "0"}), 1000);
    ASSERT_TRUE(cells);
    EXPECT_EQ((*cells)[0].byte, 48);   // 48.4
    EXPECT_EQ((*cells)[1].byte, 50);   // 49.5
    EXPECT_EQ((*cells)[2].byte, 0);
    cells = ScaleColumns(offset, {0, 1}, Texts({"-15", "-5"}), 1000);   // -16.5, -5.5
    ASSERT_TRUE(cells);
    EXPECT_EQ((*cells)[0].byte, 100 - 17);
    EXPECT_EQ((*cells)[1].byte, 100 - 6);
    // The doubled map holds even values: 102 × 1.05 = 107.1 -> 108 (byte 54); 101 typed is 100.
    cells = ScaleColumns(doubled, {0, 1}, Texts({"102", "101"}), 500);
    ASSERT_TRUE(cells);
    EXPECT_EQ((*cells)[0].byte, 54);
    EXPECT_EQ((*cells)[1].byte, 53);   // 100 × 1.05 = 105 -> 106 (halves away)
    cells = ScaleColumns(plain, {0}, Texts({"200"}), -250);   // 195
    ASSERT_TRUE(cells);
    EXPECT_EQ((*cells)[0].byte, 195);

    // One cell beyond the byte, or one not a number, refuses every cell.
    EXPECT_FALSE(ScaleColumns(plain, {0, 1}, Texts({"10", "250"}), 1000));
    EXPECT_FALSE(ScaleColumns(offset, {0}, Texts({"-95"}), 1000));   // -104.5
    EXPECT_FALSE(ScaleColumns(plain, {0, 1}, Texts({"10", "x"}), 1000));
    EXPECT_FALSE(ScaleColumns(plain, {36}, Texts({}), 1000));

    EXPECT_EQ(ParsePercent("10"), 1000);
    EXPECT_EQ(ParsePercent(" -2,5 % "), -250);
    EXPECT_EQ(ParsePercent("+0.25"), 25);
    EXPECT_FALSE(ParsePercent("-100"));
    EXPECT_FALSE(ParsePercent("1.234"));
    EXPECT_FALSE(ParsePercent("ten"));
    EXPECT_FALSE(ParsePercent(""));
}

TEST(OperatingPoint, EachMapReadsItsChannelAndTheSpotStaysOnTheMap)
{
    EXPECT_EQ(AxisChannelOf(*MapByNumber(11)), AxisChannel::EngineSpeed);
    EXPECT_EQ(AxisChannelOf(*MapByNumber(9)), AxisChannel::ManifoldPressure);
    EXPECT_EQ(AxisChannelOf(*MapByNumber(12)), AxisChannel::ThrottleSite);
    EXPECT_EQ(AxisChannelOf(*MapByNumber(3)), AxisChannel::WaterTemperature);
    EXPECT_EQ(AxisChannelOf(*MapByNumber(13)), AxisChannel::AirTemperature);

    const MapLayout& rpm = *MapByNumber(4);   // 250 .. 9000, step 250
    AxisSpot spot = SpotOnAxis(rpm, 3125);
    EXPECT_DOUBLE_EQ(spot.position, 11.5);
    EXPECT_EQ(spot.column, 12);
    EXPECT_EQ(SpotText(rpm, spot), "engine at 3125 rpm, between columns 12 and 13");
    spot = SpotOnAxis(rpm, 9500);
    EXPECT_DOUBLE_EQ(spot.position, 35);
    EXPECT_DOUBLE_EQ(spot.axisValue, 9000);
    EXPECT_EQ(SpotText(rpm, spot), "engine at 9500 rpm, beyond column 36");
    spot = SpotOnAxis(*MapByNumber(13), -35);
    EXPECT_EQ(spot.column, 0);
    EXPECT_EQ(SpotText(*MapByNumber(13), spot), "air at -35 \u00b0C, below column 1");

    // Throttle: the reported sixteenths are the sites; full throttle stands on the last one.
    EXPECT_DOUBLE_EQ(ThrottleSite(120), 7.5);
    EXPECT_EQ(SpotOnAxis(*MapByNumber(5), ThrottleSite(255)).column, 15);
}

}  // namespace
