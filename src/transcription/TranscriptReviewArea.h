#pragma once

#include <QWidget>

#include <vector>

#include "model/ChapterMarker.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

namespace tavrolin {

class ContentUnavailableView;
class TranscriptCueListView;
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

  private:
    void renderResults();

    TranscriptionViewModel& viewModel_;
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

  signals:
    void changed(const ChapterMarker& chapter);
    void removeRequested(const Uuid& id);

  private:
    ChapterMarker chapter_;
    QLabel* number_;
    QLineEdit* title_;
    QLineEdit* startTime_;
};

// The chapter panel beside the review: count, Sort, and one editor per marker. GUI thread only.
class ChapterPanel : public QWidget {
    Q_OBJECT

  public:
    explicit ChapterPanel(TranscriptionViewModel& viewModel, QWidget* parent = nullptr);
    void render();

  private:
    TranscriptionViewModel& viewModel_;
    QLabel* count_;
    QPushButton* sort_;
    QStackedWidget* content_;
    QVBoxLayout* editors_;
    std::vector<ChapterMarkerEditor*> editorWidgets_;
};

}  // namespace tavrolin
