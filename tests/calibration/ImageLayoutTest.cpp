#include "calibration/ImageLayout.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using namespace calibration;

namespace {

Encoding EncodingOf(int map)
{
    const MapLayout* layout = MapByNumber(map);
    EXPECT_NE(layout, nullptr) << "map " << map;
    return layout ? layout->encoding : Encoding::Plain;
}

}  // namespace

TEST(ImageLayoutEncoding, ShownValuesAtTheEdges)
{
    for (int map : {3, 9, 13}) {
        EXPECT_EQ(ShownValue(EncodingOf(map), 0), -100) << "map " << map;
        EXPECT_EQ(ShownValue(EncodingOf(map), 255), 155) << "map " << map;
    }
    EXPECT_EQ(ShownValue(EncodingOf(6), 50), 100);
    EXPECT_EQ(ShownValue(EncodingOf(6), 255), 510);
    EXPECT_EQ(ShownValue(EncodingOf(1), 0), 0);
    EXPECT_EQ(ShownValue(EncodingOf(1), 255), 255);
}

TEST(ImageLayoutEncoding, EveryByteSurvivesTheRoundTripInEveryEncoding)
{
    for (Encoding e : {Encoding::Plain, Encoding::Offset, Encoding::Doubled})
        for (int b = 0; b <= 255; ++b)
            EXPECT_EQ(ShownToByte(e, std::to_string(ShownValue(e, uint8_t(b)))), b);
}

TEST(ImageLayoutEncoding, MapCellTextToByte)
{
    EXPECT_EQ(ShownToByte(EncodingOf(3), "-5"), 95);
    EXPECT_EQ(ShownToByte(EncodingOf(3), "-100"), 0);
    EXPECT_EQ(ShownToByte(EncodingOf(9), "155"), 255);
    EXPECT_EQ(ShownToByte(EncodingOf(6), "101"), 50);   // the remainder is dropped
    EXPECT_EQ(ShownToByte(EncodingOf(6), "100"), 50);
    EXPECT_EQ(ShownToByte(EncodingOf(6), "511"), 255);
    EXPECT_EQ(ShownToByte(EncodingOf(6), "0"), 0);
    EXPECT_EQ(ShownToByte(EncodingOf(1), "+7"), 7);
    EXPECT_EQ(ShownToByte(EncodingOf(1), " 15 "), 15);
}

// The low 8 bits of a number the tuner typed are never sent: 300 would have become 44 and
// -1 would have become 255.
TEST(ImageLayoutEncoding, NumbersThatDoNotFitTheMapByteAreRefused)
{
    EXPECT_EQ(ShownToByte(EncodingOf(1), "300"), std::nullopt);
    EXPECT_EQ(ShownToByte(EncodingOf(1), "256"), std::nullopt);
    EXPECT_EQ(ShownToByte(EncodingOf(1), "-1"), std::nullopt);
    EXPECT_EQ(ShownToByte(EncodingOf(3), "-101"), std::nullopt);
    EXPECT_EQ(ShownToByte(EncodingOf(3), "156"), std::nullopt);
    EXPECT_EQ(ShownToByte(EncodingOf(6), "512"), std::nullopt);
    EXPECT_EQ(ShownToByte(EncodingOf(6), "-1"), std::nullopt);   // -1 / 2 would truncate to 0
    EXPECT_EQ(ShownToByte(EncodingOf(1), "4294967340"), std::nullopt);   // 2^32 + 44
    EXPECT_EQ(ShownToByte(EncodingOf(1), "99999999999999999999999"), std::nullopt);
}

