// The read and upload walks over the ECU's calibration memory, one address per exchange, as
// pure pieces: the steps each walk is made of (jobs for the line's exchange queue), and the
// texts the window shows as a walk goes on, completes or gives up.
#pragma once

#include <cstddef>
#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ecu/Exchanges.h"

namespace transfer {

inline constexpr uint16_t LastAddress = 499;
inline constexpr std::size_t MemorySize = LastAddress + 1;

// 'R' of every address from `from` to the last, in order; the first carries firstData (the
// hidden read-from-20 button sends 14 there, which the ECU ignores).
std::vector<exchange::Step> ReadSteps(uint16_t from, uint8_t firstData = 0);
// 'W' of every address from `from` on with the image's byte. The bytes are taken now: the
// upload sends the calibration as it was loaded, whatever the echoes store meanwhile.
std::vector<exchange::Step> UploadSteps(const uint8_t* image, uint16_t from = 0);

// Panel 2 after the reply for address A: "Reading eeprom - A", "Uploading eeprom - A".
std::string ReadProgressText(uint16_t A);
std::string UploadProgressText(uint16_t A);

// Panel 2 when a walk or a write gave up at address A.
std::string ReadStoppedText(uint16_t A);
std::string UploadFailedText(uint16_t A);
std::string WriteFailedText(uint16_t A);
// Panel 2 while an upload whose ECU went silent waits for it at address A, the ECU silent for
// `silentSeconds` of the `patienceSeconds` the upload waits; and once it goes on.
std::string UploadWaitText(uint16_t A, int silentSeconds, int patienceSeconds);
std::string UploadResumedText(uint16_t A);
// Panel 2 when the upload was stopped on purpose (a second close) at address A.
std::string UploadStoppedText(uint16_t A);
// Panel 2 at the end of an upload; the ECU stored another byte than the file's at `differing`
// addresses (its echoes say so).
std::string UploadDoneText(std::size_t differing);

// The box after an upload gave up: what the ECU now holds (the first `done` bytes of the file,
// its old values after them) and what to do. `mayHold`: addresses whose write went out but was
// never confirmed (or whose echo could not be placed): the ECU may hold the file's byte there.
// `other`: addresses whose echo reported another byte than the file's, which the ECU does not
// hold the file's byte at.
std::string UploadFailedMessage(std::size_t done, bool cancelled, const std::vector<uint16_t>& mayHold = {},
                                const std::map<uint16_t, uint8_t>& other = {});

// Panel 2 while an upload's bytes are read back, and when they could not be.
inline constexpr const char* TextVerifying = "Status- verifying upload - ";
inline constexpr const char* TextNotVerified = "Status- upload not verified";

// What an upload has left in doubt, and what the ECU was found to hold. An upload is complete
// only when every address whose echo was doubtful (late, duplicated, named by a reply nobody
// asked for, never matched) has been read back equal to the file, or, with every upload
// verified, every address has.
class UploadCheck {
public:
    void Begin(const uint8_t* file, bool verifyAll);
    void End() { active_ = false; verifying_ = false; }
    bool Active() const { return active_; }
    bool Verifying() const { return verifying_; }

    void Doubt(uint16_t address) { if (active_ && address <= LastAddress) doubtful_.insert(address); }
    // The addresses in doubt and not yet read back.
    std::vector<uint16_t> Doubts() const { return {doubtful_.begin(), doubtful_.end()}; }
    // An echo of the upload: the ECU reports storing `stored`.
    void Echo(uint16_t address, uint8_t stored);
    // The writes are done: the addresses to read back (with `alsoDoubtful`, ones in doubt from
    // before); empty when none need be.
    std::vector<uint16_t> WritesDone(const std::set<uint16_t>& alsoDoubtful);
    // A byte read back.
    void ReadBack(uint16_t address, uint8_t held);

    // Addresses where the ECU holds another byte than the file, with the ECU's byte.
    const std::map<uint16_t, uint8_t>& Differing() const { return differing_; }
    std::string DoneText() const { return UploadDoneText(differing_.size()); }
    // The box that names the addresses that differ and what the ECU holds there.
    std::string DifferingMessage() const;
    // The box when the read-back could not be finished: the addresses still in doubt.
    std::string UnverifiedMessage(const std::vector<uint16_t>& unread) const;
    // The upload was stopped on purpose with `next` the first address not confirmed (500 once
    // every write was): where the ECU holds the file's byte (confirmed), where it may (sent,
    // never confirmed, or named by an echo nobody asked for), where it holds another byte (its
    // echo or a read said so), and where it still holds its old value.
    std::string StoppedMessage(uint16_t next) const;
    const uint8_t* File() const { return file_.data(); }

private:
    bool active_ = false;
    bool verifying_ = false;
    bool verifyAll_ = false;
    std::array<uint8_t, MemorySize> file_{};
    std::set<uint16_t> doubtful_;
    std::map<uint16_t, uint8_t> differing_;
};

}  // namespace transfer
