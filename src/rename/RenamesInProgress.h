#pragma once

#include <filesystem>
#include <mutex>
#include <vector>

namespace tavrolin {

// The folders whose rename has begun and not yet finished or been undone, kept in a small file
// outside them, so that after a crash the app can offer a restore without the user knowing
// which folder it was. Only a hint: each folder's journal decides. Writing failures are ignored
// (the journal is still there). Thread-safe; its calls touch the disk, so not on the GUI thread.
class RenamesInProgress {
  public:
    explicit RenamesInProgress(std::filesystem::path file);

    // $XDG_STATE_HOME/tavrolin/renames-in-progress (~/.local/state when the variable is unset or
    // not absolute).
    static std::filesystem::path defaultFile();

    void add(const std::filesystem::path& folder);
    void remove(const std::filesystem::path& folder);
    // In the order they were added; none when the file is missing or unreadable.
    std::vector<std::filesystem::path> folders();

  private:
    std::vector<std::filesystem::path> read() const;
    void write(const std::vector<std::filesystem::path>& folders) const;

    std::filesystem::path file_;
    std::mutex mutex_;
};

}  // namespace tavrolin
