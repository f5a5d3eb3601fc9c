#include "transcription/TranscriptionView.h"

#include <QBoxLayout>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "preview/SplitPreviewViewModel.h"
#include "queue/JobQueueViewModel.h"
#include "transcription/SubtitleSyncReviewSheet.h"
#include "transcription/TranscriptReviewArea.h"
#include "transcription/TranscriptionSettingsPanel.h"
#include "transcription/TranscriptionSourceList.h"
#include "transcription/TranscriptionViewModel.h"
#include "transcription/TranscriptionWorkspaceSupport.h"
#include "widgets/AppStyle.h"
#include "widgets/ContentUnavailableView.h"
#include "widgets/ElidedLabel.h"
#include "widgets/FeatureHeader.h"
#include "widgets/FilePanels.h"
#include "widgets/QueueActivityPreview.h"
#include "widgets/SymbolIcons.h"
#include "widgets/WorkspaceColumn.h"

namespace tavrolin {

namespace {

// The transcript beside the chapter panel, which takes a third of the width within 250 to 340
// pixels; below that width the panel moves under the transcript, compact. Opened there, it shares
// the height while the transcript keeps its own minimum, and takes the whole body when both do
// not fit. Decided from the body's own size on every resize, the first one included, and when the
// panel opens or closes.
class ReviewBody : public QWidget {
  public:
    ReviewBody(QWidget* review, ChapterPanel* chapters) : review_(review), chapters_(chapters) {
        layout_ = new QBoxLayout(QBoxLayout::LeftToRight, this);
        layout_->setContentsMargins(0, 0, 0, 0);
        layout_->setSpacing(0);
        divider_ = dividerLine(QFrame::VLine);
        layout_->addWidget(review_, 1);
        layout_->addWidget(divider_);
        layout_->addWidget(chapters_);
        connect(chapters_, &ChapterPanel::openedChanged, this, [this] { arrange(); });
    }

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        arrange();
    }

  private:
    void arrange() {
        static constexpr int narrowestTranscript = 320;
        const bool sideBySide = width() >= narrowestTranscript + 250;
        layout_->setDirection(sideBySide ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom);
        divider_->setFrameShape(sideBySide ? QFrame::VLine : QFrame::HLine);
        chapters_->setCompact(!sideBySide);
        if (sideBySide) {
            chapters_->setFixedWidth(std::clamp(static_cast<int>(width() * 0.34), 250, 340));
            chapters_->setMaximumHeight(QWIDGETSIZE_MAX);
            review_->show();
            divider_->show();
            return;
        }
        chapters_->setMinimumWidth(0);
        chapters_->setMaximumWidth(QWIDGETSIZE_MAX);
        const int transcript = review_->minimumSizeHint().height() + divider_->sizeHint().height();
        const int panel = chapters_->minimumSizeHint().height();
        const bool both = !chapters_->isOpened() || transcript + panel <= height();
        review_->setVisible(both);
        divider_->setVisible(both);
        // The transcript comes first: the opened panel takes at most two fifths beside it.
        chapters_->setMaximumHeight(
            both ? std::max(panel, std::min(height() * 2 / 5, height() - transcript))
                 : QWIDGETSIZE_MAX);
    }

    QWidget* review_;
    ChapterPanel* chapters_;
    QFrame* divider_;
    QBoxLayout* layout_;
};

}  // namespace

