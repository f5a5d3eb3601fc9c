#include "shell/UpdateDownloadFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>

#include "engine/FileOperations.h"
#include "model/Uuid.h"
#include "widgets/AppStyle.h"

namespace tavrolin {

namespace {

// Any entry holds a name, a dangling symbolic link included.
bool isTaken(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// `name`, or "stem-2.ext", "stem-3.ext", ... when the name is taken; ".tar.*" stays whole.
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

QString saveProblem(const QString& reason) {
    return QStringLiteral("The download could not be saved: %1").arg(reason);
}

}  // namespace

UpdateDownloadFile::UpdateDownloadFile() = default;

UpdateDownloadFile::~UpdateDownloadFile() {
    discard();
}

UpdateDownloadFile::Start UpdateDownloadFile::open(const QString& folder, const QString& name,
                                                   const QString& previous) {
    // Already downloaded and still there: said where, rather than saving another copy every day.
    if (!previous.isEmpty() && QFileInfo(previous).isFile()) {
        return {previous, std::nullopt};
    }
    const QDir directory(folder);
    if (!directory.mkpath(QStringLiteral("."))) {
        return {std::nullopt, QStringLiteral("The download folder could not be created.")};
    }
    folder_ = folder;
    name_ = name;
    auto file = std::make_unique<QFile>(toQString(
        hiddenSiblingName(toPath(directory.filePath(name)), ".part-tavrolin-", Uuid::random())));
    if (!file->open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        return {std::nullopt, saveProblem(file->errorString())};
    }
    file_ = std::move(file);
    return {};
}

void UpdateDownloadFile::write(const QByteArray& bytes) {
    if (file_ && file_->isOpen() && file_->error() == QFileDevice::NoError) {
        file_->write(bytes);
    }
}

UpdateDownloadFile::Kept UpdateDownloadFile::keep() {
    if (!file_) {
        return {std::nullopt, saveProblem(QStringLiteral("it was not opened"))};
    }
    const bool written = file_->flush() && file_->error() == QFileDevice::NoError;
    const QString error = file_->errorString();
    file_->close();
    if (!written) {
        discard();
        return {std::nullopt, saveProblem(error)};
    }
    try {
        const QString target = moveToFreeName(toPath(file_->fileName()), QDir(folder_), name_);
        file_.reset();
        return {target, {}};
    } catch (const std::filesystem::filesystem_error& failure) {
        discard();
        return {std::nullopt,
                saveProblem(QString::fromLocal8Bit(std::strerror(failure.code().value())))};
    }
}

void UpdateDownloadFile::discard() {
    if (file_) {
        file_->close();
        file_->remove();
        file_.reset();
    }
}

}  // namespace tavrolin
