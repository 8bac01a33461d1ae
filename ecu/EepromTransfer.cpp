#include "ecu/EepromTransfer.h"

#include "ecu/Polling.h"

namespace transfer {

std::vector<exchange::Step> ReadSteps(uint16_t from, uint8_t firstData)
{
    std::vector<exchange::Step> steps;
    for (uint32_t a = from; a <= LastAddress; ++a)
        steps.push_back({'R', static_cast<uint16_t>(a), a == from ? firstData : uint8_t{0}});
    return steps;
}

std::vector<exchange::Step> UploadSteps(const uint8_t* image)
{
    std::vector<exchange::Step> steps;
    steps.reserve(MemorySize);
    for (uint16_t a = 0; a <= LastAddress; ++a) steps.push_back({'W', a, image[a]});
    return steps;
}

std::string ReadProgressText(uint16_t A) { return polling::TextReading + std::to_string(A); }

std::string UploadProgressText(uint16_t A) { return polling::TextUploading + std::to_string(A); }

std::string ReadStoppedText(uint16_t A) { return "Status- read stopped at " + std::to_string(A); }

std::string UploadFailedText(uint16_t A) { return "Status- upload failed at " + std::to_string(A); }

std::string WriteFailedText(uint16_t A) { return "Status- write to " + std::to_string(A) + " failed"; }

std::string UploadDoneText(std::size_t differing)
{
    if (differing == 0) return "Status- upload complete";
    return "Status- uploaded, " + std::to_string(differing) + (differing == 1 ? " byte differs" : " bytes differ");
}

std::string UploadFailedMessage(std::size_t done, bool cancelled)
{
    const std::string why = cancelled ? "The upload of the calibration was broken off"
                                      : "The upload of the calibration stopped: the ECU did not answer";
    std::string holds;
    if (done == 0)
        holds = "The ECU holds none of the file: its calibration is as it was before the load.";
    else
        holds = "The ECU now holds the first " + std::to_string(done) + " bytes of the file (addresses 0 to " +
                std::to_string(done - 1) + "), and its old values after them. The pages show the whole file.";
    return why + " at address " + std::to_string(done) + ".\n\n" + holds +
           "\n\nLoad the file again when the ECU answers, to send all of it.";
}

}  // namespace transfer
