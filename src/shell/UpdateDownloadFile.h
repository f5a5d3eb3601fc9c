#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class QFile;

namespace tavrolin {

// A release's file as it downloads: written under a hidden name beside the name it takes when
// complete. Every call touches the download folder, which may be slow or hung, so it is made on
// the updater's file thread only, never on the GUI thread; so is the destruction, which removes
// the hidden file unless it was kept.
class UpdateDownloadFile {
  public:
    UpdateDownloadFile();
    ~UpdateDownloadFile();
    UpdateDownloadFile(const UpdateDownloadFile&) = delete;
    UpdateDownloadFile& operator=(const UpdateDownloadFile&) = delete;

    // How opening went: the same release saved before and still there, a problem for the
    // user, or neither when the hidden file is open for writing.
    struct Start {
        std::optional<QString> saved;
        std::optional<QString> problem;
    };
    // `previous` is where the same release was saved before (empty for none): kept when it is
    // still a file. Else makes the folder if needed and opens a hidden file for `name` in it.
    Start open(const QString& folder, const QString& name, const QString& previous);
    // Appends; a failure is kept for keep() to report.
    void write(const QByteArray& bytes);
    // Gives the complete file the first free name among "name", "stem-2.ext", ... (a name taken
    // meanwhile is never replaced) and returns it; or the problem, with the hidden file removed.
    struct Kept {
        std::optional<QString> file;
        QString problem;
    };
    Kept keep();
    // Removes the hidden file.
    void discard();

  private:
    std::unique_ptr<QFile> file_;
    QString folder_;
    QString name_;
};

}  // namespace tavrolin
