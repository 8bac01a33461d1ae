// TThreadedTimer against a real event loop. Every timer's first sleep is the 1000 ms that
// starts at construction, so most cases first wait for that tick. Time limits here are wide
// and only tell a kept deadline from a restarted one, or catch a hang.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ecu/Threadedtimer.h"

namespace {

using namespace std::chrono_literals;

// Records when each tick ran, in ms since the clock started.
struct TickLog {
    QElapsedTimer clock;
    std::vector<qint64> at;
    TickLog() { clock.start(); }
    auto Handler()
    {
        return [this](TThreadedTimer*) { at.push_back(clock.elapsed()); };
    }
    int Count() const { return static_cast<int>(at.size()); }
    bool WaitFor(int count, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return Count() >= count; }, timeoutMs);
    }
    // Processes events until the clock reads `ms`.
    void RunUntil(qint64 ms)
    {
        while (clock.elapsed() < ms) QTest::qWait(5);
    }
};

TEST(ThreadedTimer, SlowHandlerStretchesThePeriodAndNeverOverlaps)
{
    TThreadedTimer timer;
    timer.SetInterval(12);
    TickLog log;
    bool inTick = false;
    bool overlapped = false;
    timer.SetOnTimer([&](TThreadedTimer*) {
        if (inTick) overlapped = true;
        inTick = true;
        log.at.push_back(log.clock.elapsed());
        // A nested event loop (as a modal box would run) must not let the next tick in.
        std::this_thread::sleep_for(15ms);
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(15ms);
        inTick = false;
    });
    ASSERT_TRUE(log.WaitFor(12));
    timer.SetEnabled(false);
    EXPECT_FALSE(overlapped);
    // From the second tick on the period is 12 ms of sleep plus 30 ms of handler: no backlog
    // makes it shorter, and ticks are not lost into longer gaps.
    const double mean = double(log.at.back() - log.at[1]) / double(log.Count() - 2);
    EXPECT_GT(mean, 35.0);
    EXPECT_LT(mean, 80.0);
}

TEST(ThreadedTimer, DisablingStopsTicksButAHandedOverTickStillRuns)
{
    TThreadedTimer timer;
    timer.SetInterval(12);
    TickLog log;
    timer.SetOnTimer([&](TThreadedTimer* sender) {
        log.at.push_back(log.clock.elapsed());
        if (log.Count() == 1) sender->SetEnabled(false);   // from inside its own handler
    });
    ASSERT_TRUE(log.WaitFor(1));
    QTest::qWait(200);
    EXPECT_EQ(log.Count(), 1);

    timer.SetEnabled(true);
    ASSERT_TRUE(log.WaitFor(3));
    // Block the window thread until the worker has handed the next tick over, then disable:
    // that tick was already on its way and still runs once, and no other follows.
    std::this_thread::sleep_for(100ms);
    timer.SetEnabled(false);
    const int before = log.Count();
    QTest::qWait(200);
    EXPECT_EQ(log.Count(), before + 1);
}

TEST(ThreadedTimer, DestroyingWhileATickWaitsForTheWindowThreadDropsIt)
{
    int ticks = 0;
    auto* timer = new TThreadedTimer;
    timer->SetInterval(12);
    timer->SetOnTimer([&](TThreadedTimer*) { ++ticks; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= 1; }, 5000));
    // The worker hands the next tick over after 12 ms and waits for it; we do not let it run.
    std::this_thread::sleep_for(100ms);
    const int before = ticks;
    QElapsedTimer clock;
    clock.start();
    delete timer;
    EXPECT_LT(clock.elapsed(), 2000);   // returned: the pending hand-off was not waited for
    QTest::qWait(100);
    EXPECT_EQ(ticks, before);
}

