#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QUrl>
#include <functional>

#include "engine/FileRevealing.h"

namespace tavrolin {

// Reveals a file through the freedesktop file-manager interface
// (org.freedesktop.FileManager1.ShowItems on the session bus); when no file manager answers,
// opens the file's folder with the desktop's default handler instead, and when nothing opens
// that either, tells the user where the folder is. GUI thread.
class DesktopFileRevealer : public FileRevealing {
  public:
    using FolderOpener = std::function<bool(const QUrl& folder)>;
    using NotOpenedNotice = std::function<void(const QUrl& folder)>;

    // The session bus, QDesktopServices::openUrl, and a box over the active window.
    DesktopFileRevealer();
    DesktopFileRevealer(QDBusConnection bus, FolderOpener openFolder,
                        NotOpenedNotice notOpened = {});

    void reveal(const std::filesystem::path& file) override;

  private:
    QDBusConnection bus_;
    FolderOpener openFolder_;
    NotOpenedNotice notOpened_;
    QObject context_;  // drops answers that arrive after the revealer is gone
};

}  // namespace tavrolin
