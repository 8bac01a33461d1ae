#include "ecu/EepromTransfer.h"

#include "ecu/Polling.h"

namespace transfer {

namespace {

// One reply of either walk: past the last address the walk has gone wrong; the last address
// completes it; any other asks for the next. progress is the status text the address follows.
template <class Step>
Step Advance(uint16_t A, const char* progress)
{
    Step step{};
    step.store = A <= LastAddress;
    if (A > LastAddress) {
        step.endStatus = polling::TextReadError;
        step.outcome = Step::Failed;
        return step;
    }
    step.status = progress + std::to_string(A);
    if (A == LastAddress) {
        step.endStatus = polling::TextConnected;
        step.outcome = Step::Complete;
        return step;
    }
    step.outcome = Step::Next;
    step.nextAddress = uint16_t(A + 1);
    return step;
}

}  // namespace

ReadStep OnReadReply(uint16_t A)
{
    return Advance<ReadStep>(A, polling::TextReading);
}

UploadStep OnWriteReply(uint16_t A, bool UploadActive)
{
    if (!UploadActive) {
        UploadStep step{};
        step.store = A <= LastAddress;
        step.outcome = UploadStep::Stop;
        return step;
    }
    return Advance<UploadStep>(A, polling::TextUploading);
}

}  // namespace transfer
