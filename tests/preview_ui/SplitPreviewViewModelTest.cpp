// The preview model against a fake player, clock and preparation: loading, snapping, playback
// to the end, hold-to-repeat and the prepared-copy fallback with its progress and cancellation.
#include "preview/SplitPreviewViewModel.h"

#include <gtest/gtest.h>

#include "support/PreviewTestSupport.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

struct Preview {
    tavtest::FakePreviewPlayer* player;
    tavtest::FakeRepeatClock* clock;
    std::shared_ptr<tavtest::GatedPreviewService> service;
    std::unique_ptr<SplitPreviewViewModel> model;
};

Preview makePreview(const fs::path& file, std::optional<tavtest::FakePreviewPlayer::Media> media,
                    std::map<fs::path, tavtest::FakePreviewPlayer::Media> others = {}) {
    tavtest::qtApplication();
    auto player = std::make_unique<tavtest::FakePreviewPlayer>();
    if (media) {
        player->media[file] = *media;
    }
    player->media.insert(others.begin(), others.end());
    auto clock = std::make_unique<tavtest::FakeRepeatClock>();
    Preview preview{player.get(), clock.get(), std::make_shared<tavtest::GatedPreviewService>(),
                    nullptr};
    preview.model = std::make_unique<SplitPreviewViewModel>(file, preview.service,
                                                            std::move(player), std::move(clock));
    return preview;
}

bool loaded(const Preview& preview) {
    return tavtest::waitUntil([&] { return preview.model->duration() > 0; });
}

}  // namespace

TEST(SplitPreviewViewModel, LoadsSnapsAndClampsEverySeek) {
    auto preview = makePreview("/m/a.mp4", tavtest::FakePreviewPlayer::Media{10, 4, 9.75});
    SplitPreviewViewModel& model = *preview.model;
    EXPECT_DOUBLE_EQ(model.frameRate(), 30);
    model.seek(5, false);  // before loading every seek lands on 0
    EXPECT_DOUBLE_EQ(model.currentTime(), 0);
    model.beginFrameRepeat(1);  // nothing to step yet
    EXPECT_TRUE(preview.clock->scheduled.empty());

    ASSERT_TRUE(loaded(preview));
    EXPECT_EQ(preview.player->current, fs::path("/m/a.mp4"));
    EXPECT_DOUBLE_EQ(model.frameRate(), 4);
    struct Row {
        double seconds, expected;
        long long frame;
    };
    // Half a frame rounds away from zero; a seek past the end lands on the duration itself.
    for (const Row& row : {Row{0.125, 0.25, 1}, Row{0.124, 0, 0}, Row{12, 10, 40}, Row{-1, 0, 0},
                           Row{3.6, 3.5, 14}}) {
        SCOPED_TRACE(row.seconds);
        model.seek(row.seconds, false);
        EXPECT_DOUBLE_EQ(model.currentTime(), row.expected);
        EXPECT_DOUBLE_EQ(preview.player->seeks.back(), row.expected);
        EXPECT_EQ(model.currentFrame(), row.frame);
    }
    model.stepFrame(-1);
    EXPECT_DOUBLE_EQ(model.currentTime(), 3.25);

    // A rate of 0 becomes 30; a rate below 1 is kept but steps by whole seconds.
    auto zero = makePreview("/m/z.mkv", tavtest::FakePreviewPlayer::Media{5, 0, 4.9});
    ASSERT_TRUE(loaded(zero));
    EXPECT_DOUBLE_EQ(zero.model->frameRate(), 30);
    auto slow = makePreview("/m/s.mkv", tavtest::FakePreviewPlayer::Media{5, 0.5, 4});
    ASSERT_TRUE(loaded(slow));
    EXPECT_DOUBLE_EQ(slow.model->frameRate(), 0.5);
    slow.model->stepFrame(1);
    EXPECT_DOUBLE_EQ(slow.model->currentTime(), 1);
}

