// The log's storage: the range of any stretch of samples from the summaries must equal a walk
// over the values.
#include "base/PageArray.h"
#include "base/SampleColumn.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

base::ValueRange Walk(const std::vector<float>& v, int from, int to)
{
    base::ValueRange r;
    for (int i = std::max(from, 0); i < std::min<int>(to, int(v.size())); ++i) r.Add(v[size_t(i)]);
    return r;
}

void ExpectSame(const base::ValueRange& a, const base::ValueRange& b, int from, int to)
{
    ASSERT_EQ(a.Empty(), b.Empty()) << from << ".." << to;
    if (a.Empty()) return;
    ASSERT_EQ(a.low, b.low) << from << ".." << to;
    ASSERT_EQ(a.high, b.high) << from << ".." << to;
}

TEST(PageArray, GrowsKeepsItsValuesAndGivesRoomBack)
{
    base::PageArray<float> a;
    EXPECT_TRUE(a.Empty());
    for (int i = 0; i < 100000; ++i) ASSERT_TRUE(a.Push(float(i)));
    ASSERT_EQ(a.Size(), 100000u);
    EXPECT_GE(a.Capacity(), a.Size());
    ASSERT_TRUE(a.Reserve(5000000));   // moves the pages, keeps the values
    for (size_t i = 0; i < a.Size(); i += 997) ASSERT_EQ(a[i], float(i));
    a.Fit();
    EXPECT_LT(a.Capacity(), 110000u);
    EXPECT_EQ(a[99999], 99999.0f);

    base::PageArray<float> b = std::move(a);
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
    base::SampleColumn column;
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
    base::SampleColumn column;
    for (int i = 0; i < 200; ++i) column.Append(kNaN);
    column.Append(2.5f);
    EXPECT_TRUE(column.Range(0, 200).Empty());
    EXPECT_FALSE(column.Range(0, 201).Empty());
    EXPECT_EQ(column.Range().low, 2.5f);
    EXPECT_EQ(column.Range().high, 2.5f);
}

}  // namespace
