#include "tools/ecu-sim/EcuSim.h"

#include "ecu/SerialPlatform.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace sim {

namespace {

// The serial layer asks for low latency through one driver; this one hears the requests made for
// the terminals of the simulators running in this process and passes every other to the kernel.
// A pseudo-terminal cannot carry TIOCSSERIAL, so this is where a simulated adapter can notice it.
class SimulatedAdapters : public serial::LatencyDriver {
public:
    static SimulatedAdapters& Instance()
    {
        static SimulatedAdapters adapters;
        return adapters;
    }
    void Add(dev_t device, EcuSim* sim)
    {
        std::lock_guard lock(mutex_);
        sims_[device] = sim;
        if (!serial::latencyDriver()) serial::setLatencyDriver(this);
    }
    void Remove(EcuSim* sim)
    {
        std::lock_guard lock(mutex_);
        std::erase_if(sims_, [sim](const auto& entry) { return entry.second == sim; });
    }
    bool RequestLowLatency(int fd) override
    {
        struct stat st;
        if (::fstat(fd, &st) == 0) {
            std::lock_guard lock(mutex_);
            if (const auto found = sims_.find(st.st_rdev); found != sims_.end()) {
                found->second->RequestLowLatency();
                return true;
            }
        }
        return serial::kernelRequestLowLatency(fd);
    }

private:
    std::mutex mutex_;
    std::map<dev_t, EcuSim*> sims_;
};

}  // namespace

using Clock = std::chrono::steady_clock;

// One write to the terminal, due at a given time; `trace` is written when it goes out.
struct EcuSim::Outgoing {
    Clock::time_point due;
    std::string bytes;
    std::string trace;
};

// What the answering thread has still to send, in the order it goes out.
class EcuSim::Line {
public:
    std::deque<Outgoing> queue;
    Clock::time_point freeAt{};   // the transmit side is busy until then
    bool blocked = false;         // the terminal took no more; wait until it can
};

namespace {

void SetError(std::string* error, const std::string& text)
{
    if (error) *error = text;
}

// Frames are printable, but garbage need not be: keep the trace on one line.
std::string Printable(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c < 0x20 || c >= 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else out += static_cast<char>(c);
    }
    return out;
}

std::string FrameText(const Command& c)
{
    const auto frame = protocol::BuildFrame(c.letter, c.address, c.data);
    return std::string(frame.begin(), frame.end());
}

}  // namespace

EcuSim::EcuSim(SimOptions options)
    : options_(std::move(options)), eeprom_(sim::DefaultImage()), readEveryMs_(options_.readEveryMs),
      engine_(options_.seed),
      faults_(options_.seed ^ 0x5eed5eed5eedULL)
{
}

EcuSim::~EcuSim() { Stop(); }

double EcuSim::Now() const { return std::chrono::duration<double>(Clock::now() - started_).count(); }

void EcuSim::Trace(const std::string& text) const
{
    if (options_.trace) std::fprintf(stderr, "[%11.6f] %s\n", Now(), text.c_str());
}

bool EcuSim::Start(std::string* error)
{
    if (Running()) {
        SetError(error, "the simulated ECU is already running");
        return false;
    }
    if (!options_.imagePath.empty()) {
        Image image;
        if (!LoadImageFile(options_.imagePath, image, error)) return false;
        std::lock_guard lock(mutex_);
        eeprom_ = image;
    }
    started_ = Clock::now();
    {
        std::lock_guard lock(mutex_);
        engineTime_ = 0;
    }
    return Begin(error);
}

