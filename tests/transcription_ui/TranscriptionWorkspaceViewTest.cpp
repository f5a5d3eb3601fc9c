// The Transcribe workspace's views over the real view model with fake services: the source
// rows, the action bar's first slot through a run, the export controls, the cross-transcript
// search and the replacement confirmation.
#include "transcription/TranscriptionView.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>

#include <atomic>
#include <fstream>
#include <thread>

#include "app/QtTestApplication.h"
#include "engine/FFmpegPreviewService.h"
#include "engine/JobQueueViewModel.h"
#include "engine/MediaProcessing.h"
#include "joinsplit/SplitPreviewViewModel.h"
#include "model/CancellationError.h"
#include "process/FoundationProcessRunner.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"
#include "transcription/SubtitleSyncReviewSheet.h"
#include "transcription/TranscriptCueList.h"
#include "transcription/TranscriptReviewArea.h"
#include "transcription/TranscriptTimelineView.h"
#include "transcription/TranscriptionSettingsPanel.h"
#include "transcription/TranscriptionSourceList.h"
#include "transcription/TranscriptionViewModel.h"

using namespace tavrolin;
namespace fs = std::filesystem;
using Kind = BatchTranscriptionSourceStatus::Kind;

namespace {

class AudioProbe : public MediaProbing {
  public:
    std::vector<MediaStream> inspectStreams(const fs::path&, std::stop_token) override {
        MediaStream video;
        video.codecName = "h264";
        MediaStream audio;
        audio.index = 1;
        audio.kind = MediaStreamKind::audio;
        audio.codecName = "aac";
        return {video, audio};
    }
    std::vector<ChapterMarker> inspectChapters(const fs::path&, std::stop_token) override {
        return {};
    }
    std::optional<double> inspectDuration(const fs::path&, std::stop_token) override { return 4.0; }
};

// Answers once `open` is set; a stop ends the wait as a cancellation.
class GatedTranscriber : public MediaTranscribing {
  public:
    std::atomic<bool> open{true};

