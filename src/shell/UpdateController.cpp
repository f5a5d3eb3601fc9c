#include "shell/UpdateController.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <stdexcept>

#include "shell/UpdateDownloadFile.h"
#include "widgets/AppStyle.h"
#include "widgets/GuardedTask.h"

namespace tavrolin {

namespace {

constexpr qint64 checkInterval = 24 * 60 * 60;  // seconds
constexpr int transferTimeout = 30'000;         // ms
constexpr qint64 maximumFeedSize = 8 * 1024 * 1024;

bool isWebURL(const QUrl& url) {
    return url.isValid() && (url.scheme() == u"https" || url.scheme() == u"http") &&
           !url.host().isEmpty();
}

// The file name a download is saved under: the last path segment, never a path of its own.
QString downloadName(const QUrl& url) {
    const QString name = QFileInfo(url.path()).fileName();
    if (name.isEmpty() || name == u"." || name == u".." || name.startsWith(u'.')) {
        return QStringLiteral("Tavrolin-update");
    }
    return name;
}

}  // namespace

QString UpdateCheckReport::title() const {
    switch (kind) {
        case Kind::upToDate:
            return QStringLiteral("You’re up to date.");
        case Kind::updateAvailable:
            return QStringLiteral("A new version of Tavrolin is available.");
        case Kind::failed:
            break;
    }
    return QStringLiteral("Tavrolin could not check for updates.");
}

QString UpdateCheckReport::informativeText() const {
    switch (kind) {
        case Kind::upToDate:
            return QStringLiteral("Tavrolin %1 is the newest version available.")
                .arg(currentVersion);
        case Kind::updateAvailable: {
            QString text =
                QStringLiteral("Tavrolin %1 is available; you have %2.")
                    .arg(release ? release->displayVersion() : QString(), currentVersion);
            if (!downloadedFile.isEmpty()) {
                text += QStringLiteral(" It was downloaded to “%1”.").arg(downloadedFile);
            } else if (!message.isEmpty()) {
                text += u' ' + message;
            }
            return text;
        }
        case Kind::failed:
            break;
    }
    return message;
}

UpdateController::UpdateController(Configuration configuration, QObject* parent)
    : QObject(parent), configuration_(std::move(configuration)) {
    schedule_.setSingleShot(true);
    connect(&schedule_, &QTimer::timeout, this, [this] {
        if (automaticallyChecksForUpdates() && !checking_) {
            startCheck(false);
        }
        scheduleAutomaticCheck();
    });
}

// Made on the first request: setting up the network stack at start would cost every launch.
QNetworkAccessManager* UpdateController::network() {
    if (!network_) {
        network_ = new QNetworkAccessManager(this);
    }
    return network_;
}

UpdateController::~UpdateController() {
    // A download cut short leaves no hidden file: its pool runs what is queued, and this last.
    endDownload();
}

void UpdateController::stop() {
    started_ = false;
    schedule_.stop();
    endDownload();
}

void UpdateController::startUpdater() {
    started_ = true;
    scheduleAutomaticCheck();
}

bool UpdateController::canCheckForUpdates() const {
    return isWebURL(configuration_.feedURL) && !checking_;
}

bool UpdateController::flag(const char* key) const {
    if (!configuration_.settings) {
        return false;
    }
    return configuration_.settings->string(key).value_or("false") == "true";
}

void UpdateController::setFlag(const char* key, bool value) {
    if (configuration_.settings) {
        configuration_.settings->setString(key, value ? "true" : "false");
    }
}

bool UpdateController::automaticallyChecksForUpdates() const {
    return flag(automaticChecksKey);
}

void UpdateController::setAutomaticallyChecksForUpdates(bool value) {
    if (value == automaticallyChecksForUpdates()) {
        return;
    }
    setFlag(automaticChecksKey, value);
    emit automaticallyChecksForUpdatesChanged();
    scheduleAutomaticCheck();
}

bool UpdateController::automaticallyDownloadsUpdates() const {
    return flag(automaticDownloadsKey);
}

void UpdateController::setAutomaticallyDownloadsUpdates(bool value) {
    if (value == automaticallyDownloadsUpdates()) {
        return;
    }
    setFlag(automaticDownloadsKey, value);
    emit automaticallyDownloadsUpdatesChanged();
}

void UpdateController::checkForUpdates() {
    if (canCheckForUpdates()) {
        startCheck(true);
    }
}

void UpdateController::scheduleAutomaticCheck() {
    schedule_.stop();
    if (!started_ || !automaticallyChecksForUpdates() || !isWebURL(configuration_.feedURL)) {
        return;
    }
    qint64 wait = 0;
    if (configuration_.settings) {
        if (auto stored = configuration_.settings->string(lastCheckKey)) {
            const QDateTime last =
                QDateTime::fromString(QString::fromStdString(*stored), Qt::ISODate);
            if (last.isValid()) {
                const qint64 elapsed = last.secsTo(configuration_.now());
                wait = std::clamp<qint64>(checkInterval - elapsed, 0, checkInterval);
            }
        }
    }
    schedule_.start(std::chrono::milliseconds(wait * 1000));
}

void UpdateController::startCheck(bool userInitiated) {
    checking_ = true;
    emit canCheckForUpdatesChanged();
    if (configuration_.settings) {
        configuration_.settings->setString(
            lastCheckKey, configuration_.now().toString(Qt::ISODate).toStdString());
    }
    QNetworkRequest request(configuration_.feedURL);
    request.setTransferTimeout(transferTimeout);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Tavrolin/%1").arg(configuration_.currentVersion));
    QNetworkReply* reply = network()->get(request);
    // A feed is a few kilobytes; anything far larger is not one.
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > maximumFeedSize) {
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, userInitiated] { feedFinished(reply, userInitiated); });
}

