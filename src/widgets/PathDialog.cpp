#include "widgets/PathDialog.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QCollator>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <system_error>

#include "widgets/AppStyle.h"
#include "widgets/BlockingFileWork.h"
#include "widgets/ElidedLabel.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

// How long a reading runs before the dialog says it is reading.
constexpr int showReadingAfterMilliseconds = 300;

bool hasExtension(const fs::path& name, const std::vector<std::string>& extensions) {
    if (extensions.empty()) {
        return true;
    }
    const QString extension = toQString(name.extension()).mid(1);
    return std::any_of(extensions.begin(), extensions.end(), [&](const std::string& wanted) {
        return extension.compare(QString::fromStdString(wanted), Qt::CaseInsensitive) == 0;
    });
}

QString quoted(const fs::path& folder) {
    const fs::path name = folder.filename().empty() ? folder : folder.filename();
    return QStringLiteral("\u201C") + toQString(name) + QStringLiteral("\u201D");
}

// What a typed path names, asked off the GUI thread.
enum class PathKind { missing, folder, file, other };

PathKind kindOf(const fs::path& path) {
    std::error_code error;
    const auto status = fs::status(path, error);
    if (error || !fs::exists(status)) {
        return PathKind::missing;
    }
    if (fs::is_directory(status)) {
        return PathKind::folder;
    }
    return fs::is_regular_file(status) ? PathKind::file : PathKind::other;
}

}  // namespace

FolderListing readFolder(const fs::path& folder, const std::vector<std::string>& extensions) {
    FolderListing listing;
    std::error_code error;
    fs::directory_iterator entry(folder, fs::directory_options::skip_permission_denied, error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        const fs::path name = entry->path().filename();
        if (name.string().starts_with('.')) {
            continue;
        }
        std::error_code kind;
        const bool isFolder = entry->is_directory(kind);
        if (isFolder || hasExtension(name, extensions)) {
            listing.entries.push_back({name.string(), isFolder});
        }
    }
    if (error) {
        listing.problem = error.message();
    }
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(listing.entries.begin(), listing.entries.end(),
              [&](const FolderEntry& a, const FolderEntry& b) {
                  if (a.isFolder != b.isFolder) {
                      return a.isFolder;
                  }
                  return collator.compare(toQString(a.name), toQString(b.name)) < 0;
              });
    return listing;
}

