#include "ecu/SerialPlatform.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <grp.h>
#include <linux/serial.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <tuple>
#include <utility>

namespace serial {

std::optional<speed_t> speedFor(int32_t baudRate)
{
    static constexpr struct { int32_t rate; speed_t speed; } table[] = {
        {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200},
        {300, B300}, {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400},
        {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600},
        {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
        {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000},
        {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto& e : table)
        if (e.rate == baudRate) return e.speed;
    return std::nullopt;
}

std::optional<termios> makeTermios(const termios& current, const LineSettings& s)
{
    const auto speed = speedFor(s.baudRate);
    if (!speed) return std::nullopt;

    tcflag_t size = 0;
    switch (s.dataBits) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return std::nullopt;   // 4 data bits: no UART driver of Linux offers them
    }

    termios t = current;
    cfmakeraw(&t);   // binary transfer: no line editing, echo, signals or translations
    if (cfsetispeed(&t, *speed) != 0 || cfsetospeed(&t, *speed) != 0) return std::nullopt;

    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= size | CREAD | CLOCAL;   // CLOCAL: the line works without carrier, as on Windows
    switch (s.parity) {
    case 0: break;
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: return std::nullopt;
    }
    switch (s.stopBits) {
    case 0: break;
    // A UART sends 1.5 stop bits when asked for two with 5-bit characters; with longer
    // characters 1.5 stop bits do not exist.
    case 1: if (s.dataBits != 5) return std::nullopt; t.c_cflag |= CSTOPB; break;
    case 2: t.c_cflag |= CSTOPB; break;
    default: return std::nullopt;
    }
    if (s.ctsFlow) t.c_cflag |= CRTSCTS;

    t.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
    if (s.enableParity) t.c_iflag |= INPCK;
    if (s.xOutput) t.c_iflag |= IXON;
    if (s.xInput) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(s.xOnChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.xOffChar);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return t;
}

std::string resolvePortName(const std::string& name)
{
    if (name.size() < 4 || name.size() > 6) return name;
    // Windows port names are not case-sensitive, so neither is this one.
    if (std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M')
        return name;
    const std::string digits = name.substr(3);
    if (digits[0] == '0' || !std::all_of(digits.begin(), digits.end(), [](char c) {
            return c >= '0' && c <= '9';
        }))
        return name;
    const int n = std::stoi(digits);
    if (n < 1 || n > 256) return name;
    struct stat st;
    if (::lstat(name.c_str(), &st) == 0) return name;   // a file (or link) of that name wins
    return "/dev/ttyS" + std::to_string(n - 1);
}

namespace {

// The device number as /proc/<pid>/stat writes a controlling terminal.
unsigned long procTtyNumber(dev_t device)
{
    const unsigned long maj = ::major(device);
    const unsigned long min = ::minor(device);
    return (min & 0xffUL) | (maj << 8) | ((min & ~0xffUL) << 12);
}

// The seventh field of /proc/<pid>/stat; the second, the command, may hold spaces and
// parentheses, so the fields are counted from the last ')'.
bool controllingTerminalOf(const char* pid, unsigned long& tty)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%s/stat", pid);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[1024];
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (n <= 0) return false;
    buffer[n] = 0;
    const char* rest = std::strrchr(buffer, ')');
    if (!rest) return false;
    char state = 0;
    long ppid = 0, pgrp = 0, session = 0;
    long long number = 0;
    if (std::sscanf(rest + 1, " %c %ld %ld %ld %lld", &state, &ppid, &pgrp, &session, &number) != 5) return false;
    tty = static_cast<unsigned long>(number) & 0xffffffffUL;
    return true;
}

// Serial lines belong to the kernel's tty class; pseudo-terminals' far ends do not appear
// there and are told by their major numbers.
bool isSerialOrPseudoTerminal(dev_t device)
{
    const unsigned maj = ::major(device);
    if (maj >= 136 && maj <= 143) return true;   // the far ends of pseudo-terminals
    char path[96];
    std::snprintf(path, sizeof path, "/sys/dev/char/%u:%u/subsystem", maj, ::minor(device));
    char target[256];
    const ssize_t n = ::readlink(path, target, sizeof target - 1);
    if (n <= 0) return false;
    target[n] = 0;
    const char* last = std::strrchr(target, '/');
    return last && std::strcmp(last + 1, "tty") == 0;
}

}  // namespace

bool isSomeonesTerminal(dev_t device)
{
    const unsigned long wanted = procTtyNumber(device);
    DIR* proc = ::opendir("/proc");
    if (!proc) return false;
    bool found = false;
    while (const dirent* entry = ::readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        unsigned long tty = 0;
        if (controllingTerminalOf(entry->d_name, tty) && tty == wanted) {
            found = true;
            break;
        }
    }
    ::closedir(proc);
    return found;
}

namespace {

struct Refusal {
    OpenFailure::Kind kind;
    std::string what;
};

// The kind of character device, as the kernel files it (tty, mem, misc, input, ...).
std::string deviceClass(dev_t device)
{
    char path[96];
    std::snprintf(path, sizeof path, "/sys/dev/char/%u:%u/subsystem", ::major(device), ::minor(device));
    char target[256];
    const ssize_t n = ::readlink(path, target, sizeof target - 1);
    if (n <= 0) return {};
    target[n] = 0;
    const char* last = std::strrchr(target, '/');
    return last ? last + 1 : target;
}

// The verdict on what a name or a descriptor is, from its status.
std::optional<Refusal> refusalOf(const struct stat& st)
{
    using K = OpenFailure::Kind;
    if (S_ISDIR(st.st_mode)) return Refusal{K::NotSerial, "a folder, not a serial line"};
    if (S_ISREG(st.st_mode)) return Refusal{K::NotSerial, "an ordinary file, not a serial line"};
    if (S_ISBLK(st.st_mode)) return Refusal{K::NotSerial, "a disk or other block device, not a serial line"};
    if (!S_ISCHR(st.st_mode)) return Refusal{K::NotSerial, "not a serial device"};
    const unsigned maj = ::major(st.st_rdev);
    const unsigned min = ::minor(st.st_rdev);
    // /dev/tty, /dev/console, /dev/ptmx and their kin: the terminals of this computer.
    if (maj == 5) return Refusal{K::NotSerial, "a terminal of this computer, not a serial line"};
    if (maj == 4 && min < 64) return Refusal{K::NotSerial, "a virtual console, not a serial line"};
    if (!isSerialOrPseudoTerminal(st.st_rdev)) {
        const std::string kind = deviceClass(st.st_rdev);
        return Refusal{K::NotSerial, kind.empty() ? std::string("a device that is not a serial line")
                                                  : "a device of the kind '" + kind + "', not a serial line"};
    }
    if (isSomeonesTerminal(st.st_rdev))
        return Refusal{K::PeoplesTerminal, "a terminal in use (someone's controlling terminal)"};
    return std::nullopt;
}

std::function<void(const std::string&)>& beforeOpenHook()
{
    static std::function<void(const std::string&)> hook;
    return hook;
}

std::atomic<LatencyDriver*> chosenLatencyDriver{nullptr};

// Whether the user of this program is listed in the group, though this login does not carry it
// (added to it after logging in).
bool listedButNotInSession(gid_t gid)
{
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)) + 1);
    const int n = ::getgroups(static_cast<int>(groups.size()), groups.data());
    for (int i = 0; i < n; ++i)
        if (groups[static_cast<std::size_t>(i)] == gid) return false;
    if (::getegid() == gid) return false;
    const passwd* user = ::getpwuid(::geteuid());
    const group* g = ::getgrgid(gid);
    if (!user || !g) return false;
    if (user->pw_gid == gid) return true;
    for (char** member = g->gr_mem; member && *member; ++member)
        if (std::strcmp(*member, user->pw_name) == 0) return true;
    return false;
}

}  // namespace

