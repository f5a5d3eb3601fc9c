// Real cuts on clips whose frames show their own index: what the Split workspace says about a
// cut is what ffmpeg writes, frame by frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>

#include "engine/FFmpegProcessor.h"
#include "joinsplit/IndexedClips.h"
#include "joinsplit/PreviewTimeFormat.h"
#include "joinsplit/SplitSourceConfiguration.h"
#include "process/FoundationProcessRunner.h"
#include "support/TempDir.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

struct Clip {
    const char* name;
    fs::path file;
    double rate;
    int frames;
    // Open groups of pictures: the pictures shown before a cut's keyframe but decoded after it
    // need the group before, so they are in neither part; none is ever doubled.
    bool openGroups = false;
};

std::vector<int> range(int first, int end) {
    std::vector<int> values(static_cast<std::size_t>(std::max(end - first, 0)));
    std::iota(values.begin(), values.end(), first);
    return values;
}

// The frames of a cut source: all, or with gaps but in order, each once.
void expectEachOnceInOrder(const std::vector<int>& frames, int first, int end, bool gaps) {
    if (!gaps) {
        EXPECT_EQ(frames, range(first, end));
        return;
    }
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front(), first);
    EXPECT_EQ(std::adjacent_find(frames.begin(), frames.end(), std::greater_equal<>()),
              frames.end());
    EXPECT_LE(frames.back(), end - 1);
}

}  // namespace

TEST(SplitCutFrames, PartsHoldEverySourceFrameOnceFromTheShownCut) {
    const auto& clips = tavtest::indexedClips();
    const Clip sources[] = {{"h264-mp4", clips[0].file, 25, 150},
                            {"h264-mkv", clips[1].file, 30000.0 / 1001, 120},
                            {"vp9-webm", clips[3].file, 30, 90},
                            {"hevc-mov", clips[2].file, 24, 96, true}};
    const auto runner = std::make_shared<FoundationProcessRunner>();
    const auto read = makeSplitKeyframeReader(runner, ToolLocations{});
    FFmpegProcessor processor(runner, ToolLocations{});
    for (const auto& clip : sources) {
        SCOPED_TRACE(clip.name);
        const SplitKeyframes keyframes = read(clip.file, {});
        ASSERT_GE(keyframes.times.size(), 3u);
        EXPECT_NEAR(keyframes.end * clip.rate, clip.frames, 0.01);
        const double frame = 1 / clip.rate;
        const double second = keyframes.times[1];
        const double last = keyframes.times.back();
        const auto frameAt = [&](double seconds) {
            return static_cast<int>(std::lround(seconds * clip.rate));
        };
        struct Cut {
            const char* name;
            SplitOperationMode mode;
            double start;  // or the split point
            double end;
            double shownStart;
            std::optional<double> shownEnd;
        };
        const Cut cuts[] = {
            {"at a keyframe", SplitOperationMode::atPoint, second, 0, second, std::nullopt},
            {"mid-group", SplitOperationMode::atPoint, (second + keyframes.times[2]) / 2, 0, second,
             std::nullopt},
            {"one frame after a keyframe", SplitOperationMode::atPoint, second + frame, 0, second,
             std::nullopt},
            {"on the last frame", SplitOperationMode::atPoint, keyframes.end - frame, 0, last,
             std::nullopt},
            {"range from one frame after a keyframe", SplitOperationMode::range, second + frame,
             last + frame, second, last},
        };
        tavtest::TempDir output;
        for (const auto& cut : cuts) {
            SCOPED_TRACE(cut.name);
            SplitSourceConfiguration configuration(clip.file);
            configuration.operationMode = cut.mode;
            configuration.splitPointText = configuration.startText =
                formatCommandLineSeconds(cut.start);
            configuration.endText = formatCommandLineSeconds(cut.end);
            configuration.keyframes = keyframes;
            const SplitCutPlan plan = planSplitCuts(configuration);
            ASSERT_EQ(plan.error, std::nullopt);
            EXPECT_NEAR(*plan.start, cut.shownStart, 1e-6);
            const fs::path folder = output / cut.name;
            std::vector<int> frames;
            std::vector<int> firsts;
            for (const auto& request : makeSplitRequests(configuration, folder)) {
                processor.process(request, {}, {});
                const auto part = tavtest::indicesShownIn(request.as<SplitRequest>()->output);
                ASSERT_FALSE(part.empty());
                firsts.push_back(part.front());
                frames.insert(frames.end(), part.begin(), part.end());
            }
            if (cut.mode == SplitOperationMode::atPoint) {
                expectEachOnceInOrder(frames, 0, clip.frames, clip.openGroups);
                EXPECT_EQ(firsts.back(), frameAt(cut.shownStart));
                EXPECT_EQ(frames.back(), clip.frames - 1);
            } else {
                expectEachOnceInOrder(frames, frameAt(cut.shownStart), frameAt(*cut.shownEnd),
                                      clip.openGroups);
            }
            std::vector<std::string> written;
            for (const auto& entry : fs::directory_iterator(folder)) {
                written.push_back(entry.path().filename().string());
            }
            EXPECT_EQ(written.size(), cut.mode == SplitOperationMode::atPoint ? 2u : 1u);
        }

        // A cut within the first group of pictures would leave part 1 empty.
        SplitSourceConfiguration early(clip.file);
        early.operationMode = SplitOperationMode::atPoint;
        early.splitPointText = formatCommandLineSeconds(frame);
        early.keyframes = keyframes;
        EXPECT_EQ(early.validationMessage(),
                  "No keyframe lies between 00:00:00.000 and " + formatPreviewTimecode(frame) +
                      "; the nearest is at " + formatPreviewTimecode(second) + ".");
    }
}
