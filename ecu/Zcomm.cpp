#include "ecu/Zcomm.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr int kWriteLimitMs = 2000;   // longest wait for room to write one byte

}  // namespace

// The watcher of one connection. It waits in poll() on the device and on a wake-up
// descriptor, moves what arrived into the receive queue and posts one notification per batch
// to the receiver. poll() is level-triggered: a watcher that left the bytes in the kernel and
// only posted would spin until the window thread had read them, so it takes them itself.
// It reads no property of the component and calls no handler: all it touches is the device
// descriptor, the queue and the receiver given at its creation, and its own stop flag.
class TCommThread {
public:
    // Starts watching. Throws std::system_error when no thread or descriptor can be had.
    TCommThread(int portFd, std::shared_ptr<serial::ReceiveQueue> queue, QObject* receiver)
        : portFd_(portFd), queue_(std::move(queue)), receiver_(receiver)
    {
        wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
        if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
        try {
            thread_ = std::thread([this] { Execute(); });
        } catch (...) {
            ::close(wakeFd_);
            throw;
        }
    }

    // Stops the watcher and waits for it to end; it never blocks anywhere but in poll(),
    // which the wake-up descriptor breaks, so the wait is short.
    ~TCommThread()
    {
        Terminate();
        thread_.join();
        ::close(wakeFd_);
    }

    TCommThread(const TCommThread&) = delete;
    TCommThread& operator=(const TCommThread&) = delete;

    void Terminate()
    {
        terminated_.store(true);
        Wake();
    }

    // Breaks the current wait, so the watcher looks again at its stop flag and at the room in
    // the queue.
    void Wake()
    {
        const uint64_t one = 1;
        while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }

private:
    void Execute()
    {
        ::pthread_setname_np(::pthread_self(), "ZCommWatcher");
        // One step below normal priority: it only moves bytes and posts, the window thread
        // does the work.
        const pid_t tid = ::gettid();
        errno = 0;
        const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
        if (errno == 0) ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice + 1);

        // After a hang-up or error of the device (unplugged, far end of a pseudo-terminal
        // closed) poll() reports it at once and forever: from then on only the stop request
        // is waited for.
        bool deviceGone = false;
        while (!terminated_.load()) {
            pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {portFd_, POLLIN, 0}};
            // With the queue full the device is left alone until ReadComm makes room, and
            // the kernel's buffers hold (and flow-control) what comes meanwhile.
            const nfds_t count = (deviceGone || queue_->full()) ? 1 : 2;
            const int r = ::poll(fds, count, -1);
            if (r < 0) {
                if (errno != EINTR) WaitForWake();   // poll itself failed: do not spin on it
                continue;
            }
            if (fds[0].revents & POLLIN) DrainWake();
            if (count == 2 && fds[1].revents != 0) {
                bool hungUp = false;
                const bool got = queue_->fillFrom(portFd_, hungUp) > 0;
                if (hungUp || (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) {
                    // Said once: the window thread learns of it after the last bytes.
                    deviceGone = true;
                    queue_->setHungUp(true);
                    Post();
                } else if (got && queue_->markNotified()) {
                    Post();
                }
            }
        }
    }

    void Post()
    {
        QCoreApplication::postEvent(
            receiver_, new QEvent(static_cast<QEvent::Type>(TZComm::notificationEventType())));
    }

    void DrainWake()
    {
        uint64_t value;
        while (::read(wakeFd_, &value, sizeof value) < 0 && errno == EINTR) {
        }
    }

    void WaitForWake()
    {
        DrainWake();   // the descriptor blocks, so this waits for the next Wake()
    }

    const int portFd_;
    const std::shared_ptr<serial::ReceiveQueue> queue_;
    QObject* const receiver_;
    int wakeFd_ = -1;
    std::atomic<bool> terminated_{false};
    std::thread thread_;
};

// ---- TZCommReceiver ----

bool TZCommReceiver::event(QEvent* e)
{
    if (e->type() == TZComm::notificationEventType()) {
        owner_->MessageCOMM();
        return true;
    }
    return QObject::event(e);
}

// ---- TZComm ----

