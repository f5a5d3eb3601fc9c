#include "shell/DesktopFileRevealer.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>

#include "shell/SupportLinks.h"
#include "widgets/AppStyle.h"

namespace tavrolin {

DesktopFileRevealer::DesktopFileRevealer()
    : DesktopFileRevealer(
          QDBusConnection::sessionBus(),
          [](const QUrl& folder) { return QDesktopServices::openUrl(folder); },
          [](const QUrl& folder) { showLinkNotOpened(folder, QApplication::activeWindow()); }) {}

DesktopFileRevealer::DesktopFileRevealer(QDBusConnection bus, FolderOpener openFolder,
                                         NotOpenedNotice notOpened)
    : bus_(std::move(bus)), openFolder_(std::move(openFolder)), notOpened_(std::move(notOpened)) {}

void DesktopFileRevealer::reveal(const std::filesystem::path& file) {
    const QUrl fileURL = QUrl::fromLocalFile(toQString(file));
    const QUrl folderURL = QUrl::fromLocalFile(toQString(file.parent_path()));
    auto fallback = [opener = openFolder_, notOpened = notOpened_, folderURL] {
        if (opener && !opener(folderURL) && notOpened) {
            notOpened(folderURL);
        }
    };
    if (!bus_.isConnected()) {
        fallback();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QString::fromUtf8(fileURL.toEncoded())} << QString();
    // Asynchronous: starting a file manager through bus activation can take seconds.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), &context_);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &context_,
                     [watcher, fallback](QDBusPendingCallWatcher*) {
                         if (watcher->isError()) {
                             fallback();
                         }
                         watcher->deleteLater();
                     });
}

}  // namespace tavrolin
