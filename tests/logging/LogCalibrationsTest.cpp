#include "logging/LogCalibrations.h"

#include <gtest/gtest.h>

using namespace logging;

// Stretches become ranges that cover the log without a gap, empty ones left out; the side file
// gives them back only for a log of the length it was written for, and in order.
TEST(LogCalibrations, RangesRoundTripAndBelongToOneLogOnly)
{
    LogState state;
    state.StartRecording();
    state.NotePoint(QStringLiteral("a"), "aa");
    state.NotePoint(QStringLiteral("not this"), "xx");   // the stretch knows its point already
    state.BeginStretch(5);
    state.BeginStretch(5);                               // no sample between two changes
    state.NotePoint(QStringLiteral("b"), "bb");
    state.BeginStretch(9);
    EXPECT_TRUE(state.AwaitsPoint());

    const std::vector<LogStretchRange> ranges = StretchRanges(state.Stretches(), 12);
    ASSERT_EQ(ranges.size(), 3u);
    EXPECT_EQ(ranges[0].point, QStringLiteral("a"));
    EXPECT_EQ(ranges[0].checksum, QByteArray("aa"));
    EXPECT_EQ(ranges[0].last, 4);
    EXPECT_EQ(ranges[1].first, 5);
    EXPECT_EQ(ranges[1].point, QStringLiteral("b"));
    EXPECT_EQ(ranges[2].first, 9);
    EXPECT_EQ(ranges[2].last, 11);
    EXPECT_TRUE(ranges[2].point.isEmpty());

    const QByteArray file = EncodeLogCalibrations(ranges, 12);
    EXPECT_TRUE(IsLogCalibrationFile(file));
    QString problem;
    const auto back = DecodeLogCalibrations(file, 12, &problem);
    ASSERT_TRUE(back) << problem.toStdString();
    ASSERT_EQ(back->size(), 3u);
    EXPECT_EQ((*back)[1].point, QStringLiteral("b"));
    EXPECT_TRUE((*back)[2].point.isEmpty());
    EXPECT_EQ((*back)[2].last, 11);

    EXPECT_FALSE(DecodeLogCalibrations(file, 13, &problem));   // the log has grown since
    EXPECT_TRUE(problem.contains(QStringLiteral("12 samples"))) << problem.toStdString();
    EXPECT_FALSE(DecodeLogCalibrations(EncodeLogCalibrations({{0, 5, {}, {}}, {3, 11, {}, {}}}, 12), 12, &problem));
    EXPECT_FALSE(DecodeLogCalibrations("{\"format\": \"something else\"}", 12, &problem));
    EXPECT_FALSE(IsLogCalibrationFile("not json"));
}
