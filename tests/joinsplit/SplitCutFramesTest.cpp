// Real cuts on clips whose frames show their own index: what the Split workspace says about a
// cut is what ffmpeg writes, frame by frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "engine/FFmpegProcessor.h"
#include "joinsplit/IndexedClips.h"
#include "joinsplit/SplitSourceConfiguration.h"
#include "process/FoundationProcessRunner.h"
#include "support/TempDir.h"

using namespace tavrolin;
namespace fs = std::filesystem;

TEST(SplitCutFrames, PartsHoldEverySourceFrameOnceFromTheShownCut) {
    const auto& clips = tavtest::indexedClips();
    // Open groups of pictures: the pictures shown before a cut's keyframe but decoded after it
    // need the group before, so they are in neither part; none is ever doubled.
    const struct {
        const tavtest::IndexedClip& clip;
        double rate;
        int frames;
        bool openGroups;
    } sources[] = {{clips[0], 25, 150, false},
                   {clips[1], 30000.0 / 1001, 120, false},
                   {clips[3], 30, 90, false},
                   {clips[2], 24, 96, true}};
    const auto runner = std::make_shared<FoundationProcessRunner>();
    const auto read = makeSplitKeyframeReader(runner, ToolLocations{});
    FFmpegProcessor processor(runner, ToolLocations{});
    for (const auto& [clip, rate, count, openGroups] : sources) {
        SCOPED_TRACE(clip.name);
        const SplitKeyframes keyframes = read(clip.file, {});
        ASSERT_GE(keyframes.times.size(), 3u);
        EXPECT_NEAR(keyframes.end * rate, count, 0.01);
        const double frame = 1 / rate;
        const double second = keyframes.times[1];
        const double last = keyframes.times.back();
        const auto frameAt = [&](double seconds) {
            return static_cast<int>(std::lround(seconds * rate));
        };
        // A time anywhere in a group of pictures cuts at its keyframe, so the same two real runs
        // carry every cut: a split on the last frame, and a range from one frame after a
        // keyframe.
        struct Cut {
            SplitOperationMode mode;
            double start;  // or the split point
            double end;
            double shownStart;
            double shownEnd;
            bool runs = false;
        };
        const auto atPoint = SplitOperationMode::atPoint;
        const Cut cuts[] = {
            {atPoint, second, 0, second, keyframes.end},
            {atPoint, (second + keyframes.times[2]) / 2, 0, second, keyframes.end},
            {atPoint, second + frame, 0, second, keyframes.end},
            {atPoint, keyframes.end - frame, 0, last, keyframes.end, true},
            {SplitOperationMode::range, second + frame, last + frame, second, last, true}};
        tavtest::TempDir output;
        for (const auto& cut : cuts) {
            SCOPED_TRACE(cut.start);
            SplitSourceConfiguration configuration(clip.file);
            configuration.operationMode = cut.mode;
            configuration.splitPointText = configuration.startText =
                formatCommandLineSeconds(cut.start);
            configuration.endText = formatCommandLineSeconds(cut.end);
            configuration.keyframes = keyframes;
            const SplitCutPlan plan = planSplitCuts(configuration);
            ASSERT_EQ(plan.error, std::nullopt);
            EXPECT_NEAR(*plan.start, cut.shownStart, 1e-6);
            EXPECT_NEAR(plan.end.value_or(keyframes.end), cut.shownEnd, 1e-6);
            if (!cut.runs) {
                continue;
            }
            std::vector<int> frames;
            int lastStart = -1;
            for (const auto& request : makeSplitRequests(configuration, output.path())) {
                processor.process(request, {}, {});
                const auto part = tavtest::indicesShownIn(request.as<SplitRequest>()->output);
                ASSERT_FALSE(part.empty());
                lastStart = part.front();
                frames.insert(frames.end(), part.begin(), part.end());
            }
            // Part 2, or the clip, starts on the keyframe shown; part 1 on the first frame. The
            // frames come in order and each once, all of them but for open groups' gaps.
            EXPECT_EQ(lastStart, frameAt(cut.shownStart));
            const bool whole = cut.mode == atPoint;
            const int first = whole ? 0 : frameAt(cut.shownStart);
            const int end = frameAt(cut.shownEnd);
            EXPECT_EQ(frames.front(), first);
            EXPECT_EQ(std::adjacent_find(frames.begin(), frames.end(), std::greater_equal<>()),
                      frames.end());
            EXPECT_LE(frames.back(), end - 1);
            if (!openGroups) {
                EXPECT_EQ(frames.size(), static_cast<std::size_t>(end - first));
            }
            if (whole) {
                EXPECT_EQ(frames.back(), count - 1);
            }
        }
        // Two parts and a clip; no piece ffmpeg wrote beside them is left.
        EXPECT_EQ(std::distance(fs::directory_iterator(output.path()), fs::directory_iterator()),
                  3);
    }
}
