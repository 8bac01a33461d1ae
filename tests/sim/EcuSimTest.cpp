#include "tools/ecu-sim/EcuSim.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>

using protocol::BuildFrame;
using sim::Command;
using sim::EcuSim;
using sim::SimOptions;

namespace {

constexpr int kHang = 5000;   // ms: only to catch a hang, never to measure

std::string Frame(char letter, uint16_t address, uint8_t data)
{
    const auto f = BuildFrame(letter, address, data);
    return std::string(f.begin(), f.end());
}

// The tool's side of the line, opened raw with plain POSIX calls.
class Terminal {
public:
    explicit Terminal(const std::string& path)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return;
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd_, TCSANOW, &t);
    }
    ~Terminal()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Open() const { return fd_ >= 0; }
    void Write(const std::string& bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) done += static_cast<size_t>(n);
            else if (errno == EAGAIN) ::poll(nullptr, 0, 1);
            else return;
        }
    }
    // Reads until n bytes have come or the time is up.
    std::string Read(size_t n, int timeoutMs = kHang)
    {
        std::string out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[256];
            const ssize_t got = ::read(fd_, buffer, std::min(sizeof buffer, n - out.size()));
            if (got > 0) out.append(buffer, static_cast<size_t>(got));
        }
        return out;
    }
    std::string Ask(const std::string& frame)
    {
        Write(frame);
        return Read(10);
    }

private:
    int fd_ = -1;
};

std::filesystem::path TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "ecusim-XXXXXX").string();
    return ::mkdtemp(pattern.data());
}

sim::Image Pattern(int factor)
{
    sim::Image image;
    for (int i = 0; i < sim::kEepromSize; ++i) image[i] = static_cast<uint8_t>(i * factor + 1);
    return image;
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Started {
    explicit Started(SimOptions options = {}) : ecu(std::move(options))
    {
        std::string error;
        ok = ecu.Start(&error);
        EXPECT_TRUE(ok) << error;
        if (ok) terminal = std::make_unique<Terminal>(ecu.SlavePath());
    }
    EcuSim ecu;
    bool ok = false;
    std::unique_ptr<Terminal> terminal;
};

}  // namespace

TEST(EcuSimTest, AnswersEveryCommandOfTheTableWithTheExactFrame)
{
    Started s;
    ASSERT_TRUE(s.terminal && s.terminal->Open());
    Terminal& t = *s.terminal;
    const auto image = EcuSim::DefaultImage();

    EXPECT_EQ(t.Ask("*V00000056"), "*v0A17008D");   // "Synced" and "Pump", version 2.3
    EXPECT_EQ(t.Ask("*R01F30045"), Frame('r', 499, image[499]));
    EXPECT_EQ(t.Ask(Frame('R', 20, 14)), Frame('r', 20, image[20]));   // data of a read is ignored
    EXPECT_EQ(t.Ask("*W00170F7D"), "*w00170F9D");
    EXPECT_EQ(t.Ask(Frame('R', 23, 0)), Frame('r', 23, 15));
    EXPECT_EQ(s.ecu.Eeprom()[23], 15);
    // Beyond the EEPROM: the address comes back with data 0 and nothing is stored.
    EXPECT_EQ(t.Ask(Frame('W', 700, 5)), Frame('w', 700, 0));
    EXPECT_EQ(t.Ask(Frame('R', 500, 0)), Frame('r', 500, 0));

    s.ecu.SetStatusFlags(0x42);
    s.ecu.SetVersion(5);
    EXPECT_EQ(t.Ask(Frame('V', 0, 0)), Frame('v', 0x4205, 0));

    const std::string live = "ABCDEFGH";
    for (size_t i = 0; i < live.size(); ++i)
        s.ecu.SetLiveReply(live[i], static_cast<uint16_t>(1000 + i), static_cast<uint8_t>(10 + i));
    for (size_t i = 0; i < live.size(); ++i)
        EXPECT_EQ(t.Ask(Frame(live[i], 0, 0)),
                  Frame(static_cast<char>('a' + i), static_cast<uint16_t>(1000 + i), static_cast<uint8_t>(10 + i)));

    const auto got = s.ecu.Received();
    ASSERT_EQ(got.size(), 16u);
    EXPECT_EQ(got[0], (Command{'V', 0, 0}));
    EXPECT_EQ(got[3], (Command{'W', 23, 15}));
    EXPECT_EQ(got[15], (Command{'H', 0, 0}));
    auto unchanged = image;
    unchanged[23] = 15;
    EXPECT_EQ(s.ecu.Eeprom(), unchanged);
}

