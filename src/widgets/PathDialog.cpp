#include "widgets/PathDialog.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <system_error>

#include "model/OutputFolderCheck.h"
#include "widgets/AppStyle.h"
#include "widgets/BlockingFileWork.h"
#include "widgets/LocationEdit.h"
#include "widgets/PlacesList.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

// How long a reading or look-up runs before the dialog says it is at it.
constexpr int showReadingAfterMilliseconds = 300;

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

std::int64_t steadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QToolButton* toolButton(const char* name, QStyle::StandardPixmap icon, const QString& text) {
    auto* button = new QToolButton;
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(QApplication::style()->standardIcon(icon));
    button->setAccessibleName(text);
    button->setToolTip(text);
    return button;
}

}  // namespace

PathDialog::Progress::Progress() : lastAnswer(steadyMilliseconds()) {}

void PathDialog::Progress::answered() {
    lastAnswer = steadyMilliseconds();
}

bool PathDialog::Progress::isSilent() const {
    return steadyMilliseconds() - lastAnswer >=
           std::chrono::duration_cast<std::chrono::milliseconds>(notAnsweringAfter).count();
}

PathDialog::PathDialog(Mode mode, QWidget* parent)
    : QDialog(parent),
      mode_(mode),
      entries_(new FolderEntriesModel(this)),
      work_(std::make_unique<BlockingFileWork>(this)) {
    entries_->setFilesEnabled(mode_ != Mode::chooseFolder);
    build();
    showReading_.setSingleShot(true);
    showReading_.setInterval(showReadingAfterMilliseconds);
    connect(&showReading_, &QTimer::timeout, this, &PathDialog::updateStatus);
    watch_.setInterval(250);
    connect(&watch_, &QTimer::timeout, this, &PathDialog::watch);
}

void PathDialog::showEvent(QShowEvent* event) {
    if (generation_ == 0) {
        setFolder(toPath(QDir::homePath()));
    }
    QDialog::showEvent(event);
    name_->setFocus();
}

PathDialog::~PathDialog() = default;

QWidget* PathDialog::buildBar() {
    auto* bar = new QWidget;
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins({});
    auto* up =
        toolButton("upButton", QStyle::SP_FileDialogToParent, QStringLiteral("Enclosing folder"));
    connect(up, &QToolButton::clicked, this, &PathDialog::goUp);
    auto* home = toolButton("homeButton", QStyle::SP_DirHomeIcon, QStringLiteral("Home folder"));
    connect(home, &QToolButton::clicked, this, [this] { setFolder(toPath(QDir::homePath())); });
    location_ = new LocationEdit;
    location_->setObjectName(QStringLiteral("folderLocation"));
    location_->setAccessibleName(QStringLiteral("Folder"));
    connect(location_, &LocationEdit::folderEntered, this, [this](const fs::path& folder) {
        setFolder(folder);
        list_->setFocus();
    });
    layout->addWidget(up);
    layout->addWidget(home);
    layout->addWidget(location_, 1);
    return bar;
}

void PathDialog::build() {
    resize(760, 480);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(buildBar());

    auto* split = new QSplitter;
    places_ = new PlacesList;
    connect(places_, &PlacesList::placeChosen, this, [this](const fs::path& place) {
        if (place != folder_ || problem_) {
            setFolder(place);
        }
    });
    split->addWidget(places_);

    list_ = new QTreeView;
    list_->setObjectName(QStringLiteral("folderList"));
    list_->setAccessibleName(QStringLiteral("Folder contents"));
    list_->setModel(entries_);
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setSortingEnabled(true);
    list_->sortByColumn(FolderEntryView::name, Qt::AscendingOrder);
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionResizeMode(FolderEntryView::name, QHeaderView::Stretch);
    list_->setColumnWidth(FolderEntryView::size, 90);
    list_->setColumnWidth(FolderEntryView::modified, 150);
    list_->installEventFilter(this);
    connect(list_, &QTreeView::activated, this,
            [this](const QModelIndex& index) { entryActivated(index.row()); });
    connect(list_, &QTreeView::clicked, this,
            [this](const QModelIndex& index) { entryChosen(index.row()); });
    split->addWidget(list_);
    split->setStretchFactor(1, 1);
    split->setSizes({170, 590});
    layout->addWidget(split, 1);

    status_ = secondaryLabel();
    status_->setObjectName(QStringLiteral("folderStatus"));
    status_->setWordWrap(true);
    status_->hide();
    layout->addWidget(status_);

    auto* form = new QFormLayout;
    auto* nameRow = new QHBoxLayout;
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
    nameRow->addWidget(name_, 1);
    filter_ = new QComboBox;
    filter_->setObjectName(QStringLiteral("fileFilter"));
    filter_->setAccessibleName(QStringLiteral("Files shown"));
    filter_->addItem(QStringLiteral("All files"));
    filter_->setVisible(mode_ != Mode::chooseFolder);
    connect(filter_, &QComboBox::currentIndexChanged, this, [this](int index) {
        entries_->setExtensions(index == 0 && !extensions_.empty() ? extensions_
                                                                   : std::vector<std::string>{});
    });
    nameRow->addWidget(filter_);
    form->addRow(label + QStringLiteral(":"), nameRow);
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
    buildShortcuts();
}

