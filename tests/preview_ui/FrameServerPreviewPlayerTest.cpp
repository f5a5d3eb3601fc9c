// The real preview: the libav frame server behind the model on generated clips whose frames
// show their own index, and the prepared-copy fallback with the real preview service.
#include "preview/FrameServerPreviewPlayer.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <random>

#include "engine/FFmpegPreviewService.h"
#include "preview/SplitPreviewViewModel.h"
#include "process/FoundationProcessRunner.h"
#include "support/IndexedClips.h"
#include "support/PreviewTestSupport.h"
#include "support/SlowFolder.h"
#include "support/StandInTools.h"
#include "support/TempDir.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

int indexInPicture(const QImage& picture) {
    if (picture.isNull()) {
        return -1;
    }
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    return tavtest::indexShownIn(rgb.constBits(), rgb.width(), rgb.height(),
                                 static_cast<int>(rgb.bytesPerLine()));
}

const FrameServerPreviewPlayer& playerOf(const SplitPreviewViewModel& model) {
    return static_cast<const FrameServerPreviewPlayer&>(model.player());
}

// Waits until the paused picture is the model's current frame.
testing::AssertionResult showsCurrentFrame(const SplitPreviewViewModel& model) {
    if (tavtest::waitUntil([&] {
            return playerOf(model).shownFrame() == model.currentFrame() &&
                   indexInPicture(model.player().picture()) == model.currentFrame();
        })) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure()
           << "frame " << model.currentFrame() << ", shown " << playerOf(model).shownFrame()
           << ", picture " << indexInPicture(model.player().picture());
}

// AVI keeps no presentation times, so the frame server cannot index it.
fs::path clipWithoutPresentationTimes() {
    return tavtest::indexedClip("indexed.avi", "25", 60,
                                {"-c:v", "libx264", "-g", "25", "-bf", "0", "-crf", "12"});
}

}  // namespace

TEST(FrameServerPreviewPlayer, ThePausedPictureIsAlwaysTheModelsFrame) {
    tavtest::qtApplication();
    for (const auto& clip : {tavtest::indexedClips()[1], tavtest::indexedClips()[2]}) {
        SCOPED_TRACE(clip.name);
        SplitPreviewViewModel model(clip.file, nullptr);
        ASSERT_TRUE(tavtest::waitUntil([&] { return model.duration() > 0; }));
        const auto frames = static_cast<long long>(tavtest::ffprobeFrameCount(clip.file));
        EXPECT_NEAR(model.duration() * model.frameRate(), static_cast<double>(frames), 0.5);
        ASSERT_TRUE(showsCurrentFrame(model));

        std::mt19937 random(11);
        for (int i = 0; i < 12; ++i) {
            model.seek(static_cast<double>(random() % frames) / model.frameRate(), false);
            ASSERT_TRUE(showsCurrentFrame(model));
        }
        for (int step : {-1, -1, -1, 1, 1}) {
            model.stepFrame(step);
            ASSERT_TRUE(showsCurrentFrame(model));
        }
        // A burst of seeks ends on the last one.
        for (int i = 0; i < 30; ++i) {
            model.seek(static_cast<double>(random() % frames) / model.frameRate(), false);
        }
        ASSERT_TRUE(showsCurrentFrame(model));
        model.seek(model.duration() + 5, false);
        EXPECT_DOUBLE_EQ(model.currentTime(), model.duration());
        EXPECT_TRUE(tavtest::waitUntil(
            [&] { return indexInPicture(model.player().picture()) == frames - 1; }));
    }
}

TEST(FrameServerPreviewPlayer, AFileWithoutPresentationTimesPlaysFromAPreparedCopy) {
    tavtest::qtApplication();
    const fs::path raw = clipWithoutPresentationTimes();
    tavtest::TempDir cache;
    auto service = std::make_shared<FFmpegPreviewService>(
        std::make_shared<FoundationProcessRunner>(), ToolLocations{}, cache / "previews");
    SplitPreviewViewModel model(raw, service);
    ASSERT_TRUE(tavtest::waitUntil([&] { return model.duration() > 0; }, 30000));
    EXPECT_TRUE(model.usesPreparedPreview());
    EXPECT_FALSE(model.isPreparingPreview());
    EXPECT_EQ(model.errorMessage(), std::nullopt);
    EXPECT_NEAR(model.duration(), 2.4, 0.05);
    model.seek(1.2, false);
    ASSERT_TRUE(showsCurrentFrame(model));
    EXPECT_EQ(model.currentFrame(), 30);
    ASSERT_EQ(std::distance(fs::directory_iterator(cache / "previews"), fs::directory_iterator()),
              1);

    // Playback runs on from the paused frame, and pausing shows the exact frame it reached.
    model.togglePlayback();
    EXPECT_TRUE(model.isPlaying());
    EXPECT_TRUE(tavtest::waitUntil([&] {
        model.syncCurrentTime();
        return model.currentTime() > 1.6;
    }));
    model.togglePlayback();
    EXPECT_FALSE(model.isPlaying());
    EXPECT_GE(model.currentFrame(), 40);
    EXPECT_TRUE(showsCurrentFrame(model));
}

TEST(FrameServerPreviewPlayer, CancellingAPreparationEndsItsChildWithoutAnError) {
    tavtest::qtApplication();
    tavtest::TempDir scratch;
    const fs::path pidFile = scratch / "pid";
    const ToolLocations tools = tavtest::standInTools(
        scratch / "tools", "echo $$ > '" + pidFile.string() + "'\nsleep 30\n");
    auto service = std::make_shared<FFmpegPreviewService>(
        std::make_shared<FoundationProcessRunner>(), tools, scratch / "previews");
    SplitPreviewViewModel model(clipWithoutPresentationTimes(), service);
    ASSERT_TRUE(tavtest::waitUntil([&] { return fs::exists(pidFile); }, 10000));
    EXPECT_TRUE(model.isPreparingPreview());
    pid_t child = 0;
    ASSERT_TRUE(tavtest::waitUntil([&] { return (std::ifstream(pidFile) >> child) && child > 0; }));
    model.stop();
    EXPECT_FALSE(model.isPreparingPreview());
    EXPECT_TRUE(tavtest::waitUntil([&] { return ::kill(child, 0) != 0; }, 10000));
    QTest::qWait(100);
    EXPECT_EQ(model.errorMessage(), std::nullopt);
    EXPECT_FALSE(model.isPreparingPreview());
    EXPECT_DOUBLE_EQ(model.duration(), 0);

    // A load held by a folder that does not answer: the preview goes without waiting for it.
    fs::create_directories(scratch / "hung");
    fs::copy_file(tavtest::indexedClips()[1].file, scratch / "hung" / "clip.mp4");
    tavtest::SlowFolder::start(scratch / "hung", std::chrono::seconds(20));
    auto held = std::make_unique<SplitPreviewViewModel>(scratch / "hung" / "clip.mp4", service);
    ASSERT_TRUE(tavtest::waitUntil([] { return tavtest::SlowFolder::waiting() > 0; }));
    held.reset();
    EXPECT_GT(tavtest::SlowFolder::waiting(), 0) << "the preview waited for the folder";
    tavtest::SlowFolder::stop();
}
