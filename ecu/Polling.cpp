#include "ecu/Polling.h"

#include <limits>

namespace polling {

namespace {
// A counter that stops at its top instead of wrapping: after weeks of silence a wrap to 0
// would report a dead link as connected.
void Raise(uint32_t& counter)
{
    if (counter < std::numeric_limits<uint32_t>::max()) ++counter;
}
}  // namespace

TickPlan PollTick(uint8_t& PollStep, uint32_t& SilentTicks, bool barIsRed, bool loggingActive)
{
    TickPlan plan{};
    ++PollStep;
    Raise(SilentTicks);
    plan.reportLost = SilentTicks > SilentTicksLimit;
    plan.reportBack = barIsRed && SilentTicks < SilentTicksLimit;
    if (PollStep >= Cycle.size()) PollStep = 0;
    plan.command = Cycle[PollStep];
    plan.takeLogSample = PollStep == LogSampleStep && loggingActive;
    return plan;
}

ProbeAction ProbeTick(bool EcuAnswered, bool ReadPending, uint32_t& ReadStallTicks)
{
    if (!EcuAnswered) return ProbeAction::SendProbe;
    if (ReadPending && ReadStallTicks > ReadStallLimit) {
        ReadStallTicks = 0;
        return ProbeAction::RestartRead;
    }
    Raise(ReadStallTicks);
    return ProbeAction::Count;
}

std::string LineHeldText(uint64_t times)
{
    return "Status- line was held (XOFF), resumed" + (times > 1 ? " (" + std::to_string(times) + " times)" : std::string());
}

}  // namespace polling