bool EcuSim::Begin(std::string* error)
{
    auto failWith = [&](const std::string& text) {
        SetError(error, text);
        for (int* fd : {&master_, &slave_, &wake_})
            if (*fd >= 0) ::close(std::exchange(*fd, -1));
        return false;
    };
    auto fail = [&](const std::string& what) { return failWith(what + ": " + std::strerror(errno)); };
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) return fail("cannot open a pseudo-terminal");
    char name[PATH_MAX];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0)
        return fail("cannot prepare the pseudo-terminal");
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) return fail(std::string("cannot open ") + name);
    termios raw{};
    if (::tcgetattr(slave_, &raw) != 0) return fail("cannot read the terminal's settings");
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, B19200);
    if (::tcsetattr(slave_, TCSANOW, &raw) != 0) return fail("cannot set the terminal raw");
    if (::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) != 0)
        return fail("cannot make the terminal non-blocking");
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) return fail("cannot make a wake-up descriptor");

    if (!options_.link.empty()) {
        struct stat st;
        if (::lstat(options_.link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
            return failWith(options_.link + " exists and is not a symbolic link; not replacing it");
        // Made beside the target name and renamed over it, so the link is never missing.
        const std::string temp = options_.link + ".tmp" + std::to_string(::getpid());
        ::unlink(temp.c_str());
        if (::symlink(name, temp.c_str()) != 0) return fail("cannot make the link " + options_.link);
        if (::rename(temp.c_str(), options_.link.c_str()) != 0) {
            const int saved = errno;
            ::unlink(temp.c_str());
            errno = saved;
            return fail("cannot make the link " + options_.link);
        }
        linkMade_ = true;
    }

    line_ = std::make_unique<Line>();
    lowLatencyRequests_.store(0);   // a new terminal is a freshly plugged adapter
    if (struct stat st; ::fstat(slave_, &st) == 0) SimulatedAdapters::Instance().Add(st.st_rdev, this);
    {
        std::lock_guard lock(mutex_);
        slavePath_ = name;
        running_ = true;
    }
    thread_ = std::thread(&EcuSim::Run, this);
    return true;
}

void EcuSim::Stop()
{
    End();
}

void EcuSim::Unplug()
{
    Trace("unplugged: the terminal closes and the link goes");
    End();
}

bool EcuSim::Replug(std::string* error)
{
    if (Running()) return true;
    const bool ok = Begin(error);
    if (ok) Trace("plugged in again on " + SlavePath());
    return ok;
}

void EcuSim::SendFlowControl(bool stop)
{
    std::lock_guard lock(mutex_);
    if (master_ < 0) return;
    const char byte = stop ? 0x13 : 0x11;
    if (::write(master_, &byte, 1) != 1) { /* a full terminal drops it, as a line would */ }
    Trace(stop ? "-> XOFF" : "-> XON");
}

void EcuSim::SetReadEvery(uint32_t ms)
{
    readEveryMs_.store(ms);
}

void EcuSim::End()
{
    if (!Running()) return;
    const uint64_t one = 1;
    if (::write(wake_, &one, sizeof one) < 0) { /* an eventfd write cannot fail short of overflow */ }
    thread_.join();
    SimulatedAdapters::Instance().Remove(this);
    std::string slave;
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        slave = slavePath_;
    }
    if (linkMade_) {
        // Remove the link only if it is still ours; another simulator may have taken the name.
        char target[PATH_MAX];
        const ssize_t n = ::readlink(options_.link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == slave) ::unlink(options_.link.c_str());
        linkMade_ = false;
    }
    {
        std::lock_guard lock(mutex_);
        for (int* fd : {&master_, &slave_, &wake_})
            if (*fd >= 0) ::close(std::exchange(*fd, -1));
    }
    line_.reset();
}

bool EcuSim::Running() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

std::string EcuSim::SlavePath() const
{
    std::lock_guard lock(mutex_);
    return slavePath_;
}

