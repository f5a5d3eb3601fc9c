#include "engine/CacheFolder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <system_error>
#include <vector>

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

// Creates one folder private to the user. An existing directory is accepted only when it is
// the user's own.
void makePrivateDirectory(const fs::path& folder) {
    if (::mkdir(folder.c_str(), 0700) == 0) {
        return;
    }
    int error = errno;
    struct stat info {};
    if (error == EEXIST) {
        if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            error = ENOTDIR;
        } else if (info.st_uid != ::geteuid()) {
            error = EACCES;
        } else {
            return;
        }
    }
    throw fs::filesystem_error("Could not create a private folder", folder,
                               std::error_code(error, std::generic_category()));
}

// The user's home folder: $HOME when it is absolute, else the password database's entry.
std::optional<fs::path> homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
        return fs::path(home);
    }
    if (const passwd* entry = ::getpwuid(::geteuid());
        entry != nullptr && entry->pw_dir != nullptr && *entry->pw_dir == '/') {
        return fs::path(entry->pw_dir);
    }
    return std::nullopt;
}

}  // namespace

fs::path xdgBaseFolder(const char* variable, const fs::path& belowHome) {
    if (const char* xdg = std::getenv(variable); xdg != nullptr && *xdg == '/') {
        return xdg;
    }
    if (const auto home = homeFolder()) {
        return *home / belowHome;
    }
    // No home at all: createPrivateFolders refuses a level that another user made first.
    return fs::temp_directory_path();
}

fs::path tavrolinCacheFolder() {
    return xdgBaseFolder("XDG_CACHE_HOME", ".cache") / "tavrolin";
}

void createPrivateFolders(const fs::path& folder) {
    std::vector<fs::path> missing;
    for (fs::path level = folder; !level.empty() && level != level.root_path();
         level = level.parent_path()) {
        std::error_code error;
        if (fs::exists(fs::symlink_status(level, error))) {
            break;
        }
        missing.push_back(level);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        makePrivateDirectory(*it);
    }
    makePrivateDirectory(folder);
}

}  // namespace tavrolin
