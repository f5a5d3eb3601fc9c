#include "widgets/FilePanels.h"

#include <QMimeDatabase>

#include "widgets/AppStyle.h"
#include "widgets/PathDialog.h"

namespace tavrolin {

namespace {

std::vector<std::filesystem::path> runOpen(PathDialog::Mode mode, const QString& title,
                                           const QString& prompt, QWidget* parent) {
    PathDialog dialog(mode, parent);
    dialog.setWindowTitle(title);
    dialog.setAcceptLabel(prompt);
    dialog.exec();
    return dialog.chosenFiles();
}

// The file types a save dialog lists: every extension of the container's content type.
std::vector<std::string> listedExtensions(const QString& extension) {
    std::vector<std::string> extensions{extension.toStdString()};
    const QStringList filter = contentTypeFilter(extension);
    if (!filter.isEmpty()) {
        for (const QString& suffix : QMimeDatabase().mimeTypeForName(filter.front()).suffixes()) {
            if (suffix != extension) {
                extensions.push_back(suffix.toStdString());
            }
        }
    }
    return extensions;
}

std::optional<std::filesystem::path> runSave(
    const QString& title, const QString& prompt, const std::string& suggestedName,
    const QString& extension, const std::optional<std::filesystem::path>& startingFolder,
    QWidget* parent) {
    PathDialog dialog(PathDialog::Mode::saveFile, parent);
    dialog.setWindowTitle(title);
    dialog.setAcceptLabel(prompt);
    // A name typed without extension gets the container's: "clip" is saved as "clip.mkv".
    dialog.setDefaultSuffix(extension);
    if (!extension.isEmpty()) {
        dialog.setFileExtensions(listedExtensions(extension));
    }
    if (startingFolder) {
        dialog.setFolder(*startingFolder);
    }
    dialog.selectName(QString::fromStdString(suggestedName));
    dialog.exec();
    return dialog.chosen();
}

}  // namespace

QStringList contentTypeFilter(const QString& extension) {
    if (extension.isEmpty()) {
        return {};
    }
    const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(QStringLiteral("file.") + extension,
                                                    QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault()) {
        return {};
    }
    return {type.name()};
}

std::vector<std::filesystem::path> chooseMediaFiles(bool allowsMultipleSelection, QWidget* parent) {
    return runOpen(
        allowsMultipleSelection ? PathDialog::Mode::openFiles : PathDialog::Mode::openFile,
        QStringLiteral("Choose media files"), QStringLiteral("Add"), parent);
}

std::optional<std::filesystem::path> chooseOutputFolder(
    const std::optional<std::filesystem::path>& startingFolder, QWidget* parent) {
    PathDialog dialog(PathDialog::Mode::chooseFolder, parent);
    dialog.setWindowTitle(QStringLiteral("Choose output folder"));
    dialog.setAcceptLabel(QStringLiteral("Choose"));
    if (startingFolder) {
        dialog.setFolder(*startingFolder);
    }
    dialog.exec();
    return dialog.chosen();
}

std::optional<std::filesystem::path> chooseOutputFile(
    const std::string& suggestedName, OutputContainer container,
    const std::optional<std::filesystem::path>& startingFolder, QWidget* parent) {
    return runSave(QStringLiteral("Choose output file"), QStringLiteral("Choose"), suggestedName,
                   QString::fromUtf8(rawValue(container).data(),
                                     static_cast<qsizetype>(rawValue(container).size())),
                   startingFolder, parent);
}

std::optional<std::filesystem::path> chooseSubtitleExportFile(
    const std::string& suggestedName, SubtitleFileFormat format,
    const std::optional<std::filesystem::path>& startingFolder, QWidget* parent) {
    return runSave(QStringLiteral("Export subtitles"), QStringLiteral("Export"), suggestedName,
                   QString::fromLatin1(fileExtension(format)), startingFolder, parent);
}

std::optional<std::filesystem::path> chooseFFmpegExecutable(QWidget* parent) {
    auto chosen =
        runOpen(PathDialog::Mode::openFile, QStringLiteral("Choose the ffmpeg executable"),
                QStringLiteral("Choose"), parent);
    if (chosen.empty()) {
        return std::nullopt;
    }
    return chosen.front();
}

}  // namespace tavrolin
