#pragma once

#include <QAbstractTableModel>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tavrolin {

// One entry of a folder. Its size and time are read after its name (see readEntryDetails).
struct FolderEntry {
    std::string name;
    bool isFolder = false;
    std::optional<std::uintmax_t> size;
    // Milliseconds since the epoch.
    std::optional<std::int64_t> modified;

    bool isHidden() const { return name.starts_with('.'); }
    friend bool operator==(const FolderEntry&, const FolderEntry&) = default;
};
struct FolderListing {
    std::vector<FolderEntry> entries;
    // Why the folder could not be read (or not wholly).
    std::optional<std::string> problem;
};

// Every entry of a folder, hidden ones too, with whether it is a folder: one pass over the
// folder, which a slow mount answers far sooner than a look at each entry. `answered` runs after
// each answer the file system gives. Blocks on a slow mount: any thread but the GUI thread.
FolderListing readFolder(const std::filesystem::path& folder,
                         const std::function<void()>& answered = {});

// Each entry's size (files only) and modification time, looked up one by one; in the order of
// `entries`, with what could not be looked up left empty. Same threads as readFolder.
std::vector<FolderEntry> readEntryDetails(const std::filesystem::path& folder,
                                          std::vector<FolderEntry> entries,
                                          const std::function<void()>& answered = {});

// Which entries a listing shows, and in which order.
struct FolderEntryView {
    enum Column { name, size, modified, columnCount };
    bool showsHidden = false;
    // Files with one of these extensions (compared without case) are shown; all when empty.
    std::vector<std::string> extensions;
    Column sortColumn = name;
    bool descending = false;
};

// The positions in `entries` of those `view` shows: folders first, then files, each in the
// column's order (names in the collation a person expects: "clip 2" before "clip 10", case
// aside), ties broken by name.
std::vector<std::size_t> shownEntries(const std::vector<FolderEntry>& entries,
                                      const FolderEntryView& view);

// The entries of the folder shown, as last read, in name, size and modified columns; sorts and
// filters without asking the file system. With files disabled, files show dimmed and cannot be
// selected or activated (choosing a folder). GUI thread only.
class FolderEntriesModel : public QAbstractTableModel {
  public:
    static constexpr int isFolderRole = Qt::UserRole;

    using QAbstractTableModel::QAbstractTableModel;

    void setEntries(std::vector<FolderEntry> entries);
    // Sizes and times, for the entries last set (ignored for others).
    void setDetails(std::vector<FolderEntry> entries);
    const std::vector<FolderEntry>& allEntries() const { return entries_; }
    // Any entry read, shown or not.
    const FolderEntry* find(const std::string& name) const;
    const FolderEntry& entry(int row) const;

    const FolderEntryView& view() const { return view_; }
    void setShowsHidden(bool shows);
    void setExtensions(std::vector<std::string> extensions);
    void setFilesEnabled(bool enabled);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void sort(int column, Qt::SortOrder order) override;

  private:
    void reshow();

    std::vector<FolderEntry> entries_;
    std::vector<std::size_t> shown_;
    FolderEntryView view_;
    bool filesEnabled_ = true;
};

}  // namespace tavrolin