TEST(ThreadedTimer, DestroyingFromInsideItsOwnHandlerRunsNoFurtherTick)
{
    int ticks = 0;
    auto* timer = new TThreadedTimer;
    timer->SetInterval(12);
    timer->SetOnTimer([&](TThreadedTimer* sender) {
        ++ticks;
        delete sender;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= 1; }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(ticks, 1);
}

TEST(ThreadedTimer, SameValueAssignmentsNeitherTickNorRestartTheSleep)
{
    TickLog log;
    TThreadedTimer timer;   // its first sleep ends about 1000 ms from now
    const auto handler = log.Handler();
    timer.SetOnTimer(handler);
    log.RunUntil(600);
    for (int i = 0; i < 20; ++i) {
        timer.SetEnabled(true);
        timer.SetInterval(1000);
        timer.SetThreadPriority(tpNormal);
        timer.SetOnTimer(handler);   // always parks and continues, still no restart
    }
    EXPECT_EQ(log.Count(), 0);
    ASSERT_TRUE(log.WaitFor(1));
    EXPECT_LT(log.at[0], 1350);   // a restarted sleep would end near 1600
    log.RunUntil(1700);
    EXPECT_EQ(log.Count(), 1);
}

TEST(ThreadedTimer, IntervalZeroNeverTicks)
{
    TickLog log;
    TThreadedTimer timer;
    timer.SetInterval(0);
    timer.SetOnTimer(log.Handler());
    log.RunUntil(1300);   // well past the first sleep's end
    timer.SetEnabled(false);
    timer.SetEnabled(true);
    timer.SetOnTimer(log.Handler());
    QTest::qWait(100);
    EXPECT_EQ(log.Count(), 0);

    timer.SetInterval(20);   // the sleep that began at construction is long over
    EXPECT_TRUE(log.WaitFor(2));
}

// A timer built with Interval 0 from the start: its worker must not hand a tick over before
// the handler is assigned (which would then run it once).
TEST(ThreadedTimer, BuiltWithIntervalZeroNeverRunsItsHandler)
{
    int ticks = 0;
    for (int i = 0; i < 50; ++i) {
        TThreadedTimer timer(nullptr, 0);
        std::this_thread::sleep_for(1ms);   // time for a worker that ran ahead to hand a tick over
        timer.SetOnTimer([&](TThreadedTimer*) { ++ticks; });
        QCoreApplication::processEvents();
    }
    QTest::qWait(50);
    EXPECT_EQ(ticks, 0);
}

TEST(ThreadedTimer, UnassigningTheHandlerParksAndReassigningKeepsTheDeadline)
{
    TickLog log;
    TThreadedTimer timer;
    timer.SetInterval(200);   // from the second sleep on
    timer.SetOnTimer(log.Handler());
    log.RunUntil(300);
    timer.SetOnTimer(nullptr);
    EXPECT_FALSE(timer.HasOnTimer());
    log.RunUntil(600);
    timer.SetOnTimer(log.Handler());
    ASSERT_TRUE(log.WaitFor(1));
    EXPECT_LT(log.at[0], 1350);   // restarted on reassignment it would end near 1600

    // Unassigned across the end of the next (200 ms) sleep: nothing ticks, and reassigning
    // then ticks at once because that end has passed. (Parked before the worker saw its tick
    // finish, the sleep would only begin on reassignment: let it begin first.)
    QTest::qWait(50);
    timer.SetOnTimer(nullptr);
    const qint64 unassignedAt = log.clock.elapsed();
    log.RunUntil(unassignedAt + 600);
    EXPECT_EQ(log.Count(), 1);
    const qint64 reassignedAt = log.clock.elapsed();
    timer.SetOnTimer(log.Handler());
    ASSERT_TRUE(log.WaitFor(2));
    EXPECT_LT(log.at[1] - reassignedAt, 150);
}

TEST(ThreadedTimer, ParkingMidSleepKeepsTheSleepsEnd)
{
    TickLog log;
    TThreadedTimer timer;   // sleeping until about 1000 ms
    timer.SetOnTimer(log.Handler());
    log.RunUntil(400);
    timer.SetEnabled(false);
    log.RunUntil(700);
    timer.SetEnabled(true);
    ASSERT_TRUE(log.WaitFor(1));
    EXPECT_GT(log.at[0], 900);
    EXPECT_LT(log.at[0], 1350);   // a sleep restarted at 700 would end near 1700
}

TEST(ThreadedTimer, FirstEnableLongAfterConstructionTicksAtOnce)
{
    TickLog log;
    TThreadedTimer timer;
    timer.SetEnabled(false);
    timer.SetInterval(500);
    timer.SetOnTimer(log.Handler());
    log.RunUntil(1200);
    EXPECT_EQ(log.Count(), 0);
    const qint64 enabledAt = log.clock.elapsed();
    timer.SetEnabled(true);
    ASSERT_TRUE(log.WaitFor(1));
    EXPECT_LT(log.at[0] - enabledAt, 250);   // a fresh 500 ms sleep would not be over yet
    ASSERT_TRUE(log.WaitFor(2));
    EXPECT_GT(log.at[1] - log.at[0], 400);   // then the interval paces it
}

TEST(ThreadedTimer, HandlerExceptionEndsTheWorkerForGood)
{
    int ticks = 0;
    std::vector<std::string> told;
    TThreadedTimer timer;
    timer.OnHandlerFailed = [&](TThreadedTimer* sender, const std::string& message) {
        EXPECT_EQ(sender, &timer);
        told.push_back(message);
    };
    timer.SetInterval(12);
    timer.SetOnTimer([&](TThreadedTimer*) {
        ++ticks;
        throw std::runtime_error("handler failed");
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return timer.WorkerEnded(); }, 5000));
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(told, std::vector<std::string>{"handler failed"});   // said once, with the reason
    ASSERT_TRUE(timer.WorkerException());
    EXPECT_THROW(std::rethrow_exception(timer.WorkerException()), std::runtime_error);

    timer.SetEnabled(false);
    timer.SetEnabled(true);
    timer.SetInterval(20);
    timer.SetOnTimer([&](TThreadedTimer*) { ++ticks; });
    QTest::qWait(300);
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(told.size(), 1u);
}

TEST(ThreadedTimer, AHandlerThatDestroysItsTimerAndThrowsReachesNoFailureEvent)
{
    int told = 0;
    bool ran = false;
    auto* timer = new TThreadedTimer;
    timer->OnHandlerFailed = [&](TThreadedTimer*, const std::string&) { ++told; };
    timer->SetInterval(12);
    timer->SetOnTimer([&](TThreadedTimer* sender) {
        ran = true;
        delete sender;
        throw std::runtime_error("gone");
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ran; }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(told, 0);   // the event belongs to a timer that no longer exists
}

}   // namespace

namespace {

TEST(ThreadedTimer, AnIntervalGivenAtConstructionPacesEvenTheFirstSleep)
{
    TickLog log;
    TThreadedTimer timer(nullptr, 40);
    timer.SetOnTimer(log.Handler());
    ASSERT_TRUE(log.WaitFor(1, 2000));
    EXPECT_LT(log.at[0], 500);   // the default 1000 ms first sleep would not be over yet
    EXPECT_EQ(timer.Interval(), 40);
}

}  // namespace