TEST(EcuSimTest, LiveRepliesFromTheModelDecodeWithinRange)
{
    Started s;
    ASSERT_TRUE(s.terminal && s.terminal->Open());
    for (int round = 0; round < 20; ++round) {
        for (char letter = 'A'; letter <= 'H'; ++letter) {
            const std::string reply = s.terminal->Ask(Frame(letter, 0, 0));
            ASSERT_EQ(reply.size(), 10u);
            const auto r = protocol::DecodeFrame(reply.data());
            ASSERT_TRUE(r) << reply;
            EXPECT_EQ(r->letter, letter - 'A' + 'a');
            switch (letter) {
            case 'A': EXPECT_GE(r->address, 700); EXPECT_LE(r->address, 7500); break;   // rpm
            case 'B': EXPECT_LE(r->data, 240); break;                                   // TPS x16
            case 'D': EXPECT_GE(r->address, 40); EXPECT_LE(r->address, 90); break;     // air + 30
            case 'E': EXPECT_GE(r->address, 130); EXPECT_LE(r->address, 145); break;   // volts x10
            case 'F': EXPECT_GE(r->data, 85); EXPECT_LE(r->data, 115); break;           // lambda x100
            default: break;
            }
        }
    }
}

TEST(EngineModelTest, MovesBetweenIdleAndHighRpmAndWarmsUp)
{
    sim::EngineModel engine(7);
    double lowest = 1e9, highest = 0;
    const double startWater = engine.WaterTemp();
    for (int tick = 0; tick < 10 * 60 * 80; ++tick) {   // ten minutes of 12 ms ticks
        engine.Advance(0.012);
        const auto a = engine.Reply('A');
        lowest = std::min<double>(lowest, a.address);
        highest = std::max<double>(highest, a.address);
        ASSERT_GE(a.data, 100);   // advance is never negative
        const auto c = engine.Reply('C');
        ASSERT_LE(c.address / 32.0 * a.address / 600.0, 100.0);   // injector duty, percent
        const auto f = engine.Reply('F');
        ASSERT_GE(f.data, 85);
        ASSERT_LE(f.data, 115);
        ASSERT_LE(f.address, 255);   // the throttle calibration stores the reading in one byte
        const auto h = engine.Reply('H');
        ASSERT_GE(h.address, 300);
        ASSERT_LE(h.address, 950);
    }
    EXPECT_LT(lowest, 1000);
    EXPECT_GT(highest, 5000);
    EXPECT_LT(startWater, 30);
    EXPECT_GT(engine.WaterTemp(), 75);
}

TEST(EcuSimTest, DamagedInputGetsNoReplyAndGarbageResynchronises)
{
    Started s;
    ASSERT_TRUE(s.terminal && s.terminal->Open());
    Terminal& t = *s.terminal;
    // Bad checksum, non-hex field and a frame cut short, each followed by a good frame:
    // the only reply is to the good one.
    EXPECT_EQ(t.Ask("*V00000057" + Frame('R', 1, 0)), Frame('r', 1, EcuSim::DefaultImage()[1]));
    EXPECT_EQ(t.Ask("*V0000G056" + Frame('R', 2, 0)), Frame('r', 2, EcuSim::DefaultImage()[2]));
    EXPECT_EQ(t.Ask("\r\nnoise 1234*R00" + Frame('V', 0, 0)), "*v0A17008D");
    EXPECT_EQ(s.ecu.RejectedCount(), 3u);

    // One character at a time still makes a command.
    for (char c : Frame('R', 3, 0)) t.Write(std::string(1, c));
    EXPECT_EQ(t.Read(10), Frame('r', 3, EcuSim::DefaultImage()[3]));
    EXPECT_EQ(s.ecu.ReceivedCount(), 4u);
}

TEST(EcuSimTest, SilentModeRecordsButNeitherActsNorAnswers)
{
    Started s;
    ASSERT_TRUE(s.terminal && s.terminal->Open());
    const uint8_t before = EcuSim::DefaultImage()[30];
    s.ecu.SetSilent(true);
    s.terminal->Write(Frame('V', 0, 0) + Frame('W', 30, 99));
    ASSERT_TRUE(s.ecu.WaitForReceived(2, kHang));
    s.ecu.SetSilent(false);
    // The reply to this read is the first thing on the line: nothing came for the others.
    EXPECT_EQ(s.terminal->Ask(Frame('R', 30, 0)), Frame('r', 30, before));
    EXPECT_EQ(s.ecu.Received(), (std::vector<Command>{{'V', 0, 0}, {'W', 30, 99}, {'R', 30, 0}}));
    s.ecu.ClearReceived();
    EXPECT_EQ(s.ecu.ReceivedCount(), 0u);
}