std::optional<std::string> deviceRefusal(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::string(std::strerror(errno));
    if (const auto refusal = refusalOf(st)) return refusal->what;
    return std::nullopt;
}

bool looksLikeSerialDevice(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    const auto refusal = refusalOf(st);
    return !refusal || refusal->kind != OpenFailure::Kind::NotSerial;
}

std::vector<std::pair<long, std::string>> holdersOf(dev_t device)
{
    std::vector<std::pair<long, std::string>> holders;
    DIR* proc = ::opendir("/proc");
    if (!proc) return holders;
    while (const dirent* entry = ::readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        const std::string base = std::string("/proc/") + entry->d_name;
        DIR* fds = ::opendir((base + "/fd").c_str());
        if (!fds) continue;   // another user's process: not ours to look into
        bool holds = false;
        while (const dirent* fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.') continue;
            struct stat st;
            if (::stat((base + "/fd/" + fd->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device) {
                holds = true;
                break;
            }
        }
        ::closedir(fds);
        if (!holds) continue;
        std::string name;
        if (FILE* f = std::fopen((base + "/comm").c_str(), "re")) {
            char buffer[64] = {};
            if (std::fgets(buffer, sizeof buffer, f)) name = buffer;
            std::fclose(f);
        }
        while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
        holders.emplace_back(std::strtol(entry->d_name, nullptr, 10), name);
    }
    ::closedir(proc);
    return holders;
}

bool kernelRequestLowLatency(int fd)
{
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0) return false;   // no such request (a pty, CDC-ACM on old kernels)
    if (info.flags & ASYNC_LOW_LATENCY) return true;
    info.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(fd, TIOCSSERIAL, &info) == 0;
}

void setLatencyDriver(LatencyDriver* driver) { chosenLatencyDriver.store(driver); }

LatencyDriver* latencyDriver() { return chosenLatencyDriver.load(); }

void setBeforeOpenHook(std::function<void(const std::string& path)> hook) { beforeOpenHook() = std::move(hook); }

// ---- ReceiveQueue ----

std::size_t ReceiveQueue::size() const
{
    std::lock_guard lock(mutex_);
    return count_;
}

bool ReceiveQueue::full() const
{
    std::lock_guard lock(mutex_);
    return count_ == kCapacity;
}

std::size_t ReceiveQueue::take(uint8_t* dst, std::size_t max, bool& wasFull,
                               std::chrono::steady_clock::time_point* arrived)
{
    std::lock_guard lock(mutex_);
    wasFull = count_ == kCapacity;
    std::size_t n = std::min(max, count_);
    if (arrived) {
        *arrived = std::chrono::steady_clock::now();
        if (!batches_.empty()) {
            *arrived = batches_.front().at;
            n = static_cast<std::size_t>(std::min<uint64_t>(n, batches_.front().end - taken_));
        }
    }
    taken_ += n;
    while (!batches_.empty() && batches_.front().end <= taken_) batches_.pop_front();
    const std::size_t first = std::min(n, kCapacity - head_);
    std::copy_n(buffer_.data() + head_, first, dst);
    std::copy_n(buffer_.data(), n - first, dst + first);
    head_ = (head_ + n) % kCapacity;
    count_ -= n;
    return n;
}

std::size_t ReceiveQueue::fillFrom(int fd, bool& hungUp)
{
    std::lock_guard lock(mutex_);
    std::size_t added = 0;
    while (count_ < kCapacity) {
        const std::size_t tail = (head_ + count_) % kCapacity;
        const std::size_t room = std::min(kCapacity - count_, kCapacity - tail);
        const ssize_t r = ::read(fd, buffer_.data() + tail, room);
        if (r > 0) {
            count_ += static_cast<std::size_t>(r);
            added += static_cast<std::size_t>(r);
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        hungUp = true;   // end of file (far end of a pseudo-terminal gone) or EIO (unplugged)
        break;
    }
    if (added > 0) {
        filled_ += added;
        batches_.push_back({filled_, std::chrono::steady_clock::now()});
    }
    return added;
}

bool ReceiveQueue::purge(int fd, bool& wasFull)
{
    std::lock_guard lock(mutex_);
    const bool flushed = fd < 0 || ::tcflush(fd, TCIFLUSH) == 0;
    wasFull = count_ == kCapacity;
    head_ = 0;
    count_ = 0;
    taken_ = filled_;
    batches_.clear();
    return flushed;
}

// ---- Port ----

Port::Port(Port&& other) noexcept
    : timeouts(other.timeouts), fd_(std::exchange(other.fd_, -1)), failure_(std::move(other.failure_)),
      lowLatency_(other.lowLatency_)
{
}

Port& Port::operator=(Port&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        timeouts = other.timeouts;
        failure_ = std::move(other.failure_);
        lowLatency_ = other.lowLatency_;
    }
    return *this;
}

bool Port::fail(OpenFailure::Kind kind, std::string reason)
{
    failure_.kind = kind;
    failure_.reason = std::move(reason);
    return false;
}

bool Port::open(const std::string& path)
{
    using K = OpenFailure::Kind;
    close();
    failure_ = {};
    failure_.device = path;
    lowLatency_ = false;
    // A first look by name: opening some devices is itself an act (a watchdog arms, a modem
    // answers), so what plainly is no serial line is refused without being opened.
    struct stat named;
    if (::stat(path.c_str(), &named) != 0) {
        const int e = errno;
        return fail(e == ENOENT || e == ENOTDIR ? K::Missing : e == EACCES ? K::NoPermission : K::Other,
                    std::strerror(e));
    }
    if (const auto refusal = refusalOf(named)) {
        failure_.what = refusal->what;
        return fail(refusal->kind, refusal->what);
    }
    if (const auto& hook = beforeOpenHook()) hook(path);

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        switch (e) {
        case EACCES:
        case EPERM: {
            if (const group* g = ::getgrgid(named.st_gid); g && named.st_gid != 0) failure_.group = g->gr_name;
            failure_.groupNeedsLogin = listedButNotInSession(named.st_gid);
            return fail(K::NoPermission, std::strerror(e));
        }
        case EBUSY: {
            const auto holders = holdersOf(named.st_rdev);
            if (!holders.empty()) std::tie(failure_.holderPid, failure_.holder) = holders.front();
            return fail(K::Busy, "in use by another program");
        }
        case ENOENT: case ENODEV: case ENXIO: case EIO:
            // EIO: a standard port name with no UART behind it.
            return fail(K::Missing, std::strerror(e));
        default: return fail(K::Other, std::strerror(e));
        }
    }
    // The verdict that counts is on the descriptor itself: the name may have come to mean
    // another device since it was looked at. A refused descriptor is closed untouched.
    struct stat opened;
    if (::fstat(fd, &opened) != 0) {
        const int e = errno;
        ::close(fd);
        return fail(K::Other, std::strerror(e));
    }
    if (const auto refusal = refusalOf(opened)) {
        ::close(fd);
        failure_.what = refusal->what;
        return fail(refusal->kind, refusal->what);
    }
    if (!::isatty(fd)) {
        ::close(fd);
        failure_.what = "not a terminal device";
        return fail(K::NotSerial, failure_.what);
    }
    // flock before TIOCEXCL: a device someone else holds must be left as we found it.
    // TIOCEXCL alone is not enough: root opens an exclusive terminal regardless.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        std::vector<std::pair<long, std::string>> holders = holdersOf(opened.st_rdev);
        // This process has it open too now; the holder is whoever else has it.
        std::erase_if(holders, [](const auto& h) { return h.first == ::getpid(); });
        if (!holders.empty()) std::tie(failure_.holderPid, failure_.holder) = holders.front();
        return fail(K::Busy, "in use by another program");
    }
    ::ioctl(fd, TIOCEXCL);   // fails on what is no terminal; the line settings then fail too
    fd_ = fd;
    LatencyDriver* driver = latencyDriver();
    lowLatency_ = driver ? driver->RequestLowLatency(fd) : kernelRequestLowLatency(fd);
    return true;
}

