#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/FileIdentity.h"

namespace tavrolin {

// The file-system steps the batch renamer takes, behind an interface so that tests can make a
// step fail. Failures are thrown as std::filesystem::filesystem_error. Implementations are called
// from the renamer's worker thread only.
class FileManaging {
  public:
    virtual ~FileManaging() = default;

    // The names of the folder's entries that do not begin with a dot.
    virtual std::vector<std::string> visibleNames(const std::filesystem::path& folder) = 0;
    // Moves `from` to `to`; fails, replacing nothing, when anything has the name `to`.
    virtual void moveItem(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
    // Whether anything, even a dangling symbolic link, has the name.
    virtual bool itemExists(const std::filesystem::path& path) = 0;
    // The identity of what has the name (not following a symbolic link); none when nothing does.
    virtual std::optional<FileIdentity> identity(const std::filesystem::path& path) = 0;
    // Creates a file that must not exist yet and flushes it, and its name in the folder, to disk.
    virtual void createFile(const std::filesystem::path& path, std::string_view contents) = 0;
    // The file's bytes; none when it does not exist.
    virtual std::optional<std::string> readFile(const std::filesystem::path& path) = 0;
    virtual void removeFile(const std::filesystem::path& path) = 0;
};

// The local file system through the engine's file operations.
class LocalFileManager : public FileManaging {
  public:
    std::vector<std::string> visibleNames(const std::filesystem::path& folder) override;
    void moveItem(const std::filesystem::path& from, const std::filesystem::path& to) override;
    bool itemExists(const std::filesystem::path& path) override;
    std::optional<FileIdentity> identity(const std::filesystem::path& path) override;
    void createFile(const std::filesystem::path& path, std::string_view contents) override;
    std::optional<std::string> readFile(const std::filesystem::path& path) override;
    void removeFile(const std::filesystem::path& path) override;
};

}  // namespace tavrolin
