#pragma once

#include <QWidget>

#include <optional>
#include <vector>

#include "model/Transcription.h"

#include "model/ChapterMarker.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QScrollArea;
class QSlider;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

namespace tavrolin {

class ContentUnavailableView;
class TranscriptCueListView;
class TranscriptTimelineView;

enum class TranscriptReviewMode { list, timeline };

// "1×", "1.5×", "3.4×": the zoom with at most one fraction digit in the user's locale.
QString timelineZoomText(double zoom);
class TranscriptionViewModel;

// The transcript review in list form: header with the transcript search, the editable cue list
// with its chapter dividers, or the search results; a requested cue is scrolled to the centre
// once, then the request is cleared. GUI thread only.
class TranscriptReviewArea : public QWidget {
    Q_OBJECT

  public:
    explicit TranscriptReviewArea(TranscriptionViewModel& viewModel, QWidget* parent = nullptr);
    void render();

    TranscriptCueListView* cueList() const { return cueList_; }
    TranscriptTimelineView* timeline() const { return timeline_; }

    TranscriptReviewMode reviewMode() const { return reviewMode_; }
    void setReviewMode(TranscriptReviewMode mode);
    double timelineZoom() const { return timelineZoom_; }
    void setTimelineZoom(double zoom);
    std::optional<std::int64_t> selectedConversationID() const { return selectedConversationID_; }
    void setSelectedConversationID(std::optional<std::int64_t> id);

  private:
    QWidget* makeTimelineControls();
    QWidget* makeConversationDetail();
    void renderResults();
    void renderTimeline(const std::vector<TranscriptConversation>& conversations);
    void renderDetail(const TranscriptConversation& conversation);

    TranscriptionViewModel& viewModel_;
    TranscriptReviewMode reviewMode_ = TranscriptReviewMode::list;
    double timelineZoom_ = 1.0;
    std::optional<std::int64_t> selectedConversationID_;
    // The fingerprint the summaries were last asked for while the timeline was shown.
    std::optional<std::uint64_t> summarizedFingerprint_;

    QLabel* title_;
    QPushButton* listMode_;
    QPushButton* timelineMode_;
    QWidget* searchRow_;
    QLabel* hint_;
    QWidget* timelineControls_;
    QLabel* conversationCount_;
    QPushButton* refreshSummaries_;
    QPushButton* fit_;
    QToolButton* zoomOut_;
    QSlider* zoomSlider_;
    QLabel* zoomReadout_;
    QToolButton* zoomIn_;
    QWidget* noticeRow_;
    QLabel* noticeIcon_;
    QLabel* notice_;
    TranscriptTimelineView* timeline_;
    QWidget* detail_;
    QLabel* detailTitle_;
    QLabel* detailRange_;
    QLabel* detailSummary_;
    TranscriptCueListView* detailCues_;
    QLabel* matchCount_;
    QLineEdit* search_;
    QToolButton* clearSearch_;
    QStackedWidget* content_;
    TranscriptCueListView* cueList_;
    QListWidget* results_;
    QWidget* noResults_;
    std::vector<std::int64_t> resultIDs_;
};

// One chapter marker's card: title, start time in seconds, and its remove button. Edits go to
// `onChange` at once. GUI thread only.
class ChapterMarkerEditor : public QWidget {
    Q_OBJECT

  public:
    ChapterMarkerEditor(int number, const ChapterMarker& chapter, QWidget* parent = nullptr);
    void setChapter(int number, const ChapterMarker& chapter);
    // Puts the editor's fields right after `previous` in the Tab order; returns its last field.
    QWidget* followTabOrder(QWidget* previous);

  signals:
    void changed(const ChapterMarker& chapter);
    void removeRequested(const Uuid& id);

  private:
    void commitStartTime();

    ChapterMarker chapter_;
    QLabel* number_;
    QToolButton* remove_;
    QLineEdit* title_;
    QLineEdit* startTime_;
};

// The chapter panel beside the review: count, Sort, and one editor per marker. GUI thread only.
class ChapterPanel : public QWidget {
    Q_OBJECT

  public:
    explicit ChapterPanel(TranscriptionViewModel& viewModel, QWidget* parent = nullptr);
    void render();
    // Compact, under the transcript: only the header row shows until the user opens the list.
    void setCompact(bool compact);
    bool isCompact() const { return compact_; }
    bool isOpened() const { return opened_; }

  signals:
    void openedChanged();

  private:
    void showBody();

    TranscriptionViewModel& viewModel_;
    QLabel* count_;
    QPushButton* sort_;
    QToolButton* disclosure_;
    QWidget* body_;
    bool compact_ = false;
    bool opened_ = false;
    QStackedWidget* content_;
    QScrollArea* scroll_;
    QVBoxLayout* editors_;
    std::vector<ChapterMarkerEditor*> editorWidgets_;
};

}  // namespace tavrolin
