// The Transcribe workspace in the application's real window on an X server: a generated clip
// with speech dropped on the window, "Transcribe" pressed, one cue edited in place, a chapter
// added from its divider and one by Ctrl+Return, SubRip exported through the save dialog. Each
// state (two sources, list and timeline, chapters shown and hidden, an export blocked), at the
// minimum and the default window size, is checked for squeezed or cut-off widgets and text and
// saved as a screenshot; the setup, list and timeline states are walked by Tab and read as a
// screen reader reads them.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QComboBox>
#include <QDebug>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <fstream>
#include <sstream>

#include "../transcription/SpeechTestSupport.h"
#include "planning/LanguageModelServerSettings.h"
#include "preview/FrameServerPreviewPlayer.h"
#include "preview/SplitPreviewViewModel.h"
#include "remux/RemuxTestSupport.h"
#include "shell/ApplicationStyle.h"
#include "shell/MainNavigationSidebar.h"
#include "shell/RootView.h"
#include "shell/TavrolinApp.h"
#include "support/LocalHttpServer.h"
#include "support/SaveDialogAnswer.h"
#include "support/TempDir.h"
#include "support/TestAppConfiguration.h"
#include "support/WindowChecks.h"
#include "transcription/SubtitleSyncReviewSheet.h"
#include "transcription/TranscriptCueList.h"
#include "transcription/TranscriptReviewArea.h"
#include "transcription/TranscriptTimelineView.h"
#include "transcription/TranscriptionView.h"
#include "transcription/TranscriptionViewModel.h"
#include "widgets/StatusLine.h"

using namespace tavrolin;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char* const childVariable = "TAVROLIN_TRANSCRIBE_XVFB_CHILD";
const char* const folderVariable = "TAVROLIN_TRANSCRIBE_XVFB_FOLDER";
using tavtest::windowSizes;

void expectFits(QWidget* window, QWidget* root, const char* state) {
    tavtest::expectFits(window, root, std::string("transcribe-") + state);
}

using tavtest::answerSaveDialog;

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

