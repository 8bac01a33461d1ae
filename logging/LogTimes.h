// When each sample of the log was taken. The log file holds no times (its format stays as it
// is), so they live beside the chart while logging: milliseconds from the log's first sample,
// four bytes a sample. A log loaded from a file, and whatever is recorded onto it, runs on the
// polling cycle's nominal 108 ms instead, and says so.
#pragma once

#include <QString>

#include <chrono>
#include <cstdint>

#include "base/PageArray.h"

namespace logging {

inline constexpr int64_t kNominalCycleMs = 108;   // nine polling ticks of 12 ms

class SampleTimes {
public:
    using Clock = std::chrono::steady_clock;

    // A new, empty log that records its times (Start Logging; the window's first log).
    void StartRecorded();
    // A log from a file: its times are nominal, and so are those of samples recorded onto it.
    void StartNominal();

    bool Nominal() const { return nominal_; }

    // The sample just appended to the log, as sample `index`, was taken at `at`. A recorded log
    // whose samples came some other way than through here has lost step: it turns nominal.
    void Record(int index, Clock::time_point at);

    // Milliseconds from the first sample to sample `index`.
    int64_t Milliseconds(int index) const;

private:
    base::PageArray<uint32_t> ms_;
    Clock::time_point first_{};
    bool nominal_ = false;
};

// A time from the log's start as "0:02:13.284": hours, minutes, seconds and milliseconds, the
// milliseconds after the display locale's decimal separator.
QString FormatLogTime(int64_t ms);

// The readout's caption of sample `index`: "Sample 1234 at 0:02:13.284", with a note when the
// time is nominal.
QString SampleTimeText(const SampleTimes& times, int index);

// The caption of the views' time axis; a log without recorded times says that its times are
// the nominal cycle's.
QString TimeAxisLabel(const SampleTimes& times);

}  // namespace logging
