#include "widgets/FolderEntries.h"

#include <QApplication>
#include <QCollator>
#include <QDateTime>
#include <QLocale>
#include <QPalette>
#include <QStyle>

#include <algorithm>
#include <chrono>
#include <system_error>

#include "widgets/AppStyle.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

bool hasExtension(const std::string& name, const std::vector<std::string>& extensions) {
    if (extensions.empty()) {
        return true;
    }
    const QString extension = toQString(fs::path(name).extension()).mid(1);
    return std::any_of(extensions.begin(), extensions.end(), [&](const std::string& wanted) {
        return extension.compare(QString::fromStdString(wanted), Qt::CaseInsensitive) == 0;
    });
}

std::int64_t millisecondsSinceEpoch(fs::file_time_type time) {
    const auto system = std::chrono::file_clock::to_sys(time);
    return std::chrono::duration_cast<std::chrono::milliseconds>(system.time_since_epoch()).count();
}

}  // namespace

FolderListing readFolder(const fs::path& folder, const std::function<void()>& answered) {
    FolderListing listing;
    std::error_code error;
    fs::directory_iterator entry(folder, fs::directory_options::skip_permission_denied, error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        if (answered) {
            answered();
        }
        std::error_code kind;
        // The type the folder's reading gave: no look at the entry itself unless it gave none.
        FolderEntry found;
        found.name = entry->path().filename().string();
        found.isFolder = entry->is_directory(kind);
        listing.entries.push_back(std::move(found));
    }
    if (error) {
        listing.problem = error.message();
    }
    return listing;
}

std::vector<FolderEntry> readEntryDetails(const fs::path& folder, std::vector<FolderEntry> entries,
                                          const std::function<void()>& answered) {
    for (FolderEntry& entry : entries) {
        std::error_code error;
        const auto status = fs::status(folder / entry.name, error);
        if (answered) {
            answered();
        }
        if (error) {
            continue;
        }
        if (fs::is_regular_file(status)) {
            const auto size = fs::file_size(folder / entry.name, error);
            if (!error) {
                entry.size = size;
            }
        }
        const auto time = fs::last_write_time(folder / entry.name, error);
        if (answered) {
            answered();
        }
        if (!error) {
            entry.modified = millisecondsSinceEpoch(time);
        }
    }
    return entries;
}

std::vector<std::size_t> shownEntries(const std::vector<FolderEntry>& entries,
                                      const FolderEntryView& view) {
    std::vector<std::size_t> shown;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const FolderEntry& entry = entries[i];
        if ((view.showsHidden || !entry.isHidden()) &&
            (entry.isFolder || hasExtension(entry.name, view.extensions))) {
            shown.push_back(i);
        }
    }
    // The C locale's collation compares code points ("clip 10" before "clip 2").
    QCollator collator(QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale());
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    const auto byName = [&](const FolderEntry& a, const FolderEntry& b) {
        return collator.compare(toQString(a.name), toQString(b.name));
    };
    std::stable_sort(shown.begin(), shown.end(), [&](std::size_t left, std::size_t right) {
        const FolderEntry& a = entries[left];
        const FolderEntry& b = entries[right];
        if (a.isFolder != b.isFolder) {
            return a.isFolder;
        }
        int order = 0;
        if (view.sortColumn == FolderEntryView::size) {
            order = a.size == b.size ? 0 : (a.size < b.size ? -1 : 1);
        } else if (view.sortColumn == FolderEntryView::modified) {
            order = a.modified == b.modified ? 0 : (a.modified < b.modified ? -1 : 1);
        }
        if (order == 0) {
            order = byName(a, b);
        }
        return view.descending ? order > 0 : order < 0;
    });
    return shown;
}

void FolderEntriesModel::setEntries(std::vector<FolderEntry> entries) {
    beginResetModel();
    entries_ = std::move(entries);
    shown_ = shownEntries(entries_, view_);
    endResetModel();
}