int TZComm::notificationEventType()
{
    static const int type = QEvent::registerEventType();
    return type;
}

TZComm::TZComm(QObject* owner)
    : QObject(owner), queue_(std::make_shared<serial::ReceiveQueue>()),
      receiver_(new TZCommReceiver(this))
{
}

TZComm::~TZComm()
{
    state_ = 1;
    // An open component is closed rather than left behind: its watcher would otherwise post
    // to a receiver that is gone, and the device would stay locked until the program ends.
    if (portHandle_.isOpen() || watcher_) CloseConnection();
    delete receiver_;
    receiver_ = nullptr;
}

int TZComm::OpenConnection()
{
    const int result = Open();
    if (OnOpenAttempt) OnOpenAttempt(this);
    return result;
}

int TZComm::Open()
{
    // Opening over an open connection would orphan its watcher and keep its device locked.
    if (portHandle_.isOpen() || watcher_) CloseConnection();

    openError_.clear();
    if (port_.isEmpty() || port_.size() > serial::kMaxPortNameLength || port_.contains(QChar(0))) {
        openError_ = QStringLiteral("not a port name");
        return 0;
    }
    const std::string path = serial::resolvePortName(port_.toStdString());
    if (!portHandle_.open(path)) {
        openError_ = QString::fromStdString(portHandle_.error());
        return 0;
    }
    queue_->setHungUp(false);
    queue_->clearNotified();
    hangUpRaised_ = false;

    // The queue sizes have nothing to ask of the kernel (see SerialPlatform.h).
    SetTimeouts();
    const int result = SetConnection();
    if (!result) {
        portHandle_.close();
        openError_ = QStringLiteral("the line settings were refused");
        return 0;
    }
    connected_ = 1;
    openedPath_ = QDir::cleanPath(QDir::current().absoluteFilePath(QString::fromStdString(path)));
    try {
        watcher_ = std::make_unique<TCommThread>(portHandle_.fd(), queue_, receiver_);
    } catch (const std::exception&) {
        connected_ = 0;
        portHandle_.close();
        return 0;
    }
    EscapeComm(5);   // raise DTR
    return result;
}

int TZComm::SetConnection()
{
    serial::LineSettings s;
    s.baudRate = baudRate_;
    s.dataBits = static_cast<int>(dataBits_) + 4;
    s.parity = static_cast<int>(parity_);
    s.stopBits = static_cast<int>(stopBits_);
    s.enableParity = enableParity_;
    s.ctsFlow = ctsFlowCtl_;
    s.xOutput = xOutputFlowCtl_;
    s.xInput = xInputFlowCtl_;
    s.xOnChar = xOnChar_;
    s.xOffChar = xOffChar_;
    return portHandle_.apply(s) ? 1 : 0;
}

int TZComm::CloseConnection()
{
    connected_ = 0;   // from here on, notifications still queued are dropped
    watcher_.reset(); // wakes the watcher's poll() and waits for it to end
    if (portHandle_.isOpen()) {
        EscapeComm(6);   // drop DTR
        PurgeCommPort(0x0F);
        portHandle_.close();
    }
    return 1;
}

int TZComm::PurgeCommPort(uint32_t flags)
{
    if (!portHandle_.isOpen() || (flags & ~0xFu) != 0) return 0;
    bool ok = true;
    // 0x1 and 0x2 abort transfers under way; every transfer here ends within its own call,
    // so there is nothing to abort.
    if (flags & 0x4) ok = portHandle_.flushOutput() && ok;
    if (flags & 0x8) {
        bool wasFull = false;
        ok = queue_->purge(portHandle_.fd(), wasFull) && ok;
        if (wasFull && watcher_) watcher_->Wake();
    }
    return ok ? 1 : 0;
}

int TZComm::EscapeComm(uint32_t function)
{
    return portHandle_.escape(function) ? 1 : 0;
}

int TZComm::GetTimeouts()
{
    if (!portHandle_.isOpen()) return 0;
    timeouts_ = portHandle_.timeouts;
    return 1;
}

int TZComm::SetTimeouts()
{
    if (!portHandle_.isOpen()) return 0;
    portHandle_.timeouts = timeouts_;
    return 1;
}

