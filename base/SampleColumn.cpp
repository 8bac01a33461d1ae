#include "base/SampleColumn.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace base {

namespace {

// Four floats that the compiler keeps in one vector register: the scans below compare four
// values at a time. A comparison with NaN is false, so a NaN never replaces a bound.
typedef float Floats __attribute__((vector_size(16)));

constexpr float kInf = std::numeric_limits<float>::infinity();

Floats Load(const float* p)
{
    Floats v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The lowest and highest of n floats.
ValueRange ScanValues(const float* p, size_t n)
{
    Floats low = {kInf, kInf, kInf, kInf};
    Floats high = -low;
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const Floats v = Load(p + i);
        low = v < low ? v : low;
        high = v > high ? v : high;
    }
    ValueRange r;
    for (int lane = 0; lane < 4; ++lane) r.Add(ValueRange{low[lane], high[lane]});
    for (; i < n; ++i) r.Add(p[i]);
    return r;
}

// The union of n ranges, two at a time: lanes 0 and 2 hold lows, 1 and 3 highs.
ValueRange ScanRanges(const ValueRange* p, size_t n)
{
    static_assert(sizeof(ValueRange) == 2 * sizeof(float));
    Floats low = {kInf, kInf, kInf, kInf};
    Floats high = -low;
    size_t i = 0;
    for (; i + 2 <= n; i += 2) {
        const Floats v = Load(&p[i].low);
        low = v < low ? v : low;
        high = v > high ? v : high;
    }
    ValueRange r{std::min(low[0], low[2]), std::max(high[1], high[3])};
    if (i < n) r.Add(p[i]);
    return r;
}

}  // namespace

bool SampleColumn::Append(float v)
{
    if (values_.Size() >= size_t(INT_MAX) || !values_.Push(v)) return false;
    all_.Add(v);
    if (values_.Size() % kFan == 0) Summarize();
    return true;
}

float* SampleColumn::Room(size_t n)
{
    if (n > size_t(INT_MAX) - values_.Size() || !values_.Reserve(values_.Size() + n)) return nullptr;
    return values_.Data() + values_.Size();
}

void SampleColumn::Grow(size_t n)
{
    const size_t first = values_.Size();
    values_.Grow(n);
    all_.Add(ScanValues(values_.Data() + first, n));
    Summarize();
}

void SampleColumn::Clear()
{
    values_.Clear();
    levels_.clear();
    all_ = {};
}

ValueRange SampleColumn::Range(int from, int to) const
{
    from = std::max(from, 0);
    to = std::min(to, Count());
    if (from >= to) return {};
    return Query(0, size_t(from), size_t(to));
}

// Brings every summary level up to the values: each new complete block of a level becomes one
// entry of the level above.
void SampleColumn::Summarize()
{
    for (size_t level = 0;; ++level) {
        const size_t blocks = LevelSize(level) / kFan;
        if (blocks == 0) return;
        if (levels_.size() == level) levels_.emplace_back();
        PageArray<ValueRange>& summary = levels_[level];
        if (summary.Size() == blocks) return;   // nothing new here, so nothing above either
        for (size_t b = summary.Size(); b < blocks; ++b)
            if (!summary.Push(Scan(level, b * kFan, (b + 1) * kFan))) return;
    }
}

// The range of entries [from, to) of a level (0: the values): the whole blocks in the middle
// from the level above, only the ragged ends from this one.
ValueRange SampleColumn::Query(size_t level, size_t from, size_t to) const
{
    const size_t above = level < levels_.size() ? levels_[level].Size() : 0;
    const size_t first = (from + kFan - 1) / kFan;
    const size_t last = std::min(to / kFan, above);
    if (first >= last) return Scan(level, from, to);
    ValueRange r = Scan(level, from, first * kFan);
    r.Add(Scan(level, last * kFan, to));
    r.Add(Query(level + 1, first, last));
    return r;
}

ValueRange SampleColumn::Scan(size_t level, size_t from, size_t to) const
{
    if (from >= to) return {};
    if (level == 0) return ScanValues(values_.Data() + from, to - from);
    return ScanRanges(levels_[level - 1].Data() + from, to - from);
}

}  // namespace base
