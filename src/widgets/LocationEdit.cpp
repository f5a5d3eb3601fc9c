#include "widgets/LocationEdit.h"

#include <QCompleter>
#include <QDir>
#include <QStringListModel>

#include "widgets/AppStyle.h"
#include "widgets/BlockingFileWork.h"
#include "widgets/FolderEntries.h"
#include "widgets/TypedPaths.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> visibleFolders(const std::vector<FolderEntry>& entries) {
    std::vector<std::string> names;
    for (const FolderEntry& entry : entries) {
        if (entry.isFolder && !entry.isHidden()) {
            names.push_back(entry.name);
        }
    }
    return names;
}

}  // namespace

LocationEdit::LocationEdit(QWidget* parent)
    : QLineEdit(parent),
      paths_(new QStringListModel(this)),
      completer_(new QCompleter(paths_, this)),
      work_(std::make_unique<BlockingFileWork>(this)) {
    completer_->setCaseSensitivity(Qt::CaseSensitive);
    completer_->setCompletionMode(QCompleter::PopupCompletion);
    setCompleter(completer_);
    connect(this, &QLineEdit::textEdited, this, &LocationEdit::edited);
    connect(this, &QLineEdit::returnPressed, this,
            [this] { emit folderEntered(folderTyped(text())); });
}

LocationEdit::~LocationEdit() = default;

void LocationEdit::showFolder(const fs::path& folder) {
    shown_ = folder;
    QString text = toQString(folder);
    if (!text.endsWith(u'/')) {
        text += u'/';  // ready for the next part
    }
    setText(text);
    typedParent_ = text;
    setToolTip(plainToolTip(toQString(folder)));
    if (completing_ != folder) {
        completing_.clear();
    }
}

void LocationEdit::setSubfolders(std::vector<std::string> names) {
    showSubfolders(shown_, std::move(names));
}

fs::path LocationEdit::folderTyped(const QString& text) const {
    fs::path path = typedSavePath(shown_, text, toPath(QDir::homePath()), {}).path;
    if (path.has_relative_path() && path.filename().empty()) {
        path = path.parent_path();
    }
    return path;
}

void LocationEdit::edited(const QString& text) {
    const qsizetype slash = text.lastIndexOf(u'/');
    typedParent_ = slash < 0 ? QString() : text.left(slash + 1);
    const fs::path folder =
        folderTyped(typedParent_.isEmpty() ? QStringLiteral(".") : typedParent_);
    if (folder == completing_) {
        offer();
    } else if (folder != shown_) {
        read(folder);  // the shown folder's come from the dialog's reading
    }
}

void LocationEdit::read(const fs::path& folder) {
    if (reading_) {
        wanted_ = folder;  // asked once the reading out answers
        return;
    }
    reading_ = folder;
    const bool started = work_->start([this, folder] {
        return [this, folder, names = visibleFolders(readFolder(folder).entries)]() mutable {
            reading_.reset();
            showSubfolders(folder, std::move(names));
            if (auto next = std::exchange(wanted_, std::nullopt); next && *next != folder) {
                read(*next);
            }
        };
    });
    if (!started) {
        reading_.reset();
    }
}

void LocationEdit::showSubfolders(const fs::path& folder, std::vector<std::string> names) {
    completing_ = folder;
    subfolders_ = std::move(names);
    if (folderTyped(typedParent_.isEmpty() ? QStringLiteral(".") : typedParent_) == folder) {
        offer();
    }
}

void LocationEdit::offer() {
    QStringList paths;
    for (const std::string& name : subfolders_) {
        paths << typedParent_ + toQString(name);
    }
    paths_->setStringList(paths);
    if (hasFocus() && !paths.isEmpty() && text() != typedParent_) {
        completer_->setCompletionPrefix(text());
        completer_->complete();
    }
}

}  // namespace tavrolin
