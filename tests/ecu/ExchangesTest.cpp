// The exchange queue on its own, with the time passed in: what it sends, which replies it
// takes, when it sends a step again and when a job gives up.
#include "ecu/Exchanges.h"
#include "ecu/LineOwner.h"

#include <gtest/gtest.h>

#include <array>
#include <deque>
#include <map>
#include <random>

using namespace exchange;
using namespace std::chrono_literals;
using protocol::Reply;

namespace {

constexpr Clock::duration Line = 10400us;   // an exchange at 19200 baud

struct Driver {
    ExchangeQueue queue;
    Clock::time_point now{};
    std::vector<Event> events;
    std::vector<Step> sent;

    // Sends what is due at the present time, as the line's owner does.
    std::optional<Step> Pump()
    {
        const auto step = queue.Due(now, events);
        if (step) {
            sent.push_back(*step);
            queue.Sent(now, Line);
        }
        return step;
    }
    Verdict Answer(char letter, uint16_t address, uint8_t data)
    {
        return queue.Reply(Reply{letter, address, data}, now, events);
    }
    std::vector<Event::Type> Types() const
    {
        std::vector<Event::Type> t;
        for (const Event& e : events) t.push_back(e.type);
        return t;
    }
};

std::vector<Step> Reads(uint16_t from, uint16_t to)
{
    std::vector<Step> s;
    for (uint32_t a = from; a <= to; ++a) s.push_back({'R', static_cast<uint16_t>(a), 0});
    return s;
}

}  // namespace

TEST(ExchangeQueue, TakesOnlyTheReplyToTheStepInFlight)
{
    Driver d;
    d.queue.Submit(JobKind::Read, Reads(5, 7));
    ASSERT_EQ(d.Pump(), (Step{'R', 5, 0}));
    EXPECT_FALSE(d.Pump());   // one step in flight at a time

    // The checksum does not cover the address's high byte: 0x0105 passes it, and must not be
    // taken for address 5, nor put its byte anywhere.
    EXPECT_EQ(d.Answer('r', 0x0105, 0x23), Verdict::Stray);
    EXPECT_EQ(d.Answer('w', 5, 0x23), Verdict::Stray);   // right address, wrong letter
    EXPECT_EQ(d.Answer('a', 3000, 125), Verdict::NotOurs);
    EXPECT_TRUE(d.events.empty());

    EXPECT_EQ(d.Answer('r', 5, 0x23), Verdict::Taken);
    ASSERT_EQ(d.events.size(), 1u);
    EXPECT_EQ(d.events[0].type, Event::StepDone);
    EXPECT_EQ(d.events[0].step, (Step{'R', 5, 0}));
    EXPECT_EQ(d.events[0].replyData, 0x23);
    EXPECT_EQ(d.Answer('r', 5, 0x23), Verdict::Stray);   // answered already, never asked again

    ASSERT_EQ(d.Pump(), (Step{'R', 6, 0}));
    d.Answer('r', 6, 1);
    ASSERT_EQ(d.Pump(), (Step{'R', 7, 0}));
    d.Answer('r', 7, 2);
    EXPECT_EQ(d.Types(), (std::vector<Event::Type>{Event::StepDone, Event::StepDone, Event::StepDone, Event::JobDone}));
    EXPECT_FALSE(d.queue.Busy());
    EXPECT_FALSE(d.Pump());
}

TEST(ExchangeQueue, AnOverdueStepIsSentAgainWithAGrowingWaitThenTheJobGivesUp)
{
    Driver d;
    d.queue.Submit(JobKind::Upload, {{'W', 0, 9}, {'W', 1, 8}});
    d.queue.Submit(JobKind::Writes, {{'W', 443, 141}});
    ASSERT_TRUE(d.Pump());
    std::vector<Clock::duration> waits;
    for (;;) {
        const auto deadline = d.queue.Deadline();
        ASSERT_TRUE(deadline);
        waits.push_back(*deadline - d.now);
        EXPECT_FALSE(d.queue.Due(*deadline - 1us, d.events)) << "not overdue before its deadline";
        d.now = *deadline;
        const auto step = d.Pump();
        ASSERT_TRUE(step);
        if (step->address == 443) break;   // the upload gave up; the next job starts
        EXPECT_EQ(*step, (Step{'W', 0, 9}));
    }
    ASSERT_EQ(waits.size(), std::size_t(MaxSends));
    for (std::size_t i = 1; i < waits.size(); ++i) {
        EXPECT_GE(waits[i], waits[i - 1]);
        EXPECT_LE(waits[i], waits[0] * MaxBackoff);
    }
    EXPECT_EQ(waits[1], 2 * waits[0]);
    ASSERT_EQ(d.events.size(), 1u);
    EXPECT_EQ(d.events[0].type, Event::JobFailed);
    EXPECT_EQ(d.events[0].kind, JobKind::Upload);
    EXPECT_EQ(d.events[0].stepIndex, 0u);
    EXPECT_FALSE(d.events[0].cancelled);

    // The given-up step's answers may still arrive: not bad replies, and not the next job's.
    EXPECT_EQ(d.Answer('w', 0, 9), Verdict::Late);
    EXPECT_TRUE(d.queue.Has(JobKind::Writes));
    EXPECT_FALSE(d.queue.Has(JobKind::Upload));
}

