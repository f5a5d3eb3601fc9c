// The review list: the low-confidence mark, the chapter divider under the pointer, in-place
// edits, screen-reader texts, the chapter panel's sort, and centring a requested or found cue.
#include "TranscriptionViewFixture.h"

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
    EXPECT_TRUE(f.find<QLineEdit>("transcriptSearch")->isVisible());
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
    EXPECT_EQ(model->index(1).data(Qt::AccessibleTextRole).toString(),
              QStringLiteral("Cue 2, 00:00:05.000: line 2"));
    EXPECT_EQ(model->index(1).data(Qt::AccessibleDescriptionRole).toString(),
              QStringLiteral("Add chapter marker at 00:00:05.000"));

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
    EXPECT_EQ(model->index(1).data(Qt::AccessibleDescriptionRole).toString(),
              QStringLiteral("Chapter marker at 00:00:05.000"));

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

    // A search hit opens with Return.
    f.model.setTranscriptSearch("line 120");
    f.settle();
    auto* results = f.find<QListWidget>("transcriptResults");
    results->setCurrentRow(0);
    QTest::keyClick(results, Qt::Key_Return);
    f.settle();
    EXPECT_NEAR(list->indexAt(list->viewport()->rect().center()).row(), 119, 1);
}
