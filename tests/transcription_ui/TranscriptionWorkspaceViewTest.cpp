// The workspace view over the real view model with fake services: the source rows, the action
// bar's first slot through a run, the export controls, the cross-transcript search and the
// replacement confirmation.
#include "TranscriptionViewFixture.h"

#include <QAbstractItemModelTester>
#include <QListView>

#include "transcription/TranscriptSearchResultListModel.h"
#include "transcription/TranscriptionSourceListModel.h"
#include "transcription/TranscriptionSourceText.h"
#include "widgets/ContentUnavailableView.h"
#include "widgets/StatusLine.h"

namespace {

using SourceRole = TranscriptionSourceListModel::Role;

TranscriptionSourceList* sourceList(Fixture& f) {
    return f.view.findChild<TranscriptionSourceList*>();
}

// One line per source row: name | status line | bar | mark | button, as the delegate paints it.
QStringList sourceRows(Fixture& f) {
    const auto* model = sourceList(f)->sourceModel();
    QStringList rows;
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row);
        const QVariant bar = index.data(SourceRole::progressRole);
        const QVariant mark = index.data(Qt::CheckStateRole);
        rows << QStringLiteral("%1 | %2 | %3 | %4 | %5 %6 \"%7\"")
                    .arg(index.data().toString(), index.data(SourceRole::statusLineRole).toString(),
                         !bar.isValid()       ? QStringLiteral("-")
                         : bar.toDouble() < 0 ? QStringLiteral("busy")
                                              : QString::number(bar.toDouble()),
                         !mark.isValid()
                             ? QStringLiteral("-")
                             : (mark.toInt() == Qt::Checked ? QStringLiteral("marked")
                                                            : QStringLiteral("unmarked")) +
                                   (index.data(SourceRole::exportMarkEnabledRole).toBool()
                                        ? QString()
                                        : QStringLiteral(" off")),
                         index.data(SourceRole::buttonKindRole).toString(),
                         index.data(SourceRole::buttonEnabledRole).toBool() ? QStringLiteral("on")
                                                                            : QStringLiteral("off"),
                         index.data(SourceRole::buttonAccessibleNameRole).toString());
    }
    return rows;
}

// Clicks the source list at the mark or the button of `row`, as a person would.
void clickSourceControl(Fixture& f, int row, bool mark) {
    auto* list = f.find<QListView>("sourceList");
    const QRect rect = list->visualRect(list->model()->index(row, 0));
    const QRect place = mark ? TranscriptionSourceDelegate::exportMarkRect(rect)
                             : TranscriptionSourceDelegate::buttonRect(rect);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, place.center());
}

// Waits for the search worker, then redraws.
void settleSearch(Fixture& f) {
    ASSERT_TRUE(tavtest::waitUntil([&] { return !f.model.isBatchSearchPending(); }));
    f.settle();
}

// One line per hit: file name, start time and cue text.
QStringList resultRows(Fixture& f) {
    const auto* model = sourceList(f)->searchResultModel();
    QStringList rows;
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row);
        rows << index.data().toString() + QStringLiteral(" ") +
                    index.data(TranscriptSearchResultListModel::startTimeTextRole).toString() +
                    QStringLiteral(" ") +
                    index.data(TranscriptSearchResultListModel::cueTextRole).toString();
    }
    return rows;
}

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
        {{Kind::completed, {}}, {}, false, "1 cue", "checkmark.circle.fill", {}},
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
        EXPECT_EQ(sourceStatusText(source, row.cancellingThis), row.text);
        EXPECT_EQ(sourceStatusSymbol(row.status.kind), row.symbol);
        EXPECT_EQ(sourcePercentText(source), row.percent);
    }
    // The setup card truncates where the row rounds; result times truncate and never go below 0.
    EXPECT_EQ(truncatedPercentText(0.999), "99%");
    EXPECT_EQ(clockTimeText(3661.9), "01:01:01");
    EXPECT_EQ(clockTimeText(-2.5), "00:00:00");
    EXPECT_EQ(clockTimeText(90000), "25:00:00");
}