    TranscriptionCapability checkCapability() override {
        return {{{"en-US", "English (United States)"}}, std::nullopt};
    }
    std::vector<TranscriptFragment> transcribe(const fs::path& source, std::int64_t,
                                               const std::string&, std::optional<double>,
                                               TranscriptionProgressHandler progress,
                                               std::stop_token stop) override {
        progress(TranscriptionProgress::transcribing(0.125));
        while (!open) {
            if (stop.stop_requested()) {
                throw CancellationError();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return {{"hello " + source.stem().string(), 1.0, 2.0, 0.9},
                {"<i>hi</i> again", 9.0, 10.0, 0.9}};
    }
    void cancel() override {}
};

class NoSummaries : public ConversationSummarizing {
  public:
    ConversationSummaryAvailability availability() const override {
        return ConversationSummaryAvailability::unavailable("No model.");
    }
    std::string summarize(const TranscriptConversation&, std::stop_token) override { return {}; }
};

class IdleProcessor : public MediaProcessing {
  public:
    void process(const ProcessingRequest&, ProgressCallback, std::stop_token) override {}
    void cancel() override {}
};

struct Fixture {
    QApplication& application = tavtest::qtApplication();
    tavtest::TempDir folder;
    std::shared_ptr<GatedTranscriber> transcriber = std::make_shared<GatedTranscriber>();
    JobQueueViewModel queue{std::make_shared<IdleProcessor>()};
    TranscriptionViewModel model{
        TranscriptionViewModel::Services{
            std::make_shared<AudioProbe>(), transcriber, std::make_shared<NoSummaries>(),
            std::make_shared<SubtitleFileExporter>(), std::make_shared<InMemoryPreferencesStore>()},
        queue, TranscriptionViewModel::Panels{}};
    TranscriptionView view{model, queue, nullptr};

    const TranscriptionWorkspaceState& state() const { return model.state(); }
    fs::path file(const std::string& name) {
        std::ofstream(folder / name) << "x";
        return folder / name;
    }
    void addAndInspect(const std::vector<std::string>& names) {
        std::vector<fs::path> files;
        for (const auto& name : names) {
            files.push_back(file(name));
        }
        ASSERT_TRUE(tavtest::waitUntil([&] {
            return state().availability.kind == TranscriptionWorkspaceAvailability::Kind::available;
        }));
        ASSERT_TRUE(model.addSources(files));
        ASSERT_TRUE(tavtest::waitUntil([&] {
            return std::ranges::all_of(state().sources,
                                       [](const auto& s) { return s.status.kind == Kind::ready; });
        }));
        settle();
    }
    // One transcribed source holding `cues`, shown in a window-sized view.
    void showTranscript(const std::vector<SubtitleCue>& cues) {
        addAndInspect({"talk.mkv"});
        model.transcribeAllReadySources();
        ASSERT_TRUE(tavtest::waitUntil([&] { return state().transcribedSourceCount() == 1; }));
        model.setCues(cues);
        view.resize(1200, 800);
        view.show();
        settle();
    }
    void settle() {
        QTest::qWait(1);
        view.render();
    }
    template <typename T>
    T* find(const char* name) const {
        return view.findChild<T*>(QString::fromLatin1(name));
    }
    // The shown widgets of that name (rebuilt rows go on the next event-loop turn).
    template <typename T>
    QList<T*> shown(const char* name) const {
        QList<T*> result;
        for (auto* widget : view.findChildren<T*>(QString::fromLatin1(name))) {
            if (widget->isVisibleTo(&view)) {
                result << widget;
            }
        }
        return result;
    }
    QPushButton* firstSlot() const { return find<QPushButton>("firstSlot"); }
    // The shown texts of the labels of that name.
    QStringList texts(const char* name) const {
        QStringList result;
        for (auto* label : view.findChildren<QLabel*>(QString::fromLatin1(name))) {
            if (label->isVisibleTo(&view) && !label->text().isEmpty()) {
                result << label->text();
            }
        }
        return result;
    }
};

// Answers the next modal message box with the button of `role`, recording its title.
void answerNextMessageBox(QMessageBox::ButtonRole role, QString* title) {
    QTimer::singleShot(0, [role, title] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        *title = box->text();
        for (auto* button : box->buttons()) {
            if (box->buttonRole(button) == role) {
                button->click();
            }
        }
    });
}

}  // namespace

TEST(TranscriptionSourceRows, StatusTextsSymbolsAndPercentages) {
    struct Row {
        BatchTranscriptionSourceStatus status;
        std::optional<TranscriptionProgress> progress;
        bool cancellingThis;
        std::string text;
        QString symbol;
        std::optional<std::string> percent;
    };
    const std::vector<Row> rows = {
        {{Kind::pendingInspection, {}}, {}, false, "Waiting to inspect", "magnifyingglass", {}},
        {{Kind::inspecting, {}}, {}, false, "Inspecting media…", "magnifyingglass", {}},
        {{Kind::queued, {}}, {}, false, "Waiting in batch", "clock", {}},
        {{Kind::transcribing, {}},
         {},
         false,
         "Starting transcription",
         "waveform.badge.magnifyingglass",
         {}},
        {{Kind::transcribing, {}},
         TranscriptionProgress::preparingAudio(0.125),
         false,
         "Extracting audio",
         "waveform.badge.magnifyingglass",
         "13%"},
        {{Kind::transcribing, {}},
         TranscriptionProgress::transcribing(0.999),
         true,
         "Cancelling…",
         "waveform.badge.magnifyingglass",
         "100%"},
        {{Kind::transcribing, {}},
         TranscriptionProgress::transcribing(std::nullopt),
         false,
         "Transcribing speech",
         "waveform.badge.magnifyingglass",
         {}},
        {{Kind::transcribing, {}},
         TranscriptionProgress::preparingLanguageModel(),
         false,
         "Preparing language model",
         "waveform.badge.magnifyingglass",
         {}},
        {{Kind::completed, {}}, {}, false, "1 cues", "checkmark.circle.fill", {}},
        {BatchTranscriptionSourceStatus::failed("<b>No speech</b>"),
         {},
         false,
         "<b>No speech</b>",
         "exclamationmark.triangle.fill",
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        BatchTranscriptionSource source;
        source.status = row.status;
        source.progress = row.progress;
        source.cues = {SubtitleCue{1, 0, 1, "one", std::nullopt}};
        EXPECT_EQ(TranscriptionSourceList::statusText(source, row.cancellingThis), row.text);
        EXPECT_EQ(TranscriptionSourceList::statusSymbol(row.status.kind), row.symbol);
        EXPECT_EQ(TranscriptionSourceList::rowPercentText(source), row.percent);
    }
    // The setup card truncates where the row rounds; result times truncate and never go below 0.
    EXPECT_EQ(truncatedPercentText(0.999), "99%");
    EXPECT_EQ(TranscriptionSourceList::searchResultTime(3661.9), "01:01:01");
    EXPECT_EQ(TranscriptionSourceList::searchResultTime(-2.5), "00:00:00");
    EXPECT_EQ(TranscriptionSourceList::searchResultTime(90000), "25:00:00");
}

TEST(TranscriptionWorkspaceView, ActionBarFollowsTheSelectedSourceThroughARun) {
    Fixture f;
    EXPECT_TRUE(f.find<QWidget>("emptyState")->isVisibleTo(&f.view));
    EXPECT_FALSE(f.find<QWidget>("actionBar")->isVisibleTo(&f.view));
    f.addAndInspect({"<b>x<i>.mkv", "second.mkv"});
    EXPECT_TRUE(f.find<QWidget>("actionBar")->isVisibleTo(&f.view));
    EXPECT_TRUE(f.texts("fileName").contains(QStringLiteral("<b>x<i>.mkv")))
        << f.texts("fileName").join(QStringLiteral("|")).toStdString();
    for (auto* label : f.view.findChildren<QLabel*>()) {
        if (!label->text().isEmpty()) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
        }
    }
    EXPECT_EQ(f.firstSlot()->text(), QStringLiteral("Transcribe"));
    EXPECT_TRUE(f.firstSlot()->isEnabled());
    EXPECT_TRUE(f.find<QPushButton>("applyToAll")->isVisibleTo(&f.view));

    f.transcriber->open = false;
    f.find<QPushButton>("transcribeAll")->click();
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return f.state().progress == TranscriptionProgress::transcribing(0.125); }));
    f.settle();
    EXPECT_EQ(f.firstSlot()->text(), QStringLiteral("Cancel All"));
    EXPECT_FALSE(f.find<QPushButton>("applyToAll")->isEnabled());
    EXPECT_EQ(f.texts("progressPercent").value(0), QStringLiteral("12%"));
    EXPECT_TRUE(f.texts("statusText").contains(QStringLiteral("Transcribing speech  13%")))
        << f.texts("statusText").join(QStringLiteral("|")).toStdString();
    EXPECT_TRUE(f.texts("statusText").contains(QStringLiteral("Waiting in batch")));
    // Remove buttons lock for the run; the running row offers cancel instead.
    for (auto* button : f.shown<QToolButton>("removeButton")) {
        EXPECT_FALSE(button->isEnabled());
    }
    ASSERT_EQ(f.shown<QToolButton>("cancelButton").size(), 1);

    f.model.selectSource(f.state().sources.at(1).id);
    f.settle();
    EXPECT_EQ(f.firstSlot()->text(), QStringLiteral("Queued"));
    EXPECT_FALSE(f.firstSlot()->isEnabled());

    f.transcriber->open = true;
    ASSERT_TRUE(tavtest::waitUntil([&] { return !f.state().isTranscribing; }));
    f.settle();
    EXPECT_EQ(f.firstSlot()->text(), QStringLiteral("Clear Transcript"));
    EXPECT_EQ(f.texts("cueCount").value(0), QStringLiteral("2 cues"));
    EXPECT_TRUE(f.texts("statusText").contains(QStringLiteral("2 cues")));
    auto* exportMedia = f.find<QPushButton>("exportMedia");
    EXPECT_TRUE(exportMedia->isVisibleTo(&f.view));
    f.model.setMediaOutputContainer(OutputContainer::webm);
    f.settle();
    const auto blocker = f.state().mediaExportBlocker();
    ASSERT_TRUE(blocker);
    EXPECT_FALSE(exportMedia->isEnabled());
    EXPECT_TRUE(exportMedia->toolTip().contains(QString::fromStdString(*blocker).left(20)));

    // Clearing asks first; a refusal keeps the cues.
    int asked = 0;
    bool answer = false;
    f.view.setClearConfirmation([&](QWidget*) {
        ++asked;
        return answer;
    });
    f.firstSlot()->click();
    EXPECT_FALSE(f.state().cues().empty());
    answer = true;
    f.firstSlot()->click();
    f.settle();
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(f.state().cues().empty());
    EXPECT_EQ(f.firstSlot()->text(), QStringLiteral("Transcribe"));
}