void EcuSim::Run()
{
    // A paced line sends each character at its time: the kernel's default slack of 50 us on
    // every timed wait would make the simulated line slower than a real one.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    protocol::ReplyAssembler assembler;
    Clock::time_point commandStart{};
    size_t stray = 0;
    char buffer[512];
    auto& queue = line_->queue;

    // A slow reader looks at the line only every readEveryMs_ and then takes all it holds.
    Clock::time_point nextRead = Clock::now();
    for (;;) {
        const bool mayRead = Clock::now() >= nextRead;
        std::optional<Clock::time_point> wakeAt;
        if (!queue.empty() && !line_->blocked) wakeAt = queue.front().due;
        if (!mayRead) wakeAt = wakeAt ? std::min(*wakeAt, nextRead) : nextRead;
        timespec wait{};
        timespec* timeout = nullptr;
        if (wakeAt) {
            const auto left = std::max(Clock::duration::zero(), *wakeAt - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            wait = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
            timeout = &wait;
        }
        const short events = static_cast<short>((mayRead ? POLLIN : 0) | (line_->blocked ? POLLOUT : 0));
        pollfd fds[2] = {{master_, events, 0}, {wake_, POLLIN, 0}};
        if (::ppoll(fds, 2, timeout, nullptr) < 0 && errno != EINTR) {
            ::usleep(10000);   // never spin on an unexpected error
            continue;
        }
        if (fds[1].revents & POLLIN) return;   // Stop()

        if (mayRead && (fds[0].revents & POLLIN)) {
            if (const uint32_t every = readEveryMs_.load()) nextRead = Clock::now() + std::chrono::milliseconds(every);
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            const auto arrived = Clock::now();
            for (ssize_t i = 0; i < n; ++i) {
                const char c = buffer[i];
                const uint8_t fillBefore = assembler.ReplyFill;
                if (c == protocol::kFrameStart) {
                    if (stray) Trace("<- " + std::to_string(stray) + " stray bytes skipped");
                    stray = 0;
                } else if (fillBefore == 0) {
                    ++stray;
                    continue;
                }
                assembler.Feed(
                    &c, 1, [&](const Command& command) { OnCommand(command, commandStart); },
                    [&] {
                        {
                            std::lock_guard lock(mutex_);
                            ++rejected_;
                        }
                        const bool cutShort = c == protocol::kFrameStart;
                        Trace("<- " + Printable(std::string(assembler.ReplyBuffer, cutShort ? fillBefore : 10)) +
                              (cutShort ? "  refused: cut short by the next frame" : "  refused: bad checksum or field"));
                    });
                if (c == protocol::kFrameStart) commandStart = arrived;
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            ::usleep(10000);   // cannot happen while we hold the slave open, but never spin
        }

        // Send what is due.
        line_->blocked = false;
        const auto now = Clock::now();
        while (!queue.empty() && queue.front().due <= now) {
            Outgoing& out = queue.front();
            if (!out.trace.empty()) Trace(std::exchange(out.trace, {}));
            const ssize_t n = ::write(master_, out.bytes.data(), out.bytes.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN) {
                queue.clear();   // the terminal is gone; nothing more can be sent
                break;
            }
            if (n > 0) out.bytes.erase(0, static_cast<size_t>(n));
            if (!out.bytes.empty()) {
                line_->blocked = true;   // nobody is reading the other end; wait for room
                break;
            }
            queue.pop_front();
        }
    }
}

void EcuSim::OnCommand(const Command& arrived, Clock::time_point commandStart)
{
    Command command = arrived;
    Command reply{};
    bool answer = false;
    bool persist = false;
    Image snapshot{};
    RawReplyHook hook;
    int gapMs = 0;
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    if (options_.dropCommands > 0 && chance(faults_) < options_.dropCommands) {
        {
            std::lock_guard lock(mutex_);
            ++commandsLost_;
        }
        Trace("<- " + FrameText(command) + "  lost on its way (--drop-commands)");
        return;
    }
    if (options_.damageAddress > 0 && chance(faults_) < options_.damageAddress) {
        command.address = static_cast<uint16_t>(command.address ^ 0x0100);
        {
            std::lock_guard lock(mutex_);
            ++addressesDamaged_;
        }
        Trace("<- " + FrameText(arrived) + "  arrived as " + FrameText(command) + " (--damage-address)");
    }
    // A slow EEPROM: commands are worked through in turn, a 'W' taking writeMs; one more is kept
    // while the ECU is busy, and any beyond it are lost. --slow-after changes writeMs mid-run.
    Clock::time_point doneAt{};
    const bool slowed = options_.slowAfter && commandsSeen_++ >= *options_.slowAfter;
    const uint32_t writeMs = slowed ? options_.slowWriteMs : options_.writeMs;
    if (writeMs > 0) {
        const auto now = Clock::now();
        while (!waiting_.empty() && waiting_.front() <= now) waiting_.pop_front();
        if (busyUntil_ > now && !waiting_.empty()) {
            {
                std::lock_guard lock(mutex_);
                ++refusedBusy_;
            }
            Trace("<- " + FrameText(command) + "  lost: the ECU is busy and keeps one command only (--write-ms)");
            return;
        }
        const auto start = std::max(now, busyUntil_);
        if (start > now) waiting_.push_back(start);
        busyUntil_ = start + (command.letter == 'W' ? std::chrono::milliseconds(writeMs) : Clock::duration::zero());
        doneAt = busyUntil_;
    }
    {
        std::lock_guard lock(mutex_);
        received_.push_back(command);
        receivedAt_.push_back(Clock::now());
        receivedChanged_.notify_all();
        const bool silent = silent_ || (options_.silentAfter && repliesSent_ >= *options_.silentAfter);
        if (silent) {
            Trace("<- " + FrameText(command) + "  (silent: no reply)");
            return;
        }
        answer = Act(command, reply, persist);
        if (persist) snapshot = eeprom_;
        if (answer) ++repliesSent_;
        hook = hook_;
        gapMs = pieceGapMs_;
    }
    Trace("<- " + FrameText(command) + (answer ? "" : "  (unknown command: no reply)"));

    // The ECU stores before it echoes, so the file is current by the time the reply is read.
    std::string error;
    if (persist && !SaveImageFile(options_.imagePath, snapshot, &error))
        std::fprintf(stderr, "quenrix-ecu-sim: %s\n", error.c_str());
    if (!answer) return;

    std::string text = FrameText(reply);
    std::string note;
    if (options_.drop > 0 && chance(faults_) < options_.drop) {
        Trace("-> " + text + "  lost (--drop)");
        return;
    }
    if (options_.corrupt > 0 && chance(faults_) < options_.corrupt) {
        // Damage one character after the "*", always to a different one of the same kind.
        static const char hex[] = "0123456789ABCDEF";
        const size_t at = 1 + faults_() % 9;
        const unsigned step = 1 + static_cast<unsigned>(faults_() % 15);
        if (at == 1) {
            text[1] = static_cast<char>('a' + (text[1] - 'a' + step) % 26);
        } else {
            const char* digit = std::strchr(hex, text[at]);
            text[at] = hex[(static_cast<unsigned>(digit - hex) + step) % 16];
        }
        note = "  (damaged by --corrupt)";
    }
    if (options_.xoffInReply > 0 && chance(faults_) < options_.xoffInReply) {
        text[1 + faults_() % 9] = '\x13';
        note += "  (a character turned XOFF by --xoff-in-reply)";
    }
    if (reply.letter == 'w' && options_.dupEcho > 0 && chance(faults_) < options_.dupEcho) {
        text += text;
        note += "  (sent twice by --dup-echo)";
    }
    if (options_.crlf) text += "\r\n";
    std::vector<std::string> pieces = hook ? hook(command, text) : std::vector<std::string>{text};
    if (pieces.empty()) {
        Trace("-> (nothing: the reply hook sent no bytes)");
        return;
    }

    // On a paced line the command took ten characters' time from its first byte, and each
    // reply character arrives one character's time after the one before.
    using namespace std::chrono;
    const auto charTime = options_.baud ? duration_cast<Clock::duration>(duration<double>(10.0 / options_.baud))
                                        : Clock::duration::zero();
    const uint32_t latencyMs =
        LowLatencyGranted() ? std::min(options_.latencyMs, options_.lowLatencyMs) : options_.latencyMs;
    auto at = std::max(Clock::now(), commandStart + 10 * charTime) + milliseconds(latencyMs);
    at = std::max({at, line_->freeAt, doneAt});
    std::string trace = "-> " + Printable(text) + note;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) at += milliseconds(gapMs);
        if (options_.baud) {
            for (char c : pieces[i]) {
                at += charTime;
                line_->queue.push_back({at, std::string(1, c), std::exchange(trace, {})});
            }
        } else {
            line_->queue.push_back({at, pieces[i], std::exchange(trace, {})});
        }
    }
    line_->freeAt = at;
}