TEST(TranscriptionWorkspaceView, ActionBarFollowsTheSelectedSourceThroughARun) {
    Fixture f;
    EXPECT_TRUE(f.find<QWidget>("emptyState")->isVisibleTo(&f.view));
    EXPECT_FALSE(f.find<QWidget>("actionBar")->isVisibleTo(&f.view));
    f.addAndInspect({"<b>x<i>.mkv", "second.mkv"});
    EXPECT_TRUE(f.find<QWidget>("actionBar")->isVisibleTo(&f.view));
    EXPECT_EQ(sourceRows(f), QStringList({
                                 R"(<b>x<i>.mkv | Ready | - | - | remove on "Remove <b>x<i>.mkv")",
                                 R"(second.mkv | Ready | - | - | remove on "Remove second.mkv")",
                             }));
    for (auto* label : f.view.findChildren<QLabel*>()) {
        if (!label->text().isEmpty()) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
        }
    }
    EXPECT_EQ(f.firstSlot()->text(), QStringLiteral("Transcribe"));
    EXPECT_TRUE(f.firstSlot()->isEnabled());
    EXPECT_TRUE(f.find<QPushButton>("applyToAll")->isVisibleTo(&f.view));

    // Pressed by keyboard, the button turns off for the run; the focus stays on the page.
    f.transcriber->open = false;
    f.view.resize(1200, 800);
    f.view.show();
    auto* transcribeAll = f.find<QPushButton>("transcribeAll");
    transcribeAll->setFocus(Qt::TabFocusReason);
    QTest::keyClick(transcribeAll, Qt::Key_Space);
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return f.state().progress == TranscriptionProgress::transcribing(0.125); }));
    f.settle();
    EXPECT_FALSE(transcribeAll->isEnabled());
    EXPECT_EQ(f.view.focusWidget(), f.find<QPushButton>("addFiles"));
    EXPECT_EQ(f.firstSlot()->text(), QStringLiteral("Cancel All"));
    EXPECT_FALSE(f.find<QPushButton>("applyToAll")->isEnabled());
    EXPECT_EQ(f.texts("progressPercent").value(0), QStringLiteral("12%"));
    // Remove buttons lock for the run; the running row offers cancel instead.
    EXPECT_EQ(
        sourceRows(f),
        QStringList({
            R"(<b>x<i>.mkv | Transcribing speech  13% | 0.125 | - | cancel on "Cancel transcription batch")",
            R"(second.mkv | Waiting in batch | - | - | remove off "Remove second.mkv")",
        }));

    f.model.selectSource(f.state().sources.at(1).id);
    f.settle();
    EXPECT_EQ(f.firstSlot()->text(), QStringLiteral("Queued"));
    EXPECT_FALSE(f.firstSlot()->isEnabled());

    f.transcriber->open = true;
    ASSERT_TRUE(tavtest::waitUntil([&] { return !f.state().isTranscribing; }));
    f.settle();
    EXPECT_EQ(f.firstSlot()->text(), QStringLiteral("Clear Transcript"));
    EXPECT_EQ(f.texts("cueCount").value(0), QStringLiteral("2 cues"));
    EXPECT_EQ(sourceRows(f),
              QStringList({
                  R"(<b>x<i>.mkv | 2 cues | - | marked | remove on "Remove <b>x<i>.mkv")",
                  R"(second.mkv | 2 cues | - | marked | remove on "Remove second.mkv")",
              }));
    auto* exportMedia = f.find<QPushButton>("exportMedia");
    EXPECT_TRUE(exportMedia->isVisibleTo(&f.view));
    f.model.setMediaOutputContainer(OutputContainer::webm);
    f.settle();
    const auto blocker = f.state().mediaExportBlocker();
    ASSERT_TRUE(blocker);
    EXPECT_FALSE(exportMedia->isEnabled());
    EXPECT_TRUE(exportMedia->toolTip().contains(QString::fromStdString(*blocker).left(20)));
    // The reasons of disabled exports are in words beside their buttons.
    const auto reason = [&](const char* name) {
        auto* line = f.find<StatusLine>(name);
        return line->isVisibleTo(&f.view) ? line->text().toStdString() : std::string("hidden");
    };
    EXPECT_EQ(reason("exportMediaReason"), *blocker);
    EXPECT_EQ(reason("exportSelectedReason"), *f.state().batchMediaExportBlocker());
    for (const auto& source : f.state().sources) {
        f.model.setExportSelection(false, source.id);
    }
    f.settle();
    EXPECT_FALSE(f.find<QPushButton>("exportSelected")->isEnabled());
    EXPECT_EQ(reason("exportSelectedReason"), f.state().batchMediaExportBlocker().value_or(""));
    f.model.setMediaOutputContainer(OutputContainer::mkv);
    f.settle();
    EXPECT_TRUE(exportMedia->isEnabled());
    EXPECT_EQ(reason("exportMediaReason"), "hidden");

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
    // The cleared source can no longer be marked for export.
    EXPECT_EQ(
        sourceRows(f).value(1),
        QStringLiteral(R"(second.mkv | Ready | - | unmarked off | remove on "Remove second.mkv")"));
}

