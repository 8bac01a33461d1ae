// One series of a long log as the log chart holds and draws it: the values in sample order as
// 32-bit floats (the sample index is the position, so no x is stored), and a summary for the
// drawing: the lowest and highest value of every block of 64 samples, of every 64 such blocks,
// and so on up. The lowest and highest value of any stretch of samples then costs a few blocks
// at each end instead of a walk over the stretch, so a pixel column over thousands of samples
// is as cheap as one over a few. The summary adds 1/64 of the values' own size.
//
// NaN is no value: it is left out of every range, so a range of only NaN is empty.
#pragma once

#include <limits>
#include <vector>

#include "base/PageArray.h"

namespace base {

struct ValueRange {
    float low = std::numeric_limits<float>::infinity();
    float high = -std::numeric_limits<float>::infinity();

    bool Empty() const { return !(low <= high); }
    void Add(float v)
    {
        if (v < low) low = v;   // NaN fails both comparisons
        if (v > high) high = v;
    }
    void Add(const ValueRange& r)
    {
        if (r.low < low) low = r.low;
        if (r.high > high) high = r.high;
    }
};

class SampleColumn {
public:
    static constexpr int kFan = 64;   // blocks of a summary level per block of the next

    int Count() const { return int(values_.Size()); }
    float At(int i) const { return values_[size_t(i)]; }
    const float* Data() const { return values_.Data(); }

    // False when memory is short or the column is full (the column is then as it was).
    bool Append(float v);

    // Filling in place, for loads: room for n more values after the end (nullptr when memory is
    // short), valid until the column next changes; Grow(k) makes the first k written values
    // part of the column, Fit() gives back the room left over.
    float* Room(size_t n);
    void Grow(size_t n);
    void Fit() { values_.Fit(); }

    void Clear();

    ValueRange Range() const { return all_; }
    // The values of samples [from, to), clamped to the column.
    ValueRange Range(int from, int to) const;

private:
    void Summarize();
    ValueRange Query(size_t level, size_t from, size_t to) const;
    ValueRange Scan(size_t level, size_t from, size_t to) const;
    size_t LevelSize(size_t level) const { return level == 0 ? values_.Size() : levels_[level - 1].Size(); }

    PageArray<float> values_;
    std::vector<PageArray<ValueRange>> levels_;   // levels_[k]: blocks of 64^(k+1) samples
    ValueRange all_;
};

}  // namespace base