TranscriptionView::TranscriptionView(TranscriptionViewModel& viewModel, JobQueueViewModel& queue,
                                     std::shared_ptr<PreviewPreparing> previewService,
                                     QWidget* parent)
    : QWidget(parent),
      viewModel_(viewModel),
      queue_(queue),
      previewService_(std::move(previewService)),
      refresh_(this, [this] { render(); }) {
    setWindowTitle(QStringLiteral("Transcribe"));
    mediaFileChooser_ = [this] { return chooseMediaFiles("transcribe", true, window()); };
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(24, 18, 24, 18);
    header->addWidget(new FeatureHeader(QStringLiteral("Transcribe Audio"),
                                        QStringLiteral("Select a source, then configure, "
                                                       "transcribe, search, and review it."),
                                        QStringLiteral("captions.bubble")),
                      1);
    auto* addFiles =
        new QPushButton(symbolIcon(QStringLiteral("plus")), QStringLiteral("Add Files…"));
    addFiles->setObjectName(QStringLiteral("addFiles"));
    header->addWidget(addFiles, 0, Qt::AlignTop);
    root->addLayout(header);
    root->addWidget(dividerLine(QFrame::HLine));
    connect(addFiles, &QPushButton::clicked, this,
            [this] { viewModel_.addSources(mediaFileChooser_()); });

    content_ = new QStackedWidget;
    root->addWidget(content_, 1);

    auto* empty = new QWidget;
    empty->setObjectName(QStringLiteral("emptyState"));
    auto* emptyLayout = new QVBoxLayout(empty);
    emptyLayout->setContentsMargins(24, 16, 24, 16);
    emptyLayout->setSpacing(16);
    emptyAvailability_ = new TranscriptionAvailabilityNote;
    emptyLayout->addWidget(emptyAvailability_);
    emptyLayout->addWidget(new ContentUnavailableView(
                               QStringLiteral("No source files"), QStringLiteral("film.stack"),
                               QStringLiteral("Drop files here or add them to create searchable "
                                              "transcripts.")),
                           1);
    content_->addWidget(empty);

    auto* workspace = new QWidget;
    workspace->setObjectName(QStringLiteral("workspace"));
    auto* columns = new QHBoxLayout(workspace);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);
    sourceList_ = new TranscriptionSourceList(viewModel_);
    sourceList_->setFocusHeir(addFiles);
    // A narrow window narrows the sources first: the review needs the width more.
    sourceList_->setMinimumWidth(250);
    sourceList_->setMaximumWidth(285);
    columns->addWidget(sourceList_, 2);
    columns->addWidget(dividerLine(QFrame::VLine));
    auto* detailColumn = new QWidget;
    auto* detailLayout = new QVBoxLayout(detailColumn);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    detailLayout->setSpacing(0);
    detail_ = new QStackedWidget;
    auto* setupPage = new QWidget;
    setupPage->setObjectName(QStringLiteral("setupPage"));
    setupPage->setWindowTitle(QStringLiteral("Transcription settings"));
    setupCard_ = new TranscriptionSetupCard(viewModel_);
    addScrollingColumn(setupPage, 760 + 2 * 28)->addWidget(setupCard_);
    detail_->addWidget(setupPage);
    detail_->addWidget(makeReviewLayout());
    detailLayout->addWidget(detail_, 1);
    queueDivider_ = dividerLine(QFrame::HLine);
    queuePreview_ = new QueueActivityPreview(&queue_);
    detailLayout->addWidget(queueDivider_);
    detailLayout->addWidget(queuePreview_);
    detailLayout->addWidget(dividerLine(QFrame::HLine));
    actionBar_ = new TranscriptionActionBar(viewModel_);
    actionBar_->setFocusHeir(addFiles);
    detailLayout->addWidget(actionBar_);
    columns->addWidget(detailColumn, 5);
    content_->addWidget(workspace);
    connect(actionBar_, &TranscriptionActionBar::clearRequested, this,
            &TranscriptionView::clearTranscript);

    connect(&viewModel_, &TranscriptionViewModel::changed, this, [this] { refresh_.schedule(); });
    connect(&queue_, &JobQueueViewModel::changed, this, [this] { refresh_.schedule(); });
    render();
}

QWidget* TranscriptionView::makeReviewLayout() {
    auto* review = new QWidget;
    review->setObjectName(QStringLiteral("reviewLayout"));
    auto* layout = new QVBoxLayout(review);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QVBoxLayout;
    header->setContentsMargins(24, 14, 24, 14);
    header->setSpacing(8);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(12);
    auto* icon = new QLabel;
    icon->setPixmap(tintedSymbolIcon(QStringLiteral("captions.bubble.fill"), accentColor(palette()))
                        .pixmap(24, 24));
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    auto* title = plainTextLabel(QStringLiteral("Review Transcript"));
    title->setFont(fontFor(TextStyle::title2, QFont::Bold));
    reviewFileName_ = new ElidedLabel;
    reviewFileName_->setFont(fontFor(TextStyle::callout));
    reviewFileName_->setTextColor(secondaryTextColor(palette()));
    reviewFileName_->setObjectName(QStringLiteral("reviewFileName"));
    titles->addWidget(title);
    titles->addWidget(reviewFileName_);
    cueCount_ = secondaryLabel({}, TextStyle::callout);
    cueCount_->setObjectName(QStringLiteral("cueCount"));
    titleRow->addWidget(icon);
    titleRow->addLayout(titles, 1);
    titleRow->addWidget(cueCount_);
    header->addLayout(titleRow);
    reviewProgress_ = new TranscriptionProgressBlock(false);
    header->addWidget(reviewProgress_);

    auto* timing = new QWidget;
    timing->setToolTip(
        QStringLiteral("Play the source with generated subtitles, then fine-tune their timing."));
    auto* timingRow = new QHBoxLayout(timing);
    timingRow->setContentsMargins(0, 0, 0, 0);
    timingRow->setSpacing(10);
    auto* clock = new QLabel;
    clock->setPixmap(symbolIcon(QStringLiteral("clock.arrow.2.circlepath")).pixmap(16, 16));
    auto* timingTitle = plainTextLabel(QStringLiteral("Subtitle timing"));
    timingTitle->setFont(fontFor(TextStyle::callout, QFont::Medium));
    timingOffset_ = secondaryLabel({}, TextStyle::callout);
    timingOffset_->setObjectName(QStringLiteral("timingOffset"));
    auto* sync = new QPushButton(symbolIcon(QStringLiteral("play.rectangle")),
                                 QStringLiteral("Sync with Video…"));
    sync->setObjectName(QStringLiteral("syncWithVideo"));
    timingRow->addWidget(clock);
    timingRow->addWidget(timingTitle);
    timingRow->addWidget(timingOffset_);
    timingRow->addStretch(1);
    timingRow->addWidget(sync);
    connect(sync, &QPushButton::clicked, this, &TranscriptionView::showSubtitleSync);
    header->addWidget(timing);
    reviewMessages_ = new TranscriptionStatusMessages;
    header->addWidget(reviewMessages_);
    layout->addLayout(header);
    layout->addWidget(dividerLine(QFrame::HLine));

    reviewArea_ = new TranscriptReviewArea(viewModel_);
    reviewArea_->setObjectName(QStringLiteral("reviewArea"));
    chapterPanel_ = new ChapterPanel(viewModel_);
    chapterPanel_->setObjectName(QStringLiteral("chapterPanel"));
    auto* body = new ReviewBody(reviewArea_, chapterPanel_);
    body->setObjectName(QStringLiteral("reviewBody"));
    layout->addWidget(body, 1);
    return review;
}