void Port::close()
{
    if (fd_ < 0) return;
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);   // also releases the flock
    fd_ = -1;
}

bool Port::apply(const LineSettings& s)
{
    termios current;
    if (fd_ < 0 || ::tcgetattr(fd_, &current) != 0) return false;
    const auto t = makeTermios(current, s);
    return t && ::tcsetattr(fd_, TCSANOW, &*t) == 0;
}

bool Port::setSoftwareFlow(bool on)
{
    termios t;
    if (fd_ < 0 || ::tcgetattr(fd_, &t) != 0) return false;
    if (on)
        t.c_iflag |= IXON | IXOFF;
    else
        t.c_iflag &= ~(IXON | IXOFF);
    return ::tcsetattr(fd_, TCSANOW, &t) == 0;
}

bool Port::resumeOutput()
{
    if (fd_ < 0) return false;
    // TCOON undoes only a TCOOFF; output stopped by a received XOFF goes on when software flow
    // control is switched off, so it is switched off and on again around it.
    bool ok = ::tcflow(fd_, TCOON) == 0;
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return false;
    if (t.c_iflag & IXON) {
        termios off = t;
        off.c_iflag &= ~tcflag_t(IXON);
        ok = ::tcsetattr(fd_, TCSANOW, &off) == 0 && ok;
        ok = ::tcsetattr(fd_, TCSANOW, &t) == 0 && ok;
    }
    return ok;
}

