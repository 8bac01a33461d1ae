#include "ecu/EepromTransfer.h"

#include <algorithm>

#include "ecu/Polling.h"

namespace transfer {

std::vector<exchange::Step> ReadSteps(uint16_t from, uint8_t firstData)
{
    std::vector<exchange::Step> steps;
    for (uint32_t a = from; a <= LastAddress; ++a)
        steps.push_back({'R', static_cast<uint16_t>(a), a == from ? firstData : uint8_t{0}});
    return steps;
}

std::vector<exchange::Step> UploadSteps(const uint8_t* image, uint16_t from)
{
    std::vector<exchange::Step> steps;
    steps.reserve(MemorySize);
    for (uint32_t a = from; a <= LastAddress; ++a) steps.push_back({'W', static_cast<uint16_t>(a), image[a]});
    return steps;
}

std::string ReadProgressText(uint16_t A) { return polling::TextReading + std::to_string(A); }

std::string UploadProgressText(uint16_t A) { return polling::TextUploading + std::to_string(A); }

std::string ReadStoppedText(uint16_t A) { return "Status- read stopped at " + std::to_string(A); }

std::string UploadFailedText(uint16_t A) { return "Status- upload failed at " + std::to_string(A); }

std::string WriteFailedText(uint16_t A) { return "Status- write to " + std::to_string(A) + " failed"; }

std::string UploadWaitText(uint16_t A, int silentSeconds, int patienceSeconds)
{
    return "Status- upload waits at " + std::to_string(A) + ": ECU silent " + std::to_string(silentSeconds) + " s of " +
           std::to_string(patienceSeconds);
}

std::string UploadResumedText(uint16_t A) { return "Status- upload resumed at " + std::to_string(A); }

std::string UploadStoppedText(uint16_t A) { return "Status- upload stopped at " + std::to_string(A); }

std::string UploadDoneText(std::size_t differing)
{
    if (differing == 0) return "Status- upload complete";
    return "Status- uploaded, " + std::to_string(differing) + (differing == 1 ? " byte differs" : " bytes differ");
}

namespace {

std::string AddressList(const std::vector<uint16_t>& addresses)
{
    std::string list;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        if (i == 20) return list + " and " + std::to_string(addresses.size() - i) + " more";
        if (i > 0) list += ", ";
        list += std::to_string(addresses[i]);
    }
    return list;
}

// Runs of neighbouring addresses: "0 to 99, 101, 103, 104, 110 to 120".
std::string RangeList(const std::vector<uint16_t>& sorted)
{
    std::string list;
    std::size_t runs = 0;
    for (std::size_t i = 0; i < sorted.size();) {
        std::size_t j = i;
        while (j + 1 < sorted.size() && sorted[j + 1] == sorted[j] + 1) ++j;
        if (runs++ == 20) return list + " and " + std::to_string(sorted.size() - i) + " more";
        if (!list.empty()) list += ", ";
        list += std::to_string(sorted[i]);
        if (j == i + 1) list += ", " + std::to_string(sorted[j]);
        else if (j > i) list += " to " + std::to_string(sorted[j]);
        i = j + 1;
    }
    return list;
}

std::string Addresses(const std::vector<uint16_t>& sorted)
{
    return (sorted.size() == 1 ? "address " : "addresses ") + RangeList(sorted);
}

}  // namespace

std::string UploadFailedMessage(std::size_t done, bool cancelled, const std::vector<uint16_t>& mayHold,
                                const std::map<uint16_t, uint8_t>& other)
{
    // Of the addresses sent, those whose echo named another byte than the file's.
    std::vector<uint16_t> otherSent;
    for (const auto& [address, held] : other)
        if (address < done) otherSent.push_back(address);
    const std::string why = cancelled ? "The upload of the calibration was broken off"
                                      : "The upload of the calibration stopped: the ECU did not answer";
    std::string holds;
    if (done == 0 && mayHold.empty())
        holds = "The ECU holds none of the file: its calibration is as it was before the load.";
    else if (done == 0)
        holds = "The ECU may hold the file's bytes at " + std::string(mayHold.size() == 1 ? "address " : "addresses ") +
                AddressList(mayHold) + " (sent, but never confirmed); elsewhere its calibration is as it was "
                "before the load.";
    else
        holds = "The ECU now holds the first " + std::to_string(done) + " bytes of the file (addresses 0 to " +
                std::to_string(done - 1) + ")" +
                (otherSent.empty() ? std::string()
                                   : ", except at " + Addresses(otherSent) + ", where it reported storing another byte") +
                ", and its old values after them. The pages show the whole file.";
    if (done > 0 && !mayHold.empty())
        holds += " It may also hold the file's bytes at " +
                 std::string(mayHold.size() == 1 ? "address " : "addresses ") + AddressList(mayHold) +
                 " (sent, but never confirmed).";
    return why + " at address " + std::to_string(done) + ".\n\n" + holds +
           "\n\nLoad the file again when the ECU answers, to send all of it.";
}

