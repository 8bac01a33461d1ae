#include "logging/LogState.h"

namespace logging {

void LogState::StartRecording()
{
    times_.StartRecorded();
    unsaved_ = false;
    ++generation_;
}

void LogState::AdoptLoaded()
{
    times_.StartNominal();
    unsaved_ = false;
    ++generation_;
}

void LogState::RecordSample(int index, SampleTimes::Clock::time_point at)
{
    times_.Record(index, at);
    unsaved_ = true;
}

void LogState::MarkSaved() { unsaved_ = false; }

}  // namespace logging
