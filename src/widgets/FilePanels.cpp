#include "widgets/FilePanels.h"

#include <QMimeDatabase>

#include "widgets/AppStyle.h"
#include "widgets/PathDialog.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

std::shared_ptr<PreferencesStore>& panelPreferences() {
    static std::shared_ptr<PreferencesStore> preferences;
    return preferences;
}

// What the "Media files" filter lists: the containers Tavrolin writes and those people bring.
const std::vector<std::string>& mediaExtensions() {
    static const std::vector<std::string> extensions{
        "mp4", "m4v", "mov", "mkv", "webm", "avi", "ts",  "m2ts", "mts", "mpg",  "mpeg", "vob",
        "wmv", "flv", "3gp", "ogv", "mxf",  "m4a", "mp3", "aac",  "wav", "flac", "ogg",  "opus"};
    return extensions;
}

// Opens `dialog` where `page`'s dialog of `kind` was last left unless `startingFolder` says
// where, runs it, and keeps where it was left: a chosen folder itself, a chosen file's folder.
void runRemembering(PathDialog& dialog, std::string_view page, std::string_view kind,
                    const std::optional<fs::path>& startingFolder) {
    const auto& preferences = panelPreferences();
    const std::string key = lastFolderKey(page, kind);
    if (startingFolder) {
        dialog.setFolder(*startingFolder);
    } else if (const auto last = preferences ? preferences->string(key) : std::nullopt) {
        dialog.setFolder(toPath(QString::fromStdString(*last)));
    }
    dialog.exec();
    if (const auto chosen = dialog.chosen(); chosen && preferences) {
        const fs::path folder =
            dialog.mode() == PathDialog::Mode::chooseFolder ? *chosen : chosen->parent_path();
        preferences->setString(key, toQString(folder).toStdString());
    }
}

std::vector<fs::path> runOpen(PathDialog::Mode mode, const QString& title, const QString& prompt,
                              std::string_view page, std::string_view kind, QWidget* parent) {
    PathDialog dialog(mode, parent);
    dialog.setWindowTitle(title);
    dialog.setAcceptLabel(prompt);
    if (kind == "mediaFiles") {
        dialog.setFileFilter(QStringLiteral("Media files"), mediaExtensions());
    }
    runRemembering(dialog, page, kind, std::nullopt);
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

std::optional<fs::path> runSave(const QString& title, const QString& prompt,
                                const std::string& suggestedName, const QString& extension,
                                std::string_view page, std::string_view kind,
                                const std::optional<fs::path>& startingFolder, QWidget* parent) {
    PathDialog dialog(PathDialog::Mode::saveFile, parent);
    dialog.setWindowTitle(title);
    dialog.setAcceptLabel(prompt);
    // A name typed without extension gets the container's: "clip" is saved as "clip.mkv".
    dialog.setDefaultSuffix(extension);
    if (!extension.isEmpty()) {
        const QStringList type = contentTypeFilter(extension);
        const QString comment =
            type.isEmpty() ? QString() : QMimeDatabase().mimeTypeForName(type.front()).comment();
        dialog.setFileFilter(
            comment.isEmpty() ? extension.toUpper() + QStringLiteral(" files") : comment,
            listedExtensions(extension));
    }
    dialog.selectName(QString::fromStdString(suggestedName));
    runRemembering(dialog, page, kind, startingFolder);
    return dialog.chosen();
}

}  // namespace

void rememberPanelFoldersIn(std::shared_ptr<PreferencesStore> preferences) {
    panelPreferences() = std::move(preferences);
}

std::string lastFolderKey(std::string_view page, std::string_view kind) {
    return "lastFolder." + std::string(page) + "." + std::string(kind);
}

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

std::vector<fs::path> chooseMediaFiles(std::string_view page, bool allowsMultipleSelection,
                                       QWidget* parent) {
    return runOpen(
        allowsMultipleSelection ? PathDialog::Mode::openFiles : PathDialog::Mode::openFile,
        QStringLiteral("Choose media files"), QStringLiteral("Add"), page, "mediaFiles", parent);
}

std::optional<fs::path> chooseOutputFolder(std::string_view page,
                                           const std::optional<fs::path>& startingFolder,
                                           QWidget* parent) {
    PathDialog dialog(PathDialog::Mode::chooseFolder, parent);
    dialog.setWindowTitle(QStringLiteral("Choose output folder"));
    dialog.setAcceptLabel(QStringLiteral("Choose"));
    runRemembering(dialog, page, "outputFolder", startingFolder);
    return dialog.chosen();
}

std::optional<fs::path> chooseOutputFile(std::string_view page, const std::string& suggestedName,
                                         OutputContainer container,
                                         const std::optional<fs::path>& startingFolder,
                                         QWidget* parent) {
    return runSave(QStringLiteral("Choose output file"), QStringLiteral("Choose"), suggestedName,
                   QString::fromUtf8(rawValue(container).data(),
                                     static_cast<qsizetype>(rawValue(container).size())),
                   page, "outputFile", startingFolder, parent);
}

std::optional<fs::path> chooseSubtitleExportFile(std::string_view page,
                                                 const std::string& suggestedName,
                                                 SubtitleFileFormat format,
                                                 const std::optional<fs::path>& startingFolder,
                                                 QWidget* parent) {
    return runSave(QStringLiteral("Export subtitles"), QStringLiteral("Export"), suggestedName,
                   QString::fromLatin1(fileExtension(format)), page, "subtitleFile", startingFolder,
                   parent);
}

std::optional<fs::path> chooseFFmpegExecutable(QWidget* parent) {
    auto chosen =
        runOpen(PathDialog::Mode::openFile, QStringLiteral("Choose the ffmpeg executable"),
                QStringLiteral("Choose"), "settings", "ffmpeg", parent);
    if (chosen.empty()) {
        return std::nullopt;
    }
    return chosen.front();
}

}  // namespace tavrolin
