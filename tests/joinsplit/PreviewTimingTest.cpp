// The time rules of the preview: snapping and clamping, frame numbers and the hold-to-repeat
// ramp.
#include "joinsplit/PreviewTiming.h"

#include <gtest/gtest.h>

using namespace tavrolin;

TEST(PreviewTiming, SeeksLandOnTheFrameGridInsideTheMedia) {
    struct Row {
        double seconds, frameRate, duration, expected;
    };
    const Row rows[] = {
        {0.125, 4, 10, 0.25},  // half a frame rounds away from zero
        {0.124, 4, 10, 0.0},
        {12, 4, 10, 10},
        {-1, 4, 10, 0},
        {3.3, 4, 0, 0},
        {9.9, 4, 9.8, 9.8},  // past the last frame start lands on the duration itself
        {0.7, 0.5, 10, 1},   // rates below 1 snap as 1
        {1.0 / 30 * 7 + 0.001, 30, 10, 7.0 / 30},
        {2, 25, -3, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.seconds << "s at " << row.frameRate << " fps");
        EXPECT_DOUBLE_EQ(snappedPreviewTime(row.seconds, row.frameRate, row.duration),
                         row.expected);
    }
    EXPECT_EQ(previewFrameNumber(0.125, 4), 1);
    EXPECT_EQ(previewFrameNumber(12.48, 25), 312);
    EXPECT_EQ(previewFrameNumber(3, 0.5), 3);
}

TEST(PreviewTiming, HeldStepsAccelerateToRealTimeWithinOneAndAQuarterSeconds) {
    struct Row {
        double frameRate;
        std::vector<double> intervals;  // the first pauses of one hold
    };
    const Row rows[] = {
        {30, {0.25, 1 / (4 + 26 * 0.2), 0}},
        {2, {0.5, 0.5, 0.5, 0.5}},
        {1, {1, 1, 1}},
        {0.5, {1, 1, 1}},
        {3.5, {1 / 3.5, 1 / 3.5}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.frameRate);
        double elapsed = 0;
        for (double expected : row.intervals) {
            const double interval = frameRepeatInterval(row.frameRate, elapsed);
            if (expected > 0) {
                EXPECT_NEAR(interval, expected, 1e-9);
            }
            elapsed += interval;
        }
    }
    // From 1.25 s of accumulated pauses on, every step comes after one frame.
    EXPECT_NEAR(frameRepeatInterval(30, 1.25), 1.0 / 30, 1e-12);
    EXPECT_NEAR(frameRepeatInterval(30, 9), 1.0 / 30, 1e-12);
    EXPECT_NEAR(frameRepeatInterval(30, 0.625), 1 / 17.0, 1e-12);
}