void UpdateController::feedFinished(QNetworkReply* reply, bool userInitiated) {
    reply->deleteLater();
    UpdateCheckReport report;
    report.userInitiated = userInitiated;
    report.currentVersion = configuration_.currentVersion;
    if (reply->error() != QNetworkReply::NoError) {
        report.kind = UpdateCheckReport::Kind::failed;
        report.message = reply->errorString();
        finish(std::move(report));
        return;
    }
    try {
        const auto items = parseAppcast(reply->readAll());
        report.release = newerRelease(items, configuration_.currentVersion);
    } catch (const std::exception& error) {
        report.kind = UpdateCheckReport::Kind::failed;
        report.message = QString::fromStdString(error.what());
        finish(std::move(report));
        return;
    }
    if (!report.release) {
        report.kind = UpdateCheckReport::Kind::upToDate;
        finish(std::move(report));
        return;
    }
    report.kind = UpdateCheckReport::Kind::updateAvailable;
    if (automaticallyDownloadsUpdates() && isWebURL(report.release->enclosureURL) &&
        !configuration_.downloadFolder.isEmpty()) {
        download(std::move(report));
        return;
    }
    finish(std::move(report));
}

void UpdateController::download(UpdateCheckReport report) {
    QString previous;
    if (configuration_.settings) {
        const auto version = configuration_.settings->string(downloadedVersionKey);
        const auto file = configuration_.settings->string(downloadedFileKey);
        if (version && file &&
            QString::fromStdString(*version) == report.release->displayVersion()) {
            previous = QString::fromStdString(*file);
        }
    }
    auto file = std::make_shared<UpdateDownloadFile>();
    download_ = file;
    // Before the report moves into the reply below.
    const QString name = downloadName(report.release->enclosureURL);
    runGuardedTask(
        this, files_,
        [file, folder = configuration_.downloadFolder, name, previous] {
            return file->open(folder, name, previous);
        },
        [report = std::move(report)](UpdateController& self,
                                     UpdateDownloadFile::Start start) mutable {
            if (start.saved || start.problem) {
                report.downloadedFile = start.saved.value_or(QString());
                report.message = start.problem.value_or(QString());
                self.endDownload();
                self.finish(std::move(report));
            } else {
                self.fetch(std::move(report));
            }
        });
}

void UpdateController::fetch(UpdateCheckReport report) {
    QNetworkRequest request(report.release->enclosureURL);
    request.setTransferTimeout(transferTimeout);
    QNetworkReply* reply = network()->get(request);
    // Each piece is written in order on the file thread as it arrives.
    const auto write = [this](QByteArray bytes) {
        if (download_) {
            files_.start([file = download_, bytes = std::move(bytes)] { file->write(bytes); });
        }
    };
    connect(reply, &QNetworkReply::readyRead, this, [reply, write] { write(reply->readAll()); });
    connect(reply, &QNetworkReply::finished, this, [this, reply, write, report]() mutable {
        reply->deleteLater();
        if (!download_) {
            return;  // stopped for quitting
        }
        write(reply->readAll());
        if (reply->error() != QNetworkReply::NoError) {
            report.message = QStringLiteral("The download failed: %1").arg(reply->errorString());
            // Said once the hidden file is gone.
            runGuardedTask(
                this, files_,
                [file = download_] {
                    file->discard();
                    return true;
                },
                [report](UpdateController& self, bool) mutable {
                    self.endDownload();
                    self.finish(std::move(report));
                });
            return;
        }
        runGuardedTask(
            this, files_, [file = download_] { return file->keep(); },
            [report](UpdateController& self, UpdateDownloadFile::Kept kept) mutable {
                if (kept.file) {
                    report.downloadedFile = *kept.file;
                    if (self.configuration_.settings) {
                        self.configuration_.settings->setString(
                            downloadedVersionKey, report.release->displayVersion().toStdString());
                        self.configuration_.settings->setString(downloadedFileKey,
                                                                kept.file->toStdString());
                    }
                } else {
                    report.message = kept.problem;
                }
                self.endDownload();
                self.finish(std::move(report));
            });
    });
}

// The download's file is let go on the file thread, after every piece written there: a hidden
// file not kept is removed there, never on the GUI thread.
void UpdateController::endDownload() {
    if (download_) {
        files_.start([file = std::move(download_)] {});
    }
}

void UpdateController::finish(UpdateCheckReport report) {
    checking_ = false;
    emit canCheckForUpdatesChanged();
    if (report.userInitiated || report.kind == UpdateCheckReport::Kind::updateAvailable) {
        emit checkFinished(report);
    }
}

}  // namespace tavrolin
