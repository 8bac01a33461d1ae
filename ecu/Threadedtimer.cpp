#include "ecu/Threadedtimer.h"

#include <QMetaObject>
#include <QPointer>
#include <QtGlobal>

#include <chrono>
#include <exception>

#include <sys/resource.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

int NiceValueFor(TThreadPriority priority)
{
    switch (priority) {
    case tpIdle: return 19;
    case tpLowest: return 10;
    case tpLower: return 5;
    case tpNormal: return 0;
    case tpHigher: return -5;
    case tpHighest: return -10;
    case tpTimeCritical: return -20;
    }
    return 0;
}

// Everything the worker, the window thread and a queued tick share. One mutex guards it all;
// the handler itself never runs under it.
struct TTimerThread::Shared {
    enum class Phase { Sleeping, WaitingForTick, Ended };
    enum class Tick { None, Pending, Running, Done, Failed };

    std::mutex mutex;
    std::condition_variable wake;
    bool parked = false;
    bool stop = false;
    uint16_t interval = 0;
    Phase phase = Phase::Sleeping;
    Clock::time_point deadline;   // end of the sleep in progress, kept across parking
    bool sleeping = false;        // a sleep has begun and its deadline is set
    Tick tick = Tick::None;
    uint64_t tickNumber = 0;      // tells a stale queued tick from the current one
    std::exception_ptr fatal;
};

TTimerThread::TTimerThread(TThreadedTimer* owner, uint16_t interval, TThreadPriority priority)
    : owner_(owner), shared_(std::make_shared<Shared>())
{
    // The first sleep begins now, not when the new thread gets scheduled. The worker starts
    // parked: its owner lets it go once it knows the timer may tick, so that a timer built with
    // no handler, disabled or with Interval 0 never hands over a tick in between.
    shared_->parked = true;
    shared_->interval = interval;
    shared_->deadline = Clock::now() + std::chrono::milliseconds(interval);
    shared_->sleeping = true;
    thread_ = std::thread([this, priority] { Execute(priority); });
}

TTimerThread::~TTimerThread()
{
    Terminate();
}

void TTimerThread::Park()
{
    std::lock_guard lock(shared_->mutex);
    shared_->parked = true;
}

void TTimerThread::Continue()
{
    {
        std::lock_guard lock(shared_->mutex);
        if (!shared_->parked) return;
        shared_->parked = false;
    }
    shared_->wake.notify_all();
}

bool TTimerThread::Parked() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->parked;
}

void TTimerThread::SetInterval(uint16_t interval)
{
    std::lock_guard lock(shared_->mutex);
    shared_->interval = interval;
}

void TTimerThread::Terminate()
{
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stop = true;
        // A tick still queued for the window thread finds `stop` and does nothing. It must
        // not be waited for: Terminate usually runs on that very thread.
        if (shared_->tick == Shared::Tick::Pending) shared_->tick = Shared::Tick::None;
    }
    shared_->wake.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool TTimerThread::Ended() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->phase == Shared::Phase::Ended;
}

std::exception_ptr TTimerThread::FatalException() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->fatal;
}

