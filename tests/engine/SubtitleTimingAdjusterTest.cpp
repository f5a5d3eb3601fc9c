#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/SubtitleTimingAdjuster.h"

using namespace tavrolin;

namespace {

std::vector<SubtitleCue> cuesFrom(double firstStart) {
    return {SubtitleCue{4, firstStart, firstStart + 1, "one", 0.5},
            SubtitleCue{9, firstStart + 2, firstStart + 3, "two", std::nullopt}};
}

}  // namespace

TEST(SubtitleTimingAdjuster, MovesEveryCueByTheOffset) {
    const auto shifted = SubtitleTimingAdjuster{}.shift(cuesFrom(1), 0.5);
    EXPECT_EQ(shifted.appliedOffset, 0.5);
    ASSERT_EQ(shifted.cues.size(), 2u);
    EXPECT_EQ(shifted.cues[0], (SubtitleCue{4, 1.5, 2.5, "one", 0.5}));
    EXPECT_EQ(shifted.cues[1], (SubtitleCue{9, 3.5, 4.5, "two", std::nullopt}));
}

TEST(SubtitleTimingAdjuster, NeverMovesACueBeforeZero) {
    const auto limited = SubtitleTimingAdjuster{}.shift(cuesFrom(2), -5);
    EXPECT_EQ(limited.appliedOffset, -2.0);
    EXPECT_EQ(limited.cues[0].startTime, 0);
    EXPECT_EQ(limited.cues[1].startTime, 2);

    const auto atZero = SubtitleTimingAdjuster{}.shift(cuesFrom(0), -1);
    EXPECT_EQ(atZero.appliedOffset, 0);
    EXPECT_EQ(atZero.cues, cuesFrom(0));

    // The earliest cue need not be the first in the list.
    std::vector<SubtitleCue> unordered{SubtitleCue{1, 5, 6, "a", {}},
                                       SubtitleCue{2, 1, 2, "b", {}}};
    EXPECT_EQ(SubtitleTimingAdjuster{}.shift(unordered, -3).appliedOffset, -1.0);
}

TEST(SubtitleTimingAdjuster, UnusableOffsetsChangeNothing) {
    for (double offset :
         {0.0, -0.0, std::numeric_limits<double>::quiet_NaN(),
          std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        const auto result = SubtitleTimingAdjuster{}.shift(cuesFrom(1), offset);
        EXPECT_EQ(result.appliedOffset, 0) << offset;
        EXPECT_FALSE(std::signbit(result.appliedOffset)) << offset;
        EXPECT_EQ(result.cues, cuesFrom(1)) << offset;
    }
    const auto empty = SubtitleTimingAdjuster{}.shift({}, 2);
    EXPECT_EQ(empty.appliedOffset, 0);
    EXPECT_TRUE(empty.cues.empty());
}

TEST(SubtitleTimingAdjuster, CueEndsStopAtAKnownDuration) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        std::optional<double> duration;
        double secondEnd;
    } rows[] = {{std::nullopt, 4}, {nan, 4}, {0, 4}, {9, 4}, {3.5, 3.5}, {3, 4}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.duration.value_or(-1));
        const auto ended = SubtitleTimingAdjuster{}.endingBy(cuesFrom(1), row.duration);
        EXPECT_EQ(ended[0], cuesFrom(1)[0]);
        EXPECT_EQ(ended[1].startTime, 3);
        EXPECT_EQ(ended[1].endTime, row.secondEnd);
    }
}