TEST(TranscriptionWorkspaceView, SearchHitsAndBatchReplacementConfirmation) {
    Fixture f;
    f.addAndInspect({"a.mkv", "b.mkv", "c.mkv"});
    f.model.transcribeAllReadySources();
    ASSERT_TRUE(tavtest::waitUntil([&] { return f.state().transcribedSourceCount() == 3; }));
    f.settle();

    // Two hits per source are two rows each; a click opens the hit's source.
    f.model.setBatchTranscriptSearch("HI");
    f.settle();
    auto* results = f.find<QListWidget>("searchResults");
    ASSERT_EQ(results->count(), 3);
    EXPECT_TRUE(results->item(1)->text().startsWith(QStringLiteral("b.mkv   00:00:09")));
    EXPECT_TRUE(results->item(1)->text().endsWith(QStringLiteral("<i>hi</i> again")));
    f.model.setBatchTranscriptSearch("hello");
    f.settle();
    ASSERT_EQ(results->count(), 3);
    emit results->itemClicked(results->item(2));
    f.settle();
    EXPECT_EQ(f.state().selectedSourceID, f.state().sources.at(2).id);
    EXPECT_TRUE(f.state().batchTranscriptSearch.empty());
    // The review list took the request: it scrolled and cleared it.
    EXPECT_FALSE(f.state().requestedCueID.has_value());
    f.model.setBatchTranscriptSearch("nothing here");
    f.settle();
    EXPECT_NE(f.find<QWidget>("noSearchResults"), nullptr);
    f.model.setBatchTranscriptSearch("");
    f.settle();

    auto* exportSelected = f.find<QPushButton>("exportSelected");
    for (const auto& source : f.state().sources) {
        f.model.setExportSelection(false, source.id);
    }
    f.settle();
    EXPECT_EQ(exportSelected->text(), QStringLiteral("Export Selected (0)"));
    EXPECT_FALSE(f.find<QCheckBox>("replaceOriginals")->isEnabled());
    f.model.selectAllExportableSources();
    f.model.setReplaceOriginalsDuringBatchExport(true);
    f.settle();
    EXPECT_EQ(exportSelected->text(), QStringLiteral("Export Selected (3)"));
    QString title;
    answerNextMessageBox(QMessageBox::RejectRole, &title);
    exportSelected->click();
    EXPECT_EQ(title, QStringLiteral("Replace 3 original files?"));
    EXPECT_FALSE(f.queue.hasQueuedJobs());
}