TEST(ExchangeQueue, ASecondAnswerToAStepSentAgainIsLateNotStray)
{
    Driver d;
    d.queue.Submit(JobKind::Read, Reads(10, 11));
    d.Pump();
    d.now = *d.queue.Deadline();
    d.Pump();   // R 10 again
    EXPECT_EQ(d.Answer('r', 10, 4), Verdict::Taken);   // the first answer, late
    ASSERT_EQ(d.Pump(), (Step{'R', 11, 0}));
    EXPECT_EQ(d.Answer('r', 10, 4), Verdict::Late);    // the answer to the second send
    EXPECT_EQ(d.Answer('r', 10, 4), Verdict::Stray);   // a third was never asked for
    EXPECT_EQ(d.Answer('r', 11, 5), Verdict::Taken);
}

TEST(ExchangeQueue, AnEarlierWriteOfTheSameAddressIsNotTakenForTheNext)
{
    // Two writes of one cell in a row (a value, then undo): the late echo of the first must not
    // pass for the echo of the second, or the image would keep a byte the ECU no longer holds.
    Driver d;
    d.queue.Submit(JobKind::Writes, {{'W', 23, 15}, {'W', 23, 20}});
    d.Pump();
    d.now = *d.queue.Deadline();
    d.Pump();
    EXPECT_EQ(d.Answer('w', 23, 15), Verdict::Taken);
    ASSERT_EQ(d.Pump(), (Step{'W', 23, 20}));
    EXPECT_EQ(d.Answer('w', 23, 15), Verdict::Late);
    EXPECT_EQ(d.Answer('w', 23, 20), Verdict::Taken);
    ASSERT_EQ(d.events.back().type, Event::JobDone);
    EXPECT_EQ(d.events[d.events.size() - 2].replyData, 20);
}

TEST(ExchangeQueue, JobsRunInTurnAndCancelFailsEachAtItsStep)
{
    Driver d;
    d.queue.Submit(JobKind::Read, Reads(0, 1));
    d.queue.Submit(JobKind::Writes, {{'W', 100, 1}});
    EXPECT_TRUE(d.queue.Has(JobKind::Read));
    EXPECT_TRUE(d.queue.Has(JobKind::Writes));
    EXPECT_FALSE(d.queue.Has(JobKind::Upload));
    d.Pump();
    d.Answer('r', 0, 0);
    d.Pump();
    d.events.clear();
    d.queue.CancelAll(d.now, d.events);
    ASSERT_EQ(d.events.size(), 2u);
    EXPECT_EQ(d.events[0].kind, JobKind::Read);
    EXPECT_EQ(d.events[0].stepIndex, 1u);
    EXPECT_EQ(d.events[0].step.address, 1);
    EXPECT_EQ(d.events[1].kind, JobKind::Writes);
    EXPECT_EQ(d.events[1].stepIndex, 0u);
    EXPECT_TRUE(d.events[0].cancelled && d.events[1].cancelled);
    EXPECT_FALSE(d.queue.Busy());
    EXPECT_FALSE(d.queue.Deadline());
    EXPECT_EQ(d.Answer('r', 1, 0), Verdict::Late);   // the cancelled step's answer, if it comes
}

TEST(ExchangeQueue, TheWaitFollowsWhatTheEcuHasBeenSeenToNeed)
{
    Driver d;
    EXPECT_EQ(d.queue.Allowance(), 50ms);   // nothing known yet: generous
    d.queue.Submit(JobKind::Read, Reads(0, 199));
    // A quick ECU: every reply 300 us after the line time.
    for (int i = 0; i < 100; ++i) {
        d.Pump();
        d.now += Line + 300us;
        d.Answer('r', static_cast<uint16_t>(i), 0);
    }
    EXPECT_EQ(d.queue.Allowance(), 5ms);   // never below what the window thread needs
    // Now a slow one: 30 ms every time. The first steps are sent again, then the wait has
    // grown to cover it and nothing more is sent twice.
    std::vector<int> resentAt;
    for (int i = 100; i < 200; ++i) {
        d.Pump();
        const auto answerAt = d.now + Line + 30ms;
        while (*d.queue.Deadline() < answerAt) {
            d.now = *d.queue.Deadline();
            ASSERT_TRUE(d.Pump());
            resentAt.push_back(i);
        }
        d.now = answerAt;
        ASSERT_EQ(d.Answer('r', static_cast<uint16_t>(i), 0), Verdict::Taken);
    }
    ASSERT_FALSE(resentAt.empty());
    EXPECT_LT(resentAt.back(), 110) << "still sending twice after ten slow replies";
    EXPECT_GE(d.queue.Allowance(), 30ms);
    EXPECT_LT(d.queue.Allowance(), 60ms);
}

