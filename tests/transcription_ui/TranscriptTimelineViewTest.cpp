// The timeline: card placement, zoom clamp and texts, cards per conversation, zoom controls and
// wheel, and the conversation detail.
#include "TranscriptionViewFixture.h"

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

    // By keyboard: the cards take focus, an arrow moves to the next one and Return opens it.
    area->setReviewMode(TranscriptReviewMode::timeline);
    f.settle();
    auto* cards = timeline->widget();
    EXPECT_EQ(cards->focusPolicy(), Qt::StrongFocus);
    QTest::keyClick(cards, Qt::Key_Down);
    QTest::keyClick(cards, Qt::Key_Down);
    QTest::keyClick(cards, Qt::Key_Return);
    f.settle();
    EXPECT_EQ(area->selectedConversationID(), timeline->conversations().at(2).id);
}