TEST(TranscriptReviewList, LowConfidenceMarkAndDividerTexts) {
    struct Row {
        std::optional<double> confidence;
        bool low;
    };
    for (const Row& row : std::vector<Row>{{0.69, true},
                                           {0.7, false},
                                           {0.95, false},
                                           {std::nullopt, false},
                                           {std::nan(""), false}}) {
        SCOPED_TRACE(row.confidence.value_or(-1));
        EXPECT_EQ(isLowConfidence({1, 0, 1, "x", row.confidence}), row.low);
    }
    EXPECT_EQ(TranscriptCueDelegate::dividerText(75.25, false), "Add chapter at 00:01:15.250");
    EXPECT_EQ(TranscriptCueDelegate::dividerText(75.25, true), "Chapter at 00:01:15.250");
    EXPECT_EQ(TranscriptCueDelegate::dividerHelp(12, false),
              "Insert a chapter marker before cue 12");
    EXPECT_EQ(TranscriptCueDelegate::dividerHelp(12, true), "A chapter already starts here");
    EXPECT_EQ(TranscriptCueDelegate::dividerAccessibleText(75.25, false),
              "Add chapter marker at 00:01:15.250");
}

TEST(TranscriptReviewList, EditsChaptersAndCentresARequestedCue) {
    Fixture f;
    std::vector<SubtitleCue> cues;
    for (int i = 1; i <= 300; ++i) {
        cues.push_back({i, i * 2.5, i * 2.5 + 1, "line " + std::to_string(i),
                        i == 2 ? std::optional(0.69) : std::optional(0.7)});
    }
    f.showTranscript(cues);
    auto* list = f.view.findChild<TranscriptCueListView*>();
    ASSERT_NE(list, nullptr);
    auto* model = list->cueModel();
    ASSERT_EQ(model->rowCount(), 300);
    EXPECT_TRUE(model->index(1).data(TranscriptCueListModel::lowConfidenceRole).toBool());
    EXPECT_FALSE(model->index(2).data(TranscriptCueListModel::lowConfidenceRole).toBool());

    // Typing in a row's editor reaches the source at once.
    list->edit(model->index(0));
    auto* editor = list->findChild<QLineEdit*>(QStringLiteral("cueEditor"));
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, "<i>hi</i>");
    EXPECT_EQ(f.state().sources.at(0).cues.at(0).text, "<i>hi</i>");
    EXPECT_EQ(model->index(0).data().toString(), QStringLiteral("<i>hi</i>"));

    // The strip above row 1 reveals its control under the pointer; a click adds the chapter once.
    const QPoint strip = list->visualRect(model->index(1)).topLeft() + QPoint(40, 6);
    QTest::mouseMove(list->viewport(), strip);
    EXPECT_EQ(list->cueDelegate()->hoveredDivider(), 1);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, strip);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, strip);
    f.settle();
    ASSERT_EQ(f.state().chapters().size(), 1);
    EXPECT_EQ(f.state().chapters().front().startTime, 5.0);
    EXPECT_TRUE(model->index(1).data(TranscriptCueListModel::hasChapterRole).toBool());

    // Sort orders the markers by time and the editors renumber.
    auto chapters = f.state().chapters();
    chapters.push_back({Uuid::random(), 30, "Late"});
    chapters.push_back({Uuid::random(), 1, "Early"});
    f.model.setChapters(chapters);
    f.settle();
    f.view.findChild<QPushButton*>(QStringLiteral("sortChapters"))->click();
    f.settle();
    std::vector<double> starts;
    for (const auto& chapter : f.state().sources.at(0).chapters) {
        starts.push_back(chapter.startTime);
    }
    EXPECT_EQ(starts, (std::vector<double>{1, 5, 30}));
    const auto titles = f.view.findChildren<QLineEdit*>(QStringLiteral("chapterTitle"));
    ASSERT_EQ(titles.size(), 3);
    EXPECT_EQ(titles[0]->text(), QStringLiteral("Early"));

    f.model.setRequestedCueID(250);
    f.settle();
    EXPECT_FALSE(f.state().requestedCueID.has_value());
    const QModelIndex centre = list->indexAt(list->viewport()->rect().center());
    EXPECT_NEAR(centre.row(), 249, 1);
}

