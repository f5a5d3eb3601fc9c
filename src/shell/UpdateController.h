#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>

#include "model/PreferencesStore.h"
#include "shell/Appcast.h"
#include "widgets/WorkerPool.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace tavrolin {
class UpdateDownloadFile;
}

namespace tavrolin {

// What one update check found.
struct UpdateCheckReport {
    enum class Kind { upToDate, updateAvailable, failed };
    Kind kind = Kind::upToDate;
    bool userInitiated = false;
    QString currentVersion;
    std::optional<AppcastItem> release;  // set for updateAvailable
    QString downloadedFile;              // where the release's file was saved, if it was
    QString message;                     // why the check or the download failed

    QString title() const;
    QString informativeText() const;
};

// The application's own updater: reads an RSS appcast over HTTP, keeps its two settings in the
// preferences store, checks once a day while automatic checks are on and, with automatic
// downloads on, saves a newer release's file into the download folder. Nothing but the feed
// request itself is sent. GUI thread; the download folder is touched only on a file thread of
// its own (a slow or hung folder never holds the window), which is not waited for when the
// controller goes: it removes a download cut short once the folder lets it.
class UpdateController : public QObject {
    Q_OBJECT
  public:
    struct Configuration {
        QUrl feedURL;  // empty: updates cannot be checked
        QString currentVersion;
        std::shared_ptr<PreferencesStore> settings;
        QString downloadFolder;
        std::function<QDateTime()> now = [] { return QDateTime::currentDateTimeUtc(); };
    };

    static constexpr const char* automaticChecksKey = "updates.automaticallyChecks";
    static constexpr const char* automaticDownloadsKey = "updates.automaticallyDownloads";
    static constexpr const char* lastCheckKey = "updates.lastCheckTime";
    // The release last downloaded and where it was saved, so a daily check does not fetch it again.
    static constexpr const char* downloadedVersionKey = "updates.downloadedVersion";
    static constexpr const char* downloadedFileKey = "updates.downloadedFile";

    explicit UpdateController(Configuration configuration, QObject* parent = nullptr);
    ~UpdateController() override;

    // Begins the daily schedule; the first automatic check runs at once when one is due.
    void startUpdater();
    bool isStarted() const { return started_; }
    // For quitting: no check starts any more, and a download in progress ends; its hidden file
    // is removed on the file thread.
    void stop();

    bool canCheckForUpdates() const;
    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool value);
    bool automaticallyDownloadsUpdates() const;
    void setAutomaticallyDownloadsUpdates(bool value);

    // A check the user asked for: its report is always delivered. Ignored while one runs.
    void checkForUpdates();

  signals:
    void canCheckForUpdatesChanged();
    void automaticallyChecksForUpdatesChanged();
    void automaticallyDownloadsUpdatesChanged();
    // User checks always report; automatic checks report only a newer release.
    void checkFinished(const tavrolin::UpdateCheckReport& report);

  private:
    bool flag(const char* key) const;
    void setFlag(const char* key, bool value);
    void scheduleAutomaticCheck();
    void startCheck(bool userInitiated);
    void feedFinished(QNetworkReply* reply, bool userInitiated);
    void download(UpdateCheckReport report);
    void fetch(UpdateCheckReport report);
    void endDownload();
    void finish(UpdateCheckReport report);

    QNetworkAccessManager* network();

    Configuration configuration_;
    QNetworkAccessManager* network_ = nullptr;
    QTimer schedule_;
    bool started_ = false;
    bool checking_ = false;
    // The download in progress, written on `files_` only.
    std::shared_ptr<UpdateDownloadFile> download_;
    // One thread: the pieces are written in order. Declared last: let go first.
    WorkerPool files_{1, std::chrono::seconds(5), WorkerPool::WhenLeft::runQueued};
};

}  // namespace tavrolin

Q_DECLARE_METATYPE(tavrolin::UpdateCheckReport)
