#pragma once

#include <QLineEdit>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QCompleter;
class QStringListModel;

namespace tavrolin {

class BlockingFileWork;

// The path of the folder a dialog shows, which the user may edit: Return asks to open the
// folder typed ("~/" standing for home, a relative path read from the folder shown). Completes
// the last part from the folder typed so far, read on a thread of its own (the folder shown is
// not read again: the dialog hands over what it read); one reading at a time, the newest
// wanted waiting for it, so a hung mount holds one thread. GUI thread only.
class LocationEdit : public QLineEdit {
    Q_OBJECT

  public:
    explicit LocationEdit(QWidget* parent = nullptr);
    ~LocationEdit() override;

    // Shows `folder`, whose subfolders are not known yet.
    void showFolder(const std::filesystem::path& folder);
    // The subfolders of the folder shown, as the dialog read them.
    void setSubfolders(std::vector<std::string> names);
    // The folder a text names.
    std::filesystem::path folderTyped(const QString& text) const;

  signals:
    void folderEntered(const std::filesystem::path& folder);

  private:
    void edited(const QString& text);
    void read(const std::filesystem::path& folder);
    void showSubfolders(const std::filesystem::path& folder, std::vector<std::string> names);
    void offer();

    std::filesystem::path shown_;
    // The folder whose subfolders complete, and them; what is typed before the last part.
    std::filesystem::path completing_;
    std::vector<std::string> subfolders_;
    QString typedParent_;
    std::optional<std::filesystem::path> reading_;
    std::optional<std::filesystem::path> wanted_;
    QStringListModel* paths_;
    QCompleter* completer_;
    std::unique_ptr<BlockingFileWork> work_;
};

}  // namespace tavrolin
