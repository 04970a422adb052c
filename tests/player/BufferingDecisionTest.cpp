// The player window's arithmetic: the buffering decision of the video timer, the progress and
// the end of a buffering, the time texts and the rounding.

#include "player/BufferingDecision.h"

#include <gtest/gtest.h>
#include <limits>
#include <ostream>

namespace {

struct TDecisionCase {
    const char* what;
    TBufferingInput input;
    bool buffer;
    bool hasMargin;
    double margin;
};

std::ostream& operator<<(std::ostream& os, const TDecisionCase& c) {
    return os << c.what;
}

constexpr double kLength = 5400000;

class DecideBufferingTest : public testing::TestWithParam<TDecisionCase> {};

TEST_P(DecideBufferingTest, FollowsTheTable) {
    const TDecisionCase& c = GetParam();
    const TBufferingDecision decision = DecideBuffering(c.input);
    EXPECT_EQ(decision.buffer, c.buffer);
    EXPECT_EQ(decision.hasMargin, c.hasMargin);
    if (c.hasMargin) {
        EXPECT_NEAR(decision.margin, c.margin, 1e-12);
    }
}

// {volumeInTransfer, userPaused, position, length, overallPercent}
INSTANTIATE_TEST_SUITE_P(
    Table, DecideBufferingTest,
    testing::Values(
        TDecisionCase{
            "margin 0.017 plays on", {true, false, 0.38, kLength, 40.0}, false, true, 0.017},
        TDecisionCase{
            "margin 0.007 buffers", {true, false, 0.39, kLength, 40.0}, true, true, 0.007},
        TDecisionCase{
            "margin 0.0101 plays on", {true, false, 0.3869, kLength, 40.0}, false, true, 0.0101},
        TDecisionCase{
            "margin 0.0099 buffers", {true, false, 0.3871, kLength, 40.0}, true, true, 0.0099},
        TDecisionCase{"a seek beyond the download buffers",
                      {true, false, 0.8, kLength, 40.0},
                      true,
                      true,
                      -0.403},
        TDecisionCase{
            "position 0 never buffers", {true, false, 0.0, kLength, 0.0}, false, false, 0},
        TDecisionCase{
            "no length below 0.95 plays on", {true, false, 0.94, 0, 1.0}, false, false, 0},
        TDecisionCase{"no length from 0.95 buffers", {true, false, 0.95, 0, 1.0}, true, false, 0},
        TDecisionCase{"no volume in transfer never buffers",
                      {false, false, 0.9, kLength, 40.0},
                      false,
                      false,
                      0},
        TDecisionCase{"no volume and no length never buffers",
                      {false, false, 0.99, 0, 40.0},
                      false,
                      false,
                      0},
        TDecisionCase{"the user's pause never buffers",
                      {true, true, 0.39, kLength, 40.0},
                      false,
                      true,
                      0.007},
        TDecisionCase{
            "the user's pause without length", {true, true, 0.97, 0, 40.0}, false, false, 0}));

struct TProgressCase {
    double overall;
    double start;
    int bar;
    bool resume;
};

void PrintTo(const TProgressCase& c, std::ostream* os) {
    *os << c.overall << " from " << c.start;
}

class BufferProgressTest : public testing::TestWithParam<TProgressCase> {};

TEST_P(BufferProgressTest, FillsAndEnds) {
    const TProgressCase& c = GetParam();
    const TBufferProgress progress = BufferProgress(c.overall, c.start);
    EXPECT_EQ(progress.bar, c.bar) << c.overall << " from " << c.start;
    EXPECT_EQ(progress.resume, c.resume) << c.overall << " from " << c.start;
}

INSTANTIATE_TEST_SUITE_P(
    Table, BufferProgressTest,
    testing::Values(TProgressCase{40.0, 40.0, 0, false}, TProgressCase{40.25, 40.0, 250, false},
                    TProgressCase{40.49, 40.0, 490, false}, TProgressCase{40.5, 40.0, 500, true},
                    TProgressCase{99.9, 99.8, 100, false}, TProgressCase{100.0, 99.8, 200, true}));

TEST(FormatSecondsTest, GivesHoursMinutesSeconds) {
    EXPECT_EQ(FormatSeconds(0), QStringLiteral("00:00:00"));
    EXPECT_EQ(FormatSeconds(RoundHalfEven(3725400 / 1000.0)), QStringLiteral("01:02:05"));
    EXPECT_EQ(FormatSeconds(RoundHalfEven(5400000 / 1000.0)), QStringLiteral("01:30:00"));
    EXPECT_EQ(FormatSeconds(59), QStringLiteral("00:00:59"));
    EXPECT_EQ(FormatSeconds(360000), QStringLiteral("100:00:00"));
}

TEST(RoundHalfEvenTest, SendsHalvesToTheEvenNeighbour) {
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(3725.5), 3726);
    EXPECT_EQ(RoundHalfEven(2.4999), 2);
    EXPECT_EQ(RoundHalfEven(-1.5), -2);
    EXPECT_EQ(RoundHalfEven(1e300), std::numeric_limits<int>::max());
}

} // namespace
