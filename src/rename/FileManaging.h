#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rename/RenameJournal.h"

namespace tavrolin {

// A file written whole or not at all is first written under `path` + this + a UUID.
inline constexpr std::string_view workingNameMarker = ".partial-";

// A fresh working name for `path`, beside it.
std::filesystem::path workingNameFor(const std::filesystem::path& path);

// The file-system steps the batch renamer takes, behind an interface so that tests can make a
// step fail. Failures are thrown as std::filesystem::filesystem_error. Implementations are called
// from the renamer's worker thread only.
class FileManaging {
  public:
    virtual ~FileManaging() = default;

    // The names of the folder's entries that do not begin with a dot.
    virtual std::vector<std::string> visibleNames(const std::filesystem::path& folder) = 0;
    // The names of all the folder's entries, hidden ones included ("." and ".." not).
    virtual std::vector<std::string> allNames(const std::filesystem::path& folder) = 0;
    // The longest file name the folder's file system takes, in bytes.
    virtual std::size_t nameLimit(const std::filesystem::path& folder) = 0;
    // Fails when no file can be created in the folder (read-only, no permission): creates and
    // removes a hidden probe file.
    virtual void checkWritable(const std::filesystem::path& folder) = 0;
    // Moves `from` to `to`; fails, replacing nothing, when anything has the name `to`.
    virtual void moveItem(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
    // Whether anything, even a dangling symbolic link, has the name.
    virtual bool itemExists(const std::filesystem::path& path) = 0;
    // Identity, size and modification time of what has the name (not following a symbolic
    // link); none when nothing does.
    virtual std::optional<FileFingerprint> fingerprint(const std::filesystem::path& path) = 0;
    // Creates a file that must not exist yet, whole or not at all: written under the working
    // name workingNameFor(path), flushed, then moved into place without replacing; its
    // name in the folder is flushed too.
    virtual void createFile(const std::filesystem::path& path, std::string_view contents) = 0;
    // The file's bytes; none when it does not exist.
    virtual std::optional<std::string> readFile(const std::filesystem::path& path) = 0;
    virtual void removeFile(const std::filesystem::path& path) = 0;
};

// The local file system through the engine's file operations.
class LocalFileManager : public FileManaging {
  public:
    std::vector<std::string> visibleNames(const std::filesystem::path& folder) override;
    std::vector<std::string> allNames(const std::filesystem::path& folder) override;
    std::size_t nameLimit(const std::filesystem::path& folder) override;
    void checkWritable(const std::filesystem::path& folder) override;
    void moveItem(const std::filesystem::path& from, const std::filesystem::path& to) override;
    bool itemExists(const std::filesystem::path& path) override;
    std::optional<FileFingerprint> fingerprint(const std::filesystem::path& path) override;
    void createFile(const std::filesystem::path& path, std::string_view contents) override;
    std::optional<std::string> readFile(const std::filesystem::path& path) override;
    void removeFile(const std::filesystem::path& path) override;
};

}  // namespace tavrolin