TypedSavePath typedSavePath(const fs::path& folder, const QString& typed, const fs::path& home,
                            const QString& defaultSuffix) {
    const QString text = typed;
    fs::path path;
    if (text == QStringLiteral("~") || text.startsWith(QStringLiteral("~/"))) {
        path = home / toPath(text.mid(2));
    } else {
        const fs::path name = toPath(text);
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

// The entries of the folder shown, as last read. GUI thread only.
class FolderEntriesModel : public QAbstractListModel {
  public:
    static constexpr int isFolderRole = Qt::UserRole;

    using QAbstractListModel::QAbstractListModel;

    void setEntries(std::vector<FolderEntry> entries) {
        beginResetModel();
        entries_ = std::move(entries);
        endResetModel();
    }
    const FolderEntry& entry(int row) const { return entries_.at(static_cast<std::size_t>(row)); }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(entries_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount()) {
            return {};
        }
        const FolderEntry& shown = entry(index.row());
        switch (role) {
            case Qt::DisplayRole:
            case Qt::EditRole:
                return toQString(shown.name);
            case Qt::DecorationRole:
                return QApplication::style()->standardIcon(shown.isFolder ? QStyle::SP_DirIcon
                                                                          : QStyle::SP_FileIcon);
            case isFolderRole:
                return shown.isFolder;
            default:
                return {};
        }
    }

  private:
    std::vector<FolderEntry> entries_;
};

PathDialog::PathDialog(Mode mode, QWidget* parent)
    : QDialog(parent),
      mode_(mode),
      entries_(new FolderEntriesModel(this)),
      work_(std::make_unique<BlockingFileWork>(this)) {
    build();
    showReading_.setSingleShot(true);
    showReading_.setInterval(showReadingAfterMilliseconds);
    connect(&showReading_, &QTimer::timeout, this, &PathDialog::updateStatus);
}

void PathDialog::showEvent(QShowEvent* event) {
    if (generation_ == 0) {
        setFolder(toPath(QDir::homePath()));
    }
    QDialog::showEvent(event);
    name_->setFocus();
}

PathDialog::~PathDialog() = default;

void PathDialog::build() {
    resize(640, 460);
    auto* layout = new QVBoxLayout(this);

    auto* bar = new QHBoxLayout;
    auto* up = new QToolButton;
    up->setObjectName(QStringLiteral("upButton"));
    up->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
    up->setAccessibleName(QStringLiteral("Enclosing folder"));
    up->setToolTip(QStringLiteral("Enclosing folder"));
    connect(up, &QToolButton::clicked, this, [this] { setFolder(folder_.parent_path()); });
    auto* home = new QToolButton;
    home->setObjectName(QStringLiteral("homeButton"));
    home->setIcon(style()->standardIcon(QStyle::SP_DirHomeIcon));
    home->setAccessibleName(QStringLiteral("Home folder"));
    home->setToolTip(QStringLiteral("Home folder"));
    connect(home, &QToolButton::clicked, this, [this] { setFolder(toPath(QDir::homePath())); });
    location_ = new ElidedLabel(this, Qt::ElideMiddle);
    location_->setObjectName(QStringLiteral("folderLocation"));
    location_->setAccessibleName(QStringLiteral("Folder"));
    bar->addWidget(up);
    bar->addWidget(home);
    bar->addWidget(location_, 1);
    layout->addLayout(bar);

    list_ = new QListView;
    list_->setObjectName(QStringLiteral("folderList"));
    list_->setAccessibleName(QStringLiteral("Folder contents"));
    list_->setModel(entries_);
    list_->setUniformItemSizes(true);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(list_, &QListView::activated, this,
            [this](const QModelIndex& index) { entryActivated(index.row()); });
    connect(list_, &QListView::clicked, this,
            [this](const QModelIndex& index) { entryChosen(index.row()); });
    layout->addWidget(list_, 1);

    status_ = secondaryLabel();
    status_->setObjectName(QStringLiteral("folderStatus"));
    status_->setWordWrap(true);
    status_->hide();
    layout->addWidget(status_);

    auto* form = new QFormLayout;
    name_ = new QLineEdit;
    name_->setObjectName(QStringLiteral("fileNameEdit"));
    const QString label =
        mode_ == Mode::chooseFolder ? QStringLiteral("Folder") : QStringLiteral("Name");
    name_->setAccessibleName(label);
    // Completes from the folder as read, never by asking the file system.
    auto* completer = new QCompleter(entries_, name_);
    completer->setCaseSensitivity(Qt::CaseSensitive);
    completer->setCompletionMode(QCompleter::InlineCompletion);
    name_->setCompleter(completer);
    form->addRow(label + QStringLiteral(":"), name_);
    layout->addLayout(form);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    acceptButton_ = buttons->addButton(QStringLiteral("Choose"), QDialogButtonBox::AcceptRole);
    acceptButton_->setObjectName(QStringLiteral("acceptButton"));
    acceptButton_->setDefault(true);
    // Return in the name field takes the name, wherever the focus was before.
    buttons->button(QDialogButtonBox::Cancel)->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &PathDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &PathDialog::reject);
    layout->addWidget(buttons);
    if (mode_ != Mode::chooseFolder) {
        acceptButton_->setEnabled(false);
        connect(name_, &QLineEdit::textChanged, this,
                [this](const QString& text) { acceptButton_->setEnabled(!text.isEmpty()); });
    }
    if (opens()) {
        list_->setSelectionMode(mode_ == Mode::openFiles ? QAbstractItemView::ExtendedSelection
                                                         : QAbstractItemView::SingleSelection);
        connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                &PathDialog::showSelection);
    }
}

void PathDialog::setAcceptLabel(const QString& label) {
    acceptButton_->setText(label);
}

QString PathDialog::acceptLabel() const {
    return acceptButton_->text();
}

void PathDialog::setFileExtensions(std::vector<std::string> extensions) {
    extensions_ = std::move(extensions);
}

void PathDialog::setFolder(const fs::path& folder) {
    folder_ = folder.lexically_normal();
    if (folder_.has_relative_path() && folder_.filename().empty()) {
        folder_ = folder_.parent_path();  // "a/b/" shows as "a/b"
    }
    ++lookUp_;  // a name looked up in the folder left goes with it
    lookingUp_ = false;
    lookUpProblem_.clear();
    selectionText_.clear();
    location_->setText(toQString(folder_));
    location_->setToolTip(plainToolTip(toQString(folder_)));
    entries_->setEntries({});
    problem_.reset();
    reading_ = true;
    const std::uint64_t generation = ++generation_;
    showReading_.start();
    updateStatus();
    const bool started =
        work_->start([this, generation, folder = folder_, extensions = extensions_] {
            return [this, generation, listing = readFolder(folder, extensions)]() mutable {
                showListing(generation, std::move(listing));
            };
        });
    if (!started) {
        showListing(generation, {{}, std::string("no thread could be started")});
    }
}

void PathDialog::showListing(std::uint64_t generation, FolderListing listing) {
    if (generation != generation_) {
        return;  // a folder left meanwhile
    }
    reading_ = false;
    showReading_.stop();
    problem_ = std::move(listing.problem);
    entries_->setEntries(std::move(listing.entries));
    updateStatus();
}

void PathDialog::updateStatus() {
    QString text;
    if (!lookUpProblem_.isEmpty()) {
        text = lookUpProblem_;
    } else if (problem_) {
        text = quoted(folder_) + QStringLiteral(" could not be read (") +
               QString::fromStdString(*problem_) +
               QStringLiteral("). Choose another folder, or type a name.");
    } else if (reading_ && !showReading_.isActive()) {
        text = QStringLiteral("Reading ") + quoted(folder_) +
               QStringLiteral("\u2026 You can type a name meanwhile.");
    }
    status_->setText(text);
    status_->setVisible(!text.isEmpty());
}

