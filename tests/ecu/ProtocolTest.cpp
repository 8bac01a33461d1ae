#include "ecu/Protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>
#include <string>
#include <vector>

using protocol::BuildFrame;
using protocol::DecodeFrame;
using protocol::Reply;
using protocol::ReplyAssembler;

namespace {

std::string Text(const std::array<char, 10>& frame) { return std::string(frame.begin(), frame.end()); }

// Collects what an assembler hands on.
struct Sink {
    std::vector<Reply> accepted;
    int rejected = 0;
    void Feed(ReplyAssembler& a, const std::string& bytes)
    {
        a.Feed(bytes.data(), static_cast<int>(bytes.size()), [this](const Reply& r) { accepted.push_back(r); },
               [this] { ++rejected; });
    }
};

// A port that hands out what was "received" in pieces no larger than it is asked for,
// optionally smaller, and records what is sent to it.
struct FakeLink {
    int connected = 0;
    bool openSucceeds = true;
    std::vector<std::string> calls;
    std::deque<uint8_t> incoming;
    std::vector<int> pieceSizes;   // cycled through; empty means "as much as asked"
    size_t nextPiece = 0;
    std::vector<int32_t> readLengths;

    int Connected() { return connected; }
    int OpenConnection()
    {
        calls.push_back("open");
        connected = openSucceeds ? 1 : 0;
        return connected;
    }
    int PurgeCommPort(uint32_t flags)
    {
        calls.push_back("purge " + std::to_string(flags));
        return connected;
    }
    int WriteCommByte(uint8_t b)
    {
        calls.push_back(std::string("write ") + static_cast<char>(b));
        return connected;
    }
    int ReadComm(uint8_t* buffer, int32_t length)
    {
        readLengths.push_back(length);
        int n = std::min<int>(length, static_cast<int>(incoming.size()));
        if (!pieceSizes.empty()) n = std::min(n, pieceSizes[nextPiece++ % pieceSizes.size()]);
        for (int i = 0; i < n; ++i) {
            buffer[i] = incoming.front();
            incoming.pop_front();
        }
        return n;
    }
    void Queue(const std::string& s) { incoming.insert(incoming.end(), s.begin(), s.end()); }
};

}  // namespace

TEST(ProtocolFrame, BuildsTheKnownFrames)
{
    EXPECT_EQ(Text(BuildFrame('V', 0, 0)), "*V00000056");
    EXPECT_EQ(Text(BuildFrame('R', 499, 0)), "*R01F30045");
    EXPECT_EQ(Text(BuildFrame('W', 0x0100, 0x20)), "*W01002077");
    EXPECT_EQ(Text(BuildFrame('W', 23, 15)), "*W00170F7D");
    EXPECT_EQ(Text(BuildFrame('a', 3000, 125)), "*a0BB87D96");
    // The checksum wraps and covers only the low byte of the address.
    EXPECT_EQ(protocol::Checksum('W', 0xFFFF, 0xFF), static_cast<uint8_t>(0x57 + 0xFF + 0xFF));
    EXPECT_EQ(protocol::Checksum('R', 0x12F3, 0), protocol::Checksum('R', 0x01F3, 0));
}

TEST(ProtocolFrame, DecodesEitherCaseAndTheUncoveredHighByte)
{
    const Reply expected{'a', 3000, 125};
    EXPECT_EQ(DecodeFrame("*a0BB87D96"), expected);
    EXPECT_EQ(DecodeFrame("*a0bb87d96"), expected);
    EXPECT_EQ(DecodeFrame("*w00170F9D"), (Reply{'w', 23, 15}));
    // High byte 0x0B damaged to 0x5B: passes the checksum and carries the wrong address.
    EXPECT_EQ(DecodeFrame("*a5BB87D96"), (Reply{'a', 0x5BB8, 125}));
}

TEST(ProtocolFrame, RefusesBadChecksumAndNonHexFields)
{
    EXPECT_FALSE(DecodeFrame("*a0BB87D97"));   // checksum off by one
    EXPECT_FALSE(DecodeFrame("*a0BG87D96"));   // G in the address
    EXPECT_FALSE(DecodeFrame("*a0BB8 D96"));   // space in the data
    EXPECT_FALSE(DecodeFrame("*a0BB87DX6"));   // X in the checksum
    EXPECT_FALSE(DecodeFrame("*a-BB87D96"));   // a sign is not a digit
    EXPECT_FALSE(DecodeFrame("xa0BB87D96"));   // no start character
}

