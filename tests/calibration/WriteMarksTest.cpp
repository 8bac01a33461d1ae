// The marks that keep the screen honest, fed with the line's events as the window gets them.
#include <gtest/gtest.h>

#include "calibration/WriteMarks.h"

using namespace calibration;
using exchange::Event;
using exchange::JobKind;
using exchange::Step;

namespace {

Event Make(Event::Type type, uint32_t job, JobKind kind, Step step, std::size_t index, uint8_t reply = 0,
           bool cancelled = false)
{
    Event e{};
    e.type = type;
    e.job = job;
    e.kind = kind;
    e.step = step;
    e.stepIndex = index;
    e.replyData = reply;
    e.cancelled = cancelled;
    return e;
}

std::vector<MarkChange> Submit(WriteMarks& marks, uint32_t job, const std::vector<Step>& steps)
{
    return marks.Track(job, steps);
}

}  // namespace

TEST(WriteMarks, EachWriteIsPendingUntilItsOwnEcho)
{
    WriteMarks marks;
    const std::vector<Step> steps = {{'W', 190, 7}, {'W', 191, 8}, {'W', 192, 9}};
    EXPECT_EQ(Submit(marks, 4, steps).size(), 3u);
    EXPECT_EQ(marks.Count(WriteMark::Pending), 3u);
    EXPECT_EQ(marks.Sent(191), 8);

    // The ECU stored another byte than the one sent: the change says which.
    const std::vector<MarkChange> echoed = marks.Apply(Make(Event::StepDone, 4, JobKind::Writes, steps[0], 0, 6));
    ASSERT_EQ(echoed.size(), 1u);
    EXPECT_EQ(echoed[0].address, 190);
    EXPECT_EQ(echoed[0].mark, WriteMark::None);
    EXPECT_EQ(echoed[0].sent, 7);
    EXPECT_EQ(echoed[0].stored, 6);
    EXPECT_EQ(marks.Mark(190), WriteMark::None);
    EXPECT_EQ(marks.Mark(191), WriteMark::Pending);

    // 191 written again before its first echo: that echo leaves it pending for the second.
    Submit(marks, 5, {{'W', 191, 20}});
    EXPECT_TRUE(marks.Apply(Make(Event::StepDone, 4, JobKind::Writes, steps[1], 1, 8)).empty());
    EXPECT_EQ(marks.Mark(191), WriteMark::Pending);
    EXPECT_EQ(marks.Sent(191), 20);
    marks.Apply(Make(Event::StepDone, 4, JobKind::Writes, steps[2], 2, 9));
    marks.Apply(Make(Event::JobDone, 4, JobKind::Writes, steps[2], 3));
    marks.Apply(Make(Event::StepDone, 5, JobKind::Writes, {'W', 191, 20}, 0, 20));
    EXPECT_EQ(marks.Count(WriteMark::Pending), 0u);
}

TEST(WriteMarks, AJobThatGivesUpFailsItsStepAndEveryWriteAfterIt)
{
    WriteMarks marks;
    const std::vector<Step> steps = {{'W', 20, 1}, {'W', 21, 2}, {'W', 22, 3}, {'W', 23, 4}};
    Submit(marks, 9, steps);
    marks.Apply(Make(Event::StepDone, 9, JobKind::Writes, steps[0], 0, 1));
    const std::vector<MarkChange> failed = marks.Apply(Make(Event::JobFailed, 9, JobKind::Writes, steps[1], 1));
    ASSERT_EQ(failed.size(), 3u);
    EXPECT_EQ(marks.Mark(20), WriteMark::None);
    for (uint16_t a : {21, 22, 23}) EXPECT_EQ(marks.Mark(a), WriteMark::Failed) << a;
    EXPECT_EQ(marks.Sent(22), 3);
    EXPECT_EQ(marks.Count(WriteMark::Pending), 0u);
}

TEST(WriteMarks, AJobBrokenOffWhileItIsSubmittedIsNotLeftPending)
{
    // The device is found gone by the first send, inside Submit: the job is cancelled right
    // after it was queued, before Submit returns.
    WriteMarks marks;
    const std::vector<Step> steps = {{'W', 100, 1}, {'W', 101, 2}};
    EXPECT_EQ(Submit(marks, 12, steps).size(), 2u);
    marks.Apply(Make(Event::JobFailed, 12, JobKind::Writes, steps[0], 0, 0, true));
    EXPECT_EQ(marks.Mark(100), WriteMark::Failed);
    EXPECT_EQ(marks.Mark(101), WriteMark::Failed);

    // A read reported on meanwhile is not taken for the job being submitted.
    Submit(marks, 14, {{'W', 102, 5}});
    marks.Apply(Make(Event::StepDone, 13, JobKind::Read, {'R', 0, 0}, 0, 9));
    EXPECT_EQ(marks.Mark(102), WriteMark::Pending);
    marks.Apply(Make(Event::StepDone, 14, JobKind::Writes, {'W', 102, 5}, 0, 5));
    EXPECT_EQ(marks.Mark(102), WriteMark::None);
}

TEST(WriteMarks, AFailedByteStaysMarkedThroughADecodeUntilTheEcuHasToldItsByte)
{
    WriteMarks marks;
    Submit(marks, 1, {{'W', 30, 5}, {'W', 31, 6}});
    marks.Apply(Make(Event::JobFailed, 1, JobKind::Writes, {'W', 30, 5}, 0));
    // A read of 30 (not of 31) before the pages are decoded again.
    marks.Apply(Make(Event::StepDone, 2, JobKind::Read, {'R', 30, 0}, 30, 77));
    EXPECT_EQ(marks.Mark(30), WriteMark::Failed);   // the page still shows the value that failed
    const std::vector<MarkChange> decoded = marks.Decoded();
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_EQ(decoded[0].address, 30);
    EXPECT_EQ(marks.Mark(30), WriteMark::None);
    EXPECT_EQ(marks.Mark(31), WriteMark::Failed);

    // Written again and echoed: clean.
    Submit(marks, 3, {{'W', 31, 6}});
    EXPECT_EQ(marks.Mark(31), WriteMark::Pending);
    const std::vector<MarkChange> echoed = marks.Apply(Make(Event::StepDone, 3, JobKind::Writes, {'W', 31, 6}, 0, 6));
    ASSERT_EQ(echoed.size(), 1u);
    EXPECT_FALSE(echoed[0].decodedSince);
    EXPECT_EQ(marks.Mark(31), WriteMark::None);
}

TEST(WriteMarks, APendingWriteKnowsADecodeHasRewrittenItsCell)
{
    WriteMarks marks;
    Submit(marks, 1, {{'W', 40, 5}});
    EXPECT_TRUE(marks.Decoded().empty());
    EXPECT_EQ(marks.Mark(40), WriteMark::Pending);
    const std::vector<MarkChange> echoed = marks.Apply(Make(Event::StepDone, 1, JobKind::Upload, {'W', 40, 5}, 0, 5));
    ASSERT_EQ(echoed.size(), 1u);
    EXPECT_TRUE(echoed[0].decodedSince);
}

TEST(WriteMarks, TheTextsSayWhatTheEcuHolds)
{
    EXPECT_EQ(MarkText(WriteMark::Pending, -5), "Sent to the ECU (-5), waiting for its echo.");
    EXPECT_EQ(MarkText(WriteMark::Failed, 57), "The ECU may not hold this value: the write of 57 was never confirmed.");
    EXPECT_EQ(MarkText(WriteMark::None, 57), "");
}
