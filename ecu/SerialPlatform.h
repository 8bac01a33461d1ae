// The serial services TZComm needs, over POSIX termios: opening a device exclusively, line
// settings, modem lines, purges, one-byte writes with a time limit, and the receive queue
// that the watcher thread fills and ReadComm empties.
//
// Settings the component keeps as properties that have no effect here, because a POSIX
// terminal has no counterpart for them:
//   - XOnLimit / XOffLimit: the line discipline decides itself when to send XOFF and XON.
//   - DSRFlowCtl, DSRSensitive (and the DTR handshake that goes with DSR flow control):
//     termios knows only RTS/CTS hardware flow control.
//   - TXResume: Linux always goes on sending after it has sent XOFF.
//   - ErrorReplace / ErrorChar: there is no replacement character for bytes with a parity
//     error; with EnableParity (INPCK) on, the line discipline hands such a byte on as 0x00.
//   - DiscardNULL: zero bytes are always delivered.
//   - AbortOnError: transfers go on after a line error; there is nothing to clear.
//   - InputQueueSize / OutputQueueSize: the kernel's buffers have fixed sizes; our own
//     receive queue has a fixed capacity (ReceiveQueue::kCapacity).
//   - The five time limits: stored and returned, never applied. Reads never wait (they take
//     what the receive queue holds) and a one-byte write waits at most 2000 ms regardless.
//   - Line error bits (overrun, framing, parity, break): termios does not report them, so the
//     error bits of a read are always 0 and OnErrorOccurred is never raised.
// Settings POSIX cannot express and that therefore make the line settings fail (as the
// Windows driver refuses them too): 4 data bits, 1.5 stop bits with more than 5 data bits,
// and a baud rate outside the standard termios rates.
#pragma once

#include <termios.h>

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <cstddef>
#include <functional>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace serial {

// Port names longer than this are refused. Stable Linux names (/dev/serial/by-id/...) run to
// 60 characters and more; 255 leaves room for any of them.
constexpr int kMaxPortNameLength = 255;

// The five time limits in ms, in the order the component's properties list them.
struct Timeouts {
    int32_t readInterval;
    int32_t readMultiplier;
    int32_t readConstant;
    int32_t writeMultiplier;
    int32_t writeConstant;
};

// The line settings that termios can express.
struct LineSettings {
    int32_t baudRate = 9600;
    int dataBits = 8;          // 4..8; 4 cannot be had
    int parity = 0;            // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 0;          // 0 one, 1 one and a half, 2 two
    bool enableParity = true;  // INPCK
    bool ctsFlow = false;      // CRTSCTS
    bool xOutput = true;       // IXON
    bool xInput = true;        // IXOFF
    char xOnChar = 0x11;
    char xOffChar = 0x13;
};

// The termios speed constant for a baud rate; nullopt for rates termios does not have.
std::optional<speed_t> speedFor(int32_t baudRate);

// `current` made raw and given the settings; nullopt when termios cannot express them.
std::optional<termios> makeTermios(const termios& current, const LineSettings& s);

// The path to open for a port name. A name COMn (n = 1..256) that names no file in the
// working directory is the n-th standard serial port, /dev/ttyS(n-1); any other name is a
// path as it stands. The length limit is checked by the caller.
std::string resolvePortName(const std::string& name);

// Why the device at `path` must not be opened as a port, or nullopt when it may be. Only serial
// lines and the far ends of pseudo-terminals qualify, and of those none that a person works
// in: never /dev/tty, /dev/console, a virtual console, nor a terminal that is any process's
// controlling terminal (a shell's pseudo-terminal, a serial console with a login on it).
// Opening such a device would take over a terminal: set it raw, write frames into it.
std::optional<std::string> deviceRefusal(const std::string& path);

// Whether the path names a serial line or a pseudo-terminal's far end that exists now (whoever
// may be using it): a name worth trying to open.
bool looksLikeSerialDevice(const std::string& path);

// Whether a device is the controlling terminal of some process, as /proc tells.
bool isSomeonesTerminal(dev_t device);

// Why an open failed, in enough detail to tell the user what to do about it.
struct OpenFailure {
    enum class Kind {
        None,
        Missing,        // no such device (not plugged in, no such port on this computer)
        NoPermission,   // the device's modes keep this user out
        Busy,           // another program holds it
        NotSerial,      // it exists but is no serial line (a file, /dev/null, a console)
        PeoplesTerminal,// a terminal someone works in
        Other,          // anything else the system reports
    };
    Kind kind = Kind::None;
    std::string device;        // the path that was opened
    std::string reason;        // the short reason, as Port::error() gives it
    std::string what;          // NotSerial / PeoplesTerminal: what the device is
    std::string group;         // NoPermission: the device's group; empty when it has none we know
    bool groupNeedsLogin = false;   // NoPermission: the user is in that group, this login is not
    std::string holder;        // Busy: the program that holds it; empty when /proc does not tell
    long holderPid = 0;
};

// The programs that have the device open, as /proc tells (processes of other users are hidden
// from an unprivileged program): pairs of process id and command name.
std::vector<std::pair<long, std::string>> holdersOf(dev_t device);

