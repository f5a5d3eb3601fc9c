#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QUrl>
#include <functional>

#include "engine/FileRevealing.h"

namespace tavrolin {

// Reveals a file through the freedesktop file-manager interface
// (org.freedesktop.FileManager1.ShowItems on the session bus); when no file manager answers,
// opens the file's folder with the desktop's default handler instead.
class DesktopFileRevealer : public FileRevealing {
  public:
    using FolderOpener = std::function<bool(const QUrl& folder)>;

    // The session bus and QDesktopServices::openUrl.
    DesktopFileRevealer();
    DesktopFileRevealer(QDBusConnection bus, FolderOpener openFolder);

    void reveal(const std::filesystem::path& file) override;

  private:
    QDBusConnection bus_;
    FolderOpener openFolder_;
    QObject context_;  // drops answers that arrive after the revealer is gone
};

}  // namespace tavrolin