TEST(ReplyAssemblerTest, EverySplitOfAStreamWithNoiseYieldsTheRepliesInOrder)
{
    std::mt19937 rng(20240611);
    const std::string noiseChars = "\r\n \t0123456789ABCDEFabcdefzZ#!\x11\x13\x7f\x80\xff";
    for (int iteration = 0; iteration < 500; ++iteration) {
        std::vector<Reply> sent;
        std::string stream;
        const int count = std::uniform_int_distribution<int>(1, 40)(rng);
        for (int i = 0; i < count; ++i) {
            const Reply r{static_cast<char>('a' + rng() % 26), static_cast<uint16_t>(rng()),
                          static_cast<uint8_t>(rng())};
            sent.push_back(r);
            std::string frame = Text(BuildFrame(r.letter, r.address, r.data));
            if (rng() % 2)   // the ECU may answer in lower-case hex
                std::transform(frame.begin() + 2, frame.end(), frame.begin() + 2,
                               [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
            stream += frame;
            const int noise = std::uniform_int_distribution<int>(0, 3)(rng) == 0
                                  ? std::uniform_int_distribution<int>(1, 25)(rng) : 0;
            for (int k = 0; k < noise; ++k) stream += noiseChars[rng() % noiseChars.size()];
            if (rng() % 3 == 0) stream += "\r\n";
        }

        ReplyAssembler assembler;
        Sink sink;
        size_t at = 0;
        while (at < stream.size()) {
            const size_t piece = std::uniform_int_distribution<size_t>(1, 23)(rng);
            sink.Feed(assembler, stream.substr(at, piece));
            at += piece;
        }
        ASSERT_EQ(sink.accepted, sent) << "iteration " << iteration;
        ASSERT_EQ(sink.rejected, 0) << "iteration " << iteration;
    }
}

TEST(ReplyAssemblerTest, EachDamagedReplyIsRejectedOnceAndTheNextOneStillArrives)
{
    const std::string good = "*a0BB87D96";
    const std::vector<std::string> damaged = {
        "*a0BB87D97",   // wrong checksum
        "*a0BG87D96",   // non-hex character
        "*a0BB8",       // cut short by the next frame's "*"
        "*a0B\r\n7D96", // line noise inside the frame
    };
    for (const auto& bad : damaged) {
        for (int split = 1; split <= 10; ++split) {
            ReplyAssembler assembler;
            Sink sink;
            const std::string stream = bad + good;
            for (size_t at = 0; at < stream.size(); at += split) sink.Feed(assembler, stream.substr(at, split));
            EXPECT_EQ(sink.rejected, 1) << bad << " split " << split;
            ASSERT_EQ(sink.accepted.size(), 1u) << bad << " split " << split;
            EXPECT_EQ(sink.accepted[0], (Reply{'a', 3000, 125}));
        }
    }
}

TEST(ReplyAssemblerTest, TenCharactersFromMidFrameRecoverAtTheNextStart)
{
    ReplyAssembler assembler;
    Sink sink;
    sink.Feed(assembler, "7D96*a0BB8");   // tail of one reply, head of the next
    sink.Feed(assembler, "7D96");
    EXPECT_EQ(sink.rejected, 0);
    EXPECT_EQ(sink.accepted, (std::vector<Reply>{{'a', 3000, 125}}));
    EXPECT_EQ(assembler.ReplyFill, 0);
}

TEST(ReplyAssemblerTest, AnUnfinishedFrameStaysOpenAcrossFeeds)
{
    ReplyAssembler assembler;
    Sink sink;
    sink.Feed(assembler, "*a0B");
    EXPECT_EQ(assembler.ReplyFill, 4);
    EXPECT_EQ(std::string(assembler.ReplyBuffer, 4), "*a0B");
    sink.Feed(assembler, "B87D96");
    EXPECT_EQ(sink.accepted.size(), 1u);
    EXPECT_EQ(assembler.ReplyFill, 0);
}

TEST(ReceiveAvailableTest, DrainsTheLinkInPiecesOfAtMostTen)
{
    FakeLink link;
    link.pieceSizes = {3, 4, 3, 7, 1};
    std::string stream;
    std::vector<Reply> sent;
    for (uint16_t a = 0; a < 20; ++a) {
        sent.push_back({'r', a, static_cast<uint8_t>(a * 7)});
        stream += Text(BuildFrame('r', a, static_cast<uint8_t>(a * 7))) + "\r\n";
    }
    link.Queue(stream);
    ReplyAssembler assembler;
    std::vector<Reply> got;
    int rejected = 0;
    protocol::ReceiveAvailable(link, assembler, [&](const Reply& r) { got.push_back(r); }, [&] { ++rejected; });
    EXPECT_EQ(got, sent);
    EXPECT_EQ(rejected, 0);
    EXPECT_TRUE(link.incoming.empty());
    for (int32_t length : link.readLengths) EXPECT_LE(length, 10);
}

TEST(ReceiveAvailableTest, ConversionErrorCountsAsRejectedOtherErrorsPassThrough)
{
    FakeLink link;
    link.Queue("*a0BB87D96" + Text(BuildFrame('c', 64, 128)) + "*a0BB87D96");
    ReplyAssembler assembler;
    std::vector<char> handled;
    int rejected = 0;
    auto handler = [&](const Reply& r) {
        if (r.letter == 'c') throw protocol::ConversionError("txtRPM is not a number");
        handled.push_back(r.letter);
    };
    protocol::ReceiveAvailable(link, assembler, handler, [&] { ++rejected; });
    EXPECT_EQ(rejected, 1);
    EXPECT_EQ(handled, (std::vector<char>{'a', 'a'}));

    link.Queue("*a0BB87D96");
    EXPECT_THROW(protocol::ReceiveAvailable(
                     link, assembler, [](const Reply&) { throw std::logic_error("bug"); }, [&] { ++rejected; }),
                 std::logic_error);
    EXPECT_EQ(rejected, 1);
    EXPECT_EQ(assembler.ReplyFill, 0);   // the next reply starts clean
}
