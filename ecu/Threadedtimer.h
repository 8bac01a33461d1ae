// TThreadedTimer: raises OnTimer on the thread that owns the timer (the window thread) at a
// fixed pace kept by its own worker thread, TTimerThread. The worker sleeps Interval ms, hands
// the tick to the window thread and waits until it has run, so ticks never overlap and never
// pile up: a slow handler stretches the period instead of queueing ticks.
//
// The worker cannot be suspended from outside on Linux, so "parking" is a flag the worker
// honours at every step, and the end of a sleep is a deadline that survives parking: a worker
// parked mid-sleep and continued later still ends that sleep when it would have ended anyway,
// or ticks at once if that moment has passed.
#pragma once

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// The nice value a worker of the given priority asks for (0 for tpNormal: left as it is).
int NiceValueFor(TThreadPriority priority);

class TThreadedTimer;

// The worker. Created running by its timer and owned by it; never restarted.
class TTimerThread {
public:
    TTimerThread(TThreadedTimer* owner, uint16_t interval, TThreadPriority priority);
    ~TTimerThread();   // Terminate()
    TTimerThread(const TTimerThread&) = delete;
    TTimerThread& operator=(const TTimerThread&) = delete;

    // Called on the window thread. Park/Continue never restart the sleep in progress.
    void Park();
    void Continue();
    bool Parked() const;
    // The interval is read when a sleep begins; a change counts from the next sleep.
    void SetInterval(uint16_t interval);
    // Stops the worker for good: a tick handed over but not yet run is dropped, the thread is
    // released and joined. Safe to call while that tick waits for this very thread.
    void Terminate();
    // True once the worker has ended (after a handler's exception, or Terminate).
    bool Ended() const;
    // The exception that ended the worker, if any.
    std::exception_ptr FatalException() const;

    // State shared between the worker, the window thread and a tick in the event queue.
    struct Shared;

private:
    void Execute(TThreadPriority priority);

    TThreadedTimer* owner_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

class TThreadedTimer : public QObject {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(TThreadedTimer* Sender)>;

    explicit TThreadedTimer(QObject* owner = nullptr);
    // The interval the owner's layout gives, taken before the worker starts, so that even the
    // first sleep has it (a 12 ms poller does not wait the default second for its first tick).
    TThreadedTimer(QObject* owner, uint16_t interval);
    ~TThreadedTimer() override;

    bool Enabled() const { return enabled_; }
    uint16_t Interval() const { return interval_; }
    TThreadPriority ThreadPriority() const { return threadPriority_; }
    bool HasOnTimer() const { return static_cast<bool>(onTimer_); }

    void SetEnabled(bool value);
    void SetInterval(uint16_t value);
    // Always stores and brings the worker up to date, even for the same handler; an empty
    // function unassigns the handler and parks the worker.
    void SetOnTimer(TNotifyEvent handler);
    // The worker takes its priority once, when it starts (at construction): a later change is
    // stored and reported but does not reach the running worker.
    void SetThreadPriority(TThreadPriority value);

    // Parks the worker, then lets it continue if the timer may tick.
    void UpdateTimer();
    // The tick: calls OnTimer with this timer as Sender when assigned. Does not look at
    // Enabled: a tick already handed over when the timer was disabled still runs once.
    void Timer();

    // Raised on the owner's thread right after OnTimer has thrown and the worker has been told to
    // end for good, with the exception's message: a pacing timer that stops must not stop unseen.
    // Called only when assigned; the timer has not been destroyed by the handler.
    std::function<void(TThreadedTimer* Sender, const std::string& message)> OnHandlerFailed;

    // True once the worker has ended because a handler threw; the timer never ticks again.
    bool WorkerEnded() const;
    std::exception_ptr WorkerException() const;

private:
    bool MayTick() const;

    bool enabled_ = true;
    uint16_t interval_ = 1000;
    TNotifyEvent onTimer_;
    TThreadPriority threadPriority_ = tpNormal;
    std::unique_ptr<TTimerThread> worker_;
};