TEST(EcuSimTest, FaultOptionsShapeTheReplies)
{
    {
        SimOptions o;
        o.crlf = true;
        o.silentAfter = 2;
        Started s(o);
        ASSERT_TRUE(s.terminal && s.terminal->Open());
        s.terminal->Write(Frame('V', 0, 0) + Frame('R', 0, 0) + Frame('R', 1, 0));
        ASSERT_TRUE(s.ecu.WaitForReceived(3, kHang));
        EXPECT_EQ(s.ecu.RepliesSent(), 2u);
        EXPECT_EQ(s.terminal->Read(24), "*v0A17008D\r\n" + Frame('r', 0, EcuSim::DefaultImage()[0]) + "\r\n");
        EXPECT_EQ(s.terminal->Read(1, 200), "");
    }
    {
        SimOptions o;
        o.corrupt = 1.0;
        o.seed = 99;
        Started s(o);
        ASSERT_TRUE(s.terminal && s.terminal->Open());
        for (uint16_t a = 0; a < 30; ++a) {
            const std::string good = Frame('r', a, EcuSim::DefaultImage()[a]);
            const std::string got = s.terminal->Ask(Frame('R', a, 0));
            ASSERT_EQ(got.size(), 10u);
            int differences = 0;
            for (int i = 0; i < 10; ++i) differences += got[i] != good[i];
            EXPECT_EQ(differences, 1) << got;
            EXPECT_EQ(got[0], '*');
        }
    }
    {
        SimOptions o;
        o.drop = 1.0;
        Started s(o);
        ASSERT_TRUE(s.terminal && s.terminal->Open());
        s.terminal->Write(Frame('W', 40, 7));
        ASSERT_TRUE(s.ecu.WaitForReceived(1, kHang));
        EXPECT_EQ(s.terminal->Read(1, 200), "");
        EXPECT_EQ(s.ecu.Eeprom()[40], 7);   // the write acted; only its echo was lost
    }
    {
        SimOptions o;   // paced at 9600 baud: slower, but the same bytes
        o.baud = 9600;
        o.latencyMs = 3;
        Started s(o);
        ASSERT_TRUE(s.terminal && s.terminal->Open());
        s.terminal->Write(Frame('V', 0, 0) + Frame('R', 499, 0));
        EXPECT_EQ(s.terminal->Read(20), "*v0A17008D" + Frame('r', 499, EcuSim::DefaultImage()[499]));
    }
}

// The bad days a test needs on demand: commands lost on their way, a slow reader, XOFF, and
// the device unplugged and back under the same link.
TEST(EcuSimTest, LostCommandsSlowReadingFlowControlAndUnplugging)
{
    {
        SimOptions o;
        o.dropCommands = 1.0;
        Started s(o);
        ASSERT_TRUE(s.terminal && s.terminal->Open());
        s.terminal->Write(Frame('W', 40, 7));
        EXPECT_EQ(s.terminal->Read(1, 200), "");
        EXPECT_EQ(s.ecu.CommandsLost(), 1u);
        EXPECT_EQ(s.ecu.ReceivedCount(), 0u);                  // it never got there
        EXPECT_EQ(s.ecu.Eeprom()[40], EcuSim::DefaultImage()[40]);   // and so never acted
    }
    {
        Started s;
        ASSERT_TRUE(s.terminal && s.terminal->Open());
        s.ecu.SetReadEvery(150);
        s.terminal->Write(Frame('V', 0, 0));   // taken at once: the reader was idle
        ASSERT_EQ(s.terminal->Read(10).size(), 10u);
        const auto sent = std::chrono::steady_clock::now();
        s.terminal->Write(Frame('R', 1, 0) + Frame('R', 2, 0));
        const std::string both = s.terminal->Read(20);
        const auto waited = std::chrono::steady_clock::now() - sent;
        EXPECT_EQ(both, Frame('r', 1, EcuSim::DefaultImage()[1]) + Frame('r', 2, EcuSim::DefaultImage()[2]));
        EXPECT_GT(waited, std::chrono::milliseconds(100));   // both waited for the next look at the line
        EXPECT_EQ(s.ecu.RejectedCount(), 0u);
    }
    {
        Started s;
        ASSERT_TRUE(s.terminal && s.terminal->Open());
        s.ecu.SendFlowControl(true);
        s.ecu.SendFlowControl(false);
        EXPECT_EQ(s.terminal->Read(2), "\x13\x11");   // raw here: no flow control on this end
    }
    {
        const auto dir = TempDir();
        SimOptions o;
        o.link = (dir / "COM1").string();
        Started s(o);
        ASSERT_TRUE(s.terminal && s.terminal->Open());
        s.ecu.SetEeprom(Pattern(3));
        const std::string before = s.ecu.SlavePath();
        s.ecu.Unplug();
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(o.link)));
        const int gone = ::open(before.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_LT(gone, 0);   // the terminal itself is gone, not only its link
        if (gone >= 0) ::close(gone);
        ASSERT_TRUE(s.ecu.Replug());
        EXPECT_TRUE(std::filesystem::is_symlink(o.link));
        Terminal again(o.link);
        ASSERT_TRUE(again.Open());
        EXPECT_EQ(again.Ask(Frame('R', 7, 0)), Frame('r', 7, Pattern(3)[7]));   // the same ECU, the same memory
        s.ecu.Stop();
        std::filesystem::remove_all(dir);
    }
}