int TZComm::SetFlowCtl(int on)
{
    return portHandle_.setSoftwareFlow((on & 1) != 0) ? 1 : 0;
}

int32_t TZComm::InQueue() const
{
    return portHandle_.isOpen() ? static_cast<int32_t>(queue_->size()) : 0;
}

int32_t TZComm::OutQueue() const
{
    return std::max(0, portHandle_.outputQueued());
}

int TZComm::ReadComm(uint8_t* buffer, int32_t length)
{
    if (!portHandle_.isOpen()) return 0;
    const uint32_t errors = 0;   // POSIX reports no line errors (see SerialPlatform.h)
    if (errors != 0 && OnErrorOccurred)
        OnErrorOccurred(this, static_cast<int>(errors), QStringLiteral("Read Error"));
    // A negative length would, compared as unsigned, let the read run past the buffer.
    if (buffer == nullptr || length <= 0) return 0;
    bool wasFull = false;
    const std::size_t n = queue_->take(buffer, static_cast<std::size_t>(length), wasFull);
    if (wasFull && watcher_) watcher_->Wake();
    return static_cast<int>(n);
}

int TZComm::ReadCommStamped(uint8_t* buffer, int32_t length, std::chrono::steady_clock::time_point& arrived)
{
    arrived = std::chrono::steady_clock::now();
    if (!portHandle_.isOpen() || buffer == nullptr || length <= 0) return 0;
    bool wasFull = false;
    const std::size_t n = queue_->take(buffer, static_cast<std::size_t>(length), wasFull, &arrived);
    if (wasFull && watcher_) watcher_->Wake();
    return static_cast<int>(n);
}

void TZComm::TakeArrived()
{
    if (!portHandle_.isOpen() || queue_->hungUp()) return;
    bool hungUp = false;   // the watcher sees a hang-up too, and reports it
    queue_->fillFrom(portHandle_.fd(), hungUp);
}

int TZComm::ResumeOutput()
{
    return portHandle_.resumeOutput() ? 1 : 0;
}

int TZComm::WriteCommByte(uint8_t byte)
{
    return portHandle_.writeByte(byte, kWriteLimitMs) ? 1 : 0;
}

int TZComm::WriteCommFrame(const uint8_t* data, int32_t length, int timeoutMs)
{
    if (!portHandle_.isOpen() || data == nullptr || length <= 0) return 0;
    int failure = 0;
    const std::size_t n = portHandle_.writeSome(data, static_cast<std::size_t>(length), timeoutMs, failure);
    if (failure != 0) return -1;
    return static_cast<int>(n);
}

int TZComm::WriteComm(const uint8_t* data, int32_t length)
{
    if (data == nullptr) return 0;
    int result = 0;
    for (int32_t i = 0; i < length; ++i) result = WriteCommByte(data[i]);   // a failed byte does not stop the rest
    return result;
}

QString TZComm::Text()
{
    // No read takes more than the queue holds, so the scratch buffer need not be larger.
    const int32_t want = static_cast<int32_t>(
        std::clamp<int64_t>(std::min<int64_t>(maxReadLength_, InQueue()), 0, INT32_MAX - 1));
    std::vector<char> buffer;
    try {
        buffer.assign(static_cast<std::size_t>(want) + 1, 0);
    } catch (const std::bad_alloc&) {
        return {};
    }
    const int got = ReadComm(reinterpret_cast<uint8_t*>(buffer.data()), want);
    if (got <= 0) return {};
    lastText_ = QString::fromLatin1(buffer.data());   // up to the first zero byte
    return lastText_;
}

void TZComm::SetText(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    WriteComm(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<int32_t>(bytes.size()));
}

void TZComm::MessageCOMM()
{
    queue_->clearNotified();   // before the bytes are taken: later ones are told again
    if (connected_ == 0) return;
    if (OnDataAvailable) OnDataAvailable(this);
    // The handler may have closed the connection, or reopened it on another device.
    if (connected_ == 0 || hangUpRaised_ || !queue_->hungUp()) return;
    hangUpRaised_ = true;
    if (OnHangUp) OnHangUp(this);
}
