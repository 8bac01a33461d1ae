// The ECU's command frame: "*", a letter, four hex digits of address, two of data and two
// of checksum. Commands go out through the line's owner (ecu/LineOwner); replies come back
// through a ReplyAssembler fed by ReceiveAvailable, a template over the link so that tests
// drive it with a fake port and the window with TZComm.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace protocol {

inline constexpr int kFrameLength = 10;
inline constexpr char kFrameStart = '*';
inline constexpr uint32_t kPurgeTransmit = 4;   // the port's flag for "drop unsent output"

// (letter + low byte of address + data) mod 256. The address high byte is not covered,
// so a reply with a damaged high byte passes; that is how the ECU computes it too.
uint8_t Checksum(char letter, uint16_t address, uint8_t data);

// The ten characters "*%c%04X%02X%02X", upper-case hex, no terminator.
std::array<char, kFrameLength> BuildFrame(char letter, uint16_t address, uint8_t data);

struct Reply {
    char letter;
    uint16_t address;
    uint8_t data;
    bool operator==(const Reply&) const = default;
};

// Decodes ten characters starting with "*". Hex digits in either case; any other character
// in the address, data or checksum field, or a checksum that does not match, gives nullopt.
std::optional<Reply> DecodeFrame(const char* ten);

// Thrown by a reply handler when a text it needs does not convert to a number (the user
// has typed into a box the handler reads back). Reception counts that reply as rejected.
class ConversionError : public std::runtime_error {
public:
    explicit ConversionError(const std::string& what) : std::runtime_error(what) {}
};

// Gathers replies from a byte stream that may arrive in pieces of any size. A "*" always
// opens a new frame: an unfinished one before it is dropped and counted as rejected, so a
// lost character costs one reply, never a garbled one. Characters outside a frame (CR LF,
// line noise) are skipped.
class ReplyAssembler {
public:
    char ReplyBuffer[kFrameLength] = {};
    uint8_t ReplyFill = 0;   // characters gathered of the open frame; 0 when none is open

    void Feed(const char* data, int n, const std::function<void(const Reply&)>& accepted,
              const std::function<void()>& rejected);
};

// Takes everything the link has received, a frame's worth at a time, and hands each
// accepted reply to `accepted`. A ConversionError from `accepted` counts that reply as
// rejected; any other exception passes through.
template <class Link>
void ReceiveAvailable(Link& link, ReplyAssembler& assembler,
                      const std::function<void(const Reply&)>& accepted,
                      const std::function<void()>& rejected)
{
    const std::function<void(const Reply&)> guarded = [&](const Reply& reply) {
        try {
            accepted(reply);
        } catch (const ConversionError&) {
            rejected();
        }
    };
    uint8_t piece[kFrameLength];
    for (;;) {
        const int n = link.ReadComm(piece, kFrameLength);
        if (n <= 0) return;
        assembler.Feed(reinterpret_cast<const char*>(piece), n, guarded, rejected);
    }
}

}  // namespace protocol