TEST(TranscribeWindow, Child) {
    if (!qEnvironmentVariableIsSet(childVariable)) {
        GTEST_SKIP()
            << "runs only on its own X server, started by TranscribeWindow.TranscribeEditExport";
    }
    tavtest::prepareRemuxTest();
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    QApplication::setStyle(new ApplicationStyle);  // as the program does
    const fs::path folder = qEnvironmentVariable(folderVariable).toStdString();
    const auto speech = tavtest::makeSpeech(
        "window-talk.mkv",
        "The weather today is sunny and warm. <break time=\"2s\"/> We will go to the market "
        "tomorrow morning. <break time=\"2s\"/> Bring a basket for the apples.",
        {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-map", "1:v", "-map", "0:a",
         "-shortest", "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac"});
    const fs::path source = folder / "-Talk 'one' – über.mkv";
    fs::copy_file(speech, source);
    const fs::path second = folder / "second talk.mkv";
    fs::copy_file(speech, second);
    const fs::path longNamed = folder / ("third talk " + std::string(235, 'x') + ".mkv");
    fs::copy_file(speech, longNamed);

    // A model server, so the timeline offers "Refresh Summaries".
    tavtest::LocalHttpServer server;
    server.serve("/v1/models", R"({"data":[{"id":"summaries"}]})");
    server.serve(
        "/v1/chat/completions",
        R"({"choices":[{"message":{"content":"{\"summary\":\"Plans for the market.\"}"}}]})");
    auto configuration = tavtest::appConfiguration(folder);
    configuration.preferences->setString(LanguageModelServerSettings::urlKey,
                                         server.url({}).toString().toStdString());
    configuration.preferences->setString(LanguageModelServerSettings::modelKey, "summaries");
    TavrolinApp app(configuration);
    MainWindow* window = app.mainWindow();
    window->resize(windowSizes[0]);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window, 10000));
    window->rootView()->select(WorkspaceSection::transcribe);
    auto* view = window->findChild<TranscriptionView*>();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(view->isVisible());
    const auto& state = view->viewModel().state();
    // The language check has answered.
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return state.availability != TranscriptionWorkspaceAvailability{}; }, 30s));
    expectFits(window, view, "empty");

    tavtest::dropFiles(window->rootView(), {source, second, longNamed});
    ASSERT_EQ(state.sources.size(), 3u);
    auto* transcribe = view->findChild<QPushButton*>(QStringLiteral("firstSlot"));
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return transcribe->isEnabled() && transcribe->text() == "Transcribe"; }, 30s))
        << state.availability.message;
    expectFits(window, view, "setup");
    auto* start = window->rootView()->sidebar()->row(WorkspaceSection::transcribe);
    tavtest::expectKeyboardWalk(start, view);
    // A 250-byte name keeps to the settings column (nothing is cut), and the tooltip holds it
    // whole.
    const auto selected = [&](const fs::path& file) {
        return state.selectedSource() != nullptr && state.selectedSource()->url == file;
    };
    auto* sources = view->findChild<QListView*>(QStringLiteral("sourceList"));
    sources->setFocus(Qt::TabFocusReason);
    QTest::keyClick(sources, Qt::Key_End);
    ASSERT_TRUE(tavtest::waitUntil([&] { return selected(longNamed); }));
    expectFits(window, view, "setup-long-name");
    EXPECT_TRUE(view->findChild<QLabel*>(QStringLiteral("sourceName"))
                    ->toolTip()
                    .contains(QString::fromStdString(longNamed.filename().string())));
    QTest::keyClick(sources, Qt::Key_Home);
    ASSERT_TRUE(tavtest::waitUntil([&] { return selected(source) && transcribe->isEnabled(); }));
    QTest::mouseClick(transcribe, Qt::LeftButton);
    EXPECT_TRUE(state.isTranscribing);
    expectFits(window, view, "running");
    ASSERT_TRUE(tavtest::waitUntil([&] { return !state.isTranscribing; }, 150s));
    ASSERT_EQ(state.sources[0].status.kind, BatchTranscriptionSourceStatus::Kind::completed)
        << state.sources[0].status.message;
    ASSERT_GE(state.cues().size(), 3u);
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return view->viewModel().summaryAvailability().isAvailable; }, 30s));

    // Edit the first cue in place: click its text, type, Return.
    auto* list = view->reviewArea()->cueList();
    ASSERT_TRUE(tavtest::waitUntil([&] { return list->isVisible(); }));
    ASSERT_TRUE(tavtest::settled(window));
    const QRect first = list->visualRect(list->cueModel()->index(0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      first.center() + QPoint(0, TranscriptCueDelegate::dividerHeight / 2));
    auto* editor = list->findChild<QLineEdit*>(QStringLiteral("cueEditor"));
    ASSERT_NE(editor, nullptr);
    // A screen reader finds the open editor, named, in the tree.
    const auto editing = tavtest::expectNamedAccessibleTree(view);
    EXPECT_TRUE(std::ranges::any_of(editing, [&](QAccessibleInterface* node) {
        return node->object() == editor && node->parent() && node->parent()->object() == list &&
               node->parent()->indexOfChild(node) >= 0;
    }));
    editor->selectAll();
    QTest::keyClicks(editor, "Sunny weather today");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(state.cues().front().text, "Sunny weather today");

    // The divider above the second cue reveals its control under the pointer; a click adds it.
    const QPoint strip = list->visualRect(list->cueModel()->index(1)).topLeft() + QPoint(60, 8);
    QTest::mouseMove(list->viewport(), strip);
    ASSERT_TRUE(tavtest::waitUntil([&] { return list->cueDelegate()->hoveredDivider() == 1; }));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, strip);
    ASSERT_EQ(state.chapters().size(), 1u);
    EXPECT_DOUBLE_EQ(state.chapters().front().startTime, state.cues()[1].startTime);

    // By keyboard alone, and as a screen reader reads it.
    window->resize(windowSizes[1]);
    ASSERT_TRUE(tavtest::settled(window, windowSizes[1]));
    tavtest::expectKeyboardWalk(start, view);
    // The arrow keys move between cues, each opening its editor; Tab leaves the list from there,
    // and Shift+Tab comes back to it.
    list->setFocus(Qt::TabFocusReason);
    QTest::keyClick(list, Qt::Key_Down);
    ASSERT_TRUE(
        tavtest::waitUntil([&] { return list->isAncestorOf(QApplication::focusWidget()); }));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(list->currentIndex().row(), 2);
    // Ctrl+Return does what a click on the divider above the cue does.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return, Qt::ControlModifier);
    ASSERT_EQ(state.chapters().size(), 2u);
    EXPECT_DOUBLE_EQ(state.chapters().back().startTime, state.cues()[2].startTime);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget* after = QApplication::focusWidget();
    EXPECT_FALSE(list->isAncestorOf(after) || after == list) << tavtest::describeWidget(after);
    QTest::keyClick(after, Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), list);
    const auto nodes = tavtest::expectNamedAccessibleTree(view);
    EXPECT_TRUE(std::ranges::any_of(nodes, [](QAccessibleInterface* node) {
        return node->role() == QAccessible::Button &&
               node->text(QAccessible::Name) == "Remove second talk.mkv";
    }));
    expectFits(window, view, "review");
    // Narrow, the chapters sit under the transcript until opened.
    window->resize(windowSizes[0]);
    ASSERT_TRUE(tavtest::settled(window, windowSizes[0]));
    auto* showChapters = view->findChild<QToolButton*>(QStringLiteral("showChapters"));
    ASSERT_TRUE(showChapters->isVisible());
    QTest::mouseClick(showChapters, Qt::LeftButton);
    expectFits(window, view, "review-chapters");

    // A chapter past the end blocks the media export, and the page says why beside the button.
    auto* chapterStart = view->findChild<QLineEdit*>(QStringLiteral("chapterStart"));
    const QString startText = chapterStart->text();
    const auto typeStart = [&](const QString& text) {
        chapterStart->setFocus();
        chapterStart->selectAll();
        QTest::keyClicks(chapterStart, text);
        QTest::keyClick(chapterStart, Qt::Key_Return);
    };
    typeStart("999");
    auto* reason = view->findChild<StatusLine*>(QStringLiteral("exportMediaReason"));
    ASSERT_TRUE(tavtest::waitUntil([&] { return reason->isVisible(); }));
    EXPECT_FALSE(view->findChild<QPushButton*>(QStringLiteral("exportMedia"))->isEnabled());
    EXPECT_EQ(reason->text().toStdString(), state.mediaExportBlocker().value_or(""));
    expectFits(window, view, "review-blocked");
    typeStart(startText);
    ASSERT_TRUE(tavtest::waitUntil([&] { return !reason->isVisible(); }));

    const fs::path subtitles = folder / "talk.en.srt";
    answerSaveDialog(subtitles);
    QTest::mouseClick(view->findChild<QPushButton*>(QStringLiteral("exportSubtitles")),
                      Qt::LeftButton);
    ASSERT_TRUE(tavtest::waitUntil([&] { return state.message == "Exported talk.en.srt."; }))
        << state.errorMessage.value_or(state.message.value_or(""));
    const std::string written = contents(subtitles);
    EXPECT_TRUE(written.starts_with("1\n00:00:0")) << written;
    EXPECT_NE(written.find("Sunny weather today"), std::string::npos) << written;

    QTest::mouseClick(view->findChild<QPushButton*>(QStringLiteral("timelineMode")),
                      Qt::LeftButton);
    auto* timeline = view->reviewArea()->timeline();
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return timeline->isVisible() && !timeline->conversations().empty(); }));
    EXPECT_TRUE(view->findChild<QPushButton*>(QStringLiteral("refreshSummaries"))->isVisible());
    expectFits(window, view, "timeline-chapters");
    tavtest::expectKeyboardWalk(start, view);
    window->resize(windowSizes[0]);
    ASSERT_TRUE(tavtest::settled(window, windowSizes[0]));
    QTest::mouseClick(showChapters, Qt::LeftButton);
    expectFits(window, view, "timeline");

    QTest::mouseClick(view->findChild<QPushButton*>(QStringLiteral("syncWithVideo")),
                      Qt::LeftButton);
    auto* sheet = view->findChild<SubtitleSyncReviewSheet*>();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet, 10000));
    EXPECT_EQ(sheet->size(), window->size());
    ASSERT_TRUE(tavtest::waitUntil([&] { return sheet->preview().duration() > 0; }, 30s));
    EXPECT_FALSE(sheet->preview().isPlaying());
    sheet->preview().seek(state.cues().front().startTime + 0.2, false);
    auto* surface = sheet->findChild<SubtitleSyncPlayerSurface*>();
    EXPECT_EQ(surface->cueText(), QStringLiteral("Sunny weather today"));
    // The frame at the new position is on the surface before the sheet's picture is taken.
    auto* player = dynamic_cast<FrameServerPreviewPlayer*>(&sheet->preview().player());
    ASSERT_NE(player, nullptr);
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return player->shownFrame() == sheet->preview().currentFrame(); }, 30s));
    expectFits(window, sheet, "sheet");
    QTest::keyClick(sheet, Qt::Key_Return);
    ASSERT_TRUE(
        tavtest::waitUntil([&] { return view->findChild<SubtitleSyncReviewSheet*>() == nullptr; }));
}

TEST(TranscribeWindow, TranscribeEditExport) {
    TAVTEST_SKIP_UNLESS_XVFB_PARENT(childVariable);
    tavtest::TempDir folder;
    tavtest::TempDir home;
    QProcessEnvironment environment;
    environment.insert(folderVariable, QString::fromStdString(folder.path().string()));
    environment.insert("XDG_CACHE_HOME", QString::fromStdString((home / "cache").string()));
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString((home / "config").string()));
    tavtest::expectPassesUnderXvfb(childVariable, "TranscribeWindow.Child", environment, 240000);
    EXPECT_TRUE(fs::exists(folder / "talk.en.srt"));
    // The transcription's working folder went with it.
    const fs::path cache = home / "cache" / "tavrolin";
    EXPECT_TRUE(!fs::exists(cache) || fs::is_empty(cache));
}
