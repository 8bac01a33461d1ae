#include "base/NumberFormat.h"

#include <gtest/gtest.h>

namespace {

using base::FormatFixed;
using base::FormatGeneral;

const QLocale kC = QLocale::c();
const QLocale kGerman(QLocale::German, QLocale::Germany);

TEST(NumberFormat, FixedRoundsHalfAwayFromZeroOnTheDecimalDigits)
{
    EXPECT_EQ(FormatFixed(0.125, 2, 7, kC), "0.13");     // exact binary half
    EXPECT_EQ(FormatFixed(-0.125, 2, 7, kC), "-0.13");
    EXPECT_EQ(FormatFixed(0.375, 2, 7, kC), "0.38");
    EXPECT_EQ(FormatFixed(2.5, 0, 7, kC), "3");          // not to even
    EXPECT_EQ(FormatFixed(-2.5, 0, 7, kC), "-3");
    EXPECT_EQ(FormatFixed(0.5, 0, 7, kC), "1");
    // The double nearest 2.675 lies below the half, and its 18 digits show it.
    EXPECT_EQ(FormatFixed(2.675, 2, 7, kC), "2.67");
    EXPECT_EQ(FormatFixed(1.005, 2, 7, kC), "1.00");
    // The double nearest 0.005 lies above the half.
    EXPECT_EQ(FormatFixed(0.005, 2, 7, kC), "0.01");
    EXPECT_EQ(FormatFixed(0.996, 2, 7, kC), "1.00");     // carry into the integer part
    EXPECT_EQ(FormatFixed(9.996, 2, 7, kC), "10.00");
    EXPECT_EQ(FormatFixed(0.004, 2, 7, kC), "0.00");
}

TEST(NumberFormat, FixedShapes)
{
    EXPECT_EQ(FormatFixed(0.0, 2, 7, kC), "0.00");
    EXPECT_EQ(FormatFixed(0.0, 0, 7, kC), "0");
    EXPECT_EQ(FormatFixed(-0.004, 2, 7, kC), "0.00");    // no minus on a shown zero
    EXPECT_EQ(FormatFixed(-0.4, 0, 7, kC), "0");
    EXPECT_EQ(FormatFixed(13.8, 2, 7, kC), "13.80");
    EXPECT_EQ(FormatFixed(2047.96875, 2, 7, kC), "2047.97");
    EXPECT_EQ(FormatFixed(65535, 0, 5, kC), "65535");
    EXPECT_EQ(FormatFixed(0.05, 3, 7, kC), "0.050");
    // Precision caps the significant digits; the rest of the decimals show as zeros.
    EXPECT_EQ(FormatFixed(123456.789, 2, 7, kC), "123456.80");
    // More integer digits than the precision: exponent form.
    EXPECT_EQ(FormatFixed(123456789.0, 0, 5, kC), "1.2346E8");
    EXPECT_EQ(FormatFixed(-100000.0, 0, 5, kC), "-1E5");
    EXPECT_EQ(FormatFixed(99999.7, 0, 5, kC), "1E5");    // the rounding carried over
    EXPECT_EQ(FormatFixed(99999.4, 0, 5, kC), "99999");
}

TEST(NumberFormat, ExtendedProductIsFormattedWithoutRoundingToDouble)
{
    // 65.43 held as a double is 65.4300000000000068..., so x 100 is just above 6543.
    EXPECT_EQ(base::FormatFixedExtended(65.43L * 100.0L, 0, 5, kC), "6543");
    EXPECT_EQ(base::FormatFixedExtended(0.125L, 2, 7, kC), "0.13");
}

TEST(NumberFormat, GeneralIsShortestToFifteenDigits)
{
    EXPECT_EQ(FormatGeneral(20 * 0.1, kC), "2");
    EXPECT_EQ(FormatGeneral(25 * 0.1, kC), "2.5");
    EXPECT_EQ(FormatGeneral(3 * 0.1, kC), "0.3");        // 0.30000000000000004
    EXPECT_EQ(FormatGeneral(0.0, kC), "0");
    EXPECT_EQ(FormatGeneral(-2.5, kC), "-2.5");
    EXPECT_EQ(FormatGeneral(25.5, kC), "25.5");
    EXPECT_EQ(FormatGeneral(0.05, kC), "0.05");
    EXPECT_EQ(FormatGeneral(0.00001, kC), "0.00001");
    EXPECT_EQ(FormatGeneral(1.5e-7, kC), "1.5E-7");
    EXPECT_EQ(FormatGeneral(1e20, kC), "1E20");
    EXPECT_EQ(FormatGeneral(123456789012345.0, kC), "123456789012345");
    EXPECT_EQ(FormatGeneral(1.0 / 3.0, kC), "0.333333333333333");
}

TEST(NumberFormat, UsesTheLocaleDecimalSeparator)
{
    EXPECT_EQ(FormatFixed(2.5, 2, 7, kGerman), "2,50");
    EXPECT_EQ(FormatGeneral(2.5, kGerman), "2,5");
    EXPECT_EQ(FormatFixed(1234.5, 1, 7, kGerman), "1234,5");   // no grouping

    base::SetDisplayLocale(kGerman);
    EXPECT_EQ(FormatFixed(0.125, 2), "0,13");
    double v = 0;
    EXPECT_TRUE(base::ParseFloat("12,50", &v));
    EXPECT_EQ(v, 12.5);
    EXPECT_FALSE(base::ParseFloat("12.50", &v));
    base::ResetDisplayLocale();
    EXPECT_EQ(base::DisplayLocale().decimalPoint(), QLocale::system().decimalPoint());
}

TEST(NumberFormat, ParseFloatAcceptsOnlyAWholeNumber)
{
    struct Case {
        const char* text;
        double value;
    };
    const Case good[] = {{"12.50", 12.5},   {" 3 ", 3},      {"-0.5", -0.5}, {"+7", 7},
                         {".5", 0.5},       {"5.", 5},       {"1e3", 1000},  {"2.5E-1", 0.25},
                         {"6543", 6543},    {"1e-400", 0.0}, {"\t42\n", 42}};
    for (const Case& c : good) {
        double v = -1;
        EXPECT_TRUE(base::ParseFloat(QString::fromLatin1(c.text), &v, kC)) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
    }
    const char* bad[] = {"",    " ",     "abc", "1.5x", "1,5",  "inf", "nan", "0x10", "1e400",
                         "+-1", "--1",   "1e",  "1e+",  "1 2",  ".",   "-",   "1..2", "1.2.3"};
    for (const char* text : bad) {
        double v = -1;
        EXPECT_FALSE(base::ParseFloat(QString::fromLatin1(text), &v, kC)) << text;
        EXPECT_EQ(v, -1) << "left untouched: " << text;
    }
}

TEST(NumberFormat, ParseInt)
{
    long long v = 0;
    EXPECT_TRUE(base::ParseInt("42", &v));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(base::ParseInt(" -7 ", &v));
    EXPECT_EQ(v, -7);
    EXPECT_TRUE(base::ParseInt("+3", &v));
    EXPECT_EQ(v, 3);
    v = 99;
    for (const char* text : {"", "1.0", "abc", "+-1", "0x1F", "9223372036854775808", "1 2", "4e2"})
        EXPECT_FALSE(base::ParseInt(QString::fromLatin1(text), &v)) << text;
    EXPECT_EQ(v, 99);
}

}  // namespace
