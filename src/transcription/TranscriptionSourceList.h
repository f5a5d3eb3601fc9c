#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLayout;
class QLineEdit;
class QListView;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTimer;
class QToolButton;

namespace tavrolin {

class ContentUnavailableView;
class StatusLine;
class TranscriptSearchResultListModel;
class TranscriptionSourceListModel;
class TranscriptionViewModel;

// The Transcribe workspace's left column: the sources with their state, the search across all
// transcripts, the export marks and the batch controls. Every action is one view-model call;
// `render` redraws from the view model: the sources and the search hits are list models whose rows
// change only where the state did; the hits come from the view model's search worker. GUI thread
// only; holds no task.
class TranscriptionSourceList : public QWidget {
    Q_OBJECT

  public:
    explicit TranscriptionSourceList(TranscriptionViewModel& viewModel, QWidget* parent = nullptr);

    void render();
    // Where the focus goes when a batch command it is on goes away or turns off once pressed
    // (the page's Add Files…).
    void setFocusHeir(QWidget* heir) { focusHeir_ = heir; }

    TranscriptionSourceListModel* sourceModel() const { return sourceModel_; }
    TranscriptSearchResultListModel* searchResultModel() const { return resultModel_; }

  private:
    // The parts of the column, top to bottom.
    QLayout* makeHeader();
    QWidget* makeSearchRow();
    QWidget* makeExportRow();
    QWidget* makeLists();
    void makeSourceList();
    void makeResultList();
    void addDeleteKey();
    void animateIndeterminateBars();
    QWidget* makeBatchProgress();
    QWidget* makeBatchControls();

    void renderSources();
    void renderSearchResults();
    void exportSelected();

    TranscriptionViewModel& viewModel_;
    QLabel* count_;
    QWidget* searchRow_;
    QLineEdit* search_;
    QToolButton* clearSearch_;
    QWidget* exportRow_;
    QLabel* exportCount_;
    QToolButton* noneButton_;
    QStackedWidget* lists_;
    QListView* sourceList_;
    TranscriptionSourceListModel* sourceModel_;
    QTimer* barAnimation_;
    QListView* resultList_;
    TranscriptSearchResultListModel* resultModel_;
    ContentUnavailableView* noResults_;
    QWidget* batchProgress_;
    QLabel* batchProgressText_;
    QLabel* batchCount_;
    QProgressBar* batchBar_;
    QPushButton* cancelAll_;
    QWidget* focusHeir_ = nullptr;
    QWidget* batchControls_;
    QPushButton* transcribeAll_;
    QWidget* batchDivider_;
    QCheckBox* replaceOriginals_;
    QPushButton* exportSelected_;
    StatusLine* exportReason_;
    QLabel* replaceNote_;
};

}  // namespace tavrolin
