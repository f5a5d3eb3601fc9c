#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <system_error>

#include "engine/FileOperations.h"
#include "model/OutputFolderCheck.h"
#include "rename/FileManaging.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void throwError(const char* what, int error, const fs::path& path) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

// readdir directly: a folder of thousands of episodes should not cost a stat per entry.
std::vector<std::string> namesIn(const fs::path& folder, bool withHidden) {
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) {
        throwError("cannot list folder", errno, folder);
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string_view name = entry->d_name;
        if (name.front() != '.' || (withHidden && name != "." && name != "..")) {
            names.emplace_back(name);
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

}  // namespace

std::vector<std::string> LocalFileManager::visibleNames(const fs::path& folder) {
    return namesIn(folder, false);
}

std::vector<std::string> LocalFileManager::allNames(const fs::path& folder) {
    return namesIn(folder, true);
}

std::size_t LocalFileManager::nameLimit(const fs::path& folder) {
    errno = 0;
    const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    // No answer (or "no limit") leaves the limit of the usual file systems.
    return limit > 0 ? static_cast<std::size_t>(limit) : maximumFileNameBytes;
}

void LocalFileManager::checkWritable(const fs::path& folder) {
    if (const std::error_code error = folderWriteError(folder)) {
        throwError("cannot write to folder", error.value(), folder);
    }
}

void LocalFileManager::moveItem(const fs::path& from, const fs::path& to) {
    moveNoReplace(from, to);
}

bool LocalFileManager::itemExists(const fs::path& path) {
    return nameExists(path);
}

std::optional<FileFingerprint> LocalFileManager::fingerprint(const fs::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return FileFingerprint{
        FileIdentity{status.st_dev, status.st_ino}, static_cast<std::uint64_t>(status.st_size),
        std::int64_t{status.st_mtim.tv_sec} * 1'000'000'000 + status.st_mtim.tv_nsec};
}

fs::path workingNameFor(const fs::path& path) {
    return path.parent_path() /
           (path.filename().native() + std::string(workingNameMarker) + Uuid::random().toString());
}

void LocalFileManager::createFile(const fs::path& path, std::string_view contents) {
    // A crash while writing leaves only the working name, never a torn file at `path`.
    const fs::path working = workingNameFor(path);
    writeNewFile(working, contents);
    try {
        moveNoReplace(working, path);
    } catch (const fs::filesystem_error& error) {
        removeQuietly(working);
        throw fs::filesystem_error("cannot create file", path, error.code());
    }
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
