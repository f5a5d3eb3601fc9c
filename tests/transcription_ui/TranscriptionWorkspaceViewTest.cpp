// The workspace view over the real view model with fake services: the source rows, the action
// bar's first slot through a run, the export controls, the cross-transcript search and the
// replacement confirmation.
#include "TranscriptionViewFixture.h"

namespace {

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
