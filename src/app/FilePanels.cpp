#include "app/FilePanels.h"

#include <QFileDialog>
#include <QMimeDatabase>

#include "app/AppStyle.h"

namespace tavrolin {

namespace {

void configure(QFileDialog& dialog, const QString& title, const QString& prompt) {
    dialog.setWindowTitle(title);
    dialog.setLabelText(QFileDialog::Accept, prompt);
}

void startIn(QFileDialog& dialog, const std::optional<std::filesystem::path>& folder) {
    if (folder) {
        dialog.setDirectory(toQString(*folder));
    }
}

// A dialog confirmed without a selection counts as cancelled.
std::vector<std::filesystem::path> runForFiles(QFileDialog& dialog) {
    std::vector<std::filesystem::path> chosen;
    if (dialog.exec() != QDialog::Accepted) {
        return chosen;
    }
    for (const QString& file : dialog.selectedFiles()) {
        if (!file.isEmpty()) {
            chosen.push_back(toPath(file));
        }
    }
    return chosen;
}

std::optional<std::filesystem::path> runForOne(QFileDialog& dialog) {
    auto chosen = runForFiles(dialog);
    if (chosen.empty()) {
        return std::nullopt;
    }
    return chosen.front();
}

std::optional<std::filesystem::path> runSave(
    const QString& title, const QString& prompt, const std::string& suggestedName,
    const QString& extension, const std::optional<std::filesystem::path>& startingFolder,
    QWidget* parent) {
    QFileDialog dialog(parent);
    configure(dialog, title, prompt);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    // A name typed without extension gets the container's: "clip" is saved as "clip.mkv".
    dialog.setDefaultSuffix(extension);
    const QStringList filter = contentTypeFilter(extension);
    if (!filter.isEmpty()) {
        dialog.setMimeTypeFilters(filter);
    }
    startIn(dialog, startingFolder);
    dialog.selectFile(QString::fromStdString(suggestedName));
    return runForOne(dialog);
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
    QFileDialog dialog(parent);
    configure(dialog, QStringLiteral("Choose media files"), QStringLiteral("Add"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(allowsMultipleSelection ? QFileDialog::ExistingFiles
                                               : QFileDialog::ExistingFile);
    return runForFiles(dialog);
}

std::optional<std::filesystem::path> chooseOutputFolder(
    const std::optional<std::filesystem::path>& startingFolder, QWidget* parent) {
    QFileDialog dialog(parent);
    configure(dialog, QStringLiteral("Choose output folder"), QStringLiteral("Choose"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    startIn(dialog, startingFolder);
    return runForOne(dialog);
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
    QFileDialog dialog(parent);
    configure(dialog, QStringLiteral("Choose the ffmpeg executable"), QStringLiteral("Choose"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    return runForOne(dialog);
}

}  // namespace tavrolin
