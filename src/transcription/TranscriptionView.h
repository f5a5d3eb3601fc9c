#pragma once

#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "transcription/TranscriptReviewArea.h"
#include "widgets/CoalescedRefresh.h"

class QLabel;
class QStackedWidget;
class QVBoxLayout;

namespace tavrolin {

class JobQueueViewModel;
class PreviewPreparing;
class ChapterPanel;
class ElidedLabel;
class QueueActivityPreview;
class TranscriptionActionBar;
class TranscriptionAvailabilityNote;
class TranscriptionProgressBlock;
class TranscriptionSetupCard;
class TranscriptionSourceList;
class TranscriptionStatusMessages;
class TranscriptionViewModel;

// The Transcribe workspace: header, then the empty state or the source list beside the setup
// card or the review layout, with the queue card and the action bar below. Its review area keeps
// the review mode, the timeline zoom and the selected conversation across source changes;
// everything else lives in the view model.
// Renders once per event-loop turn after a change; GUI thread only.
class TranscriptionView : public QWidget {
    Q_OBJECT

  public:
    using MediaFileChooser = std::function<std::vector<std::filesystem::path>()>;
    // Asks whether to clear the transcript; tests answer without a dialog.
    using ClearConfirmation = std::function<bool(QWidget*)>;

    TranscriptionView(TranscriptionViewModel& viewModel, JobQueueViewModel& queue,
                      std::shared_ptr<PreviewPreparing> previewService, QWidget* parent = nullptr);

    void setMediaFileChooser(MediaFileChooser chooser) { mediaFileChooser_ = std::move(chooser); }
    void setClearConfirmation(ClearConfirmation confirm) {
        clearConfirmation_ = std::move(confirm);
    }
    static bool confirmClear(QWidget* parent);

    TranscriptReviewArea* reviewArea() const { return reviewArea_; }
    TranscriptionViewModel& viewModel() const { return viewModel_; }

    void render();

  private:
    QWidget* makeReviewLayout();
    void clearTranscript();
    void showSubtitleSync();

    TranscriptionViewModel& viewModel_;
    JobQueueViewModel& queue_;
    std::shared_ptr<PreviewPreparing> previewService_;
    MediaFileChooser mediaFileChooser_;
    ClearConfirmation clearConfirmation_ = &TranscriptionView::confirmClear;
    CoalescedRefresh refresh_;
    bool hadCues_ = false;

    QStackedWidget* content_;
    TranscriptionAvailabilityNote* emptyAvailability_;
    TranscriptionSourceList* sourceList_;
    QStackedWidget* detail_;
    TranscriptionSetupCard* setupCard_;
    ElidedLabel* reviewFileName_;
    QLabel* cueCount_;
    TranscriptionProgressBlock* reviewProgress_;
    QLabel* timingOffset_;
    TranscriptionStatusMessages* reviewMessages_;
    TranscriptReviewArea* reviewArea_;
    ChapterPanel* chapterPanel_;
    QWidget* queueDivider_;
    QueueActivityPreview* queuePreview_;
    TranscriptionActionBar* actionBar_;
};

}  // namespace tavrolin
