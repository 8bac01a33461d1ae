// What a log says about each column of a map: for every breakpoint of an axis, how many samples
// of the log stood there, for how long, and what one channel read meanwhile (mean, lowest,
// highest, spread), with the samples a filter left out counted by reason. The fuel assistant
// builds its proposals on it and the log's cell table shows it for any map and channel.
//
// A log of a day runs to millions of samples, so this is one pass over the stored columns with
// no allocation per sample: the work per sample is a few comparisons and additions.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "logging/LogTimes.h"

namespace logging {

// Reasons a filter may give for leaving a sample out: 1 .. kLeaveReasons - 1 (0: it counts).
inline constexpr int kLeaveReasons = 8;

struct ColumnStat {
    int64_t samples = 0;    // counted
    double seconds = 0;     // the time those samples stand for
    double mean = std::numeric_limits<double>::quiet_NaN();     // NaN with no sample
    double low = std::numeric_limits<double>::quiet_NaN();
    double high = std::numeric_limits<double>::quiet_NaN();
    double spread = std::numeric_limits<double>::quiet_NaN();   // standard deviation; 0 for one sample
    // Samples standing in this column that did not count: by the filter's reason, and those
    // whose value was missing (NaN, or the log ended before the delayed value).
    std::array<int64_t, kLeaveReasons> leftOut{};
    int64_t noValue = 0;
};

struct ColumnStats {
    std::vector<ColumnStat> columns;
    int64_t noColumn = 0;   // samples whose axis value is missing (NaN): in no column
    std::array<int64_t, kLeaveReasons> leftOut{};   // over all columns
    int64_t noValue = 0;
    int64_t Counted() const;
};

struct ColumnStatsInput {
    const float* axis = nullptr;    // the axis channel, as the log holds it
    const float* value = nullptr;   // the channel to describe
    int count = 0;                  // samples in both
    int from = 0;                   // the first sample to take (those before it are history only)
    // The map's breakpoints in the axis channel's units, ascending (at least one).
    const double* breakpoints = nullptr;
    int columns = 0;
    // The value is read this many samples after the sample that places it (a sensor that lags
    // the engine); a sample whose delayed value lies beyond the log counts as having none.
    int valueDelay = 0;
    // The time a sample stands for: the gap to the next sample when the log kept its times
    // (times non-null and not nominal; a gap longer than maxGapMs counts as maxGapMs, so a pause
    // in the recording is not time spent in a column), else periodMs.
    const SampleTimes* times = nullptr;
    double periodMs = double(kNominalCycleMs);
    double maxGapMs = 4.0 * double(kNominalCycleMs);
};

// The column a value stands on, as the ECU picks a map cell: the nearest breakpoint, a value
// half-way between two going to the higher one, and a value beyond either end standing on that
// end column (the ECU holds its look-up within the map). The same rule places the operating
// point on the map pages. -1 for NaN.
int ColumnOf(const double* breakpoints, int columns, double value);

namespace detail {
// The column look-up prepared once: uniform breakpoints (every axis of this ECU) cost one
// multiplication, others a binary search over the edges between columns.
class ColumnFinder {
public:
    ColumnFinder(const double* breakpoints, int columns);
    int operator()(double v) const;

private:
    int columns_;
    bool uniform_ = false;
    double first_ = 0, step_ = 1, inverseStep_ = 1;
    std::vector<double> edges_;   // edges_[k]: between column k and k + 1
};
void Finish(ColumnStats& stats, const std::vector<double>& sums, const std::vector<double>& squares,
            const std::vector<double>& shifts);
double SampleMs(const ColumnStatsInput& in, int index);
}  // namespace detail

// The statistics. `filter(i)` decides whether sample i counts: 0 when it does, else its reason
// (1 .. kLeaveReasons - 1; anything else is taken as the last reason). It is asked only for
// samples that stand in a column and have their value.
template <class Filter>
ColumnStats ComputeColumnStats(const ColumnStatsInput& in, Filter&& filter)
{
    ColumnStats stats;
    const int columns = in.breakpoints ? in.columns : 0;
    stats.columns.resize(size_t(columns > 0 ? columns : 0));
    if (stats.columns.empty() || !in.axis || !in.value) return stats;

    const detail::ColumnFinder find(in.breakpoints, columns);
    // Sums are kept about each column's first counted value, so that the spread of values far
    // from zero loses no digits to the squares.
    std::vector<double> sums(stats.columns.size(), 0.0), squares(stats.columns.size(), 0.0),
        shifts(stats.columns.size(), 0.0);
    const bool timed = in.times && !in.times->Nominal();
    for (int i = in.from < 0 ? 0 : in.from; i < in.count; ++i) {
        const int column = find(in.axis[i]);
        if (column < 0) {
            ++stats.noColumn;
            continue;
        }
        ColumnStat& c = stats.columns[size_t(column)];
        const int at = i + in.valueDelay;
        const double v = at >= 0 && at < in.count ? double(in.value[at]) : std::numeric_limits<double>::quiet_NaN();
        if (v != v) {
            ++c.noValue;
            continue;
        }
        int reason = int(filter(i));
        if (reason != 0) {
            if (reason < 0 || reason >= kLeaveReasons) reason = kLeaveReasons - 1;
            ++c.leftOut[size_t(reason)];
            continue;
        }
        if (c.samples == 0) {
            shifts[size_t(column)] = v;
            c.low = c.high = v;
        }
        ++c.samples;
        const double d = v - shifts[size_t(column)];
        sums[size_t(column)] += d;
        squares[size_t(column)] += d * d;
        if (v < c.low) c.low = v;
        if (v > c.high) c.high = v;
        c.seconds += timed ? detail::SampleMs(in, i) : in.periodMs;
    }
    detail::Finish(stats, sums, squares, shifts);
    return stats;
}

// Every sample counts.
ColumnStats ComputeColumnStats(const ColumnStatsInput& in);

}  // namespace logging
