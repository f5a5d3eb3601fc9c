#include "transcription/TranscriptReviewArea.h"

#include <QDoubleValidator>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "app/AppStyle.h"
#include "app/ContentUnavailableView.h"
#include "app/SymbolIcons.h"
#include "transcription/TranscriptCueList.h"
#include "transcription/TranscriptionSourceList.h"
#include "transcription/TranscriptionViewModel.h"

namespace tavrolin {

namespace {

// The timeline's time text: whole seconds rounded half away from zero, negative as zero.
QString roundedTimeText(double seconds) {
    return QString::fromStdString(
        TranscriptionSourceList::searchResultTime(std::max(0.0, std::round(seconds))));
}

}  // namespace

TranscriptReviewArea::TranscriptReviewArea(TranscriptionViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* header = new QVBoxLayout;
    header->setContentsMargins(16, 16, 16, 16);
    header->setSpacing(10);
    auto* titleRow = new QHBoxLayout;
    auto* title = plainTextLabel(QStringLiteral("Transcript"));
    title->setFont(fontFor(TextStyle::headline, QFont::DemiBold));
    matchCount_ = plainTextLabel();
    matchCount_->setObjectName(QStringLiteral("matchCount"));
    matchCount_->setFont(fontFor(TextStyle::caption));
    setTextColor(matchCount_, secondaryTextColor(palette()));
    titleRow->addWidget(title);
    titleRow->addStretch(1);
    titleRow->addWidget(matchCount_);
    header->addLayout(titleRow);

    auto* searchRow = new QHBoxLayout;
    searchRow->setSpacing(8);
    search_ = new QLineEdit;
    search_->setObjectName(QStringLiteral("transcriptSearch"));
    search_->setPlaceholderText(QStringLiteral("Search this transcript"));
    search_->addAction(symbolIcon(QStringLiteral("magnifyingglass")), QLineEdit::LeadingPosition);
    clearSearch_ = new QToolButton;
    clearSearch_->setObjectName(QStringLiteral("clearTranscriptSearch"));
    clearSearch_->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill")));
    clearSearch_->setAutoRaise(true);
    clearSearch_->setToolTip(QStringLiteral("Clear search"));
    clearSearch_->setAccessibleName(QStringLiteral("Clear search"));
    searchRow->addWidget(search_, 1);
    searchRow->addWidget(clearSearch_);
    header->addLayout(searchRow);
    auto* hint =
        plainTextLabel(QStringLiteral("Edit dialogue directly. Move the pointer into a gap "
                                      "between cues to reveal the chapter control."));
    hint->setWordWrap(true);
    hint->setFont(fontFor(TextStyle::caption));
    setTextColor(hint, secondaryTextColor(palette()));
    header->addWidget(hint);
    layout->addLayout(header);
    layout->addWidget(dividerLine(QFrame::HLine));
    connect(search_, &QLineEdit::textEdited, this,
            [this](const QString& text) { viewModel_.setTranscriptSearch(text.toStdString()); });
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
    results_->setWordWrap(true);
    results_->setFrameShape(QFrame::NoFrame);
    noResults_ = new QWidget;
    content_->addWidget(cueList_);
    content_->addWidget(results_);
    content_->addWidget(noResults_);
    layout->addWidget(content_, 1);
    connect(results_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        const int row = results_->row(item);
        if (row < 0 || row >= static_cast<int>(resultIDs_.size())) {
            return;
        }
        const std::int64_t id = resultIDs_[row];
        viewModel_.setTranscriptSearch({});
        viewModel_.setRequestedCueID(id);
    });
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
    if (search_->text() != query) {
        search_->setText(query);
    }
    clearSearch_->setVisible(!query.isEmpty());
    matchCount_->setVisible(!query.isEmpty());
    matchCount_->setText(QStringLiteral("%1 matches").arg(state.transcriptSearchMatchCount()));
    cueList_->cueModel()->setCues(state.cues());
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
    auto* remove = new QToolButton;
    remove->setObjectName(QStringLiteral("removeChapter"));
    remove->setIcon(symbolIcon(QStringLiteral("trash")));
    remove->setAutoRaise(true);
    remove->setToolTip(QStringLiteral("Remove chapter"));
    remove->setAccessibleName(QStringLiteral("Remove chapter"));
    header->addWidget(number_);
    header->addStretch(1);
    header->addWidget(remove);
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

    connect(remove, &QToolButton::clicked, this, [this] { emit removeRequested(chapter_.id); });
    connect(title_, &QLineEdit::textEdited, this, [this](const QString& text) {
        chapter_.title = text.toStdString();
        emit changed(chapter_);
    });
    // Only text the locale reads as a number changes the time.
    connect(startTime_, &QLineEdit::editingFinished, this, [this] {
        bool ok = false;
        const double value = QLocale().toDouble(startTime_->text(), &ok);
        if (!ok || !std::isfinite(value)) {
            startTime_->setText(QLocale().toString(chapter_.startTime, 'f', 3));
            return;
        }
        chapter_.startTime = value;
        emit changed(chapter_);
    });
}

void ChapterMarkerEditor::setChapter(int number, const ChapterMarker& chapter) {
    chapter_ = chapter;
    number_->setText(QStringLiteral("Chapter %1").arg(number));
    title_->setAccessibleName(QStringLiteral("Chapter %1 title").arg(number));
    startTime_->setAccessibleName(QStringLiteral("Chapter %1 start time in seconds").arg(number));
    const QString title = QString::fromStdString(chapter.title);
    if (title_->text() != title) {
        title_->setText(title);
    }
    if (!startTime_->hasFocus()) {
        startTime_->setText(QLocale().toString(chapter.startTime, 'f', 3));
    }
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
    row->addWidget(title);
    row->addWidget(count_);
    row->addStretch(1);
    row->addWidget(sort_);
    header->addLayout(row);
    auto* note = plainTextLabel(
        QStringLiteral("Existing chapters and markers you add are included in the exported media "
                       "file."));
    note->setWordWrap(true);
    note->setFont(fontFor(TextStyle::caption));
    setTextColor(note, secondaryTextColor(palette()));
    header->addWidget(note);
    layout->addLayout(header);
    layout->addWidget(dividerLine(QFrame::HLine));

    content_ = new QStackedWidget;
    content_->addWidget(
        new ContentUnavailableView(QStringLiteral("No Chapter Markers"), QStringLiteral("bookmark"),
                                   QStringLiteral("Use a + between transcript cues to add one.")));
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* list = new QWidget;
    editors_ = new QVBoxLayout(list);
    editors_->setContentsMargins(12, 12, 12, 20);
    editors_->setSpacing(10);
    editors_->addStretch(1);
    scroll->setWidget(list);
    content_->addWidget(scroll);
    layout->addWidget(content_, 1);

    connect(sort_, &QPushButton::clicked, this, [this] {
        auto chapters = viewModel_.state().chapters();
        std::ranges::stable_sort(chapters, {}, &ChapterMarker::startTime);
        viewModel_.setChapters(std::move(chapters));
    });
}

void ChapterPanel::render() {
    const auto& chapters = viewModel_.state().chapters();
    count_->setText(QString::number(chapters.size()));
    sort_->setEnabled(chapters.size() >= 2);
    content_->setCurrentIndex(chapters.empty() ? 0 : 1);
    // Editors are kept while the count stays, so a field being typed in keeps its focus.
    while (editorWidgets_.size() > chapters.size()) {
        delete editorWidgets_.back();
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
}

}  // namespace tavrolin
