#include "ecu/LineOwner.h"

#include <algorithm>

#include "ecu/Zcomm.h"

namespace {

// Queued output that has not moved for this many frame times is held (by flow control, a
// stuck driver) rather than slow: it is purged so that fresh frames are not stuck behind it.
constexpr int StuckFrames = 8;
// A closed port is tried again no more often than this.
constexpr std::chrono::milliseconds ReopenPace(1000);

}  // namespace

bool HeldOutput::Held(int queued, Clock::time_point now, Clock::duration patience)
{
    // Moving: empty, just filled from empty, or fewer bytes than were there after the last frame.
    if (queued <= 0 || lastQueued_ <= 0 || queued < lastQueued_) lastMoved_ = now;
    lastQueued_ = queued;
    if (queued <= 0 || now - lastMoved_ <= patience) return false;
    lastQueued_ = 0;
    lastMoved_ = now;
    return true;
}

LineOwner::LineOwner(TZComm& comm, protocol::ReplyAssembler& reception, QObject* parent)
    : QObject(parent), comm_(comm), reception_(reception)
{
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        // A reply may be waiting behind other events, or not yet moved by the watcher: take it
        // before calling the step overdue.
        comm_.TakeArrived();
        ReceiveAvailable();
        Pump();
    });
    resume_.setSingleShot(true);
    connect(&resume_, &QTimer::timeout, this, [this] { ResumeHeld(); });
}

void LineOwner::NoteHeld(Clock::time_point now)
{
    if (heldSince_) return;
    heldSince_ = now;
    resume_.start(static_cast<int>(HeldPatience.count()) + 1);
}

void LineOwner::ResumeHeld()
{
    if (!heldSince_ || shutDown_ || !comm_.Connected()) return;
    // An XON lost on the line, or a noise byte that read as XOFF, would otherwise stop the
    // output for good: nothing more would reach the ECU, whatever it answers.
    comm_.ResumeOutput();
    ++resumes_;
    heldSince_.reset();
    lineHeld_ = false;
    held_ = HeldOutput();
    if (OnLineResumed) OnLineResumed();
    Pump();
}

LineOwner::Clock::duration LineOwner::CharsTime(int n) const
{
    const double baud = std::max(1, comm_.BaudRate());
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(n * 10.0 / baud));
}

int LineOwner::Open()
{
    if (shutDown_) return 0;
    lastOpenAttempt_ = Clock::now();
    openedOnce_ = true;
    lineHeld_ = false;   // a new connection: nothing of the old line's state holds
    held_ = HeldOutput();
    heldSince_.reset();
    resume_.stop();
    return comm_.OpenConnection();
}

LineOwner::Write LineOwner::WriteFrame(char letter, uint16_t address, uint8_t data, int* ahead)
{
    if (ahead) *ahead = 0;
    if (shutDown_) return Write::Closed;
    const auto now = Clock::now();
    if (!comm_.Connected()) {
        if (openedOnce_ && now - lastOpenAttempt_ < ReopenPace) return Write::Closed;
        if (!Open()) return Write::Closed;
    }

    int queued = comm_.OutQueue();
    bool purged = false;
    if (held_.Held(queued, now, StuckFrames * CharsTime(protocol::kFrameLength))) {
        comm_.PurgeCommPort(protocol::kPurgeTransmit);
        queued = 0;
        purged = true;
        NoteHeld(now);
    }
    if (ahead) *ahead = queued;

    const auto frame = protocol::BuildFrame(letter, address, data);
    // About one frame's line time for room on the line; none once the line has been found held,
    // until a frame goes out again.
    const auto frameMs = std::chrono::ceil<std::chrono::milliseconds>(CharsTime(protocol::kFrameLength)).count();
    const int waitMs = lineHeld_ ? 0 : static_cast<int>(frameMs);
    const int written =
        comm_.WriteCommFrame(reinterpret_cast<const uint8_t*>(frame.data()), protocol::kFrameLength, waitMs);
    if (written < 0) return Write::Gone;
    held_.Wrote(written);
    if (written < protocol::kFrameLength) {
        NoteHeld(now);
        lineHeld_ = true;
        ++dropped_;
        if (OnFrameDropped) OnFrameDropped();
        return Write::Dropped;
    }
    lineHeld_ = false;
    if (queued == 0 && !purged) {   // the line takes what is written: it is not held
        heldSince_.reset();
        resume_.stop();
    }
    ++sent_;
    return Write::Sent;
}