TEST(SplitPreviewViewModel, PlaysPausesAndRestartsAfterTheEnd) {
    auto preview = makePreview("/m/a.mp4", tavtest::FakePreviewPlayer::Media{2, 25, 1.96});
    SplitPreviewViewModel& model = *preview.model;
    auto& player = *preview.player;
    model.togglePlayback();  // nothing loaded yet: the button stays on Play
    EXPECT_FALSE(model.isPlaying());
    ASSERT_TRUE(loaded(preview));

    model.seek(1, false);
    model.togglePlayback();
    EXPECT_TRUE(player.playing);
    player.at = 1.5;
    model.syncCurrentTime();
    EXPECT_DOUBLE_EQ(model.currentTime(), 1.5);
    model.seek(0.5, true);  // keeps playing
    EXPECT_TRUE(model.isPlaying());
    EXPECT_TRUE(player.playing);
    player.at = 7;  // clamped to the duration
    model.syncCurrentTime();
    EXPECT_DOUBLE_EQ(model.currentTime(), 2);
    model.seek(1.2, false);  // a drag pauses
    EXPECT_FALSE(model.isPlaying());
    EXPECT_FALSE(player.playing);
    model.seek(0.4, true);  // keepPlaying while paused stays paused
    EXPECT_FALSE(model.isPlaying());

    // The player ran to the end and stopped by itself: paused on the last frame.
    model.togglePlayback();
    player.at = 1.9;
    model.syncCurrentTime();
    player.playing = false;
    player.ended = true;
    model.syncCurrentTime();
    EXPECT_FALSE(model.isPlaying());
    EXPECT_DOUBLE_EQ(model.currentTime(), 1.96);
    EXPECT_EQ(model.currentFrame(), 49);
    const auto seeks = player.seeks.size();
    model.togglePlayback();  // Play starts again from the beginning
    ASSERT_EQ(player.seeks.size(), seeks + 1);
    EXPECT_DOUBLE_EQ(player.seeks.back(), 0);
    EXPECT_DOUBLE_EQ(model.currentTime(), 0);
    EXPECT_TRUE(model.isPlaying());

    // Paused elsewhere, Play does not rewind; at the duration itself it does.
    model.togglePlayback();
    model.seek(1, false);
    model.togglePlayback();
    EXPECT_DOUBLE_EQ(model.currentTime(), 1);
    model.seek(5, false);
    model.togglePlayback();
    EXPECT_DOUBLE_EQ(model.currentTime(), 0);
    player.at = 0.93;  // pausing lands on the frame nearest the player's position
    model.togglePlayback();
    EXPECT_DOUBLE_EQ(model.currentTime(), 0.92);
    EXPECT_DOUBLE_EQ(player.seeks.back(), 0.92);

    model.stop();
    EXPECT_FALSE(model.isPlaying());
    EXPECT_FALSE(player.playing);
}

TEST(SplitPreviewViewModel, HoldingAFrameButtonStepsOnTheRampUntilReleased) {
    struct Row {
        double frameRate;
        std::vector<double> firstIntervals;
    };
    // From min(rate, 4) steps per second up to the frame rate over 1.25 s of pauses.
    for (const Row& row : {Row{30, {0.25, 1 / 9.2}}, Row{2, {0.5, 0.5, 0.5}},
                           Row{3.5, {1 / 3.5, 1 / 3.5}}, Row{0.5, {1, 1, 1}}}) {
        SCOPED_TRACE(row.frameRate);
        auto preview =
            makePreview("/m/a.mp4", tavtest::FakePreviewPlayer::Media{100, row.frameRate, 99});
        ASSERT_TRUE(loaded(preview));
        SplitPreviewViewModel& model = *preview.model;
        model.seek(50, false);
        model.togglePlayback();
        model.beginFrameRepeat(1);  // one step at once, which pauses
        EXPECT_FALSE(model.isPlaying());
        const double step = 1 / std::max(row.frameRate, 1.0);
        EXPECT_NEAR(model.currentTime(), 50 + step, 1e-9);
        int fired = 0;
        while (fired < 40 && preview.clock->fire()) {
            ++fired;
        }
        EXPECT_NEAR(model.currentTime(), 50 + step * (1 + fired), 1e-9);
        const auto& scheduled = preview.clock->scheduled;
        for (std::size_t i = 0; i < row.firstIntervals.size(); ++i) {
            EXPECT_NEAR(scheduled[i], row.firstIntervals[i], 1e-9);
        }
        EXPECT_NEAR(scheduled.back(), step, 1e-9);
        model.endFrameRepeat();
        EXPECT_FALSE(preview.clock->fire());
        const double time = model.currentTime();
        model.beginFrameRepeat(-1);
        model.stop();  // stop also ends a hold
        EXPECT_FALSE(preview.clock->fire());
        EXPECT_NEAR(model.currentTime(), time - step, 1e-9);
    }
}

