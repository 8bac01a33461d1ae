#include "logging/ColumnStats.h"

#include <algorithm>
#include <cmath>

namespace logging {

int64_t ColumnStats::Counted() const
{
    int64_t n = 0;
    for (const ColumnStat& c : columns) n += c.samples;
    return n;
}

int ColumnOf(const double* breakpoints, int columns, double value)
{
    if (!breakpoints || columns <= 0) return -1;
    return detail::ColumnFinder(breakpoints, columns)(value);
}

namespace detail {

ColumnFinder::ColumnFinder(const double* breakpoints, int columns) : columns_(columns)
{
    first_ = breakpoints[0];
    step_ = columns > 1 ? breakpoints[1] - breakpoints[0] : 1.0;
    uniform_ = step_ > 0;
    inverseStep_ = uniform_ ? 1.0 / step_ : 0.0;
    for (int k = 2; k < columns && uniform_; ++k)
        uniform_ = std::fabs(breakpoints[k] - (first_ + step_ * k)) <= 1e-9 * std::max(1.0, std::fabs(breakpoints[k]));
    if (!uniform_) {
        edges_.reserve(size_t(columns > 1 ? columns - 1 : 0));
        for (int k = 0; k + 1 < columns; ++k) edges_.push_back((breakpoints[k] + breakpoints[k + 1]) / 2);
    }
}

int ColumnFinder::operator()(double v) const
{
    if (v != v) return -1;
    if (uniform_) {
        // floor(position + 0.5): the nearest breakpoint, halves to the higher one. Truncation
        // is the floor once below-the-axis is out of the way (and costs no call into libm).
        const double position = (v - first_) * inverseStep_ + 0.5;
        if (!(position >= 1)) return 0;
        return position >= columns_ ? columns_ - 1 : int(position);
    }
    // The first edge above v: a value on an edge (half-way) goes to the higher column.
    return int(std::upper_bound(edges_.begin(), edges_.end(), v) - edges_.begin());
}

double SampleMs(const ColumnStatsInput& in, int index)
{
    if (index + 1 >= in.count) return in.periodMs;   // the last sample: its gap is not known
    const double gap = double(in.times->Milliseconds(index + 1) - in.times->Milliseconds(index));
    return std::clamp(gap, 0.0, in.maxGapMs);
}

void Finish(ColumnStats& stats, const std::vector<double>& sums, const std::vector<double>& squares,
            const std::vector<double>& shifts)
{
    for (size_t k = 0; k < stats.columns.size(); ++k) {
        ColumnStat& c = stats.columns[k];
        for (int r = 0; r < kLeaveReasons; ++r) stats.leftOut[size_t(r)] += c.leftOut[size_t(r)];
        stats.noValue += c.noValue;
        c.seconds /= 1000.0;
        if (c.samples == 0) continue;
        const double n = double(c.samples);
        c.mean = shifts[k] + sums[k] / n;
        // The sample standard deviation (n - 1): the samples are a few of what the engine did there.
        c.spread = c.samples > 1 ? std::sqrt(std::max(0.0, (squares[k] - sums[k] * sums[k] / n) / (n - 1))) : 0.0;
    }
}

}  // namespace detail

ColumnStats ComputeColumnStats(const ColumnStatsInput& in)
{
    return ComputeColumnStats(in, [](int) { return 0; });
}

}  // namespace logging
