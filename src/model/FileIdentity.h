#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <compare>
#include <filesystem>
#include <optional>

namespace tavrolin {

// Which file a name leads to: moves within a file system keep it, so it finds a file again after
// its name changed, and tells one file under two names (hard or symbolic links) apart from two.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
    friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of the file the path leads to, following symbolic links; none when there is none.
inline std::optional<FileIdentity> fileIdentity(const std::filesystem::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return FileIdentity{status.st_dev, status.st_ino};
}

}  // namespace tavrolin
