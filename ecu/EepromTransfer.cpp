#include "ecu/EepromTransfer.h"

#include "ecu/Polling.h"

namespace transfer {

ReadStep OnReadReply(uint16_t A)
{
    ReadStep step{};
    step.store = A <= LastAddress;
    if (A > LastAddress) {
        step.endStatus = polling::TextReadError;
        step.outcome = ReadStep::Failed;
        return step;
    }
    step.status = polling::TextReading + std::to_string(A);
    if (A == LastAddress) {
        step.endStatus = polling::TextConnected;
        step.outcome = ReadStep::Complete;
        return step;
    }
    step.outcome = ReadStep::Next;
    step.nextAddress = uint16_t(A + 1);
    return step;
}

UploadStep OnWriteReply(uint16_t A, bool UploadActive)
{
    UploadStep step{};
    step.store = A <= LastAddress;
    if (!UploadActive) {
        step.outcome = UploadStep::Stop;
        return step;
    }
    if (A > LastAddress) {
        step.endStatus = polling::TextReadError;
        step.outcome = UploadStep::Failed;
        return step;
    }
    step.status = polling::TextUploading + std::to_string(A);
    if (A == LastAddress) {
        step.endStatus = polling::TextConnected;
        step.outcome = UploadStep::Complete;
        return step;
    }
    step.outcome = UploadStep::Next;
    step.nextAddress = uint16_t(A + 1);
    return step;
}

}  // namespace transfer