TEST(TranscriptTimeline, PlacementZoomClampAndTexts) {
    auto conversation = [](std::int64_t id, double start, double end) {
        TranscriptConversation c;
        c.id = id;
        c.startTime = start;
        c.endTime = end;
        return c;
    };
    struct Row {
        const char* name;
        std::vector<TranscriptConversation> conversations;
        double height;
        double zoom;
        double pointsPerSecond;
        std::vector<double> cardTops;
        double contentHeight;
    };
    const std::vector<Row> rows = {
        {"none", {}, 448, 1, 400, {}, 448},
        // Centred on its mark; the second is pushed below the first with a 12-point gap.
        {"pushed", {conversation(1, 50, 60), conversation(2, 52, 70)}, 748, 1, 10, {481, 579}, 748},
        {"clamped to the inset", {conversation(1, 0, 100)}, 248, 2, 4, {24}, 448},
        {"floor of the scale", {conversation(1, 0, 100000)}, 448, 1, 0.12, {24}, 12048},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto place = TimelinePlacement::compute(row.conversations, row.height, row.zoom);
        EXPECT_DOUBLE_EQ(place.pointsPerSecond, row.pointsPerSecond);
        std::vector<double> tops;
        for (const auto& placement : place.placements) {
            tops.push_back(placement.cardTop);
        }
        EXPECT_EQ(tops, row.cardTops);
        EXPECT_DOUBLE_EQ(place.contentHeight, row.contentHeight);
    }
    EXPECT_EQ(clampedTimelineZoom(std::nan("")), 1);
    EXPECT_EQ(clampedTimelineZoom(38.4), 32);
    EXPECT_EQ(clampedTimelineZoom(0.5), 1);
    EXPECT_EQ(timelineTimeText(3599.5), "01:00:00");
    EXPECT_EQ(timelineTimeText(-3), "00:00:00");
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(timelineZoomText(1), QStringLiteral("1×"));
    EXPECT_EQ(timelineZoomText(3.375), QStringLiteral("3.4×"));
    EXPECT_EQ(timelineZoomText(2 / 1.5), QStringLiteral("1.3×"));
}

