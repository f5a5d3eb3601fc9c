#pragma once

#include <QWidget>

#include <string>

#include "model/Transcription.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QToolButton;

namespace tavrolin {

class ContentUnavailableView;
class TranscriptionViewModel;

// The Transcribe workspace's left column: the sources with their state, the search across all
// transcripts, the export marks and the batch controls. Every action is one view-model call;
// `render` redraws from the view model. GUI thread only; holds no task.
class TranscriptionSourceList : public QWidget {
    Q_OBJECT

  public:
    explicit TranscriptionSourceList(TranscriptionViewModel& viewModel, QWidget* parent = nullptr);

    void render();

    // The status line of one source row, without the percentage.
    static std::string statusText(const BatchTranscriptionSource& source, bool isCancellingThis);
    static QString statusSymbol(BatchTranscriptionSourceStatus::Kind kind);
    // "<p>%" with p rounded half away from zero, when a fraction is known.
    static std::optional<std::string> rowPercentText(const BatchTranscriptionSource& source);
    // "%02d:%02d:%02d" of the start truncated toward zero.
    static std::string searchResultTime(double seconds);

  private:
    QWidget* makeRow(const BatchTranscriptionSource& source, bool showsExportMark);
    void renderSearchResults();
    void exportSelected();

    TranscriptionViewModel& viewModel_;
    QLabel* count_;
    QWidget* searchRow_;
    QLineEdit* search_;
    QToolButton* clearSearch_;
    QWidget* exportRow_;
    QLabel* exportCount_;
    QPushButton* noneButton_;
    QStackedWidget* lists_;
    QListWidget* sourceList_;
    QListWidget* resultList_;
    ContentUnavailableView* noResults_;
    QWidget* batchProgress_;
    QLabel* batchProgressText_;
    QLabel* batchCount_;
    QProgressBar* batchBar_;
    QPushButton* cancelAll_;
    QWidget* batchControls_;
    QPushButton* transcribeAll_;
    QWidget* batchDivider_;
    QCheckBox* replaceOriginals_;
    QPushButton* exportSelected_;
    QLabel* replaceNote_;
    std::vector<BatchTranscriptSearchResult> results_;
};

}  // namespace tavrolin