bool TranscriptionView::confirmClear(QWidget* parent) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setText(QStringLiteral("Clear this transcription?"));
    box.setInformativeText(
        QStringLiteral("This removes the subtitle cues. The source, "
                       "transcription settings, and chapter markers remain."));
    box.setTextFormat(Qt::PlainText);
    auto* clear = box.addButton(QStringLiteral("Clear Transcript"), QMessageBox::DestructiveRole);
    box.addButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == clear;
}

void TranscriptionView::showSubtitleSync() {
    const auto* source = viewModel_.state().selectedSource();
    if (!source) {
        // Nothing to play: the sheet opens empty, with only a way to close it.
        auto* empty = new QDialog(this);
        empty->setObjectName(QStringLiteral("emptySyncSheet"));
        empty->setWindowTitle(QStringLiteral("Sync with Video"));
        empty->setAttribute(Qt::WA_DeleteOnClose);
        empty->setWindowModality(Qt::WindowModal);
        auto* layout = new QVBoxLayout(empty);
        layout->addWidget(
            secondaryLabel(QStringLiteral("No source is selected."), TextStyle::body));
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
        connect(buttons, &QDialogButtonBox::rejected, empty, &QDialog::reject);
        layout->addWidget(buttons);
        empty->show();
        return;
    }
    // A new preview model for every presentation; the sheet goes when it closes.
    auto* sheet = new SubtitleSyncReviewSheet(
        viewModel_, std::make_unique<SplitPreviewViewModel>(source->url, previewService_), this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->show();
}

void TranscriptionView::clearTranscript() {
    if (clearConfirmation_(this)) {
        viewModel_.clearSelectedTranscript();
    }
}

void TranscriptionView::render() {
    const auto& state = viewModel_.state();
    const bool hasCues = !state.cues().empty();
    // A cleared transcript, or a source without one, has no conversation to keep selected.
    if (hadCues_ && !hasCues) {
        reviewArea_->setSelectedConversationID(std::nullopt);
    }
    hadCues_ = hasCues;

    content_->setCurrentIndex(state.sources.empty() ? 0 : 1);
    emptyAvailability_->render(state.availability);
    if (state.sources.empty()) {
        return;
    }
    sourceList_->render();
    detail_->setCurrentIndex(hasCues ? 1 : 0);
    if (hasCues) {
        const BatchTranscriptionSource* source = state.selectedSource();
        reviewFileName_->setVisible(source != nullptr);
        reviewFileName_->setText(source ? toQString(source->url.filename()) : QString());
        cueCount_->setText(QString::fromStdString(
            workspace::plural(static_cast<int>(state.cues().size()), "cue")));
        reviewProgress_->setVisible(state.isSelectedSourceBeingTranscribed());
        reviewProgress_->render(state);
        timingOffset_->setText(QString::fromStdString(state.subtitleTimingOffsetText()));
        reviewMessages_->render(state);
        reviewArea_->render();
        chapterPanel_->render();
    } else {
        setupCard_->render();
    }
    const bool running = queue_.hasRunningJob();
    queueDivider_->setVisible(running);
    queuePreview_->setVisible(running);
    actionBar_->render();
}

}  // namespace tavrolin
