#pragma once

#include <QListView>
#include <QString>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace tavrolin {

class FileRowModel;

// A list of files, one row each, painted by a delegate so that thousands of files cost no
// widgets: a film symbol, the name over a detail line (the folder, or the host's text after a
// symbol, in red for a problem), and the buttons that remove the file and, when the host moves
// files, move it. It never changes its rows itself: the host's view model changes the files and
// hands the new rows back. Rows span the list's width. The list is one Tab stop: Up and Down pick
// a file, Alt+Up and Alt+Down move it, Delete or Backspace removes it, and the picked row follows
// the file when the host hands the new rows back. A screen reader gets each row with its buttons.
// GUI thread only.
class FileRowList : public QListView {
    Q_OBJECT
  public:
    struct Row {
        std::filesystem::path file;
        // The second line; the file's folder when empty.
        QString detail;
        // Drawn before the detail when set.
        QString detailSymbol;
        bool isProblem = false;
        // What a screen reader reads for the row; the name when empty.
        QString accessibleText;

        friend bool operator==(const Row&, const Row&) = default;
    };
    using RemoveHandler = std::function<void(const std::filesystem::path& file)>;
    // step is -1 (earlier) or +1 (later).
    using MoveHandler = std::function<void(const std::filesystem::path& file, int step)>;
    enum class Button { moveEarlier, moveLater, remove };

    static constexpr int rowHeight = 50;

    explicit FileRowList(QWidget* parent = nullptr);

    void setRows(std::vector<Row> rows);
    // Rows that show each file's folder.
    void setFiles(const std::vector<std::filesystem::path>& files);
    const std::vector<std::filesystem::path>& files() const;
    void setOnRemove(RemoveHandler handler);
    // An empty handler means the rows have no move buttons.
    void setOnMove(MoveHandler handler);
    bool hasMoveButtons() const { return static_cast<bool>(onMove_); }

    // Every row shown, with no scrolling of the list's own: for a list on a scrolling page, which
    // then follows the picked row.
    void setShowsEveryRow(bool showsEveryRow);
    bool showsEveryRow() const { return showsEveryRow_; }
    // The picked row drawn as selected: for a list whose pick is the host's selection.
    void setShowsSelection(bool showsSelection);
    // Picks the row of `file` (none when absent) without reporting it.
    void setCurrentFile(const std::optional<std::filesystem::path>& file);

    // Where a row's button is drawn, in the viewport; empty when the row has none.
    QRect buttonRect(int row, Button button) const;
    bool isButtonEnabled(int row, Button button) const;
    // The help text of a button ("Move earlier", "Move later", "Remove from list").
    static QString helpText(Button button);
    // The keys of the list, as its tooltip says them.
    static QString keyboardHelpText(bool canMove);
    void press(int row, Button button);

  signals:
    // The user picked another file.
    void currentFileChanged(const std::filesystem::path& file);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

  private:
    void updateKeyboardHelp();
    void updateHeight();
    // Scrolls the page around the list so that the picked row shows.
    void showCurrentRow();

    FileRowModel* model_;
    RemoveHandler onRemove_;
    MoveHandler onMove_;
    bool showsEveryRow_ = false;
    // Set while the host's rows are shown: picks made then are not the user's.
    bool isSettingRows_ = false;
    // The row to pick when the host hands back the rows a key changed.
    int pendingCurrentRow_ = -1;
};

}  // namespace tavrolin