// A whole read over a line that loses replies and delivers some late, seeded: every address is
// stored once, with its own byte, and nothing else is taken.
TEST(ExchangeQueue, AReadOverALossyLineStoresEveryByteAtItsAddress)
{
    std::array<uint8_t, 500> ecu{};
    for (std::size_t i = 0; i < ecu.size(); ++i) ecu[i] = static_cast<uint8_t>(i * 31 + 7);
    for (uint64_t seed = 1; seed <= 20; ++seed) {
        Driver d;
        std::mt19937_64 random(seed);
        std::uniform_real_distribution<double> chance(0, 1);
        d.queue.Submit(JobKind::Read, Reads(0, 499));
        std::map<Clock::time_point, std::vector<Reply>> arriving;   // replies on their way
        std::array<int, 500> stored{};
        std::array<uint8_t, 500> image{};
        int stray = 0;
        while (d.queue.Busy()) {
            if (const auto step = d.Pump()) {
                const double roll = chance(random);
                if (roll >= 0.15) {   // 15 % lost; of the rest a few come very late
                    const auto delay = roll > 0.95 ? 40ms : Line + 200us;
                    arriving[d.now + delay].push_back({'r', step->address, ecu[step->address]});
                }
            }
            const auto deadline = d.queue.Deadline();
            if (arriving.empty() || (deadline && *deadline < arriving.begin()->first)) {
                ASSERT_TRUE(deadline);
                d.now = *deadline;
                continue;
            }
            d.now = arriving.begin()->first;
            const auto replies = arriving.begin()->second;
            arriving.erase(arriving.begin());
            for (const Reply& r : replies) {
                const std::size_t before = d.events.size();
                if (d.queue.Reply(r, d.now, d.events) == Verdict::Stray) ++stray;
                for (std::size_t i = before; i < d.events.size(); ++i)
                    if (d.events[i].type == Event::StepDone) {
                        ++stored[d.events[i].step.address];
                        image[d.events[i].step.address] = d.events[i].replyData;
                    }
            }
        }
        ASSERT_FALSE(d.events.empty());
        EXPECT_EQ(d.events.back().type, Event::JobDone) << "seed " << seed;
        EXPECT_EQ(image, ecu) << "seed " << seed;
        for (int count : stored) ASSERT_EQ(count, 1) << "seed " << seed;
        EXPECT_EQ(stray, 0) << "seed " << seed;   // every answer was asked for
    }
}

// A line held by flow control keeps its queued bytes; a slow one only takes its time with them.
// Only the held one is purged, and only once it has not moved for the patience given.
TEST(HeldOutput, OnlyOutputThatStopsMovingIsHeld)
{
    const Clock::time_point t0 = Clock::time_point{} + 1h;   // long after the watch was made
    const auto patience = 42ms;   // eight frames at 19200 baud
    HeldOutput line;
    EXPECT_FALSE(line.Held(0, t0, patience));   // an empty line moves
    line.Wrote(10);
    // Moving, slowly: every look finds fewer bytes than the last frame left, for far longer
    // than the patience.
    for (int i = 1; i <= 20; ++i) {
        EXPECT_FALSE(line.Held(6, t0 + i * 12ms, patience)) << i;
        line.Wrote(10);
    }
    // Held: the same bytes at every look. Not before the patience has run out, then at once.
    HeldOutput held;
    EXPECT_FALSE(held.Held(30, t0, patience));   // just filled from empty: the watch starts
    EXPECT_FALSE(held.Held(30, t0 + 40ms, patience));
    EXPECT_TRUE(held.Held(30, t0 + 43ms, patience));
    EXPECT_FALSE(held.Held(30, t0 + 44ms, patience));   // purged: the watch starts afresh
    // A driver that cannot tell (a pseudo-terminal says 0) is never held.
    HeldOutput silent;
    for (int i = 0; i < 10; ++i) EXPECT_FALSE(silent.Held(0, t0 + i * 100ms, patience));
}
