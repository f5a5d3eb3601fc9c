#include "transcription/TranscriptReviewArea.h"

#include <QDoubleValidator>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "transcription/TranscriptCueList.h"
#include "transcription/TranscriptTimelineView.h"
#include "transcription/TranscriptionSourceText.h"
#include "transcription/TranscriptionViewModel.h"
#include "transcription/TranscriptionWorkspaceSupport.h"
#include "widgets/AppStyle.h"
#include "widgets/ContentUnavailableView.h"
#include "widgets/FieldText.h"
#include "widgets/RetiredWidget.h"
#include "widgets/SymbolIcons.h"

namespace tavrolin {

namespace {

// The timeline's time text: whole seconds rounded half away from zero, negative as zero.
QString roundedTimeText(double seconds) {
    return QString::fromStdString(clockTimeText(std::max(0.0, std::round(seconds))));
}

QToolButton* iconButton(const QString& symbol, const QString& name) {
    auto* button = new QToolButton;
    button->setIcon(symbolIcon(symbol));
    button->setAutoRaise(true);
    button->setToolTip(name);
    button->setAccessibleName(name);
    return button;
}

}  // namespace

QString timelineZoomText(double zoom) {
    const double tenths = std::round(zoom * 10);
    const int digits = std::fmod(tenths, 10) == 0 ? 0 : 1;
    return QLocale().toString(tenths / 10, 'f', digits) + QStringLiteral("×");
}

TranscriptReviewArea::TranscriptReviewArea(TranscriptionViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* header = new QVBoxLayout;
    header->setContentsMargins(16, 16, 16, 16);
    header->setSpacing(10);
    auto* titleRow = new QHBoxLayout;
    title_ = plainTextLabel(QStringLiteral("Transcript"));
    title_->setFont(fontFor(TextStyle::headline, QFont::DemiBold));
    matchCount_ = secondaryLabel();
    matchCount_->setObjectName(QStringLiteral("matchCount"));
    titleRow->addWidget(title_);
    titleRow->addStretch(1);
    titleRow->addWidget(matchCount_);
    listMode_ = new QPushButton(QStringLiteral("List"));
    listMode_->setObjectName(QStringLiteral("listMode"));
    timelineMode_ = new QPushButton(QStringLiteral("Timeline"));
    timelineMode_->setObjectName(QStringLiteral("timelineMode"));
    for (auto* button : {listMode_, timelineMode_}) {
        button->setCheckable(true);
        button->setAutoExclusive(true);
        titleRow->addWidget(button);
    }
    listMode_->setChecked(true);
    header->addLayout(titleRow);
    connect(listMode_, &QPushButton::clicked, this,
            [this] { setReviewMode(TranscriptReviewMode::list); });
    connect(timelineMode_, &QPushButton::clicked, this,
            [this] { setReviewMode(TranscriptReviewMode::timeline); });

    searchRow_ = new QWidget;
    auto* searchRow = new QHBoxLayout(searchRow_);
    searchRow->setContentsMargins(0, 0, 0, 0);
    searchRow->setSpacing(8);
    search_ = new QLineEdit;
    search_->setObjectName(QStringLiteral("transcriptSearch"));
    search_->setPlaceholderText(QStringLiteral("Search this transcript"));
    search_->setAccessibleName(QStringLiteral("Search this transcript"));
    addSearchIcon(search_);
    clearSearch_ = new QToolButton;
    clearSearch_->setObjectName(QStringLiteral("clearTranscriptSearch"));
    clearSearch_->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill")));
    clearSearch_->setAutoRaise(true);
    clearSearch_->setToolTip(QStringLiteral("Clear search"));
    clearSearch_->setAccessibleName(QStringLiteral("Clear search"));
    searchRow->addWidget(search_, 1);
    searchRow->addWidget(clearSearch_);
    header->addWidget(searchRow_);
    auto* hint =
        secondaryLabel(QStringLiteral("Edit dialogue directly. Move the pointer into a gap "
                                      "between cues to reveal the chapter control."));
    hint->setWordWrap(true);
    header->addWidget(hint);
    hint_ = hint;
    header->addWidget(makeTimelineControls());
    layout->addLayout(header);
    layout->addWidget(dividerLine(QFrame::HLine));
    followFieldText(search_, this, [this](const QString& text) {
        viewModel_.setTranscriptSearch(text.toStdString());
    });
    connect(clearSearch_, &QToolButton::clicked, this,
            [this] { viewModel_.setTranscriptSearch({}); });

    content_ = new QStackedWidget;
    cueList_ = new TranscriptCueListView;
    cueList_->cueModel()->onEdit = [this](std::vector<SubtitleCue> cues) {
        viewModel_.setCues(std::move(cues));
    };
    cueList_->cueModel()->hasChapter = [this](double time) {
        return viewModel_.state().hasChapter(time);
    };
    cueList_->onAddChapter = [this](const SubtitleCue& cue) { viewModel_.addChapterAtCue(cue); };
    results_ = new QListWidget;
    results_->setObjectName(QStringLiteral("transcriptResults"));
    results_->setAccessibleName(QStringLiteral("Search results"));
    results_->setWordWrap(true);
    results_->setFrameShape(QFrame::NoFrame);
    noResults_ = new QWidget;
    content_->addWidget(cueList_);
    content_->addWidget(results_);
    content_->addWidget(noResults_);
    timeline_ = new TranscriptTimelineView;
    timeline_->onSelect = [this](const TranscriptConversation& conversation) {
        setSelectedConversationID(conversation.id);
    };
    timeline_->onZoom = [this](double zoom) { setTimelineZoom(zoom); };
    content_->addWidget(timeline_);
    content_->addWidget(makeConversationDetail());
    layout->addWidget(content_, 1);
    // A click or Return opens the hit.
    const auto openResult = [this](QListWidgetItem* item) {
        const int row = results_->row(item);
        if (row < 0 || row >= static_cast<int>(resultIDs_.size())) {
            return;
        }
        const std::int64_t id = resultIDs_[row];
        viewModel_.setTranscriptSearch({});
        viewModel_.setRequestedCueID(id);
    };
    connect(results_, &QListWidget::itemClicked, this, openResult);
    connect(results_, &QListWidget::itemActivated, this, openResult);
}

void TranscriptReviewArea::renderResults() {
    const auto filtered = viewModel_.state().filteredCues();
    if (filtered.empty()) {
        auto* empty = new ContentUnavailableView(
            QStringLiteral("No Results for “%1”")
                .arg(QString::fromStdString(viewModel_.state().transcriptSearch)),
            QStringLiteral("magnifyingglass"),
            QStringLiteral("Check the spelling or try a new search."));
        empty->setObjectName(QStringLiteral("noTranscriptResults"));
        content_->removeWidget(noResults_);
        noResults_->deleteLater();
        noResults_ = empty;
        content_->addWidget(noResults_);
        content_->setCurrentWidget(noResults_);
        return;
    }
    results_->clear();
    resultIDs_.clear();
    for (const auto& cue : filtered) {
        auto* item = new QListWidgetItem(roundedTimeText(cue.startTime) + QStringLiteral("   ") +
                                         QString::fromStdString(cue.text));
        item->setIcon(symbolIcon(QStringLiteral("arrow.right.circle")));
        item->setToolTip(plainToolTip(QStringLiteral("Open this cue in the transcript")));
        results_->addItem(item);
        resultIDs_.push_back(cue.id);
    }
    content_->setCurrentWidget(results_);
}

void TranscriptReviewArea::render() {
    const auto& state = viewModel_.state();
    const QString query = QString::fromStdString(state.transcriptSearch);
    setFieldText(search_, query);
    const bool isList = reviewMode_ == TranscriptReviewMode::list;
    clearSearch_->setVisible(!query.isEmpty());
    matchCount_->setVisible(isList && !query.isEmpty());
    matchCount_->setText(QStringLiteral("%1 matches").arg(state.transcriptSearchMatchCount()));
    searchRow_->setVisible(isList);
    hint_->setVisible(isList);
    listMode_->setChecked(isList);
    timelineMode_->setChecked(!isList);
    cueList_->cueModel()->setCues(state.cues());
    if (!isList) {
        const auto conversations = state.conversations();
        const auto selected =
            std::ranges::find(conversations, selectedConversationID_, &TranscriptConversation::id);
        title_->setText(selected != conversations.end() ? QStringLiteral("Conversation")
                                                        : QStringLiteral("Transcript"));
        if (selected != conversations.end()) {
            timelineControls_->setVisible(false);
            summarizedFingerprint_.reset();
            renderDetail(*selected);
        } else {
            renderTimeline(conversations);
        }
        return;
    }
    title_->setText(QStringLiteral("Transcript"));
    timelineControls_->setVisible(false);
    summarizedFingerprint_.reset();
    if (state.isSearchingTranscript()) {
        renderResults();
        return;
    }
    content_->setCurrentWidget(cueList_);
    if (state.requestedCueID) {
        const std::int64_t id = *state.requestedCueID;
        cueList_->centreOn(id);
        viewModel_.setRequestedCueID(std::nullopt);
    }
}

QWidget* TranscriptReviewArea::makeTimelineControls() {
    timelineControls_ = new QWidget;
    auto* column = new QVBoxLayout(timelineControls_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(7);
    // The count beside "Refresh Summaries", the zoom on a row of its own: a review column beside
    // the chapters is too narrow for all of them on one row.
    auto* countRow = new QHBoxLayout;
    countRow->setSpacing(8);
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    conversationCount_ = secondaryLabel();
    conversationCount_->setObjectName(QStringLiteral("conversationCount"));
    // A narrow review column wraps the count rather than cutting it.
    conversationCount_->setWordWrap(true);
    countRow->addWidget(conversationCount_, 1);
    column->addLayout(countRow);
    refreshSummaries_ = new QPushButton(symbolIcon(QStringLiteral("sparkles")),
                                        QStringLiteral("Refresh Summaries"));
    refreshSummaries_->setObjectName(QStringLiteral("refreshSummaries"));
    fit_ = new QPushButton(QStringLiteral("Fit"));
    fit_->setObjectName(QStringLiteral("fit"));
    zoomOut_ = iconButton(QStringLiteral("minus.magnifyingglass"), QStringLiteral("Zoom Out"));
    zoomOut_->setObjectName(QStringLiteral("zoomOut"));
    zoomSlider_ = new QSlider(Qt::Horizontal);
    zoomSlider_->setObjectName(QStringLiteral("zoomSlider"));
    zoomSlider_->setRange(100, 3200);
    zoomSlider_->setMinimumWidth(60);
    zoomSlider_->setMaximumWidth(140);
    zoomSlider_->setAccessibleName(QStringLiteral("Vertical timeline zoom"));
    zoomReadout_ = plainTextLabel();
    zoomReadout_->setObjectName(QStringLiteral("zoomReadout"));
    zoomReadout_->setFont(fontFor(TextStyle::caption));
    zoomReadout_->setMinimumWidth(
        QFontMetrics(zoomReadout_->font()).horizontalAdvance(timelineZoomText(32.5)));
    zoomReadout_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    zoomIn_ = iconButton(QStringLiteral("plus.magnifyingglass"), QStringLiteral("Zoom In"));
    zoomIn_->setObjectName(QStringLiteral("zoomIn"));
    countRow->addWidget(refreshSummaries_);
    row->addStretch(1);
    row->addWidget(fit_);
    row->addWidget(zoomOut_);
    row->addWidget(zoomSlider_);
    row->addWidget(zoomReadout_);
    row->addWidget(zoomIn_);
    column->addLayout(row);
    noticeRow_ = new QWidget;
    auto* notice = new QHBoxLayout(noticeRow_);
    notice->setContentsMargins(0, 0, 0, 0);
    notice->setSpacing(6);
    noticeIcon_ = new QLabel;
    notice_ = secondaryLabel();
    notice_->setObjectName(QStringLiteral("summaryNotice"));
    notice_->setWordWrap(true);
    notice->addWidget(noticeIcon_);
    notice->addWidget(notice_, 1);
    column->addWidget(noticeRow_);

    connect(refreshSummaries_, &QPushButton::clicked, this,
            [this] { viewModel_.summarizeConversations(true); });
    connect(fit_, &QPushButton::clicked, this, [this] { setTimelineZoom(1.0); });
    connect(zoomOut_, &QToolButton::clicked, this,
            [this] { setTimelineZoom(clampedTimelineZoom(timelineZoom_ / 1.5)); });
    connect(zoomIn_, &QToolButton::clicked, this,
            [this] { setTimelineZoom(clampedTimelineZoom(timelineZoom_ * 1.5)); });
    connect(zoomSlider_, &QSlider::valueChanged, this, [this](int value) {
        if (std::lround(timelineZoom_ * 100) != value) {
            setTimelineZoom(value / 100.0);
        }
    });
    return timelineControls_;
}

QWidget* TranscriptReviewArea::makeConversationDetail() {
    detail_ = new QWidget;
    detail_->setObjectName(QStringLiteral("conversationDetail"));
    auto* layout = new QVBoxLayout(detail_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* header = new QVBoxLayout;
    header->setContentsMargins(16, 16, 16, 16);
    header->setSpacing(8);
    auto* back = new QPushButton(symbolIcon(QStringLiteral("chevron.left")),
                                 QStringLiteral("Full Timeline"));
    back->setObjectName(QStringLiteral("fullTimeline"));
    back->setFlat(true);
    auto* row = new QHBoxLayout;
    detailTitle_ = plainTextLabel();
    detailTitle_->setFont(fontFor(TextStyle::headline, QFont::DemiBold));
    detailRange_ = secondaryLabel();
    row->addWidget(detailTitle_);
    row->addStretch(1);
    row->addWidget(detailRange_);
    detailSummary_ = secondaryLabel({}, TextStyle::callout);
    detailSummary_->setObjectName(QStringLiteral("conversationSummary"));
    detailSummary_->setWordWrap(true);
    header->addWidget(back, 0, Qt::AlignLeft);
    header->addLayout(row);
    header->addWidget(detailSummary_);
    layout->addLayout(header);
    layout->addWidget(dividerLine(QFrame::HLine));
    detailCues_ = new TranscriptCueListView;
    detailCues_->setObjectName(QStringLiteral("conversationCues"));
    detailCues_->setAccessibleName(QStringLiteral("Subtitle cues of the conversation"));
    // The detail shows some of the cues; an edit goes into the full list by id.
    detailCues_->cueModel()->onEdit = [this](std::vector<SubtitleCue> edited) {
        auto cues = viewModel_.state().cues();
        for (auto& cue : cues) {
            const auto match = std::ranges::find(edited, cue.id, &SubtitleCue::id);
            if (match != edited.end()) {
                cue.text = match->text;
            }
        }
        viewModel_.setCues(std::move(cues));
    };
    detailCues_->cueModel()->hasChapter = cueList_->cueModel()->hasChapter;
    detailCues_->onAddChapter = cueList_->onAddChapter;
    layout->addWidget(detailCues_, 1);
    connect(back, &QPushButton::clicked, this, [this] { setSelectedConversationID(std::nullopt); });
    return detail_;
}

void TranscriptReviewArea::renderTimeline(
    const std::vector<TranscriptConversation>& conversations) {
    const auto& state = viewModel_.state();
    const auto availability = viewModel_.summaryAvailability();
    timelineControls_->setVisible(true);
    conversationCount_->setText(QString::fromStdString(workspace::plural(
                                    static_cast<int>(conversations.size()), "conversation")) +
                                QStringLiteral(" · vertical time scale"));
    refreshSummaries_->setVisible(availability.isAvailable);
    refreshSummaries_->setEnabled(!state.isSummarizingConversations);
    fit_->setEnabled(timelineZoom_ != 1.0);
    zoomOut_->setEnabled(timelineZoom_ > 1);
    zoomIn_->setEnabled(timelineZoom_ < 32);
    {
        const QSignalBlocker blocker(zoomSlider_);
        zoomSlider_->setValue(static_cast<int>(std::lround(timelineZoom_ * 100)));
    }
    zoomReadout_->setText(timelineZoomText(timelineZoom_));
    noticeRow_->setVisible(state.conversationSummaryNotice.has_value());
    notice_->setText(QString::fromStdString(state.conversationSummaryNotice.value_or("")));
    const QString symbol = state.isSummarizingConversations ? QStringLiteral("hourglass")
                           : availability.isAvailable       ? QStringLiteral("sparkles")
                                                            : QStringLiteral("info.circle");
    noticeIcon_->setPixmap(symbolIcon(symbol).pixmap(14, 14));
    timeline_->setContent(conversations, state.chapters(), state.conversationSummaries,
                          state.isSummarizingConversations, timelineZoom_);
    content_->setCurrentWidget(timeline_);
    // Summaries are asked for when the timeline shows and whenever the conversations change;
    // a newer run supersedes one still going.
    const std::uint64_t fingerprint = state.conversationFingerprint();
    if (summarizedFingerprint_ != fingerprint) {
        summarizedFingerprint_ = fingerprint;
        viewModel_.summarizeConversations(false);
    }
}

void TranscriptReviewArea::renderDetail(const TranscriptConversation& conversation) {
    detailTitle_->setText(QStringLiteral("Conversation %1").arg(conversation.ordinal));
    detailRange_->setText(QString::fromStdString(timelineTimeText(conversation.startTime)) +
                          QStringLiteral("–") +
                          QString::fromStdString(timelineTimeText(conversation.endTime)));
    detailSummary_->setText(
        QString::fromStdString(viewModel_.state().conversationSummaryText(conversation)));
    // The rows show the current text of each cue of the conversation.
    std::vector<SubtitleCue> cues;
    for (const auto& cue : viewModel_.state().cues()) {
        if (std::ranges::find(conversation.cues, cue.id, &SubtitleCue::id) !=
            conversation.cues.end()) {
            cues.push_back(cue);
        }
    }
    detailCues_->cueModel()->setCues(cues);
    content_->setCurrentWidget(detail_);
}

void TranscriptReviewArea::setReviewMode(TranscriptReviewMode mode) {
    reviewMode_ = mode;
    if (mode == TranscriptReviewMode::list) {
        selectedConversationID_.reset();
    }
    render();
}

void TranscriptReviewArea::setTimelineZoom(double zoom) {
    timelineZoom_ = zoom;
    render();
}

void TranscriptReviewArea::setSelectedConversationID(std::optional<std::int64_t> id) {
    selectedConversationID_ = id;
    render();
}

ChapterMarkerEditor::ChapterMarkerEditor(int number, const ChapterMarker& chapter, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("chapterEditor"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);
    auto* header = new QHBoxLayout;
    number_ = plainTextLabel();
    number_->setObjectName(QStringLiteral("chapterNumber"));
    number_->setFont(fontFor(TextStyle::caption, QFont::DemiBold));
    remove_ = new QToolButton;
    remove_->setObjectName(QStringLiteral("removeChapter"));
    remove_->setIcon(symbolIcon(QStringLiteral("trash")));
    remove_->setAutoRaise(true);
    remove_->setToolTip(QStringLiteral("Remove chapter"));
    header->addWidget(number_);
    header->addStretch(1);
    header->addWidget(remove_);
    layout->addLayout(header);
    title_ = new QLineEdit;
    title_->setObjectName(QStringLiteral("chapterTitle"));
    title_->setPlaceholderText(QStringLiteral("Chapter title"));
    layout->addWidget(title_);
    auto* startRow = new QHBoxLayout;
    auto* startsAt = plainTextLabel(QStringLiteral("Starts at"));
    startsAt->setFont(fontFor(TextStyle::caption));
    startTime_ = new QLineEdit;
    startTime_->setObjectName(QStringLiteral("chapterStart"));
    startTime_->setPlaceholderText(QStringLiteral("Time"));
    startTime_->setFixedWidth(112);
    startRow->addWidget(startsAt);
    startRow->addStretch(1);
    startRow->addWidget(startTime_);
    layout->addLayout(startRow);
    setChapter(number, chapter);

    connect(remove_, &QToolButton::clicked, this, [this] { emit removeRequested(chapter_.id); });
    followFieldText(title_, this, [this](const QString& text) {
        chapter_.title = text.toStdString();
        emit changed(chapter_);
    });
    // Typing changes the time when the field is left (a time typed halfway would move the
    // chapter); a change made without the focus, such as an accessibility interface's, at once.
    connect(startTime_, &QLineEdit::editingFinished, this, &ChapterMarkerEditor::commitStartTime);
    followFieldText(startTime_, this, [this](const QString&) {
        if (!startTime_->hasFocus()) {
            commitStartTime();
        }
    });
}

void ChapterMarkerEditor::setChapter(int number, const ChapterMarker& chapter) {
    chapter_ = chapter;
    number_->setText(QStringLiteral("Chapter %1").arg(number));
    remove_->setAccessibleName(QStringLiteral("Remove chapter %1").arg(number));
    title_->setAccessibleName(QStringLiteral("Chapter %1 title").arg(number));
    startTime_->setAccessibleName(QStringLiteral("Chapter %1 start time in seconds").arg(number));
    const QString title = QString::fromStdString(chapter.title);
    if (setFieldText(title_, title)) {
        // A long title set from outside reads from its start.
        if (!title_->hasFocus()) {
            title_->setCursorPosition(0);
        }
    }
    if (!startTime_->hasFocus()) {
        setFieldText(startTime_, QLocale().toString(chapter.startTime, 'f', 3));
    }
}

// Only text the locale reads as a number changes the time.
void ChapterMarkerEditor::commitStartTime() {
    bool ok = false;
    const double value = QLocale().toDouble(startTime_->text(), &ok);
    if (!ok || !std::isfinite(value)) {
        setFieldText(startTime_, QLocale().toString(chapter_.startTime, 'f', 3));
        return;
    }
    chapter_.startTime = value;
    emit changed(chapter_);
}

QWidget* ChapterMarkerEditor::followTabOrder(QWidget* previous) {
    QWidget::setTabOrder(previous, remove_);
    QWidget::setTabOrder(remove_, title_);
    QWidget::setTabOrder(title_, startTime_);
    return startTime_;
}

ChapterPanel::ChapterPanel(TranscriptionViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* header = new QVBoxLayout;
    header->setContentsMargins(16, 16, 16, 16);
    header->setSpacing(8);
    auto* row = new QHBoxLayout;
    auto* title = plainTextLabel(QStringLiteral("Chapters"));
    title->setFont(fontFor(TextStyle::headline, QFont::DemiBold));
    count_ = plainTextLabel();
    count_->setObjectName(QStringLiteral("chapterCount"));
    count_->setFont(fontFor(TextStyle::caption));
    sort_ =
        new QPushButton(symbolIcon(QStringLiteral("arrow.up.arrow.down")), QStringLiteral("Sort"));
    sort_->setObjectName(QStringLiteral("sortChapters"));
    disclosure_ = new QToolButton;
    disclosure_->setObjectName(QStringLiteral("showChapters"));
    disclosure_->setAutoRaise(true);
    disclosure_->setCheckable(true);
    disclosure_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    disclosure_->setAccessibleName(QStringLiteral("Show chapters"));
    disclosure_->hide();
    row->addWidget(title);
    row->addWidget(count_);
    row->addStretch(1);
    row->addWidget(sort_);
    row->addWidget(disclosure_);
    header->addLayout(row);
    body_ = new QWidget;
    auto* bodyLayout = new QVBoxLayout(body_);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    bodyLayout->setSpacing(0);
    auto* note = secondaryLabel(
        QStringLiteral("Existing chapters and markers you add are included in the exported media "
                       "file."));
    note->setWordWrap(true);
    auto* noteMargins = new QVBoxLayout;
    noteMargins->setContentsMargins(16, 0, 16, 16);
    noteMargins->addWidget(note);
    bodyLayout->addLayout(noteMargins);
    bodyLayout->addWidget(dividerLine(QFrame::HLine));
    header->setContentsMargins(16, 16, 16, 8);
    layout->addLayout(header);
    layout->addWidget(body_, 1);

    content_ = new QStackedWidget;
    content_->addWidget(
        new ContentUnavailableView(QStringLiteral("No Chapter Markers"), QStringLiteral("bookmark"),
                                   QStringLiteral("Use a + between transcript cues to add one.")));
    scroll_ = new QScrollArea;
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Its editors take the Tab stops; the area itself shows no focus.
    scroll_->setFocusPolicy(Qt::NoFocus);
    auto* list = new QWidget;
    editors_ = new QVBoxLayout(list);
    editors_->setContentsMargins(12, 12, 12, 20);
    editors_->setSpacing(10);
    editors_->addStretch(1);
    scroll_->setWidget(list);
    content_->addWidget(scroll_);
    bodyLayout->addWidget(content_, 1);
    connect(disclosure_, &QToolButton::toggled, this, [this](bool open) {
        opened_ = open;
        showBody();
        emit openedChanged();
    });

    connect(sort_, &QPushButton::clicked, this, [this] {
        auto chapters = viewModel_.state().chapters();
        std::ranges::stable_sort(chapters, {}, &ChapterMarker::startTime);
        viewModel_.setChapters(std::move(chapters));
    });
}

void ChapterPanel::setCompact(bool compact) {
    if (compact == compact_) {
        return;
    }
    compact_ = compact;
    showBody();
}

void ChapterPanel::showBody() {
    disclosure_->setVisible(compact_);
    disclosure_->setText(opened_ ? QStringLiteral("Hide") : QStringLiteral("Show"));
    disclosure_->setAccessibleName(opened_ ? QStringLiteral("Hide chapters")
                                           : QStringLiteral("Show chapters"));
    disclosure_->setIcon(
        symbolIcon(opened_ ? QStringLiteral("chevron.down") : QStringLiteral("chevron.right")));
    body_->setVisible(!compact_ || opened_);
}

void ChapterPanel::render() {
    const auto& chapters = viewModel_.state().chapters();
    count_->setText(QString::number(chapters.size()));
    sort_->setEnabled(chapters.size() >= 2);
    content_->setCurrentIndex(chapters.empty() ? 0 : 1);
    // Editors are kept while the count stays, so a field being typed in keeps its focus.
    while (editorWidgets_.size() > chapters.size()) {
        retireWidget(editorWidgets_.back());
        editorWidgets_.pop_back();
    }
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        if (i < editorWidgets_.size()) {
            editorWidgets_[i]->setChapter(number, chapters[i]);
            continue;
        }
        auto* editor = new ChapterMarkerEditor(number, chapters[i]);
        editors_->insertWidget(static_cast<int>(i), editor);
        editorWidgets_.push_back(editor);
        connect(editor, &ChapterMarkerEditor::changed, this, [this](const ChapterMarker& chapter) {
            auto edited = viewModel_.state().chapters();
            for (auto& marker : edited) {
                if (marker.id == chapter.id) {
                    marker = chapter;
                }
            }
            viewModel_.setChapters(std::move(edited));
        });
        connect(editor, &ChapterMarkerEditor::removeRequested, this,
                [this](const Uuid& id) { viewModel_.removeChapter(id); });
    }
    // Editors made later would come last in the Tab order; they follow the panel's header.
    QWidget* previous = disclosure_;
    for (ChapterMarkerEditor* editor : editorWidgets_) {
        previous = editor->followTabOrder(previous);
    }
    // The list never gets shorter than one whole editor.
    const QMargins margins = editors_->contentsMargins();
    scroll_->setMinimumHeight(editorWidgets_.empty() ? 0
                                                     : editorWidgets_.front()->sizeHint().height() +
                                                           margins.top() + margins.bottom());
}

}  // namespace tavrolin