TEST(TranscriptionWorkspaceView, SearchHitsAndBatchReplacementConfirmation) {
    Fixture f;
    f.addAndInspect({"a.mkv", "b.mkv", "c.mkv"});
    f.model.transcribeAllReadySources();
    ASSERT_TRUE(tavtest::waitUntil([&] { return f.state().transcribedSourceCount() == 3; }));
    f.settle();

    f.view.resize(1200, 800);
    f.view.show();

    // One row per hit, in source order; a click opens the hit's source.
    f.model.setBatchTranscriptSearch("HI");
    settleSearch(f);
    auto* results = f.find<QListView>("searchResults");
    EXPECT_EQ(resultRows(f), QStringList({
                                 QStringLiteral("a.mkv 00:00:09 <i>hi</i> again"),
                                 QStringLiteral("b.mkv 00:00:09 <i>hi</i> again"),
                                 QStringLiteral("c.mkv 00:00:09 <i>hi</i> again"),
                             }));
    f.model.setBatchTranscriptSearch("hello");
    settleSearch(f);
    ASSERT_EQ(results->model()->rowCount(), 3);
    EXPECT_TRUE(results->isVisibleTo(&f.view));
    QTest::mouseClick(results->viewport(), Qt::LeftButton, {},
                      results->visualRect(results->model()->index(2, 0)).center());
    f.settle();
    EXPECT_EQ(f.state().selectedSourceID, f.state().sources.at(2).id);
    EXPECT_TRUE(f.state().batchTranscriptSearch.empty());
    EXPECT_TRUE(f.find<QListView>("sourceList")->isVisibleTo(&f.view));
    // The review list took the request: it scrolled and cleared it.
    EXPECT_FALSE(f.state().requestedCueID.has_value());

    // Until the worker answers, the list stays: no "No Results" flashes while typing.
    f.model.setBatchTranscriptSearch("nothing here");
    f.view.render();
    EXPECT_TRUE(f.model.isBatchSearchPending());
    EXPECT_TRUE(results->isVisibleTo(&f.view));
    settleSearch(f);
    auto* noResults = f.find<ContentUnavailableView>("noSearchResults");
    ASSERT_NE(noResults, nullptr);
    EXPECT_TRUE(noResults->isVisibleTo(&f.view));
    EXPECT_EQ(noResults->title(), QStringLiteral("No Results for “nothing here”"));
    f.model.setBatchTranscriptSearch("");
    f.settle();
    EXPECT_TRUE(f.find<QListView>("sourceList")->isVisibleTo(&f.view));

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

TEST(TranscriptionWorkspaceView, RowControlsActThroughTheViewModelUnderTheModelTester) {
    Fixture f;
    f.view.resize(1200, 800);
    f.view.show();
    auto* list = sourceList(f);
    QAbstractItemModelTester sourceTester(list->sourceModel(),
                                          QAbstractItemModelTester::FailureReportingMode::Fatal);
    QAbstractItemModelTester resultTester(list->searchResultModel(),
                                          QAbstractItemModelTester::FailureReportingMode::Fatal);
    f.addAndInspect({"a.mkv", "b.mkv", "c.mkv"});

    // The running row's cancel button stops the run; the source is ready again.
    f.transcriber->open = false;
    f.model.transcribeAllReadySources();
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return f.state().progress == TranscriptionProgress::transcribing(0.125); }));
    f.settle();
    clickSourceControl(f, 1, false);  // a locked remove button does nothing
    clickSourceControl(f, 0, true);   // nor does a hidden mark
    EXPECT_EQ(f.state().sources.size(), 3u);
    EXPECT_EQ(f.state().selectedSourceID, f.state().sources.at(0).id);
    clickSourceControl(f, 0, false);
    ASSERT_TRUE(tavtest::waitUntil([&] { return !f.state().isTranscribing; }));
    f.settle();
    EXPECT_EQ(f.state().sources.at(0).status.kind, Kind::ready);

    f.transcriber->open = true;
    f.model.transcribeAllReadySources();
    ASSERT_TRUE(tavtest::waitUntil([&] { return f.state().transcribedSourceCount() == 3; }));
    f.settle();
    // A click on a mark toggles it and leaves the selection; a click on the row selects it.
    clickSourceControl(f, 2, true);
    f.settle();
    EXPECT_FALSE(f.state().selectedExportSourceIDs.contains(f.state().sources.at(2).id));
    EXPECT_EQ(f.state().selectedSourceID, f.state().sources.at(0).id);
    auto* view = f.find<QListView>("sourceList");
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(view->model()->index(1, 0)).center());
    f.settle();
    EXPECT_EQ(f.state().selectedSourceID, f.state().sources.at(1).id);
    EXPECT_EQ(view->currentIndex().row(), 1);
    // The space key toggles the current row's mark, as a click on it does.
    QTest::keyClick(view, Qt::Key_Space);
    f.settle();
    EXPECT_FALSE(f.state().selectedExportSourceIDs.contains(f.state().sources.at(1).id));
    QTest::keyClick(view, Qt::Key_Space);
    f.settle();
    EXPECT_TRUE(f.state().selectedExportSourceIDs.contains(f.state().sources.at(1).id));

    f.model.setBatchTranscriptSearch("again");
    settleSearch(f);
    EXPECT_EQ(list->searchResultModel()->rowCount(), 3);
    f.model.setBatchTranscriptSearch("");
    f.settle();

    // Removing the first source through its button moves the selection to the new first row.
    const Uuid removed = f.state().sources.at(0).id;
    f.model.selectSource(removed);
    f.settle();
    clickSourceControl(f, 0, false);
    f.settle();
    ASSERT_EQ(f.state().sources.size(), 2u);
    // Delete removes the current source too; the last one is then kept for the next check.
    f.model.addSources({f.file("d.mkv")});
    f.settle();
    view->setCurrentIndex(view->model()->index(2, 0));
    QTest::keyClick(view, Qt::Key_Delete);
    f.settle();
    EXPECT_EQ(f.state().source(removed), nullptr);
    EXPECT_EQ(view->currentIndex().row(), 0);
    EXPECT_EQ(sourceRows(f), QStringList({
                                 R"(b.mkv | 2 cues | - | marked | remove on "Remove b.mkv")",
                                 R"(c.mkv | 2 cues | - | unmarked | remove on "Remove c.mkv")",
                             }));
}

