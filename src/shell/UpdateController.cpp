#include "shell/UpdateController.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <cstring>
#include <stdexcept>

#include "engine/FileOperations.h"
#include "model/Uuid.h"
#include "widgets/AppStyle.h"

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

// `name`, or "stem-2.ext", "stem-3.ext", ... when the name is taken; ".tar.*" stays whole.
// Any entry holds a name, a dangling symbolic link included.
bool isTaken(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QString freeName(const QDir& folder, const QString& name) {
    if (!isTaken(folder.filePath(name))) {
        return folder.filePath(name);
    }
    qsizetype dot = name.lastIndexOf(u'.');
    const qsizetype tar = name.lastIndexOf(QStringLiteral(".tar."));
    if (tar > 0 && name.indexOf(u'.', tar + 5) < 0) {
        dot = tar;
    }
    if (dot <= 0) {
        dot = name.size();
    }
    const QString stem = name.left(dot);
    const QString extension = name.mid(dot);
    for (int n = 2;; ++n) {
        const QString candidate = stem + u'-' + QString::number(n) + extension;
        if (!isTaken(folder.filePath(candidate))) {
            return folder.filePath(candidate);
        }
    }
}

// Moves the finished download to the first free name, never over a file that appeared there
// meanwhile; returns where it went.
QString moveToFreeName(const std::filesystem::path& part, const QDir& folder, const QString& name) {
    for (int attempt = 0;; ++attempt) {
        const QString target = freeName(folder, name);
        try {
            moveNoReplace(part, toPath(target));
            return target;
        } catch (const std::filesystem::filesystem_error& error) {
            if (error.code() != std::errc::file_exists || attempt == 100) {
                throw;
            }
        }
    }
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

UpdateController::~UpdateController() = default;

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
    // Already downloaded and still there: say where, rather than saving another copy every day.
    if (configuration_.settings) {
        const auto version = configuration_.settings->string(downloadedVersionKey);
        const auto file = configuration_.settings->string(downloadedFileKey);
        if (version && file &&
            QString::fromStdString(*version) == report.release->displayVersion() &&
            QFileInfo(QString::fromStdString(*file)).isFile()) {
            report.downloadedFile = QString::fromStdString(*file);
            finish(std::move(report));
            return;
        }
    }
    const QDir folder(configuration_.downloadFolder);
    if (!folder.mkpath(QStringLiteral("."))) {
        report.message = QStringLiteral("The download folder could not be created.");
        finish(std::move(report));
        return;
    }
    const QString name = downloadName(report.release->enclosureURL);
    // Written as it arrives into a hidden sibling that takes a free name only when complete.
    auto file = std::make_shared<QFile>(toQString(
        hiddenSiblingName(toPath(folder.filePath(name)), ".part-tavrolin-", Uuid::random())));
    if (!file->open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        report.message =
            QStringLiteral("The download could not be saved: %1").arg(file->errorString());
        finish(std::move(report));
        return;
    }
    QNetworkRequest request(report.release->enclosureURL);
    request.setTransferTimeout(transferTimeout);
    QNetworkReply* reply = network()->get(request);
    connect(reply, &QNetworkReply::readyRead, this,
            [reply, file] { file->write(reply->readAll()); });
    connect(
        reply, &QNetworkReply::finished, this, [this, reply, file, folder, name, report]() mutable {
            reply->deleteLater();
            file->write(reply->readAll());
            const bool written = file->flush() && file->error() == QFileDevice::NoError;
            file->close();
            QString target;
            if (reply->error() != QNetworkReply::NoError) {
                report.message =
                    QStringLiteral("The download failed: %1").arg(reply->errorString());
            } else if (!written) {
                report.message =
                    QStringLiteral("The download could not be saved: %1").arg(file->errorString());
            } else {
                try {
                    target = moveToFreeName(toPath(file->fileName()), folder, name);
                } catch (const std::filesystem::filesystem_error& error) {
                    report.message =
                        QStringLiteral("The download could not be saved: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(error.code().value())));
                }
            }
            if (target.isEmpty()) {
                file->remove();
            } else {
                report.downloadedFile = target;
                if (configuration_.settings) {
                    configuration_.settings->setString(
                        downloadedVersionKey, report.release->displayVersion().toStdString());
                    configuration_.settings->setString(downloadedFileKey, target.toStdString());
                }
            }
            finish(std::move(report));
        });
}

void UpdateController::finish(UpdateCheckReport report) {
    checking_ = false;
    emit canCheckForUpdatesChanged();
    if (report.userInitiated || report.kind == UpdateCheckReport::Kind::updateAvailable) {
        emit checkFinished(report);
    }
}

}  // namespace tavrolin
