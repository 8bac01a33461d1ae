#include "ecu/SerialPlatform.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
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

std::size_t ReceiveQueue::take(uint8_t* dst, std::size_t max, bool& wasFull)
{
    std::lock_guard lock(mutex_);
    wasFull = count_ == kCapacity;
    const std::size_t n = std::min(max, count_);
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
    return added;
}

bool ReceiveQueue::purge(int fd, bool& wasFull)
{
    std::lock_guard lock(mutex_);
    const bool flushed = fd < 0 || ::tcflush(fd, TCIFLUSH) == 0;
    wasFull = count_ == kCapacity;
    head_ = 0;
    count_ = 0;
    return flushed;
}

// ---- Port ----

Port::Port(Port&& other) noexcept
    : timeouts(other.timeouts), fd_(std::exchange(other.fd_, -1))
{
}

Port& Port::operator=(Port&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        timeouts = other.timeouts;
    }
    return *this;
}

bool Port::open(const std::string& path)
{
    close();
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    // flock before TIOCEXCL: a device someone else holds must be left as we found it.
    // TIOCEXCL alone is not enough: root opens an exclusive terminal regardless.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    ::ioctl(fd, TIOCEXCL);   // fails on what is no terminal; the line settings then fail too
    fd_ = fd;
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

}  // namespace serial