TEST(EcuSimTest, RawReplyHookSendsPiecesOrNothing)
{
    Started s;
    ASSERT_TRUE(s.terminal && s.terminal->Open());
    std::vector<Command> seen;
    s.ecu.SetRawReplyHook([&](const Command& c, const std::string& reply) -> std::vector<std::string> {
        seen.push_back(c);
        if (c.letter == 'R') return {};
        return {reply.substr(0, 3), reply.substr(3, 4), reply.substr(7)};
    });
    EXPECT_EQ(s.terminal->Ask(Frame('R', 0, 0) + Frame('V', 0, 0)), "*v0A17008D");
    EXPECT_EQ(seen.size(), 2u);
}

TEST(EcuSimTest, SurvivesTheToolClosingAndReopeningThePort)
{
    Started s;
    ASSERT_TRUE(s.ok);
    s.terminal.reset();
    for (int i = 0; i < 3; ++i) {
        Terminal t(s.ecu.SlavePath());
        ASSERT_TRUE(t.Open());
        EXPECT_EQ(t.Ask(Frame('V', 0, 0)), "*v0A17008D");
    }
    // Replies nobody reads pile up past what the terminal holds; Stop must still return.
    Terminal t(s.ecu.SlavePath());
    std::string many;
    for (int i = 0; i < 2000; ++i) many += Frame('V', 0, 0);
    t.Write(many);
    ASSERT_TRUE(s.ecu.WaitForReceived(2003, kHang));
    s.ecu.Stop();
    EXPECT_FALSE(s.ecu.Running());
}

TEST(EcuSimTest, ImageLoadAndPersistRoundTrip)
{
    const auto dir = TempDir();
    const auto file = dir / "calibration.qxe";
    const auto image = Pattern(3);
    WriteBytes(file, std::string(image.begin(), image.end()));
    {
        SimOptions o;
        o.imagePath = file.string();
        o.persist = true;
        Started s(o);
        ASSERT_TRUE(s.terminal && s.terminal->Open());
        EXPECT_EQ(s.terminal->Ask(Frame('R', 5, 0)), Frame('r', 5, image[5]));
        EXPECT_EQ(s.terminal->Ask(Frame('W', 5, 200)), Frame('w', 5, 200));
        // The echo arrives after the file is written.
        auto expected = image;
        expected[5] = 200;
        EXPECT_EQ(ReadBytes(file), std::string(expected.begin(), expected.end()));
        s.terminal->Ask(Frame('W', 600, 1));   // outside the EEPROM: file unchanged
        EXPECT_EQ(ReadBytes(file), std::string(expected.begin(), expected.end()));
    }
    // Nothing but the image is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);

    for (const std::string& bytes : {std::string(499, 'x'), std::string(501, 'x'), std::string()}) {
        WriteBytes(file, bytes);
        SimOptions o;
        o.imagePath = file.string();
        EcuSim ecu(o);
        std::string error;
        EXPECT_FALSE(ecu.Start(&error));
        EXPECT_NE(error.find("500"), std::string::npos) << error;
        EXPECT_FALSE(ecu.Running());
    }
    std::filesystem::remove_all(dir);
    SimOptions missing;
    missing.imagePath = (dir / "none.qxe").string();
    std::string error;
    EXPECT_FALSE(EcuSim(missing).Start(&error));
    EXPECT_NE(error.find("none.qxe"), std::string::npos);
}