void FolderEntriesModel::setDetails(std::vector<FolderEntry> entries) {
    if (entries.size() != entries_.size()) {
        return;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].name != entries_[i].name) {
            return;  // another folder's
        }
    }
    entries_ = std::move(entries);
    if (view_.sortColumn == FolderEntryView::name) {
        if (!shown_.empty()) {
            emit dataChanged(index(0, FolderEntryView::size),
                             index(rowCount() - 1, FolderEntryView::modified));
        }
    } else {
        reshow();
    }
}

const FolderEntry* FolderEntriesModel::find(const std::string& name) const {
    const auto found = std::find_if(entries_.begin(), entries_.end(),
                                    [&](const FolderEntry& entry) { return entry.name == name; });
    return found == entries_.end() ? nullptr : &*found;
}

const FolderEntry& FolderEntriesModel::entry(int row) const {
    return entries_.at(shown_.at(static_cast<std::size_t>(row)));
}

void FolderEntriesModel::reshow() {
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    std::vector<std::string> names;
    for (const QModelIndex& index : before) {
        names.push_back(entry(index.row()).name);
    }
    shown_ = shownEntries(entries_, view_);
    QModelIndexList after;
    for (int i = 0; i < before.size(); ++i) {
        const auto found = std::find_if(shown_.begin(), shown_.end(), [&](std::size_t shown) {
            return entries_[shown].name == names[static_cast<std::size_t>(i)];
        });
        after << (found == shown_.end()
                      ? QModelIndex()
                      : index(static_cast<int>(found - shown_.begin()), before[i].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
}

void FolderEntriesModel::setShowsHidden(bool shows) {
    if (view_.showsHidden != shows) {
        view_.showsHidden = shows;
        reshow();
    }
}

void FolderEntriesModel::setExtensions(std::vector<std::string> extensions) {
    view_.extensions = std::move(extensions);
    reshow();
}

void FolderEntriesModel::setFilesEnabled(bool enabled) {
    filesEnabled_ = enabled;
}

void FolderEntriesModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= FolderEntryView::columnCount) {
        return;
    }
    view_.sortColumn = static_cast<FolderEntryView::Column>(column);
    view_.descending = order == Qt::DescendingOrder;
    reshow();
}

int FolderEntriesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int FolderEntriesModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : FolderEntryView::columnCount;
}

QVariant FolderEntriesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    // In the order of FolderEntryView::Column.
    static const char* const headings[FolderEntryView::columnCount] = {"Name", "Size", "Modified"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= FolderEntryView::columnCount) {
        return {};
    }
    return QString::fromLatin1(headings[section]);
}

Qt::ItemFlags FolderEntriesModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    if (!filesEnabled_ && !entry(index.row()).isFolder) {
        return Qt::NoItemFlags;  // shown dimmed, never chosen
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

QVariant FolderEntriesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const FolderEntry& shown = entry(index.row());
    if (role == isFolderRole) {
        return shown.isFolder;
    }
    switch (index.column()) {
        case FolderEntryView::name:
            if (role == Qt::DisplayRole || role == Qt::EditRole) {
                return toQString(shown.name);
            }
            if (role == Qt::DecorationRole) {
                return QApplication::style()->standardIcon(shown.isFolder ? QStyle::SP_DirIcon
                                                                          : QStyle::SP_FileIcon);
            }
            break;
        case FolderEntryView::size:
            if (role == Qt::DisplayRole && shown.size) {
                return QLocale().formattedDataSize(static_cast<qint64>(*shown.size));
            }
            if (role == Qt::TextAlignmentRole) {
                return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            }
            break;
        case FolderEntryView::modified:
            if (role == Qt::DisplayRole && shown.modified) {
                return QLocale().toString(QDateTime::fromMSecsSinceEpoch(*shown.modified),
                                          QLocale::ShortFormat);
            }
            break;
        default:
            break;
    }
    return {};
}

}  // namespace tavrolin
