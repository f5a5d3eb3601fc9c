#include "widgets/FilePanels.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMimeDatabase>

#include <algorithm>

#include "widgets/AppStyle.h"
#include "widgets/PathDialog.h"

namespace tavrolin {

namespace {

void configure(QFileDialog& dialog, const QString& title, const QString& prompt) {
    dialog.setWindowTitle(title);
    dialog.setLabelText(QFileDialog::Accept, prompt);
}

// Qt's own dialog reads its name field, where '"' separates names, so a file named
// `Film "multi" (2024).mkv` could not be chosen, typed or selected with others. While the field
// holds a '"', the files are the name typed whole when it names an existing file, else the view's
// selection. The platform's dialog, where one is used, gives its files itself.
class OpenFilesDialog : public QFileDialog {
  public:
    using QFileDialog::QFileDialog;

    void accept() override {
        chosen_ = fileNamedWhole();
        if (chosen_.empty()) {
            chosen_ = selectedInView();
        }
        if (chosen_.empty()) {
            QFileDialog::accept();  // Qt's own reading: names, folders to open, warnings
        } else {
            QDialog::accept();
        }
    }
    std::vector<std::filesystem::path> chosenFiles() const {
        if (!chosen_.empty()) {
            return chosen_;
        }
        std::vector<std::filesystem::path> files;
        for (const QString& file : selectedFiles()) {
            if (!file.isEmpty()) {
                files.push_back(toPath(file));
            }
        }
        return files;
    }

  private:
    QString quotedText() const {
        const auto* field = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        return field && field->text().contains(u'"') ? field->text() : QString();
    }
    std::vector<std::filesystem::path> fileNamedWhole() const {
        const QString text = quotedText();
        if (text.isEmpty()) {
            return {};
        }
        std::filesystem::path file = toPath(text);
        if (file.is_relative()) {
            file = toPath(directory().absolutePath()) / file;
        }
        std::error_code error;
        if (!std::filesystem::is_regular_file(file, error)) {
            return {};
        }
        return {file};
    }
    std::vector<std::filesystem::path> selectedInView() const {
        const auto* view = findChild<QAbstractItemView*>(QStringLiteral("listView"));
        if (quotedText().isEmpty() || !view || !view->selectionModel()) {
            return {};
        }
        std::vector<std::filesystem::path> files;
        QModelIndexList rows = view->selectionModel()->selectedRows();
        std::sort(rows.begin(), rows.end());  // in the order shown
        for (const QModelIndex& row : rows) {
            const auto file = toPath(row.data(QFileSystemModel::FilePathRole).toString());
            std::error_code error;
            if (!std::filesystem::is_regular_file(file, error)) {
                return {};  // a folder among them: Qt opens it
            }
            files.push_back(file);
        }
        return files;
    }

    std::vector<std::filesystem::path> chosen_;
};

std::vector<std::filesystem::path> runForFiles(OpenFilesDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return dialog.chosenFiles();
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
    OpenFilesDialog dialog(parent);
    configure(dialog, QStringLiteral("Choose media files"), QStringLiteral("Add"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(allowsMultipleSelection ? QFileDialog::ExistingFiles
                                               : QFileDialog::ExistingFile);
    return runForFiles(dialog);
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
    QFileDialog dialog(parent);
    configure(dialog, QStringLiteral("Choose the ffmpeg executable"), QStringLiteral("Choose"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    return runForOne(dialog);
}

}  // namespace tavrolin
