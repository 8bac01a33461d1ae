#include "ecu/Protocol.h"

#include <cstdio>

namespace protocol {

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reads `digits` hex characters; nullopt when any of them is not a hex digit.
std::optional<unsigned> ReadHex(const char* text, int digits)
{
    unsigned value = 0;
    for (int i = 0; i < digits; ++i) {
        const int v = HexValue(text[i]);
        if (v < 0) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(v);
    }
    return value;
}

}  // namespace

uint8_t Checksum(char letter, uint16_t address, uint8_t data)
{
    return static_cast<uint8_t>(static_cast<uint8_t>(letter) + (address & 0xFF) + data);
}

std::array<char, kFrameLength> BuildFrame(char letter, uint16_t address, uint8_t data)
{
    char text[kFrameLength + 1];
    std::snprintf(text, sizeof text, "*%c%04X%02X%02X", letter, static_cast<unsigned>(address),
                  static_cast<unsigned>(data), static_cast<unsigned>(Checksum(letter, address, data)));
    std::array<char, kFrameLength> frame;
    for (int i = 0; i < kFrameLength; ++i) frame[i] = text[i];
    return frame;
}

std::optional<Reply> DecodeFrame(const char* ten)
{
    if (ten[0] != kFrameStart) return std::nullopt;
    const auto address = ReadHex(ten + 2, 4);
    const auto data = ReadHex(ten + 6, 2);
    const auto sum = ReadHex(ten + 8, 2);
    if (!address || !data || !sum) return std::nullopt;
    const Reply reply{ten[1], static_cast<uint16_t>(*address), static_cast<uint8_t>(*data)};
    if (Checksum(reply.letter, reply.address, reply.data) != *sum) return std::nullopt;
    return reply;
}

void ReplyAssembler::Feed(const char* data, int n, const std::function<void(const Reply&)>& accepted,
                          const std::function<void()>& rejected)
{
    for (int i = 0; i < n; ++i) {
        const char c = data[i];
        if (c == kFrameStart) {
            // A new frame begins; one still open lost characters on the way.
            if (ReplyFill > 0) {
                ReplyFill = 0;
                rejected();
            }
            ReplyBuffer[ReplyFill++] = c;
            continue;
        }
        if (ReplyFill == 0) continue;   // noise between frames
        ReplyBuffer[ReplyFill++] = c;
        if (ReplyFill < kFrameLength) continue;
        // Close the frame before handing it on, so a handler that sends (and so may see
        // more bytes) finds the assembler idle.
        ReplyFill = 0;
        if (const auto reply = DecodeFrame(ReplyBuffer))
            accepted(*reply);
        else
            rejected();
    }
}

}  // namespace protocol
