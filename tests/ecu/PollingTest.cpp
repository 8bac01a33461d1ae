#include "ecu/Polling.h"

#include <gtest/gtest.h>

#include <string>

using namespace polling;

TEST(PollingCycle, FirstTickSendsAThenTheCycleRepeatsFromG)
{
    uint8_t step = 0;
    uint32_t silent = 0;
    std::string sent;
    for (int tick = 0; tick < 20; ++tick) {
        sent += PollTick(step, silent, false, false).command;
        silent = 0;   // the ECU answers every poll
    }
    // Nothing resets the step, so a stop and restart of polling continues this same sequence.
    EXPECT_EQ(sent, "ABCDEVFHGABCDEVFHGAB");
}

TEST(PollingCycle, LogSampleOnlyAfterFAndOnlyWhileLogging)
{
    uint8_t step = 0;
    uint32_t silent = 0;
    std::string sampledAfter;
    for (int tick = 0; tick < 18; ++tick) {
        const TickPlan plan = PollTick(step, silent, false, true);
        if (plan.takeLogSample) sampledAfter += plan.command;
    }
    EXPECT_EQ(sampledAfter, "FF");

    for (int tick = 0; tick < 18; ++tick)
        EXPECT_FALSE(PollTick(step, silent, false, false).takeLogSample);
}

TEST(PollingWatchdog, EleventhSilentTickReportsLostAndKeepsReporting)
{
    uint8_t step = 0;
    uint32_t silent = 0;
    bool red = false;
    for (int tick = 1; tick <= 10; ++tick) {
        const TickPlan plan = PollTick(step, silent, red, false);
        EXPECT_FALSE(plan.reportLost) << "tick " << tick;
        EXPECT_FALSE(plan.reportBack) << "tick " << tick;
    }
    for (int tick = 11; tick <= 14; ++tick) {
        const TickPlan plan = PollTick(step, silent, red, false);
        EXPECT_TRUE(plan.reportLost) << "tick " << tick;   // the text is rewritten every tick
        EXPECT_FALSE(plan.reportBack);
        red = plan.reportLost;
    }
}

TEST(PollingWatchdog, ExactlyTenChangesNothingAndAReplyBringsTheLinkBack)
{
    uint8_t step = 0;
    uint32_t silent = 9;
    TickPlan plan = PollTick(step, silent, true, false);   // 10 on a red bar
    EXPECT_EQ(silent, 10u);
    EXPECT_FALSE(plan.reportLost);
    EXPECT_FALSE(plan.reportBack);

    plan = PollTick(step, silent, true, false);   // still no reply: 11
    EXPECT_TRUE(plan.reportLost);

    silent = 0;   // an accepted reply
    plan = PollTick(step, silent, true, false);
    EXPECT_TRUE(plan.reportBack);
    EXPECT_FALSE(plan.reportLost);

    plan = PollTick(step, silent, false, false);   // back to normal: nothing to report
    EXPECT_FALSE(plan.reportBack);
}

TEST(PollingWatchdog, SilentCounterDoesNotWrapToConnected)
{
    uint8_t step = 0;
    uint32_t silent = 0xFFFFFFFFu;
    const TickPlan plan = PollTick(step, silent, true, false);
    EXPECT_TRUE(plan.reportLost);
    EXPECT_FALSE(plan.reportBack);
}

TEST(PollingProbe, ProbesEveryTickUntilTheEcuAnswers)
{
    uint32_t stall = 7;
    for (int tick = 0; tick < 5; ++tick)
        EXPECT_EQ(ProbeTick(false, true, stall), ProbeAction::SendProbe);
    EXPECT_EQ(stall, 7u);
}

TEST(PollingProbe, StalledReadRestartsOnTheFifthTickAfterTheLastReadReply)
{
    uint32_t stall = 0;   // an 'r' reply just arrived
    for (uint32_t expected = 1; expected <= 4; ++expected) {
        EXPECT_EQ(ProbeTick(true, true, stall), ProbeAction::Count);
        EXPECT_EQ(stall, expected);
    }
    EXPECT_EQ(ProbeTick(true, true, stall), ProbeAction::RestartRead);
    EXPECT_EQ(stall, 0u);
    // Still no reply: the next restart comes five ticks later again.
    for (int tick = 0; tick < 4; ++tick) EXPECT_EQ(ProbeTick(true, true, stall), ProbeAction::Count);
    EXPECT_EQ(ProbeTick(true, true, stall), ProbeAction::RestartRead);
}

TEST(PollingProbe, AfterTheReadEndsItOnlyCounts)
{
    uint32_t stall = 0;
    for (int tick = 0; tick < 10; ++tick)
        EXPECT_EQ(ProbeTick(true, false, stall), ProbeAction::Count);
    EXPECT_EQ(stall, 10u);
}