bool EcuSim::Act(const Command& command, Command& reply, bool& persist)
{
    const uint16_t a = command.address;
    const bool inRange = a < kEepromSize;
    switch (command.letter) {
    case 'V':
        reply = {'v', static_cast<uint16_t>(flags_ << 8 | version_), 0};
        return true;
    case 'R':
        reply = {'r', a, inRange ? eeprom_[a] : uint8_t{0}};
        return true;
    case 'W':
        if (inRange) {
            eeprom_[a] = command.data;
            persist = options_.persist;
        }
        reply = {'w', a, inRange ? eeprom_[a] : uint8_t{0}};
        return true;
    case 'A': case 'B': case 'C': case 'D': case 'E': case 'F': case 'G': case 'H': {
        const double now = Now();
        if (!frozen_) engine_.Advance(now - engineTime_);
        engineTime_ = now;
        const auto fixed = liveReplies_.find(command.letter);
        const LiveFields f = fixed != liveReplies_.end() ? fixed->second : engine_.Reply(command.letter);
        reply = {static_cast<char>(command.letter - 'A' + 'a'), f.address, f.data};
        return true;
    }
    default:
        return false;
    }
}

std::vector<Command> EcuSim::Received() const
{
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<Clock::time_point> EcuSim::ReceivedTimes() const
{
    std::lock_guard lock(mutex_);
    return receivedAt_;
}

size_t EcuSim::ReceivedCount() const
{
    std::lock_guard lock(mutex_);
    return received_.size();
}

bool EcuSim::WaitForReceived(size_t n, int timeoutMs) const
{
    std::unique_lock lock(mutex_);
    return receivedChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return received_.size() >= n; });
}

