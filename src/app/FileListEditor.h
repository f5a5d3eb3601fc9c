#pragma once

#include <QGroupBox>
#include <filesystem>
#include <functional>
#include <vector>

class QListView;

namespace tavrolin {

class ContentUnavailableView;
class FileListModel;

// An ordered list of files with per-row reordering and removal. It never changes the list
// itself: the host's view model moves or removes the file and hands the new list back. The rows
// are items of a list view painted by a delegate, so thousands of files cost no widgets; the
// list shows up to `visibleRows` rows and scrolls beyond. GUI thread only.
class FileListEditor : public QGroupBox {
    Q_OBJECT
  public:
    using RemoveHandler = std::function<void(const std::filesystem::path& file)>;
    // step is -1 (earlier) or +1 (later).
    using MoveHandler = std::function<void(const std::filesystem::path& file, int step)>;
    enum class Button { moveEarlier, moveLater, remove };

    static constexpr int visibleRows = 10;

    FileListEditor(const QString& emptyTitle, const QString& emptySubtitle,
                   QWidget* parent = nullptr);

    void setFiles(const std::vector<std::filesystem::path>& files);
    const std::vector<std::filesystem::path>& files() const;
    void setOnRemove(RemoveHandler handler);
    // An empty handler means the rows have no move buttons.
    void setOnMove(MoveHandler handler);
    bool hasMoveButtons() const { return static_cast<bool>(onMove_); }

    QListView* listView() const { return list_; }
    ContentUnavailableView* emptyView() const { return emptyView_; }
    // Where a row's button is drawn, in the list's viewport; empty when the row has none.
    QRect buttonRect(int row, Button button) const;
    bool isButtonEnabled(int row, Button button) const;
    // The help text of a button ("Move earlier", "Move later", "Remove from list").
    static QString helpText(Button button);

  private:
    friend class FileListDelegate;
    void press(int row, Button button);
    void updateHeight();

    RemoveHandler onRemove_;
    MoveHandler onMove_;
    FileListModel* model_;
    ContentUnavailableView* emptyView_;
    QListView* list_;
};

}  // namespace tavrolin
