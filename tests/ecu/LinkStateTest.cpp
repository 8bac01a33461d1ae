// Every reset of the link leaves the same read-to-do state, and differs only where the start,
// a port change and a lost device are meant to differ.
#include "ecu/LinkState.h"
#include "ecu/Polling.h"

#include <gtest/gtest.h>

namespace {

// A link in the middle of its life: an upload running, the ECU heard, counters running.
ecu::LinkState Busy()
{
    ecu::LinkState s;
    s.ReadPending = 0;
    s.UploadActive = 1;
    s.EcuAnswered = 1;
    s.BadReplyCount = 7;
    s.SilentTicks = 4;
    s.ReadStallTicks = 2;
    s.ReadResumeAddress = 321;
    return s;
}

void ExpectReadToDo(const ecu::LinkState& s)
{
    EXPECT_EQ(s.ReadPending, 1);
    EXPECT_EQ(s.UploadActive, 0);
    EXPECT_EQ(s.EcuAnswered, 0);
    EXPECT_EQ(s.ReadResumeAddress, 0);
}

TEST(LinkState, EachResetPathLeavesItsOwnCounters)
{
    ecu::LinkState start = Busy();
    start.ResetLink(ecu::kResetAtStart);
    ExpectReadToDo(start);
    EXPECT_EQ(start.SilentTicks, 0u);
    EXPECT_EQ(start.ReadStallTicks, 0u);
    EXPECT_EQ(start.BadReplyCount, 0);

    ecu::LinkState port = Busy();
    port.ResetLink(ecu::kResetOnPortChange);
    ExpectReadToDo(port);
    EXPECT_EQ(port.SilentTicks, 4u);      // the watchdog goes on counting
    EXPECT_EQ(port.ReadStallTicks, 2u);
    EXPECT_EQ(port.BadReplyCount, 0);     // a new line starts a new count

    ecu::LinkState lost = Busy();
    lost.ResetLink(ecu::kResetOnDeviceLost);
    ExpectReadToDo(lost);
    EXPECT_EQ(lost.SilentTicks, polling::SilentTicksLimit + 1);   // back only after a reply
    EXPECT_EQ(lost.ReadStallTicks, 2u);
    EXPECT_EQ(lost.BadReplyCount, 7);     // the same line: its count stays on screen
}

}  // namespace