void PathDialog::entryActivated(int row) {
    const FolderEntry& entry = entries_->entry(row);
    if (entry.isFolder) {
        setFolder(folder_ / entry.name);
        if (mode_ == Mode::chooseFolder) {
            name_->clear();
        }
        return;
    }
    if (!opens() || name_->text() != selectionText_) {
        name_->setText(toQString(entry.name));
    }
    accept();
}

void PathDialog::entryChosen(int row) {
    const FolderEntry& entry = entries_->entry(row);
    if (!opens() && entry.isFolder == (mode_ == Mode::chooseFolder)) {
        name_->setText(toQString(entry.name));
    }
}

void PathDialog::selectName(const QString& name) {
    name_->setText(name);
    const qsizetype point = name.lastIndexOf(u'.');
    name_->setSelection(0, point > 0 ? point : name.size());
}

std::optional<fs::path> PathDialog::chosen() const {
    if (result() != QDialog::Accepted || chosen_.empty()) {
        return std::nullopt;
    }
    return chosen_.front();
}

std::vector<fs::path> PathDialog::chosenFiles() const {
    return result() == QDialog::Accepted ? chosen_ : std::vector<fs::path>{};
}

std::vector<fs::path> PathDialog::selectedFiles() const {
    QModelIndexList rows = list_->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end());  // in the order shown
    std::vector<fs::path> files;
    for (const QModelIndex& row : rows) {
        const FolderEntry& entry = entries_->entry(row.row());
        if (!entry.isFolder) {
            files.push_back(folder_ / entry.name);
        }
    }
    return files;
}

// The selected files' names stand in the name field, several each in quotes; while the field
// holds what the selection put there, the selection is what is taken, so '"' in a name never
// splits it.
void PathDialog::showSelection() {
    QStringList names;
    for (const fs::path& file : selectedFiles()) {
        names << toQString(file.filename());
    }
    if (names.isEmpty()) {
        return;
    }
    selectionText_ =
        names.size() == 1
            ? names.front()
            : QStringLiteral("\"") + names.join(QStringLiteral("\" \"")) + QStringLiteral("\"");
    name_->setText(selectionText_);
}

void PathDialog::take(std::vector<fs::path> files) {
    chosen_ = std::move(files);
    QDialog::accept();
}

// A typed name the reading lists is known; any other is looked up on a thread of its own, and
// the dialog goes on serving meanwhile.
void PathDialog::open(const fs::path& path) {
    if (path.parent_path() == folder_ && !reading_) {
        for (int row = 0; row < entries_->rowCount(); ++row) {
            const FolderEntry& entry = entries_->entry(row);
            if (entry.name == path.filename().string()) {
                if (entry.isFolder) {
                    setFolder(path);
                    name_->clear();
                } else {
                    take({path});
                }
                return;
            }
        }
    }
    const std::uint64_t generation = ++lookUp_;
    lookUpProblem_.clear();
    lookingUp_ = true;
    const bool started = work_->start([this, generation, path] {
        return [this, generation, path, kind = kindOf(path)] {
            showLookUp(generation, path, static_cast<int>(kind));
        };
    });
    if (!started) {
        lookingUp_ = false;
        lookUpProblem_ = QStringLiteral("Tavrolin could not look for the file now. Try again.");
        updateStatus();
    }
}

void PathDialog::showLookUp(std::uint64_t generation, const fs::path& path, int kind) {
    if (generation != lookUp_) {
        return;  // another name typed, or another folder shown, meanwhile
    }
    lookingUp_ = false;
    switch (static_cast<PathKind>(kind)) {
        case PathKind::folder:
            setFolder(path);
            name_->clear();
            return;
        case PathKind::file:
            take({path});
            return;
        case PathKind::missing:
            lookUpProblem_ = QStringLiteral("There is no ") + quoted(path) +
                             QStringLiteral(" in ") + quoted(path.parent_path()) +
                             QStringLiteral(". Choose a file from the list, or check the name.");
            break;
        case PathKind::other:
            lookUpProblem_ =
                quoted(path) + QStringLiteral(" is not a file. Choose a file from the list.");
            break;
    }
    updateStatus();
}

void PathDialog::accept() {
    const QString typed = name_->text();
    if (opens() && !typed.isEmpty() && typed == selectionText_) {
        if (auto files = selectedFiles(); !files.empty()) {
            take(std::move(files));
            return;
        }
    }
    if (typed.isEmpty()) {
        if (mode_ == Mode::chooseFolder) {
            take({folder_});
        }
        return;
    }
    const TypedSavePath path = typedSavePath(folder_, typed, toPath(QDir::homePath()),
                                             mode_ == Mode::saveFile ? defaultSuffix_ : QString());
    if (path.opensFolder) {
        setFolder(path.path);
        name_->clear();
    } else if (opens()) {
        open(path.path);
    } else {
        take({path.path});
    }
}

}  // namespace tavrolin
