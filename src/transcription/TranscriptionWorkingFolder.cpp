#include "transcription/TranscriptionWorkingFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "engine/CacheFolder.h"
#include "model/Uuid.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

// An open descriptor of the folder holding its exclusive lock, or -1 when another process
// holds it or the entry is no real folder.
int lockFolder(const fs::path& folder) {
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
        return -1;
    }
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

}  // namespace

TranscriptionWorkingFolder::TranscriptionWorkingFolder(const fs::path& root) {
    createPrivateFolders(root);
    path_ = root / (std::string(prefix) + Uuid::random().toString());
    if (::mkdir(path_.c_str(), 0700) != 0) {
        throw fs::filesystem_error("Could not create the transcription folder", path_,
                                   std::error_code(errno, std::generic_category()));
    }
    lockDescriptor_ = lockFolder(path_);
    if (lockDescriptor_ < 0) {
        const int error = errno;
        std::error_code ignored;
        fs::remove(path_, ignored);
        throw fs::filesystem_error("Could not lock the transcription folder", path_,
                                   std::error_code(error, std::generic_category()));
    }
}

TranscriptionWorkingFolder::~TranscriptionWorkingFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    ::close(lockDescriptor_);
}

void TranscriptionWorkingFolder::removeAbandoned(const fs::path& root) {
    std::error_code error;
    fs::directory_iterator entries(root, error);
    if (error) {
        return;
    }
    // The iterator's own steps throw on a read error; an increment with an error code does not.
    for (; entries != fs::directory_iterator(); entries.increment(error)) {
        const auto& entry = *entries;
        const std::string name = entry.path().filename().string();
        std::error_code statusError;
        if (!name.starts_with(prefix) || !fs::is_directory(entry.symlink_status(statusError))) {
            continue;
        }
        const int descriptor = lockFolder(entry.path());
        if (descriptor < 0) {
            continue;
        }
        std::error_code ignored;
        fs::remove_all(entry.path(), ignored);
        ::close(descriptor);
    }
}

}  // namespace tavrolin
