#include "live/LambdaDisplay.h"
#include "live/LiveDecode.h"
#include "base/NumberFormat.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using live::BoxWrite;
using live::DecodeLive;

class LiveDecodeTest : public ::testing::Test {
protected:
    void SetUp() override { base::SetDisplayLocale(QLocale::c()); }
    void TearDown() override { base::ResetDisplayLocale(); }

    // The writes as "box=text" in their order, easy to compare whole.
    static std::vector<std::string> Writes(char letter, uint16_t a, uint8_t d)
    {
        std::vector<std::string> out;
        for (const BoxWrite& w : DecodeLive(letter, a, d))
            out.push_back(std::string(w.box) + "=" + w.text.toStdString());
        return out;
    }
    static QString Text(char letter, uint16_t a, uint8_t d, const char* box)
    {
        for (const BoxWrite& w : DecodeLive(letter, a, d))
            if (std::strcmp(w.box, box) == 0) return w.text;
        ADD_FAILURE() << "no write to " << box;
        return {};
    }
};

using Strings = std::vector<std::string>;

TEST_F(LiveDecodeTest, EveryReplyWritesItsTwoBoxesInOrder)
{
    EXPECT_EQ(Writes('a', 3000, 115), (Strings{"txtAdvance=15", "txtRPM=3000"}));
    EXPECT_EQ(Writes('b', 95, 200), (Strings{"txtVacuum=95", "txtTPS=12.50"}));
    EXPECT_EQ(Writes('c', 104, 100), (Strings{"txtPWM=39", "txtFuel=3.25"}));
    EXPECT_EQ(Writes('d', 60, 115), (Strings{"txtWaterTemp=85", "txtAirTemp=30"}));
    EXPECT_EQ(Writes('e', 138, 7), (Strings{"txtVolt=13.80", "txtAcc=7"}));
    EXPECT_EQ(Writes('f', 512, 100), (Strings{"txtLambda=100", "txtPOT=512"}));
    EXPECT_EQ(Writes('g', 90, 105), (Strings{"txtAdvCorrection=5", "txtFuelCorrection=-10"}));
    EXPECT_EQ(Writes('h', 850, 25), (Strings{"txtOil=2.5", "txtEGT=850"}));
    EXPECT_TRUE(DecodeLive('v', 0x4217, 0).empty());
    EXPECT_TRUE(DecodeLive('A', 1, 1).empty());
}

TEST_F(LiveDecodeTest, OffsetsApplyToTheWholeField)
{
    EXPECT_EQ(Text('a', 0, 0, "txtAdvance"), "-100");
    EXPECT_EQ(Text('a', 0, 255, "txtAdvance"), "155");
    EXPECT_EQ(Text('a', 65535, 0, "txtRPM"), "65535");
    EXPECT_EQ(Text('d', 0, 0, "txtWaterTemp"), "-30");
    EXPECT_EQ(Text('d', 0, 0, "txtAirTemp"), "-30");
    EXPECT_EQ(Text('d', 65535, 0, "txtAirTemp"), "65505");
    EXPECT_EQ(Text('g', 65535, 0, "txtFuelCorrection"), "65435");
    EXPECT_EQ(Text('g', 0, 0, "txtAdvCorrection"), "-100");
}

TEST_F(LiveDecodeTest, ScaledFormats)
{
    EXPECT_EQ(Text('c', 64, 0, "txtFuel"), "2.00");
    EXPECT_EQ(Text('c', 640, 0, "txtFuel"), "20.00");
    EXPECT_EQ(Text('c', 65535, 0, "txtFuel"), "2047.97");
    // Halves exact in binary round away from zero.
    EXPECT_EQ(Text('b', 0, 2, "txtTPS"), "0.13");
    EXPECT_EQ(Text('c', 4, 0, "txtFuel"), "0.13");
    EXPECT_EQ(Text('b', 0, 255, "txtTPS"), "15.94");   // 15.9375
    EXPECT_EQ(Text('c', 0, 128, "txtPWM"), "50");
    EXPECT_EQ(Text('c', 0, 255, "txtPWM"), "100");
    EXPECT_EQ(Text('c', 0, 0, "txtPWM"), "0");
    EXPECT_EQ(Text('e', 65535, 0, "txtVolt"), "6553.50");
    EXPECT_EQ(Text('h', 0, 20, "txtOil"), "2");
    EXPECT_EQ(Text('h', 0, 25, "txtOil"), "2.5");
    EXPECT_EQ(Text('h', 0, 3, "txtOil"), "0.3");
    EXPECT_EQ(Text('h', 0, 255, "txtOil"), "25.5");
}

