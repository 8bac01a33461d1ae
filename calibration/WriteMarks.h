// What the screen may claim the ECU holds. A byte the tuner changed is pending from the moment
// its write is queued until the ECU echoes it, and failed when its job gave up (or was broken
// off) before the echo came: the ECU may or may not have stored it. The marks follow the line's
// events alone, so they are as true as the echoes; the pages only draw them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ecu/Exchanges.h"

namespace calibration {

enum class WriteMark { None, Pending, Failed };

// An address whose mark changed, with what the screen needs to show it.
struct MarkChange {
    uint16_t address;
    WriteMark mark;                  // the mark now
    uint8_t sent;                    // the byte of the write this is about
    std::optional<uint8_t> stored;   // its echo: the byte the ECU reports it stored
    bool decodedSince = false;       // a decode has rewritten the pages since the write was queued
};

// What a marked cell or setting says of itself (its tooltip); shownSent is the value of the
// write as the screen shows values. Empty for no mark.
std::string MarkText(WriteMark mark, int shownSent);
// The tooltip of an address in doubt; shownSeen: the value the doubtful echo named.
std::string DoubtText(int shownSeen);

class WriteMarks {
public:
    // A job of writes queued on the line, before anything of it has gone out: its bytes are
    // pending from now on.
    std::vector<MarkChange> Track(uint32_t job, const std::vector<exchange::Step>& steps);

    // Every event of the line, of every job: echoes clear marks, jobs that give up fail the
    // step they gave up at and every write after it, reads tell what the ECU holds.
    std::vector<MarkChange> Apply(const exchange::Event& event);

    // The ECU may hold another byte at the address than anyone knows (an echo that could not be
    // placed, a write that went out and was never confirmed): marked until a read of the address
    // tells. `seen`: the byte the doubtful echo named, if any.
    std::vector<MarkChange> Doubt(uint16_t address, std::optional<uint8_t> seen);
    bool Doubted(uint16_t address) const;

    // The image has been decoded onto the pages. A failed byte the ECU has reported since (read
    // or echoed) is on screen as the ECU holds it now, and is no longer marked.
    std::vector<MarkChange> Decoded();

    WriteMark Mark(uint16_t address) const;
    // The byte of the write pending or failed at the address.
    std::optional<uint8_t> Sent(uint16_t address) const;
    std::size_t Count(WriteMark mark) const;

private:
    struct Entry {
        WriteMark mark;
        uint32_t job;           // the latest job writing the address
        uint8_t sent;
        bool reported = false;  // failed, and the ECU has told its byte since
        bool decodedSince = false;
        bool doubt = false;     // cleared only by a read of the address
    };
    void StepDone(const exchange::Event& e, std::vector<MarkChange>& changes);
    void JobFailed(const exchange::Event& e, std::vector<MarkChange>& changes);

    std::map<uint16_t, Entry> entries_;                       // marked addresses only
    std::map<uint32_t, std::vector<exchange::Step>> jobs_;    // tracked jobs still running
};

}  // namespace calibration