TEST(TranscriptionWorkspaceView, SearchFollowsCueEditsAndDropsStaleQueries) {
    Fixture f;
    f.addAndInspect({"a.mkv", "b.mkv"});
    f.model.transcribeAllReadySources();
    ASSERT_TRUE(tavtest::waitUntil([&] { return f.state().transcribedSourceCount() == 2; }));
    f.settle();

    // Only the newest query's search answers: "hello"'s outcome is dropped, not published.
    f.model.setBatchTranscriptSearch("hello");
    f.model.setBatchTranscriptSearch("again");
    std::vector<std::vector<BatchTranscriptSearchResult>> answers;
    QObject::connect(&f.model, &TranscriptionViewModel::changed, &f.view, [&] {
        if (!f.model.isBatchSearchPending()) {
            answers.push_back(*f.model.batchSearchResults());
        }
    });
    settleSearch(f);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers.front(), *f.model.batchSearchResults());
    EXPECT_EQ(resultRows(f), QStringList({
                                 QStringLiteral("a.mkv 00:00:09 <i>hi</i> again"),
                                 QStringLiteral("b.mkv 00:00:09 <i>hi</i> again"),
                             }));

    // An edit of the selected transcript is searched again; the other source's cues are kept.
    auto cues = f.state().cues();
    cues.front().text = "Once AGAIN";
    f.model.setCues(cues);
    EXPECT_TRUE(f.model.isBatchSearchPending());
    settleSearch(f);
    EXPECT_EQ(resultRows(f), QStringList({
                                 QStringLiteral("a.mkv 00:00:01 Once AGAIN"),
                                 QStringLiteral("a.mkv 00:00:09 <i>hi</i> again"),
                                 QStringLiteral("b.mkv 00:00:09 <i>hi</i> again"),
                             }));
    // The export controls judge the cues as they are now, not as they were first checked.
    auto* exportSelected = f.find<QPushButton>("exportSelected");
    EXPECT_TRUE(exportSelected->isEnabled());
    cues.front().text = "  ";
    f.model.setCues(cues);
    f.settle();
    EXPECT_FALSE(exportSelected->isEnabled());
    EXPECT_TRUE(exportSelected->toolTip().contains(QStringLiteral("a.mkv: Subtitle cue text")))
        << exportSelected->toolTip().toStdString();
    cues.front().text = "Once again";
    f.model.setCues(cues);
    f.settle();
    EXPECT_TRUE(exportSelected->isEnabled());

    // Removing a source drops its hits too.
    f.model.removeSource(f.state().sources.at(1).id);
    f.model.addSources({f.file("c.mkv")});
    settleSearch(f);
    EXPECT_EQ(resultRows(f).size(), 2);
}