TEST(TranscriptTimeline, CardsZoomAndConversationDetail) {
    Fixture f;
    std::vector<SubtitleCue> cues;
    // Three conversations: long silences split them.
    for (int i = 1; i <= 9; ++i) {
        const double start = (i - 1) / 3 * 60.0 + i;
        cues.push_back({i, start, start + 0.5, "line " + std::to_string(i), std::nullopt});
    }
    f.showTranscript(cues);
    auto* area = f.view.reviewArea();
    area->setReviewMode(TranscriptReviewMode::timeline);
    f.settle();
    auto* timeline = area->timeline();
    ASSERT_TRUE(timeline->isVisible());
    EXPECT_EQ(timeline->conversations().size(), 3);
    EXPECT_EQ(f.texts("conversationCount").value(0),
              QStringLiteral("3 conversations · vertical time scale"));
    // The summariser is unavailable: its notice shows and there is no refresh button.
    EXPECT_TRUE(
        tavtest::waitUntil([&] { return f.state().conversationSummaryNotice.has_value(); }));
    EXPECT_FALSE(f.find<QPushButton>("refreshSummaries")->isVisibleTo(&f.view));

    auto* zoomIn = f.find<QToolButton>("zoomIn");
    for (int i = 0; i < 9; ++i) {
        zoomIn->click();
    }
    EXPECT_EQ(area->timelineZoom(), 32);
    EXPECT_FALSE(zoomIn->isEnabled());
    EXPECT_EQ(f.texts("zoomReadout").value(0), QStringLiteral("32×"));
    f.find<QPushButton>("fit")->click();
    EXPECT_EQ(area->timelineZoom(), 1);
    QWheelEvent wheel(QPointF(200, 200), QPointF(200, 200), {}, QPoint(0, 120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(timeline->viewport(), &wheel);
    EXPECT_GT(area->timelineZoom(), 1);
    EXPECT_LE(area->timelineZoom(), 32);
    f.find<QPushButton>("fit")->click();

    // A click on the second card opens its conversation; the list mode forgets it.
    const QRect card = timeline->cardRect(1);
    QTest::mouseClick(timeline->widget(), Qt::LeftButton, {}, card.center());
    f.settle();
    EXPECT_EQ(area->selectedConversationID(), timeline->conversations().at(1).id);
    auto* detailCues = f.view.findChild<TranscriptCueListView*>(QStringLiteral("conversationCues"));
    ASSERT_TRUE(detailCues->isVisible());
    EXPECT_EQ(detailCues->cueModel()->rowCount(), 3);
    area->setReviewMode(TranscriptReviewMode::list);
    EXPECT_FALSE(area->selectedConversationID().has_value());
}

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

    play->click();
    EXPECT_TRUE(sheet.preview().isPlaying());
    QTest::keyClick(&sheet, Qt::Key_Return);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_FALSE(sheet.preview().isPlaying());
}