TEST(SplitPreviewViewModel, FallsBackToAPreparedCopyWithProgress) {
    const fs::path source("/m/raw.h264"), copy("/cache/raw.mp4");
    auto preview = makePreview(source, std::nullopt, {{copy, {3, 25, 2.96}}});
    preview.service->reports = {-0.2, 0.5, 1.7};
    SplitPreviewViewModel& model = *preview.model;
    ASSERT_TRUE(tavtest::waitUntil([&] { return model.isPreparingPreview(); }));
    ASSERT_TRUE(preview.service->waitStarted());
    ASSERT_TRUE(tavtest::waitUntil([&] { return model.preparationProgress() == 1; }));
    preview.service->answer(copy);
    ASSERT_TRUE(loaded(preview));
    EXPECT_FALSE(model.isPreparingPreview());
    EXPECT_TRUE(model.usesPreparedPreview());
    EXPECT_EQ(preview.player->current, copy);
    EXPECT_EQ(model.errorMessage(), std::nullopt);
    EXPECT_EQ(preview.player->loads, (std::vector<fs::path>{source, copy}));

    // A preparation that fails, and a prepared copy the player cannot open either.
    struct Row {
        const char* name;
        std::string error;
        fs::path answer;
        std::string expected;
    };
    const Row rows[] = {
        {"tool failed", "Invalid data found", copy,
         "Preview unavailable: Invalid data found You can still enter start and end times "
         "manually."},
        {"copy unreadable", "", "/cache/broken.mp4",
         "Preview unavailable: cannot open You can still enter start and end times manually."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto failing = makePreview(source, std::nullopt);
        ASSERT_TRUE(failing.service->waitStarted());
        failing.service->answer(row.answer, row.error);
        ASSERT_TRUE(tavtest::waitUntil([&] { return failing.model->errorMessage().has_value(); }));
        EXPECT_EQ(*failing.model->errorMessage(), row.expected);
        EXPECT_FALSE(failing.model->isPreparingPreview());
        EXPECT_FALSE(failing.model->usesPreparedPreview());
        EXPECT_DOUBLE_EQ(failing.model->duration(), 0);
        failing.model->togglePlayback();  // nothing to play
        EXPECT_FALSE(failing.model->isPlaying());
    }
}

TEST(SplitPreviewViewModel, StoppingAPreparationEndsOnlyItsOwnQuietly) {
    for (bool errorAfterStop : {false, true}) {
        SCOPED_TRACE(errorAfterStop ? "error after stop" : "cancellation");
        auto preview = makePreview("/m/raw.h264", std::nullopt);
        if (errorAfterStop) {
            preview.service->failAfterStop();
        }
        ASSERT_TRUE(preview.service->waitStarted());
        ASSERT_TRUE(tavtest::waitUntil([&] { return preview.model->isPreparingPreview(); }));
        preview.model->stop();
        EXPECT_FALSE(preview.model->isPreparingPreview());
        ASSERT_TRUE(tavtest::waitUntil([&] { return preview.service->stoppedSeen(); }));
        QTest::qWait(50);
        EXPECT_EQ(preview.model->errorMessage(), std::nullopt);
        EXPECT_FALSE(preview.model->isPreparingPreview());
        EXPECT_EQ(preview.service->cancelCalls, 0);  // other previews' preparations go on
        preview.model->setCurrentTime(0);
    }
    // A model dropped mid-preparation stops it too, without waiting for it.
    auto preview = makePreview("/m/raw.h264", std::nullopt);
    ASSERT_TRUE(preview.service->waitStarted());
    auto service = preview.service;
    preview.model.reset();
    EXPECT_TRUE(tavtest::waitUntil([&] { return service->stoppedSeen(); }));
}
