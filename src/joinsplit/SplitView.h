#pragma once

#include <QWidget>
#include <filesystem>
#include <functional>
#include <vector>

#include "widgets/CoalescedRefresh.h"

class QLabel;
class QPushButton;
class QStackedLayout;

namespace tavrolin {

class ContentUnavailableView;
class FileRowList;
class SplitSourceEditor;
class SplitViewModel;

// The Split sources beside the editor: a header with the count, then one row per source with
// its name, mode symbol and summary (red while invalid) and a remove button; the picked row is
// the model's selection. The list is one Tab stop (arrows pick, Delete removes). Re-renders once
// per event-loop turn. GUI thread only.
class SplitSourceList : public QWidget {
    Q_OBJECT
  public:
    explicit SplitSourceList(SplitViewModel& viewModel, QWidget* parent = nullptr);

    FileRowList* list() const { return list_; }

  private:
    void render();

    SplitViewModel& viewModel_;
    QLabel* count_;
    FileRowList* list_;
    CoalescedRefresh refresh_;
};

// The Split workspace's page: its header with "Add File", then either the empty state or the
// source list beside the editor of the selected source. Holds no state of its own. GUI thread
// only.
class SplitView : public QWidget {
    Q_OBJECT
  public:
    using MediaFileChooser = std::function<std::vector<std::filesystem::path>()>;

    explicit SplitView(SplitViewModel& viewModel, QWidget* parent = nullptr);

    void setMediaFileChooser(MediaFileChooser chooser) { mediaFileChooser_ = std::move(chooser); }
    SplitSourceList* sourceList() const { return sourceList_; }
    SplitSourceEditor* editor() const { return editor_; }
    bool showsEmptyState() const;

  private:
    void render();

    SplitViewModel& viewModel_;
    MediaFileChooser mediaFileChooser_;
    QPushButton* addButton_;
    QStackedLayout* body_;
    ContentUnavailableView* emptyState_;
    QWidget* panes_;
    SplitSourceList* sourceList_;
    SplitSourceEditor* editor_;
};

}  // namespace tavrolin