void UploadCheck::Begin(const uint8_t* file, bool verifyAll)
{
    active_ = true;
    verifying_ = false;
    verifyAll_ = verifyAll;
    std::copy_n(file, MemorySize, file_.begin());
    doubtful_.clear();
    differing_.clear();
}

void UploadCheck::Echo(uint16_t address, uint8_t stored)
{
    if (!active_ || address > LastAddress) return;
    if (stored != file_[address]) differing_[address] = stored;
    else differing_.erase(address);
}

std::vector<uint16_t> UploadCheck::WritesDone(const std::set<uint16_t>& alsoDoubtful)
{
    std::vector<uint16_t> addresses;
    if (!active_) return addresses;
    if (verifyAll_) {
        for (uint16_t a = 0; a <= LastAddress; ++a) addresses.push_back(a);
    } else {
        std::set<uint16_t> all = doubtful_;
        for (uint16_t a : alsoDoubtful)
            if (a <= LastAddress) all.insert(a);
        addresses.assign(all.begin(), all.end());
    }
    verifying_ = !addresses.empty();
    return addresses;
}

void UploadCheck::ReadBack(uint16_t address, uint8_t held)
{
    if (!active_ || address > LastAddress) return;
    doubtful_.erase(address);
    if (held != file_[address]) differing_[address] = held;
    else differing_.erase(address);
}

std::string UploadCheck::DifferingMessage() const
{
    std::string text = "The ECU holds other bytes than the file at " + std::to_string(differing_.size()) +
                       (differing_.size() == 1 ? " address" : " addresses") + ":\n";
    std::size_t shown = 0;
    for (const auto& [address, held] : differing_) {
        if (shown++ == 20) {
            text += "  and " + std::to_string(differing_.size() - 20) + " more\n";
            break;
        }
        text += "  address " + std::to_string(address) + ": the ECU holds " + std::to_string(held) + ", the file " +
                std::to_string(file_[address]) + "\n";
    }
    return text + "\nThe pages show what the ECU holds. Load the file again to send it once more.";
}

std::string UploadCheck::UnverifiedMessage(const std::vector<uint16_t>& unread) const
{
    return "The calibration was sent, but the ECU stopped answering while its bytes were read back. "
           "It may hold other bytes than the file at " +
           std::string(unread.size() == 1 ? "address " : "addresses ") + AddressList(unread) +
           ".\n\nLoad the file again when the ECU answers, to be sure of all of it.";
}

std::string UploadCheck::StoppedMessage(uint16_t next) const
{
    std::vector<uint16_t> equal, maybe, old;
    for (uint16_t a = 0; a <= LastAddress; ++a) {
        if (differing_.count(a)) continue;
        if (doubtful_.count(a)) maybe.push_back(a);
        else if (a < next) equal.push_back(a);
        else old.push_back(a);
    }
    std::string text = next > LastAddress ? "The upload of the calibration was stopped while its bytes were read back.\n\n"
                                          : "The upload of the calibration was stopped at address " +
                                                std::to_string(next) + ".\n\n";
    if (!equal.empty()) text += "The ECU holds the file's bytes at " + Addresses(equal) + " (confirmed).\n";
    else text += "The ECU holds none of the file's bytes for certain.\n";
    if (!maybe.empty())
        text += "It may hold the file's bytes at " + Addresses(maybe) + " (sent, but never confirmed).\n";
    if (!differing_.empty()) {
        text += "It holds other bytes than the file at";
        std::size_t shown = 0;
        for (const auto& [address, held] : differing_) {
            if (shown++ == 20) {
                text += " and " + std::to_string(differing_.size() - 20) + " more";
                break;
            }
            text += (shown > 1 ? "; address " : " address ") + std::to_string(address) + " (" + std::to_string(held) +
                    ", the file " + std::to_string(file_[address]) + ")";
        }
        text += ".\n";
    }
    if (!old.empty()) text += "It still holds its old values at " + Addresses(old) + ".\n";
    return text + "\nLoad the file again when you can, to send all of it.";
}

}  // namespace transfer
