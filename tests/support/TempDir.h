#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tavtest {

// A private folder under $TMPDIR, removed with everything in it when the object goes away.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const {
        return path_ / name;
    }
    // Names of the entries directly inside, sorted.
    std::vector<std::string> entries() const;

  private:
    std::filesystem::path path_;
};

// Makes `<$TMPDIR or /tmp>/<prefix>-<process id>-XXXXXX` with mkdtemp. A test process that is
// killed, crashes or times out runs no destructors; the process id in the name lets the next
// test process remove what it left, which the first call in every process does.
std::filesystem::path makePrivateTestFolder(const std::string& prefix);

// Removes the folders under `root` named "tavrolin-test-<pid>-..." or "tavrolin-media-<pid>-..."
// that belong to this user and whose process no longer exists.
void removeStaleTestFolders(const std::filesystem::path& root);

// Removes `folder` and everything in it, read-only subfolders included; errors are ignored.
void removeTestFolder(const std::filesystem::path& folder);

}  // namespace tavtest