TEST(EcuSimTest, LinkIsMadeReplacedAndRemoved)
{
    const auto dir = TempDir();
    const auto link = dir / "COM1";
    std::filesystem::create_symlink("/nonexistent/old", link);   // left by a crashed run
    SimOptions o;
    o.link = link.string();
    {
        Started s(o);
        ASSERT_TRUE(s.ok);
        EXPECT_EQ(std::filesystem::read_symlink(link), s.ecu.SlavePath());
        Terminal t(link.string());
        ASSERT_TRUE(t.Open());
        EXPECT_EQ(t.Ask(Frame('V', 0, 0)), "*v0A17008D");
    }
    EXPECT_FALSE(std::filesystem::is_symlink(link));

    {   // Another simulator took the name meanwhile: its link is left alone.
        Started s(o);
        ASSERT_TRUE(s.ok);
        std::filesystem::remove(link);
        std::filesystem::create_symlink("/dev/null", link);
    }
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    std::filesystem::remove(link);

    WriteBytes(link, "a user's file");   // never replaced
    EcuSim ecu(o);
    std::string error;
    EXPECT_FALSE(ecu.Start(&error));
    EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
    EXPECT_EQ(ReadBytes(link), "a user's file");
    std::filesystem::remove_all(dir);
}

TEST(SimOptionsTest, ParsesEveryOptionAndRefusesBadOnes)
{
    const auto good = sim::ParseOptions({"--link", "/tmp/x", "--image=a.qxe", "--persist", "--baud", "19200",
                                         "--latency-ms", "5", "--drop", "0.25", "--corrupt=1", "--crlf",
                                         "--silent-after", "0", "--seed", "42", "--trace", "--drop-commands",
                                         "0.5", "--read-every-ms", "20", "--xoff-every-ms", "3000",
                                         "--xoff-hold-ms", "50", "--unplug-every-ms", "10000", "--unplug-for-ms",
                                         "1500", "--slow-after", "300:80"});
    ASSERT_EQ(good.error, "");
    const SimOptions& o = good.options;
    EXPECT_EQ(o.link, "/tmp/x");
    EXPECT_EQ(o.imagePath, "a.qxe");
    EXPECT_TRUE(o.persist && o.crlf && o.trace);
    EXPECT_EQ(o.baud, 19200u);
    EXPECT_EQ(o.latencyMs, 5u);
    EXPECT_DOUBLE_EQ(o.drop, 0.25);
    EXPECT_DOUBLE_EQ(o.corrupt, 1.0);
    EXPECT_EQ(o.silentAfter, 0u);
    EXPECT_EQ(o.seed, 42u);
    EXPECT_DOUBLE_EQ(o.dropCommands, 0.5);
    EXPECT_EQ(o.readEveryMs, 20u);
    EXPECT_EQ(o.xoffEveryMs, 3000u);
    EXPECT_EQ(o.xoffHoldMs, 50u);
    EXPECT_EQ(o.unplugEveryMs, 10000u);
    EXPECT_EQ(o.unplugForMs, 1500u);
    EXPECT_EQ(o.slowAfter, 300u);
    EXPECT_EQ(o.slowWriteMs, 80u);

    const auto defaults = sim::ParseOptions({});
    EXPECT_EQ(defaults.error, "");
    EXPECT_EQ(defaults.options.link, "./COM1");
    EXPECT_EQ(defaults.options.baud, 0u);
    EXPECT_FALSE(defaults.options.silentAfter);
    EXPECT_TRUE(sim::ParseOptions({"--help"}).help);
    EXPECT_TRUE(sim::ParseOptions({"--version"}).version);
    EXPECT_FALSE(sim::ParseOptions({"--help"}).version);

    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"}, {"COM1"}, {"--baud"}, {"--baud", "fast"}, {"--baud", "-1"}, {"--baud", "96OO"},
        {"--latency-ms", "99999999999"}, {"--drop", "1.5"}, {"--corrupt", "-0.1"}, {"--drop", "nan"},
        {"--link", ""}, {"--persist"}, {"--crlf=yes"}, {"--seed", "1e3"}, {"--drop-commands", "2"},
        {"--read-every-ms", "-5"}, {"--slow-after", "300"}, {"--slow-after", "x:80"}, {"--slow-after", "300:"},
    };
    for (const auto& args : bad) {
        const auto parsed = sim::ParseOptions(args);
        EXPECT_NE(parsed.error, "") << args[0];
    }
    EXPECT_NE(sim::ParseOptions({"--drop", "2"}).error.find("0 to 1"), std::string::npos);
}