TEST(ImageLayoutEncoding, TextsThatAreNotWholeNumbersAreRefused)
{
    for (const char* text : {"12a", "", " ", "-", "+", "--5", "+-5", "1.5", "1,5", "0x1F", "$1F",
                             "1 2", "a12"})
        EXPECT_EQ(ShownToByte(Encoding::Plain, text), std::nullopt) << '"' << text << '"';
    EXPECT_EQ(ParseWholeNumber("2147483647"), 2147483647);
    EXPECT_EQ(ParseWholeNumber("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(ParseWholeNumber("2147483648"), std::nullopt);
}

TEST(ImageLayoutEncoding, SettingTextToByte)
{
    const Encoding trim = SettingByAddress(452)->encoding;
    EXPECT_EQ(SettingTextToByte(trim, "-9"), 91);
    EXPECT_EQ(SettingTextToByte(trim, "-100"), 0);
    EXPECT_EQ(SettingTextToByte(trim, "155"), 255);
    EXPECT_EQ(SettingTextToByte(trim, "-101"), std::nullopt);
    EXPECT_EQ(SettingTextToByte(trim, "156"), std::nullopt);
    // The spin range limits the arrows only: 200 is outside 0..35 but fits the byte.
    EXPECT_EQ(SettingTextToByte(SettingByAddress(434)->encoding, "200"), 200);
    EXPECT_EQ(SettingTextToByte(Encoding::Plain, "256"), std::nullopt);
    EXPECT_EQ(SettingTextToByte(Encoding::Plain, "-1"), std::nullopt);
    EXPECT_EQ(SettingTextToByte(Encoding::Plain, "abc"), std::nullopt);
}

// Written independently of the table: the address map of the image.
TEST(ImageLayoutMaps, SpansColumnsAndBreakpoints)
{
    struct Expected {
        int number, first, last, columns, firstBreakpoint, lastBreakpoint;
        Encoding encoding;
        int page;
    };
    const std::vector<Expected> expected = {
        {7, 20, 55, 36, 250, 9000, Encoding::Plain, PageIgnition},
        {8, 56, 71, 16, 0, 15, Encoding::Plain, PageIgnition},
        {9, 72, 87, 16, 40, 340, Encoding::Offset, PageIgnition},
        {3, 88, 103, 16, -30, 120, Encoding::Offset, PageTemp},
        {4, 104, 139, 36, 250, 9000, Encoding::Plain, PageFuel},
        {5, 140, 155, 16, 0, 15, Encoding::Plain, PageFuel},
        {6, 156, 171, 16, 40, 340, Encoding::Doubled, PageFuel},
        {2, 172, 187, 16, -30, 120, Encoding::Plain, PageTemp},
        {1, 188, 203, 16, -30, 120, Encoding::Plain, PageTemp},
        {11, 204, 219, 16, 1500, 9000, Encoding::Plain, PageBoost},
        {12, 220, 235, 16, 0, 15, Encoding::Plain, PageBoost},
        {13, 236, 251, 16, -30, 120, Encoding::Offset, PageTemp},
    };
    for (const Expected& e : expected) {
        const MapLayout* map = MapByNumber(e.number);
        ASSERT_NE(map, nullptr) << "map " << e.number;
        EXPECT_EQ(map->number, e.number);
        EXPECT_EQ(map->base, e.first) << "map " << e.number;
        EXPECT_EQ(map->base + map->columns - 1, e.last) << "map " << e.number;
        EXPECT_EQ(map->columns, e.columns) << "map " << e.number;
        EXPECT_EQ(Breakpoint(*map, 0), e.firstBreakpoint) << "map " << e.number;
        EXPECT_EQ(Breakpoint(*map, map->columns - 1), e.lastBreakpoint) << "map " << e.number;
        EXPECT_EQ(map->encoding, e.encoding) << "map " << e.number;
        EXPECT_EQ(map->page, e.page) << "map " << e.number;
        EXPECT_EQ(std::string(map->grid), "StringGrid" + std::to_string(e.number));
        EXPECT_EQ(std::string(map->chart), "Chart" + std::to_string(e.number));
    }
    EXPECT_EQ(MapByNumber(10), nullptr);
    EXPECT_EQ(MapByNumber(0), nullptr);
    EXPECT_EQ(MapByNumber(14), nullptr);
    EXPECT_EQ(MapByNumber(-1), nullptr);
}

TEST(ImageLayoutMaps, ChartAxes)
{
    // The degree mark is U+00BA in UTF-8, the same character as in the trim group's caption.
    EXPECT_STREQ(MapByNumber(8)->valueAxis.format, "+#,##0.###\u00BA");
    EXPECT_STREQ(SettingByAddress(452)->group, "Ignition Trim \u00BA");

    for (const MapLayout& map : Maps) {
        const bool hasRight = map.number == 3 || map.number == 13;
        ASSERT_EQ(map.rightAxis.has_value(), hasRight) << "map " << map.number;
        if (hasRight) {
            EXPECT_TRUE(map.rightAxis->fixed);
            EXPECT_EQ(map.rightAxis->min, -10);
            EXPECT_EQ(map.rightAxis->max, 10);
        }
        if (map.valueAxis.fixed) {
            EXPECT_LT(map.valueAxis.min, map.valueAxis.max) << "map " << map.number;
        }
        // A fixed x axis must show every breakpoint of the map.
        if (map.xAxis.fixed) {
            EXPECT_EQ(map.xAxis.min, Breakpoint(map, 0)) << "map " << map.number;
            EXPECT_EQ(map.xAxis.max, Breakpoint(map, map.columns - 1)) << "map " << map.number;
        }
    }
}

TEST(ImageLayoutMaps, StartupTexts)
{
    const auto rows = [](int number, int column) {
        const MapLayout& map = *MapByNumber(number);
        return StartupText(map, 0, column) + "/" + StartupText(map, 1, column);
    };
    for (int map : {1, 2, 3, 13}) {
        EXPECT_EQ(rows(map, 0), "-30/-30");
        EXPECT_EQ(rows(map, 15), "120/120");
    }
    for (int map : {5, 8, 12}) EXPECT_EQ(rows(map, 7), "7/7");
    EXPECT_EQ(rows(6, 0), "40/100");
    EXPECT_EQ(rows(6, 15), "340/100");
    EXPECT_EQ(rows(9, 0), "40/0");
    EXPECT_EQ(rows(9, 15), "340/0");
    EXPECT_EQ(rows(11, 0), "1500/1500");
    EXPECT_EQ(rows(11, 15), "9000/9000");
    for (int map : {4, 7}) {
        EXPECT_EQ(rows(map, 0), "250/250");
        EXPECT_EQ(rows(map, 35), "9000/9000");
    }
}

TEST(ImageLayoutMaps, DecodeOrderNamesEveryMapOnceAndTheTableIsInNumberOrder)
{
    std::multiset<int> named(NarrowMapDecodeOrder.begin(), NarrowMapDecodeOrder.end());
    named.insert(WideMapDecodeOrder.begin(), WideMapDecodeOrder.end());
    std::multiset<int> all;
    int previous = 0;
    for (const MapLayout& map : Maps) {
        all.insert(map.number);
        EXPECT_GT(map.number, previous);   // the charts are cleared in this order
        previous = map.number;
    }
    EXPECT_EQ(named, all);
    for (int n : NarrowMapDecodeOrder) EXPECT_EQ(MapByNumber(n)->columns, 16);
    for (int n : WideMapDecodeOrder) EXPECT_EQ(MapByNumber(n)->columns, 36);
}

// The maps and settings must never share a byte, and the bytes the program does not show
// must be claimed by nobody: they travel unchanged through reads, files and uploads.
TEST(ImageLayoutTables, AddressesAreDisjointAndLeaveTheUnshownBytesAlone)
{
    std::vector<int> owners(ImageSize, 0);
    for (const MapLayout& map : Maps)
        for (int k = 0; k < map.columns; ++k) {
            const int address = map.base + k;
            ASSERT_GE(address, 0);
            ASSERT_LT(address, ImageSize);
            ++owners[std::size_t(address)];
        }
    for (const SettingLayout& setting : Settings) {
        ASSERT_GE(setting.address, 0);
        ASSERT_LT(setting.address, ImageSize);
        ++owners[std::size_t(setting.address)];
    }
    for (int a = 0; a < ImageSize; ++a) {
        const bool unshown = a <= 19 || (a >= 252 && a <= 430) || a >= 456;
        EXPECT_EQ(owners[std::size_t(a)], unshown ? 0 : 1) << "address " << a;
    }
}

TEST(ImageLayoutSettings, TableAndLookup)
{
    for (int i = 0; i < SettingCount; ++i) {
        const SettingLayout& s = Settings[std::size_t(i)];
        EXPECT_EQ(s.address, FirstSettingAddress + i);
        EXPECT_EQ(SettingByAddress(s.address), &s);
        const bool offset = s.address == 432 || s.address == 433 || s.address == 452;
        EXPECT_EQ(s.encoding, offset ? Encoding::Offset : Encoding::Plain) << s.address;
        // The spin range must hold the start value, and a step must reach both ends.
        EXPECT_LE(s.spinMin, s.startValue) << s.edit;
        EXPECT_GE(s.spinMax, s.startValue) << s.edit;
        EXPECT_NE(s.spinStep, 0) << s.edit;
        EXPECT_EQ((s.spinMax - s.spinMin) % s.spinStep, 0) << s.edit;
        // Every spin position must be a storable byte.
        EXPECT_TRUE(SettingTextToByte(s.encoding, std::to_string(s.spinMin))) << s.edit;
        EXPECT_TRUE(SettingTextToByte(s.encoding, std::to_string(s.spinMax))) << s.edit;
        EXPECT_NE(AccessibleName(s), nullptr) << s.edit;
        EXPECT_EQ(s.readOnly, s.address == LockAddress) << s.edit;
        EXPECT_EQ(s.spinTag, s.address == LockAddress ? LockSpinTag : 0) << s.edit;
    }
    EXPECT_EQ(SettingByAddress(430), nullptr);
    EXPECT_EQ(SettingByAddress(456), nullptr);
    EXPECT_EQ(SettingByAddress(-1), nullptr);

    // The lock's spin control offers exactly 0 and 20.
    const SettingLayout& lock = *SettingByAddress(LockAddress);
    EXPECT_EQ((lock.spinMax - lock.spinMin) / lock.spinStep, 1);
}

TEST(ImageLayoutSettings, TheTwoTpsGroupsAreToldApart)
{
    std::set<std::string> upper, lower;
    for (const SettingLayout& s : Settings) {
        if (s.group == nullptr || std::string(s.group) != "TPS") continue;
        (std::string(s.groupBox) == "GroupBoxTpsUpper" ? upper : lower).insert(s.edit);
    }
    EXPECT_EQ(upper, (std::set<std::string>{"txtTPSZero", "txtTPSMax"}));
    EXPECT_EQ(lower.size(), 8u);
}

TEST(ImageLayoutSettings, DecodeOrderSetsEverySpinOnceWithPrimingLast)
{
    std::set<int> named(SettingDecodeOrder.begin(), SettingDecodeOrder.end());
    EXPECT_EQ(named.size(), SettingDecodeOrder.size());
    EXPECT_EQ(named.count(PrimingAddress), 0u);
    named.insert(PrimingAddress);
    std::set<int> all;
    for (const SettingLayout& s : Settings) all.insert(s.address);
    EXPECT_EQ(named, all);
    EXPECT_EQ(SettingDecodeOrder.back(), LockAddress);   // the lock check follows it
}
