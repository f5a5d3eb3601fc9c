#pragma once

#include <QGroupBox>
#include <filesystem>
#include <vector>

#include "widgets/FileRowList.h"

namespace tavrolin {

class ContentUnavailableView;

// An ordered list of files in a box, with its empty state while there is none; the rows are a
// `FileRowList`, which it hands the files and handlers. The list shows up to `visibleRows` rows
// and scrolls beyond, or, on a page that scrolls, every row. GUI thread only.
class FileListEditor : public QGroupBox {
    Q_OBJECT
  public:
    using RemoveHandler = FileRowList::RemoveHandler;
    using MoveHandler = FileRowList::MoveHandler;
    using Button = FileRowList::Button;

    static constexpr int visibleRows = 10;

    FileListEditor(const QString& emptyTitle, const QString& emptySubtitle,
                   QWidget* parent = nullptr);

    void setFiles(const std::vector<std::filesystem::path>& files);
    const std::vector<std::filesystem::path>& files() const { return list_->files(); }
    void setOnRemove(RemoveHandler handler) { list_->setOnRemove(std::move(handler)); }
    // An empty handler means the rows have no move buttons.
    void setOnMove(MoveHandler handler) { list_->setOnMove(std::move(handler)); }
    bool hasMoveButtons() const { return list_->hasMoveButtons(); }
    // Every row shown, with no scrolling of the list's own: for a list on a scrolling page.
    void setShowsEveryRow(bool showsEveryRow);

    FileRowList* listView() const { return list_; }
    ContentUnavailableView* emptyView() const { return emptyView_; }
    QRect buttonRect(int row, Button button) const { return list_->buttonRect(row, button); }
    bool isButtonEnabled(int row, Button button) const {
        return list_->isButtonEnabled(row, button);
    }
    static QString helpText(Button button) { return FileRowList::helpText(button); }

  private:
    void updateHeight();

    ContentUnavailableView* emptyView_;
    FileRowList* list_;
};

}  // namespace tavrolin