bool LineOwner::Send(char letter, uint16_t address, uint8_t data)
{
    const Write result = WriteFrame(letter, address, data);
    if (result == Write::Gone) DeviceGone();
    return result == Write::Sent;
}

uint32_t LineOwner::Submit(exchange::JobKind kind, std::vector<exchange::Step> steps,
                           const std::function<void(uint32_t job)>& queued)
{
    const uint32_t id = queue_.Submit(kind, std::move(steps));
    if (queued) queued(id);
    Pump();
    return id;
}

void LineOwner::Pump()
{
    std::vector<exchange::Event> events;
    const bool gone = SendDue(events);
    Dispatch(events);
    if (gone) DeviceGone();
}

bool LineOwner::SendDue(std::vector<exchange::Event>& events)
{
    if (shutDown_ || pumping_) return false;
    pumping_ = true;
    bool gone = false;
    if (const std::optional<exchange::Step> step = queue_.Due(Clock::now(), events)) {
        // The reply can only come after what is queued ahead of the frame, the frame itself
        // and the reply have crossed the line.
        // Timed from before the write: an answer can then never seem to come before its command.
        const auto startedAt = Clock::now();
        int ahead = 0;
        const Write result = WriteFrame(step->letter, step->address, step->data, &ahead);
        gone = result == Write::Gone;
        queue_.Sent(startedAt, CharsTime(ahead + 2 * protocol::kFrameLength));
    }
    if (const auto due = queue_.Deadline()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now()).count();
        deadline_.start(static_cast<int>(std::clamp<int64_t>(left, 0, 60000)));
    } else {
        deadline_.stop();
    }
    pumping_ = false;
    return gone;
}

void LineOwner::Dispatch(const std::vector<exchange::Event>& events)
{
    for (const exchange::Event& e : events)
        if (OnEvent) OnEvent(e);
}

void LineOwner::CancelAll()
{
    std::vector<exchange::Event> events;
    queue_.CancelAll(Clock::now(), events);
    deadline_.stop();
    Dispatch(events);
}

void LineOwner::Shutdown()
{
    shutDown_ = true;
    deadline_.stop();
}

void LineOwner::DeviceGone()
{
    if (OnDeviceGone) OnDeviceGone();
}

void LineOwner::ReceiveAvailable()
{
    // Pieces are read a batch of the watcher's at a time, so that each reply carries the time
    // it came off the line, not the time the window thread got to it.
    struct Stamped {
        TZComm& comm;
        std::optional<Clock::time_point>& arrived;
        int ReadComm(uint8_t* buffer, int32_t length)
        {
            Clock::time_point at;
            const int n = comm.ReadCommStamped(buffer, length, at);
            if (n > 0) arrived = at;
            return n;
        }
    } link{comm_, replyArrived_};
    struct Clear {
        std::optional<Clock::time_point>& arrived;
        ~Clear() { arrived.reset(); }
    } clear{replyArrived_};
    protocol::ReceiveAvailable(
        link, reception_,
        [this](const protocol::Reply& reply) {
            if (OnReply) OnReply(reply);
        },
        [this] {
            if (OnRejected) OnRejected();
        });
}

exchange::Verdict LineOwner::TakeReply(const protocol::Reply& reply)
{
    std::vector<exchange::Event> events;
    const exchange::Verdict verdict = queue_.Reply(reply, replyArrived_.value_or(Clock::now()), events);
    // The next step goes out before the window hears of this one, so the line is not idle
    // while the window shows progress.
    bool gone = false;
    if (verdict == exchange::Verdict::Taken) gone = SendDue(events);
    Dispatch(events);
    if (gone) DeviceGone();
    return verdict;
}
