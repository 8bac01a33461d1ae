// LineOwner: the one owner of what goes out on the line to the ECU. Handlers ask it; they do
// not write to the port themselves.
//
// - A frame is never cut short by the next: output still on its way is left to go out (frames
//   queue behind each other in the driver), and only a line whose queued output has not moved
//   for many frame times (held by flow control) is purged. A write never holds the window
//   thread longer than about one frame's line time; a frame that cannot go out in that time is
//   dropped and reported (OnFrameDropped), so the link watchdog sees the silence.
// - Reads, uploads and batches of writes are jobs of an exchange::ExchangeQueue: one step in
//   flight at a time, a reply taken only when its letter and address are the ones asked for,
//   a step sent again when its reply is overdue, a job that gives up reported as such.
// - A closed port is opened again when a frame is due, at most once a second, so that a device
//   that went away is looked for without being hammered.
#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "ecu/Exchanges.h"
#include "ecu/Protocol.h"

class TZComm;

// Tells output that is held (by flow control, a stuck driver) from output that is merely slow:
// queued bytes none of which have gone out for more than `patience` are held. Fed with the
// driver's count of queued bytes before every frame and with the bytes of each frame written; a
// count of 0 (or a driver that cannot tell) is a line that moves.
class HeldOutput {
public:
    using Clock = std::chrono::steady_clock;
    // True when the queued output is held and should be purged; the watch then starts afresh.
    bool Held(int queued, Clock::time_point now, Clock::duration patience);
    void Wrote(int bytes) { lastQueued_ += bytes; }

private:
    int lastQueued_ = 0;
    Clock::time_point lastMoved_{};
};

class LineOwner : public QObject {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;

    LineOwner(TZComm& comm, protocol::ReplyAssembler& reception, QObject* parent = nullptr);

    // An untracked frame (live polls, the probe): written at once; nothing waits for its reply.
    // False when it did not go out whole.
    bool Send(char letter, uint16_t address, uint8_t data);
    // Opens the port now (a port change asks for it), whatever the pace of reopening.
    int Open();

    // Queues a job. `queued` hears its number before anything of it goes out, so that a caller
    // who tracks jobs knows it before the job's first event (a device found gone by the first
    // send cancels the job at once).
    uint32_t Submit(exchange::JobKind kind, std::vector<exchange::Step> steps,
                    const std::function<void(uint32_t job)>& queued = {});
    bool Busy() const { return queue_.Busy(); }
    bool Has(exchange::JobKind kind) const { return queue_.Has(kind); }
    // Every unfinished job fails (OnEvent, cancelled) and nothing of them goes out any more.
    void CancelAll();
    // The window is closing: nothing goes out and the port is not opened again.
    void Shutdown();
    bool IsShutDown() const { return shutDown_; }

    // Takes what the port has received, frame by frame: each accepted reply goes to OnReply,
    // each rejected one to OnRejected.
    void ReceiveAvailable();
    // The window hands over every accepted 'r' and 'w' reply; the queue says what it is.
    exchange::Verdict TakeReply(const protocol::Reply& reply);

    // The wait for a reply beyond its line time, as the queue has learnt it.
    Clock::duration Allowance() const { return queue_.Allowance(); }

    // The line time of n characters at the port's baud rate, ten bits a character.
    Clock::duration CharsTime(int n) const;

    std::function<void(const protocol::Reply&)> OnReply;
    std::function<void()> OnRejected;
    std::function<void()> OnFrameDropped;
    std::function<void(const exchange::Event&)> OnEvent;
    // Output held by a flow-control stop (an XOFF, perhaps only line noise) for more than
    // HeldPatience was let go on, as if XON had come.
    std::function<void()> OnLineResumed;
    // A write failed because the device has gone (unplugged).
    std::function<void()> OnDeviceGone;

    uint64_t FramesSent() const { return sent_; }
    uint64_t FramesDropped() const { return dropped_; }
    // Output is held now: the last frame found no room on the line, or queued output stopped.
    bool OutputHeld() const { return heldSince_.has_value(); }
    uint64_t Resumes() const { return resumes_; }
    // How long output may stay held before it is let go on. An ECU holds the line for a few
    // frames while it is busy; a second is far beyond that.
    static constexpr std::chrono::milliseconds HeldPatience{1000};

private:
    enum class Write { Sent, Dropped, Closed, Gone };
    // `ahead` receives the bytes that were queued in front of the frame.
    Write WriteFrame(char letter, uint16_t address, uint8_t data, int* ahead = nullptr);
    void Pump();   // sends the step that is due and sets the deadline timer
    bool SendDue(std::vector<exchange::Event>& events);   // Pump without telling; true: device gone
    void Dispatch(const std::vector<exchange::Event>& events);
    void DeviceGone();
    void NoteHeld(Clock::time_point now);
    void ResumeHeld();

    TZComm& comm_;
    protocol::ReplyAssembler& reception_;
    exchange::ExchangeQueue queue_;
    QTimer deadline_;
    QTimer resume_;
    std::optional<Clock::time_point> heldSince_;
    uint64_t resumes_ = 0;
    // When the batch of the reply being handled came off the line (set while receiving).
    std::optional<Clock::time_point> replyArrived_;
    bool shutDown_ = false;
    bool pumping_ = false;
    bool lineHeld_ = false;               // the last frame found no room: do not wait again
    HeldOutput held_;
    Clock::time_point lastOpenAttempt_{};
    bool openedOnce_ = false;
    uint64_t sent_ = 0;
    uint64_t dropped_ = 0;
};
