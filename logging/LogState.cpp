#include "logging/LogState.h"

namespace logging {

void LogState::StartRecording()
{
    times_.StartRecorded();
    unsaved_ = false;
    ++generation_;
    stretches_.assign(1, Stretch{});
}

void LogState::AdoptLoaded()
{
    times_.StartNominal();
    unsaved_ = false;
    ++generation_;
    stretches_.clear();   // known only from a side file (AdoptStretches)
}

void LogState::RecordSample(int index, SampleTimes::Clock::time_point at)
{
    times_.Record(index, at);
    unsaved_ = true;
}

void LogState::MarkSaved() { unsaved_ = false; }

void LogState::BeginStretch(int firstSample)
{
    // A stretch that holds no sample yet ran on nothing: the new one takes its place.
    while (!stretches_.empty() && stretches_.back().first >= firstSample) stretches_.pop_back();
    stretches_.push_back({firstSample, {}, {}});
}

void LogState::NotePoint(const QString& name, const QByteArray& checksum)
{
    if (!AwaitsPoint()) return;
    stretches_.back().point = name;
    stretches_.back().checksum = checksum;
}

}  // namespace logging
