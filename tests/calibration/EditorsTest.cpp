// The map cell, setting and throttle editors' decisions, without a window.
#include <gtest/gtest.h>

#include "calibration/MapTables.h"
#include "calibration/SettingEditors.h"
#include "calibration/ThrottleCalibration.h"

using namespace calibration;

TEST(MapCellEditing, ConfirmedCellsAndTheirAddresses)
{
    const MapLayout& temp = *MapByNumber(3);
    const auto write = ConfirmCell(temp, 4, "-5");
    ASSERT_TRUE(write);
    EXPECT_EQ(write->address, 92);
    EXPECT_EQ(write->data, 95);
    EXPECT_EQ(ConfirmCell(*MapByNumber(7), 35, "34")->address, 55);
    EXPECT_EQ(ConfirmCell(*MapByNumber(13), 15, "155")->address, 251);
    // A column outside the map (no current cell) sends nothing.
    EXPECT_FALSE(ConfirmCell(temp, -1, "5"));
    EXPECT_FALSE(ConfirmCell(temp, 16, "5"));
}

TEST(MapCellEditing, CursorMovesRightAndWrapsToColumnOne)
{
    const MapLayout& narrow = *MapByNumber(1);
    const MapLayout& wide = *MapByNumber(4);
    EXPECT_EQ(NextColumn(narrow, 0), 1);
    EXPECT_EQ(NextColumn(narrow, 14), 15);
    EXPECT_EQ(NextColumn(narrow, 15), 1);
    EXPECT_EQ(NextColumn(wide, 15), 16);
    EXPECT_EQ(NextColumn(wide, 35), 1);
}

TEST(MapCellEditing, ChartPointsStopAtTheFirstCellThatIsNotANumber)
{
    std::vector<std::string> row0 = {"-30", "-20", "-10", "0"};
    std::vector<std::string> row1 = {"5", "-7", "x", "9"};
    const auto cell = [&](int col, int row) { return (row == 0 ? row0 : row1)[std::size_t(col)]; };
    ChartPoints drawn = PointsFromCells(4, cell);
    EXPECT_FALSE(drawn.complete);
    EXPECT_EQ(drawn.points, (std::vector<std::pair<int, int>>{{-30, 5}, {-20, -7}}));

    row1[2] = "300";   // the chart draws what the grid holds, fitting a byte or not
    drawn = PointsFromCells(4, cell);
    EXPECT_TRUE(drawn.complete);
    EXPECT_EQ(drawn.points.size(), 4u);
    EXPECT_EQ(drawn.points[2], std::make_pair(-10, 300));
}

TEST(SettingEditing, NothingAtAllWhileAReadOrUploadRuns)
{
    for (const char* text : {"5", "abc", "999"}) {
        EXPECT_EQ(LeaveSetting(true, false, 442, text).action, SettingLeave::Nothing) << text;
        EXPECT_EQ(LeaveSetting(false, true, 442, text).action, SettingLeave::Nothing) << text;
    }
}

TEST(SettingEditing, TheAddressTellsTheOffsetSettings)
{
    for (int address : {432, 433, 452}) EXPECT_EQ(LeaveSetting(false, false, address, "-9").data, 91) << address;
    for (int address : {431, 442, 454, 455}) EXPECT_EQ(LeaveSetting(false, false, address, "9").data, 9) << address;
    EXPECT_EQ(LeaveSetting(false, false, 454, "7").action, SettingLeave::Send);   // the lock sends what it shows
}

TEST(SettingEditing, DecodedValuesAndTheLockCheck)
{
    EepromImage image{};
    image[452] = 91;
    image[433] = 70;
    image[442] = 255;
    EXPECT_EQ(SettingShownValue(*SettingByAddress(452), image), -9);
    EXPECT_EQ(SettingShownValue(*SettingByAddress(433), image), -30);
    EXPECT_EQ(SettingShownValue(*SettingByAddress(442), image), 255);
    EXPECT_TRUE(LockByteValid(0));
    EXPECT_TRUE(LockByteValid(20));
    EXPECT_FALSE(LockByteValid(7));
    EXPECT_FALSE(LockByteValid(255));
}

TEST(ThrottleTeaching, ReadingsAndPrompts)
{
    EXPECT_EQ(ReadThrottle("23").outcome, ThrottleReading::Store);
    EXPECT_EQ(ReadThrottle("23").byte, 23);
    EXPECT_EQ(ReadThrottle("0").byte, 0);
    EXPECT_EQ(ReadThrottle("255").byte, 255);
    // Above 255 the low 8 bits would be an end point the sensor never gave.
    EXPECT_EQ(ReadThrottle("300").outcome, ThrottleReading::Refuse);
    EXPECT_EQ(ReadThrottle("256").outcome, ThrottleReading::Refuse);
    EXPECT_EQ(ReadThrottle("-1").outcome, ThrottleReading::Refuse);
    EXPECT_EQ(ReadThrottle("").outcome, ThrottleReading::Ignore);
    EXPECT_EQ(ReadThrottle("2,5").outcome, ThrottleReading::Ignore);

    EXPECT_STREQ(ThrottleClosed.prompt, "Release throttle!\n Then press OK");
    EXPECT_STREQ(ThrottleOpen.prompt, "Push throttle to maximum!\n Then press OK");
    EXPECT_EQ(ThrottleClosed.address, 450);
    EXPECT_EQ(ThrottleOpen.address, 451);
}