void EcuSim::ClearReceived()
{
    std::lock_guard lock(mutex_);
    received_.clear();
    receivedAt_.clear();
}

size_t EcuSim::RejectedCount() const
{
    std::lock_guard lock(mutex_);
    return rejected_;
}

size_t EcuSim::RepliesSent() const
{
    std::lock_guard lock(mutex_);
    return repliesSent_;
}

size_t EcuSim::CommandsRefusedBusy() const
{
    std::lock_guard lock(mutex_);
    return refusedBusy_;
}

size_t EcuSim::AddressesDamaged() const
{
    std::lock_guard lock(mutex_);
    return addressesDamaged_;
}

size_t EcuSim::CommandsLost() const
{
    std::lock_guard lock(mutex_);
    return commandsLost_;
}

Image EcuSim::Eeprom() const
{
    std::lock_guard lock(mutex_);
    return eeprom_;
}

void EcuSim::SetEeprom(const Image& image)
{
    std::lock_guard lock(mutex_);
    eeprom_ = image;
}

void EcuSim::SetSilent(bool silent)
{
    std::lock_guard lock(mutex_);
    silent_ = silent;
}

void EcuSim::SetStatusFlags(uint8_t flags)
{
    std::lock_guard lock(mutex_);
    flags_ = flags;
}

void EcuSim::SetVersion(uint8_t version)
{
    std::lock_guard lock(mutex_);
    version_ = version;
}

void EcuSim::FreezeEngine(bool frozen)
{
    std::lock_guard lock(mutex_);
    frozen_ = frozen;
}

void EcuSim::SetLiveReply(char letter, uint16_t address, uint8_t data)
{
    std::lock_guard lock(mutex_);
    liveReplies_[letter] = {address, data};
}

void EcuSim::ClearLiveReplies()
{
    std::lock_guard lock(mutex_);
    liveReplies_.clear();
}

void EcuSim::SetRawReplyHook(RawReplyHook hook, int pieceGapMs)
{
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
    pieceGapMs_ = pieceGapMs;
}

}  // namespace sim
