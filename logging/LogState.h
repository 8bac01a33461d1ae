// What the window knows of the log on display besides its values, which are the chart's series:
// when each sample was taken, and whether a file holds the log. Every change of log goes through
// one of the transitions below, so the times and the flag always belong to the log on the chart.
#pragma once

#include <cstdint>
#include <QByteArray>
#include <QString>

#include <vector>

#include "logging/LogTimes.h"

namespace logging {

class LogState {
public:
    // Start Logging: a new, empty log that records its times; nothing in it to lose yet.
    void StartRecording();
    // A log read from a file: its times are nominal, and the file holds it.
    void AdoptLoaded();
    // Sample `index` was just appended to the chart, taken at `at`: no file has it.
    void RecordSample(int index, SampleTimes::Clock::time_point at);
    // A file now holds every sample of the log.
    void MarkSaved();

    // The calibration each stretch of a recording ran on. A stretch begins at a sample; every
    // change to the ECU's calibration during a recording begins a new one. Its calibration is the
    // restore point kept first after it began: each change keeps a point before it, so that point
    // holds the calibration as the stretch ended.
    struct Stretch {
        int first = 0;
        QString point;        // empty: not known yet (or never, when no point could be kept)
        QByteArray checksum;  // of the point's image
    };
    // A change to the calibration: the samples from `firstSample` on ran on another one.
    void BeginStretch(int firstSample);
    // A point was kept of what the ECU holds now: the current stretch ran on it, unless it knows
    // its point already.
    void NotePoint(const QString& name, const QByteArray& checksum);
    bool AwaitsPoint() const { return !stretches_.empty() && stretches_.back().point.isEmpty(); }
    // The stretches read beside a loaded log.
    void AdoptStretches(std::vector<Stretch> stretches) { stretches_ = std::move(stretches); }
    const std::vector<Stretch>& Stretches() const { return stretches_; }

    // The log holds samples no file has: closing or replacing it would lose them.
    bool Unsaved(int samples) const { return unsaved_ && samples > 0; }
    const SampleTimes& Times() const { return times_; }
    // Which log is on display: a new number at every Start Logging and every load, so that
    // whatever was concluded from one log can tell whether it still is that log.
    uint64_t Generation() const { return generation_; }

private:
    SampleTimes times_;
    bool unsaved_ = false;
    uint64_t generation_ = 0;
    std::vector<Stretch> stretches_;
};

}  // namespace logging
