// The read and upload walks over the ECU's calibration memory, one address per exchange,
// as pure decisions: given the address of a read ('r') or write ('w') reply, what the window
// stores, which status texts it shows, and whether it asks for the next address, completes
// or gives up. The walks keep no state of their own; each reply drives the next request.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace transfer {

inline constexpr uint16_t LastAddress = 499;

// Handling of an 'r' reply for address A with data D, in this order:
//   ReadStallTicks = 0 (always);
//   if store: EepromImage[A] = D;
//   if status: panel 2 = *status ("Reading eeprom - A");
//   if endStatus: panel 2 = *endStatus;
//   Next:     send 'R', nextAddress, 0;
//   Complete: decode the image onto the pages, ReadPending = 0, probe timer off, polling on;
//   Failed:   ReadPending = 0, polling on (the probe timer is left as it is).
struct ReadStep {
    bool store;
    std::optional<std::string> status;
    std::optional<std::string> endStatus;   // "Status- ECU connected" / "Status- error reading eeprom"
    enum Outcome { Next, Complete, Failed } outcome;
    uint16_t nextAddress;                   // meaningful for Next only, else 0
};

ReadStep OnReadReply(uint16_t A);

// Handling of a 'w' reply for address A with data D, in this order:
//   if store: EepromImage[A] = D (also for the single writes of the editors);
//   if status: panel 2 = *status ("Uploading eeprom - A");
//   if endStatus: panel 2 = *endStatus;
//   Stop:     nothing more (no upload runs);
//   Next:     send 'W', nextAddress, EepromImage[nextAddress] as it stands now;
//   Complete: UploadActive = 0, decode the image onto the pages;
//   Failed:   UploadActive = 0.
// Neither timer changes.
struct UploadStep {
    bool store;
    std::optional<std::string> status;
    std::optional<std::string> endStatus;
    enum Outcome { Stop, Next, Complete, Failed } outcome;
    uint16_t nextAddress;                   // meaningful for Next only, else 0
};

UploadStep OnWriteReply(uint16_t A, bool UploadActive);

}  // namespace transfer
