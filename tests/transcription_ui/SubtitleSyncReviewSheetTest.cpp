// The timing sheet over a generated clip: nothing plays until Play, the active cue drawn over
// the frame, nudges and reset, Return on a cue seeking to it, and Return closing and pausing.
#include "TranscriptionViewFixture.h"

TEST(SubtitleSyncSheet, PlaysOnlyOnRequestDrawsTheActiveCueAndNudgesTheTiming) {
    Fixture f;
    const fs::path clip = f.folder / "clip.mkv";
    fs::copy_file(tavtest::TestMedia::shared().matroska, clip);
    ASSERT_TRUE(tavtest::waitUntil([&] {
        return f.state().availability.kind == TranscriptionWorkspaceAvailability::Kind::available;
    }));
    ASSERT_TRUE(f.model.addSources({clip}));
    ASSERT_TRUE(tavtest::waitUntil([&] { return f.state().readySourceIDs().size() == 1; }));
    f.model.transcribeAllReadySources();
    ASSERT_TRUE(tavtest::waitUntil([&] { return f.state().transcribedSourceCount() == 1; }));
    f.model.setCues({{1, 0.5, 2.0, "<i>hi</i>", std::nullopt}});

    SubtitleSyncReviewSheet sheet(
        f.model, std::make_unique<SplitPreviewViewModel>(
                     clip, std::make_shared<FFmpegPreviewService>(
                               std::make_shared<FoundationProcessRunner>(), ToolLocations{})));
    sheet.show();
    auto* play = sheet.findChild<QPushButton*>(QStringLiteral("play"));
    auto* playhead = sheet.findChild<QSlider*>(QStringLiteral("playhead"));
    EXPECT_FALSE(play->isEnabled());
    ASSERT_TRUE(tavtest::waitUntil([&] { return sheet.preview().duration() > 0; }, 15000));
    EXPECT_TRUE(play->isEnabled());
    EXPECT_TRUE(playhead->isEnabled());
    EXPECT_FALSE(sheet.preview().isPlaying());
    auto* surface = sheet.findChild<SubtitleSyncPlayerSurface*>();
    EXPECT_TRUE(surface->cueText().isEmpty());
    EXPECT_EQ(sheet.findChild<QLabel*>(QStringLiteral("activeCue"))->text(),
              QStringLiteral("No subtitle at playhead"));
    sheet.preview().seek(1.0, false);
    EXPECT_EQ(surface->cueText(), QStringLiteral("<i>hi</i>"));
    EXPECT_EQ(sheet.findChild<QLabel*>(QStringLiteral("activeCue"))->text(),
              QStringLiteral("Cue 1"));

    auto* offset = sheet.findChild<QLabel*>(QStringLiteral("offset"));
    auto* reset = sheet.findChild<QPushButton*>(QStringLiteral("reset"));
    EXPECT_FALSE(reset->isEnabled());
    sheet.findChild<QPushButton*>(QStringLiteral("Later 0.1 s"))->click();
    sheet.findChild<QPushButton*>(QStringLiteral("Later 0.5 s"))->click();
    EXPECT_EQ(offset->text(), QStringLiteral("+0.6 s"));
    EXPECT_DOUBLE_EQ(f.state().cues().front().startTime, 1.1);
    reset->click();
    EXPECT_EQ(offset->text(), QStringLiteral("0.0 s"));
    EXPECT_FALSE(sheet.findChild<QPushButton*>(QStringLiteral("applyOffsetToAll"))->isEnabled());

    // Return on a cue row seeks to the cue and leaves the sheet open.
    auto* rows = sheet.findChild<QListWidget*>(QStringLiteral("sheetCues"));
    rows->setFocus();
    rows->setCurrentRow(0);
    QTest::keyClick(rows, Qt::Key_Return);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_TRUE(tavtest::waitUntil(
        [&] { return std::abs(sheet.preview().currentTime() - 0.5) < 0.05; }, 15000));
    rows->clearFocus();

    play->click();
    EXPECT_TRUE(sheet.preview().isPlaying());
    QTest::keyClick(&sheet, Qt::Key_Return);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_FALSE(sheet.preview().isPlaying());
}