TEST_F(LiveDecodeTest, ScaledTextsUseTheDisplaySeparator)
{
    base::SetDisplayLocale(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(Text('b', 0, 2, "txtTPS"), "0,13");
    EXPECT_EQ(Text('e', 138, 0, "txtVolt"), "13,80");
    EXPECT_EQ(Text('h', 0, 25, "txtOil"), "2,5");
    EXPECT_EQ(Text('a', 6543, 0, "txtRPM"), "6543");
    // The duty reads the boxes back the way they were written.
    const live::Duty d = live::ComputeDuty("2,00", "3000");
    EXPECT_EQ(d.progress, 10);
    EXPECT_THROW(live::ComputeDuty("2.00", "3000"), live::LiveConversionError);
}

TEST_F(LiveDecodeTest, InjectorDuty)
{
    const auto duty = [](const char* fuel, const char* rpm) {
        const live::Duty d = live::ComputeDuty(QString::fromLatin1(fuel), QString::fromLatin1(rpm));
        return std::make_pair(d.progress, d.red);
    };
    EXPECT_EQ(duty("2.00", "3000"), std::make_pair(10, false));
    EXPECT_EQ(duty("20.00", "3000"), std::make_pair(100, true));
    EXPECT_EQ(duty("18.00", "3000"), std::make_pair(90, false));   // exactly 90 stays lime
    EXPECT_EQ(duty("18.01", "3000"), std::make_pair(90, true));    // 90.05: red, shows 90
    EXPECT_EQ(duty("2047.97", "65535"), std::make_pair(223689, true));
    EXPECT_EQ(duty("0.13", "3000"), std::make_pair(0, false));     // 0.65 truncates to 0
    EXPECT_EQ(duty("1.00", "-3001"), std::make_pair(-5, false));   // toward zero, not down
    EXPECT_EQ(duty("1", "1e30"), std::make_pair(1000000000, true));
}

TEST_F(LiveDecodeTest, DutyThrowsWhenABoxIsNotANumber)
{
    EXPECT_THROW(live::ComputeDuty("2.00", "abc"), live::LiveConversionError);
    EXPECT_THROW(live::ComputeDuty("2.00", ""), live::LiveConversionError);
    EXPECT_THROW(live::ComputeDuty("x", "3000"), live::LiveConversionError);
    EXPECT_THROW(live::ComputeDuty("2.00", "1e39"), live::LiveConversionError);   // beyond a float
    try {
        live::ComputeDuty("2.00", "30OO");
    } catch (const live::LiveConversionError& e) {
        EXPECT_NE(std::string(e.what()).find("30OO"), std::string::npos) << e.what();
    }
}

TEST_F(LiveDecodeTest, StatusFlags)
{
    const QString blank = "       ";
    const live::StatusPanels p = live::DecodeStatus(0x42FF);
    EXPECT_EQ(p.panel13, "66");
    EXPECT_EQ(p.flags, (std::array<QString, 6>{blank, "SYNC ERROR", blank, blank, blank, blank}));

    const live::StatusPanels all = live::DecodeStatus(0x3F00);
    EXPECT_EQ(all.flags, (std::array<QString, 6>{"Trigged", "Synced", "Pump", "Fan", "Launch", "Als"}));
    EXPECT_EQ(all.panel13, "63");

    // Pump is bit 3 and Fan bit 2, shown in panels 7 and 8.
    EXPECT_EQ(live::DecodeStatus(0x0800).flags[7 - live::kFirstFlagPanel], "Pump");
    EXPECT_EQ(live::DecodeStatus(0x0400).flags[8 - live::kFirstFlagPanel], "Fan");

    const live::StatusPanels high = live::DecodeStatus(0x80FF);   // bit 7 is not shown
    EXPECT_EQ(high.panel13, "128");
    for (const QString& f : high.flags) EXPECT_EQ(f, blank);
    EXPECT_EQ(live::DecodeStatus(0x0000).panel13, "0");
}

TEST_F(LiveDecodeTest, VersionFromTheLowByteInTenths)
{
    EXPECT_EQ(live::VersionText(23), "Version: 2.3");
    EXPECT_EQ(live::VersionText(5), "Version: 0.5");
    EXPECT_EQ(live::VersionText(255), "Version: 25.5");
    EXPECT_EQ(live::VersionText(0x4217), "Version: 2.3");
}

TEST_F(LiveDecodeTest, LambdaViews)
{
    struct Case {
        const char* text;
        int upper, lower;
        const char* shown;
    };
    const Case cases[] = {{"100", 100, 100, "1.00"}, {"99", 100, 99, "0.99"},
                          {"150", 150, 100, "1.50"}, {"200", 200, 100, "2.00"},
                          {"50", 100, 50, "0.50"},   {"0", 100, 0, "0.00"},
                          {"87", 100, 87, "0.87"},   {"123", 123, 100, "1.23"},
                          {"255", 255, 100, "2.55"}};
    for (const Case& c : cases) {
        const auto v = live::LambdaFromText(QString::fromLatin1(c.text));
        ASSERT_TRUE(v) << c.text;
        EXPECT_EQ(v->upper, c.upper) << c.text;
        EXPECT_EQ(v->lower, c.lower) << c.text;
        EXPECT_EQ(v->text, c.shown) << c.text;
    }
    // The single-precision hundredths give the exact two decimals for every raw byte.
    for (int raw = 0; raw <= 255; ++raw) {
        EXPECT_EQ(live::LambdaFromText(QString::number(raw))->text,
                  QString::asprintf("%d.%02d", raw / 100, raw % 100));
    }
    for (const char* text : {"abc", "", "1.5", "99999999999"})
        EXPECT_FALSE(live::LambdaFromText(QString::fromLatin1(text))) << text;

    base::SetDisplayLocale(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(live::LambdaFromText("100")->text, "1,00");
}

}  // namespace
