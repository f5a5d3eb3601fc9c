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
// list shows up to `visibleRows` rows and scrolls beyond, or, on a page that scrolls, every row
// while the page follows the picked one. Rows span the list's width. The list takes one Tab stop:
// Up and Down pick a file, Alt+Up and Alt+Down move it, Delete or Backspace removes it, and the
// picked row follows the file when the host hands the new list back. GUI thread only.
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
    // Every row shown, with no scrolling of the list's own: for a list on a scrolling page.
    void setShowsEveryRow(bool showsEveryRow);

    QListView* listView() const { return list_; }
    ContentUnavailableView* emptyView() const { return emptyView_; }
    // Where a row's button is drawn, in the list's viewport; empty when the row has none.
    QRect buttonRect(int row, Button button) const;
    bool isButtonEnabled(int row, Button button) const;
    // The help text of a button ("Move earlier", "Move later", "Remove from list").
    static QString helpText(Button button);
    // The keys of the list, as its tooltip says them.
    static QString keyboardHelpText(bool canMove);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    friend class FileListDelegate;
    void press(int row, Button button);
    void updateHeight();
    void updateKeyboardHelp();
    // Scrolls the page around the list so that the picked row shows.
    void showCurrentRow();

    RemoveHandler onRemove_;
    MoveHandler onMove_;
    FileListModel* model_;
    ContentUnavailableView* emptyView_;
    QListView* list_;
    // The row to make current when the host hands back the list a key changed.
    int pendingCurrentRow_ = -1;
    bool showsEveryRow_ = false;
};

}  // namespace tavrolin
