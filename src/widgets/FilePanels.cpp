#include "widgets/FilePanels.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMimeDatabase>

#include <algorithm>

#include "widgets/AppStyle.h"

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

// Qt's own dialog, on accepting a name, asks the file system about it on the GUI thread (is it a
// folder, how long may a name be there), which holds the window for as long as a slow or hung
// mount takes to answer. This one takes the typed name as it stands, with the default suffix
// when it has no extension; the page that writes asks about the folder and the name off the GUI
// thread and refuses an existing file itself. A name ending in "/" opens that folder.
class SaveFileDialog : public QFileDialog {
  public:
    explicit SaveFileDialog(QWidget* parent) : QFileDialog(parent) {
        setOption(QFileDialog::DontUseNativeDialog);
        setOption(QFileDialog::DontConfirmOverwrite);
        setAcceptMode(QFileDialog::AcceptSave);
        setFileMode(QFileDialog::AnyFile);
    }

    void accept() override {
        const auto* field = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        const QString typed = field ? field->text() : QString();
        if (typed.isEmpty()) {
            return;
        }
        const auto chosen = typedSavePath(toPath(directory().absolutePath()), typed,
                                          toPath(QDir::homePath()), defaultSuffix());
        if (chosen.opensFolder) {
            setDirectory(toQString(chosen.path));
            return;
        }
        chosen_ = chosen.path;
        QDialog::accept();
    }
    std::optional<std::filesystem::path> chosen() const {
        return result() == QDialog::Accepted ? chosen_ : std::nullopt;
    }

  private:
    std::optional<std::filesystem::path> chosen_;
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

std::optional<std::filesystem::path> runSave(
    const QString& title, const QString& prompt, const std::string& suggestedName,
    const QString& extension, const std::optional<std::filesystem::path>& startingFolder,
    QWidget* parent) {
    SaveFileDialog dialog(parent);
    configure(dialog, title, prompt);
    // A name typed without extension gets the container's: "clip" is saved as "clip.mkv".
    dialog.setDefaultSuffix(extension);
    const QStringList filter = contentTypeFilter(extension);
    if (!filter.isEmpty()) {
        dialog.setMimeTypeFilters(filter);
    }
    startIn(dialog, startingFolder);
    dialog.selectFile(QString::fromStdString(suggestedName));
    dialog.exec();
    return dialog.chosen();
}

}  // namespace

TypedSavePath typedSavePath(const std::filesystem::path& folder, const QString& typed,
                            const std::filesystem::path& home, const QString& defaultSuffix) {
    QString text = typed;
    std::filesystem::path path;
    if (text == QStringLiteral("~") || text.startsWith(QStringLiteral("~/"))) {
        path = home / toPath(text.mid(2));
    } else {
        const std::filesystem::path name = toPath(text);
        path = name.is_absolute() ? name : folder / name;
    }
    path = path.lexically_normal();
    if (text.endsWith(u'/') || text == QStringLiteral("~")) {
        return {path, true};
    }
    // Qt's own rule: a name with no point at all gets the suffix.
    if (!defaultSuffix.isEmpty() && !toQString(path.filename()).contains(u'.')) {
        path += "." + defaultSuffix.toStdString();
    }
    return {path, false};
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
