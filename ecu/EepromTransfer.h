// The read and upload walks over the ECU's calibration memory, one address per exchange, as
// pure pieces: the steps each walk is made of (jobs for the line's exchange queue), and the
// texts the window shows as a walk goes on, completes or gives up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ecu/Exchanges.h"

namespace transfer {

inline constexpr uint16_t LastAddress = 499;
inline constexpr std::size_t MemorySize = LastAddress + 1;

// 'R' of every address from `from` to the last, in order; the first carries firstData (the
// hidden read-from-20 button sends 14 there, which the ECU ignores).
std::vector<exchange::Step> ReadSteps(uint16_t from, uint8_t firstData = 0);
// 'W' of every address with the image's byte, address 0 first. The bytes are taken now: the
// upload sends the calibration as it was loaded, whatever the echoes store meanwhile.
std::vector<exchange::Step> UploadSteps(const uint8_t* image);

// Panel 2 after the reply for address A: "Reading eeprom - A", "Uploading eeprom - A".
std::string ReadProgressText(uint16_t A);
std::string UploadProgressText(uint16_t A);

// Panel 2 when a walk or a write gave up at address A.
std::string ReadStoppedText(uint16_t A);
std::string UploadFailedText(uint16_t A);
std::string WriteFailedText(uint16_t A);
// Panel 2 at the end of an upload; the ECU stored another byte than the file's at `differing`
// addresses (its echoes say so).
std::string UploadDoneText(std::size_t differing);

// The box after an upload gave up: what the ECU now holds (the first `done` bytes of the file,
// its old values after them) and what to do.
std::string UploadFailedMessage(std::size_t done, bool cancelled);

}  // namespace transfer