void PathDialog::buildShortcuts() {
    auto* up = new QAction(QStringLiteral("Enclosing folder"), this);
    up->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Up));
    connect(up, &QAction::triggered, this, &PathDialog::goUp);
    addAction(up);
    auto* hidden = new QAction(QStringLiteral("Show hidden files"), this);
    hidden->setObjectName(QStringLiteral("showHiddenFiles"));
    hidden->setCheckable(true);
    hidden->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    connect(hidden, &QAction::toggled, entries_, &FolderEntriesModel::setShowsHidden);
    addAction(hidden);
    list_->addAction(hidden);
    list_->setContextMenuPolicy(Qt::ActionsContextMenu);
}

// Backspace in the list goes up, as in the desktop's dialogs; in a text field it edits.
bool PathDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Backspace && key->modifiers() == Qt::NoModifier) {
            goUp();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void PathDialog::goUp() {
    if (folder_.has_relative_path()) {
        setFolder(folder_.parent_path());
    }
}

void PathDialog::setAcceptLabel(const QString& label) {
    acceptButton_->setText(label);
}

QString PathDialog::acceptLabel() const {
    return acceptButton_->text();
}

void PathDialog::setFileFilter(const QString& label, std::vector<std::string> extensions) {
    extensions_ = std::move(extensions);
    const QSignalBlocker blocker(filter_);
    filter_->clear();
    if (!extensions_.empty()) {
        filter_->addItem(label);
    }
    filter_->addItem(QStringLiteral("All files"));
    filter_->setCurrentIndex(0);
    entries_->setExtensions(extensions_);
}

void PathDialog::setFolder(const fs::path& folder) {
    folder_ = folder.lexically_normal();
    if (folder_.has_relative_path() && folder_.filename().empty()) {
        folder_ = folder_.parent_path();  // "a/b/" shows as "a/b"
    }
    ++lookUp_;  // a name looked up in the folder left goes with it
    lookingUp_ = false;
    lookingFor_.clear();
    lookUpProblem_.clear();
    selectionText_.clear();
    location_->showFolder(folder_);
    entries_->setEntries({});
    problem_.reset();
    reading_ = true;
    const std::uint64_t generation = ++generation_;
    auto progress = std::make_shared<Progress>();
    readingProgress_ = progress;
    showReading_.start();
    watch_.start();
    updateStatus();
    const bool started = work_->start([this, generation, folder = folder_, progress] {
        FolderListing listing = readFolder(folder, [&] { progress->answered(); });
        return [this, generation, listing = std::move(listing)]() mutable {
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
    std::vector<std::string> folders;
    for (const FolderEntry& entry : listing.entries) {
        if (entry.isFolder && !entry.isHidden()) {
            folders.push_back(entry.name);
        }
    }
    location_->setSubfolders(std::move(folders));
    entries_->setEntries(listing.entries);
    updateStatus();
    if (listing.entries.empty()) {
        return;
    }
    // Sizes and times after the names: a slow mount answers one look per entry.
    work_->start([this, generation, folder = folder_, entries = std::move(listing.entries)] {
        return [this, generation, entries = readEntryDetails(folder, entries)]() mutable {
            if (generation == generation_) {
                entries_->setDetails(std::move(entries));
            }
        };
    });
}

void PathDialog::watch() {
    if (!reading_ && !lookingUp_) {
        watch_.stop();
    }
    updateStatus();
}

void PathDialog::updateStatus() {
    QString text;
    if (!lookUpProblem_.isEmpty()) {
        text = lookUpProblem_;
    } else if (lookingUp_ && lookUpProgress_->isSilent()) {
        text = QString::fromStdString(folderNotAnsweringText(lookingFor_.front().parent_path()));
    } else if (problem_) {
        text = quoted(folder_) + QStringLiteral(" could not be read (") +
               QString::fromStdString(*problem_) +
               QStringLiteral("). Choose another folder, or type a name.");
    } else if (reading_ && readingProgress_->isSilent()) {
        text = QString::fromStdString(folderNotAnsweringText(folder_));
    } else if (lookingUp_ &&
               steadyMilliseconds() - lookUpProgress_->lastAnswer >= showReadingAfterMilliseconds) {
        text =
            QStringLiteral("Looking for ") + quoted(lookingFor_.front()) + QStringLiteral("\u2026");
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
    if (mode_ == Mode::chooseFolder) {
        return;  // a file is no folder to choose
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
    std::vector<int> rows;
    for (const QModelIndex& index : list_->selectionModel()->selectedIndexes()) {
        rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());  // in the order shown
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    std::vector<fs::path> files;
    for (const int row : rows) {
        const FolderEntry& entry = entries_->entry(row);
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

void PathDialog::openTypedFolder(const fs::path& folder) {
    setFolder(folder);
    name_->clear();
}

// Typed paths the reading lists are known at once (in a save or folder dialog, so is one it
// does not list); the others are looked up on a thread of their own while the dialog goes on
// serving. The same paths asked again while their look-up is out wait for it: a hung mount holds
// one thread, however often Return is pressed.
void PathDialog::resolve(std::vector<fs::path> paths, fs::path saveAs) {
    std::vector<int> kinds;
    for (const fs::path& path : paths) {
        if (path.parent_path() != folder_ || reading_) {
            break;
        }
        if (const FolderEntry* entry = entries_->find(path.filename().string())) {
            kinds.push_back(static_cast<int>(entry->isFolder ? PathKind::folder : PathKind::file));
        } else if (!opens()) {
            kinds.push_back(static_cast<int>(PathKind::missing));
        } else {
            break;
        }
    }
    if (kinds.size() == paths.size()) {
        resolved(paths, saveAs, kinds);
        return;
    }
    if (lookingUp_ && lookingFor_ == paths) {
        return;
    }
    const std::uint64_t generation = ++lookUp_;
    lookUpProblem_.clear();
    lookingUp_ = true;
    lookingFor_ = paths;
    auto progress = std::make_shared<Progress>();
    lookUpProgress_ = progress;
    watch_.start();
    const bool started = work_->start([this, generation, paths, saveAs, progress] {
        std::vector<int> found;
        for (const fs::path& path : paths) {
            found.push_back(static_cast<int>(kindOf(path)));
            progress->answered();
        }
        return [this, generation, paths, saveAs, found] {
            if (generation == lookUp_) {  // else another name or folder came meanwhile
                resolved(paths, saveAs, found);
            }
        };
    });
    if (!started) {
        lookingUp_ = false;
        lookUpProblem_ = QStringLiteral("Tavrolin could not look for the file now. Try again.");
    }
    updateStatus();
}

void PathDialog::resolved(const std::vector<fs::path>& paths, const fs::path& saveAs,
                          const std::vector<int>& kinds) {
    lookingUp_ = false;
    lookingFor_.clear();
    lookUpProblem_.clear();
    if (mode_ == Mode::chooseFolder) {
        const auto kind = static_cast<PathKind>(kinds.front());
        if (kind == PathKind::file || kind == PathKind::other) {
            lookUpProblem_ =
                quoted(paths.front()) + QStringLiteral(
                                            " is a file. Choose a folder, or leave the name "
                                            "empty to choose the folder shown.");
            updateStatus();
        } else {
            take({paths.front()});  // a missing one the page says about
        }
        return;
    }
    if (paths.size() == 1 && static_cast<PathKind>(kinds.front()) == PathKind::folder) {
        openTypedFolder(paths.front());
        return;
    }
    if (mode_ == Mode::saveFile) {
        take({saveAs});  // whether the folder takes it the page asks after
        return;
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const fs::path& path = paths[i];
        switch (static_cast<PathKind>(kinds[i])) {
            case PathKind::file:
                continue;
            case PathKind::missing:
                lookUpProblem_ =
                    QStringLiteral("There is no ") + quoted(path) + QStringLiteral(" in ") +
                    quoted(path.parent_path()) +
                    QStringLiteral(". Choose a file from the list, or check the name.");
                break;
            case PathKind::folder:
            case PathKind::other:
                lookUpProblem_ =
                    quoted(path) + QStringLiteral(" is not a file. Choose a file from the list.");
                break;
        }
        updateStatus();
        return;
    }
    take(paths);
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
    const fs::path home = toPath(QDir::homePath());
    // Several quoted names, unless the folder holds a file named so, quotes and all.
    if (mode_ == Mode::openFiles && !entries_->find(toPath(typed).string())) {
        if (const auto names = quotedNames(typed)) {
            std::vector<fs::path> paths;
            for (const QString& name : *names) {
                paths.push_back(typedSavePath(folder_, name, home, {}).path);
            }
            resolve(std::move(paths));
            return;
        }
    }
    const TypedSavePath path =
        typedSavePath(folder_, typed, home, mode_ == Mode::saveFile ? defaultSuffix_ : QString());
    if (path.opensFolder) {
        openTypedFolder(path.path);
    } else {
        resolve({path.asTyped}, path.path);
    }
}

}  // namespace tavrolin
