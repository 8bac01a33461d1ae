#include "ecu/LinkState.h"

#include "ecu/Polling.h"

namespace ecu {

void LinkState::ResetLink(const LinkReset& reset)
{
    ReadPending = 1;
    UploadActive = 0;
    EcuAnswered = 0;
    ReadResumeAddress = 0;
    switch (reset.watchdog) {
    case WatchdogAfterReset::Restart: SilentTicks = 0; break;
    case WatchdogAfterReset::Keep: break;
    case WatchdogAfterReset::PastLimit: SilentTicks = polling::SilentTicksLimit + 1; break;
    }
    if (reset.restartStallCount) ReadStallTicks = 0;
    if (!reset.keepBadReplyCount) BadReplyCount = 0;
}

}  // namespace ecu