// A request to the driver to hand on received bytes at once. A USB adapter otherwise collects
// them until its latency timer runs out (16 ms by default on FTDI chips), which on a protocol of
// short replies adds that time to every exchange. Every open asks through the one driver set
// here; the default is the kernel's (TIOCGSERIAL/TIOCSSERIAL with ASYNC_LOW_LATENCY). A
// pseudo-terminal cannot carry the request, so a simulated adapter stands in here to hear it.
class LatencyDriver {
public:
    virtual ~LatencyDriver() = default;
    // True when the driver now delivers with low latency (granted, or already so).
    virtual bool RequestLowLatency(int fd) = 0;
};
bool kernelRequestLowLatency(int fd);
void setLatencyDriver(LatencyDriver* driver);   // nullptr: the kernel's
LatencyDriver* latencyDriver();                 // nullptr while it is the kernel's

// Called after a port's name has been looked at and before it is opened. Only tests set it, to
// change what the name means at the worst moment (as udev may relink a by-id name).
void setBeforeOpenHook(std::function<void(const std::string& path)> hook);

// Bytes received and not yet read. The watcher moves bytes from the device into it; the
// window thread takes them out. Its capacity is bounded: when full, the watcher leaves
// further bytes in the kernel, whose buffers then apply flow control to the far end, instead
// of letting memory grow without limit.
class ReceiveQueue {
public:
    static constexpr std::size_t kCapacity = 64 * 1024;

    ReceiveQueue() : buffer_(kCapacity) {}

    std::size_t size() const;
    bool full() const;

    // Takes up to `max` bytes. `wasFull` tells whether the queue was full before, so that the
    // caller wakes a watcher that stopped reading the device. With `arrived`, the take ends
    // with the batch of the oldest byte and `arrived` is when the watcher read that batch: the
    // time the bytes came off the line, however late the window thread gets to them.
    std::size_t take(uint8_t* dst, std::size_t max, bool& wasFull,
                     std::chrono::steady_clock::time_point* arrived = nullptr);

    // Watcher side: reads what the non-blocking descriptor holds, as far as there is room.
    // Sets `hungUp` when the device reports end of file or an error.
    std::size_t fillFrom(int fd, bool& hungUp);

    // Discards the kernel's pending input (when fd >= 0) and everything queued, as one step
    // with respect to fillFrom, so that no byte read before the purge survives it.
    // Returns false when the kernel flush failed.
    bool purge(int fd, bool& wasFull);

    // Set by the watcher when the device has gone (hang-up, error); cleared by the next open.
    void setHungUp(bool value) { hungUp_.store(value); }
    bool hungUp() const { return hungUp_.load(); }

    // One notification at a time: the watcher posts only when none is waiting to be handled
    // (markNotified() true), and the window thread clears the mark before it takes the bytes,
    // so that bytes arriving after that are told again. On a real line a reply comes a
    // character at a time; without this every character would wake the window thread.
    bool markNotified() { return !notified_.exchange(true); }
    void clearNotified() { notified_.store(false); }

private:
    struct Batch {
        uint64_t end;   // the running count of bytes filled after this batch
        std::chrono::steady_clock::time_point at;
    };
    mutable std::mutex mutex_;
    std::vector<uint8_t> buffer_;
    std::size_t head_ = 0;    // oldest byte
    std::size_t count_ = 0;
    uint64_t filled_ = 0;     // bytes ever filled, and ever taken or purged
    uint64_t taken_ = 0;
    std::deque<Batch> batches_;
    std::atomic<bool> hungUp_{false};
    std::atomic<bool> notified_{false};
};

// One open serial device. Move-only; closes itself when destroyed.
class Port {
public:
    Port() = default;
    ~Port() { close(); }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;
    Port(Port&& other) noexcept;
    Port& operator=(Port&& other) noexcept;

    // Opens the path for reading and writing, non-blocking, without making it the controlling
    // terminal, and takes it exclusively (flock, then TIOCEXCL). The descriptor is judged
    // (see deviceRefusal) before anything is set or written: a name relinked after it was
    // looked at cannot slip another device in. Then low latency is asked of the driver (a
    // refusal is no failure). False when the device is missing, refused or held by another;
    // error() and failure() then say why.
    bool open(const std::string& path);
    const std::string& error() const { return failure_.reason; }
    const OpenFailure& failure() const { return failure_; }
    // Whether the driver granted low latency at the last open.
    bool lowLatency() const { return lowLatency_; }
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    bool apply(const LineSettings& s);   // read-modify-write of the termios
    bool setSoftwareFlow(bool on);       // IXON and IXOFF together
    bool flushOutput();
    // Output stopped by a received XOFF (or by TCOOFF) goes on.
    bool resumeOutput();
    // Windows escape function codes: 1 SETXOFF, 2 SETXON, 3 SETRTS, 4 CLRRTS, 5 SETDTR,
    // 6 CLRDTR, 8 SETBREAK, 9 CLRBREAK. A device without modem lines (a pseudo-terminal)
    // accepts the line codes as done. Other codes fail.
    bool escape(uint32_t function);
    // Writes one byte, waiting for room at most timeoutMs.
    bool writeByte(uint8_t byte, int timeoutMs);

    // Writes as much of the bytes as the line takes within timeoutMs (0: only what fits now).
    // `failure` is set to the errno of a failure other than a full or stopped line (the device
    // is gone), else 0.
    std::size_t writeSome(const uint8_t* data, std::size_t n, int timeoutMs, int& failure);
    // Bytes written and not yet sent on the line; 0 where the driver cannot tell (a
    // pseudo-terminal hands bytes on at once), -1 when closed.
    int outputQueued() const;

    // The time limits are only kept (see above).
    Timeouts timeouts{0, 0, 0, 0, 0};

private:
    bool fail(OpenFailure::Kind kind, std::string reason);

    int fd_ = -1;
    OpenFailure failure_;
    bool lowLatency_ = false;
};

}  // namespace serial
