#pragma once

#include <QGroupBox>
#include <filesystem>
#include <functional>
#include <vector>

class QStackedLayout;
class QVBoxLayout;

namespace tavrolin {

class ContentUnavailableView;

// An ordered list of files with per-row reordering and removal. It never changes the list
// itself: the host's view model moves or removes the file and hands the new list back.
class FileListEditor : public QGroupBox {
    Q_OBJECT
  public:
    using RemoveHandler = std::function<void(const std::filesystem::path& file)>;
    // step is -1 (earlier) or +1 (later).
    using MoveHandler = std::function<void(const std::filesystem::path& file, int step)>;

    FileListEditor(const QString& emptyTitle, const QString& emptySubtitle,
                   QWidget* parent = nullptr);

    void setFiles(const std::vector<std::filesystem::path>& files);
    const std::vector<std::filesystem::path>& files() const { return files_; }
    void setOnRemove(RemoveHandler handler);
    // An empty handler means the rows have no move buttons.
    void setOnMove(MoveHandler handler);

    // The row widgets in list order (each a QWidget named "fileRow").
    QList<QWidget*> rows() const;
    ContentUnavailableView* emptyView() const { return emptyView_; }

  private:
    void rebuild();

    std::vector<std::filesystem::path> files_;
    RemoveHandler onRemove_;
    MoveHandler onMove_;
    QStackedLayout* stack_;
    ContentUnavailableView* emptyView_;
    QWidget* rowsPage_;
    QVBoxLayout* rowsLayout_;
};

}  // namespace tavrolin
