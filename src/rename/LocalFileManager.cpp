#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <system_error>

#include "engine/FileOperations.h"
#include "rename/FileManaging.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void throwError(const char* what, int error, const fs::path& path) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

}  // namespace

std::vector<std::string> LocalFileManager::visibleNames(const fs::path& folder) {
    // readdir directly: a folder of thousands of episodes should not cost a stat per entry.
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) {
        throwError("cannot list folder", errno, folder);
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(directory)) {
        if (entry->d_name[0] != '.') {
            names.emplace_back(entry->d_name);
        }
        errno = 0;
    }
    const int error = errno;
    ::closedir(directory);
    if (error != 0) {
        throwError("cannot list folder", error, folder);
    }
    return names;
}

void LocalFileManager::moveItem(const fs::path& from, const fs::path& to) {
    moveNoReplace(from, to);
}

bool LocalFileManager::itemExists(const fs::path& path) {
    return nameExists(path);
}

std::optional<FileIdentity> LocalFileManager::identity(const fs::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return FileIdentity{status.st_dev, status.st_ino};
}

void LocalFileManager::createFile(const fs::path& path, std::string_view contents) {
    writeNewFile(path, contents);
    // The folder's entry is flushed too: a move that reaches the disk after a power cut then
    // implies that the journal did.
    const int folder = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

std::optional<std::string> LocalFileManager::readFile(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        if (!nameExists(path)) {
            return std::nullopt;
        }
        throwError("cannot read file", errno ? errno : EIO, path);
    }
    std::string contents{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    if (stream.bad()) {
        throwError("cannot read file", EIO, path);
    }
    return contents;
}

void LocalFileManager::removeFile(const fs::path& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        throwError("cannot remove file", errno, path);
    }
}

}  // namespace tavrolin