void TTimerThread::Execute(TThreadPriority priority)
{
    // Raising the priority needs a privilege a normal user lacks; the timer then keeps the
    // default priority, which only costs pace under heavy load.
    if (const int nice = NiceValueFor(priority); nice != 0)
        (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice);

    Shared& s = *shared_;
    std::unique_lock lock(s.mutex);
    for (;;) {
        if (s.stop) break;
        if (s.parked) {
            s.wake.wait(lock, [&] { return !s.parked || s.stop; });
            continue;
        }
        if (s.phase == Shared::Phase::Sleeping) {
            if (!s.sleeping) {
                s.deadline = Clock::now() + std::chrono::milliseconds(s.interval);
                s.sleeping = true;
            }
            if (Clock::now() < s.deadline) {
                s.wake.wait_until(lock, s.deadline, [&] { return s.parked || s.stop; });
                continue;
            }
            s.sleeping = false;
            s.phase = Shared::Phase::WaitingForTick;
            s.tick = Shared::Tick::Pending;
            const uint64_t number = ++s.tickNumber;
            lock.unlock();
            // The owner outlives this thread (its destructor joins us), so posting to it is
            // safe; Qt discards the queued call if the owner is destroyed before it runs.
            auto shared = shared_;
            TThreadedTimer* owner = owner_;
            QMetaObject::invokeMethod(
                owner,
                [shared, owner, number] {
                    {
                        std::lock_guard guard(shared->mutex);
                        if (shared->stop || shared->tick != Shared::Tick::Pending
                            || shared->tickNumber != number)
                            return;
                        shared->tick = Shared::Tick::Running;
                    }
                    std::exception_ptr failure;
                    std::string message;
                    const QPointer<TThreadedTimer> alive(owner);
                    try {
                        owner->Timer();
                    } catch (const std::exception& e) {
                        // Never let a handler's exception into Qt's event loop: hand it to
                        // the worker, which ends on it. Said once, as a silent stop of a
                        // pacing timer is hard to tell from a quiet engine.
                        qWarning("Timer handler failed, the timer stops for good: %s", e.what());
                        failure = std::current_exception();
                        message = e.what();
                    } catch (...) {
                        qWarning("Timer handler failed, the timer stops for good");
                        failure = std::current_exception();
                        message = "Unknown exception";
                    }
                    // The handler may have destroyed the timer: only the shared state is
                    // touched from here on.
                    {
                        std::lock_guard guard(shared->mutex);
                        if (shared->tick == Shared::Tick::Running && shared->tickNumber == number) {
                            shared->tick = failure ? Shared::Tick::Failed : Shared::Tick::Done;
                            if (failure) shared->fatal = failure;
                        }
                    }
                    shared->wake.notify_all();
                    // The worker has ended by now; whoever owns the timer may say so.
                    if (failure && alive && alive->OnHandlerFailed) alive->OnHandlerFailed(alive, message);
                },
                Qt::QueuedConnection);
            lock.lock();
            continue;
        }
        // Waiting for the tick. Parked here, the tick still runs on the window thread; the
        // worker only moves on once it is continued.
        if (s.tick == Shared::Tick::Pending || s.tick == Shared::Tick::Running) {
            s.wake.wait(lock, [&] {
                return (s.tick != Shared::Tick::Pending && s.tick != Shared::Tick::Running)
                       || s.parked || s.stop;
            });
            continue;
        }
        if (s.tick == Shared::Tick::Failed) break;   // for good, whatever the properties
        s.tick = Shared::Tick::None;
        s.phase = Shared::Phase::Sleeping;
    }
    s.phase = Shared::Phase::Ended;
}

TThreadedTimer::TThreadedTimer(QObject* owner) : TThreadedTimer(owner, 1000) {}

TThreadedTimer::TThreadedTimer(QObject* owner, uint16_t interval)
    : QObject(owner), interval_(interval),
      worker_(std::make_unique<TTimerThread>(this, interval_, threadPriority_))
{
    // No handler yet: the worker parks at once, its first sleep's deadline already running.
    UpdateTimer();
}

TThreadedTimer::~TThreadedTimer()
{
    enabled_ = false;
    UpdateTimer();
    worker_->Terminate();
}

void TThreadedTimer::SetEnabled(bool value)
{
    if (value == enabled_) return;
    enabled_ = value;
    UpdateTimer();
}

void TThreadedTimer::SetInterval(uint16_t value)
{
    if (value == interval_) return;
    interval_ = value;
    worker_->SetInterval(value);
    UpdateTimer();
}

void TThreadedTimer::SetOnTimer(TNotifyEvent handler)
{
    onTimer_ = std::move(handler);
    UpdateTimer();
}

void TThreadedTimer::SetThreadPriority(TThreadPriority value)
{
    if (value == threadPriority_) return;
    threadPriority_ = value;
    UpdateTimer();
}

bool TThreadedTimer::MayTick() const
{
    return interval_ != 0 && enabled_ && static_cast<bool>(onTimer_);
}

void TThreadedTimer::UpdateTimer()
{
    // Parking and continuing keep the sleep's deadline, so this never restarts a sleep.
    worker_->Park();
    if (MayTick()) worker_->Continue();
}

void TThreadedTimer::Timer()
{
    // Interval 0 means no ticks, even one already handed over when the interval was set.
    if (!onTimer_ || interval_ == 0) return;
    // A copy, so that a handler which reassigns OnTimer or destroys the timer does not
    // destroy the function that is running.
    TNotifyEvent handler = onTimer_;
    handler(this);
}

bool TThreadedTimer::WorkerEnded() const
{
    return worker_->Ended();
}

std::exception_ptr TThreadedTimer::WorkerException() const
{
    return worker_->FatalException();
}