bool Port::flushOutput()
{
    return fd_ >= 0 && ::tcflush(fd_, TCOFLUSH) == 0;
}

namespace {

bool modemLine(int fd, unsigned long request, int bits)
{
    if (::ioctl(fd, request, &bits) == 0) return true;
    return errno == ENOTTY;   // no modem lines (a pseudo-terminal): nothing to switch
}

}  // namespace

bool Port::escape(uint32_t function)
{
    if (fd_ < 0) return false;
    switch (function) {
    case 1: return ::tcflow(fd_, TCOOFF) == 0;
    case 2: return ::tcflow(fd_, TCOON) == 0;
    case 3: return modemLine(fd_, TIOCMBIS, TIOCM_RTS);
    case 4: return modemLine(fd_, TIOCMBIC, TIOCM_RTS);
    case 5: return modemLine(fd_, TIOCMBIS, TIOCM_DTR);
    case 6: return modemLine(fd_, TIOCMBIC, TIOCM_DTR);
    case 8: return ::ioctl(fd_, TIOCSBRK) == 0;
    case 9: return ::ioctl(fd_, TIOCCBRK) == 0;
    default: return false;
    }
}

bool Port::writeByte(uint8_t byte, int timeoutMs)
{
    if (fd_ < 0) return false;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const ssize_t r = ::write(fd_, &byte, 1);
        if (r == 1) return true;
        if (r < 0 && errno == EINTR) continue;
        if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd_, POLLOUT, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left));
        if (n < 0 && errno != EINTR) return false;
        if (n > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) return false;
    }
}

std::size_t Port::writeSome(const uint8_t* data, std::size_t n, int timeoutMs, int& failure)
{
    failure = 0;
    if (fd_ < 0) {
        failure = EBADF;
        return 0;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = ::write(fd_, data + done, n - done);
        if (r > 0) {
            done += static_cast<std::size_t>(r);
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            failure = errno;   // EIO, ENXIO: the device has gone
            return done;
        }
        // The line is full or stopped (flow control): wait for room, within the limit.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return done;
        pollfd p{fd_, POLLOUT, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) {
            failure = errno;
            return done;
        }
        if (ready > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            failure = EIO;
            return done;
        }
    }
    return done;
}

int Port::outputQueued() const
{
    if (fd_ < 0) return -1;
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) return 0;
    return queued;
}

}  // namespace serial
