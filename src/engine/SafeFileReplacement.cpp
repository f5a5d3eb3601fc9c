#include "engine/SafeFileReplacement.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "engine/FileOperations.h"
#include "model/MediaProcessingError.h"
#include "model/Paths.h"
#include "model/Uuid.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

struct ReplacementFailure {
    int error;
};

// The names of the user.* extended attributes of a file; none where the file system has none.
std::vector<std::string> userAttributeNames(const fs::path& file) {
    std::vector<char> buffer(1024);
    for (;;) {
        ssize_t size = ::listxattr(file.c_str(), buffer.data(), buffer.size());
        if (size >= 0) {
            std::vector<std::string> names;
            for (std::size_t at = 0; at < static_cast<std::size_t>(size);) {
                std::string name(buffer.data() + at);
                at += name.size() + 1;
                if (name.starts_with("user.")) {
                    names.push_back(std::move(name));
                }
            }
            return names;
        }
        if (errno == ERANGE) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (errno == ENOTSUP) {
            return {};
        }
        throw ReplacementFailure{errno};
    }
}

// What the user had on the source stays on the file that takes its place.
void carryOverAttributes(const fs::path& source, const fs::path& prepared) {
    const int fd = ::open(prepared.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        throw ReplacementFailure{errno};
    }
    auto fail = [&](int error) {
        ::close(fd);
        throw ReplacementFailure{error};
    };
    struct stat sourceState {};
    if (::stat(source.c_str(), &sourceState) != 0) {
        fail(errno);
    }
    // A group the user does not belong to cannot be given; the file keeps the user's own.
    if (::fchown(fd, static_cast<uid_t>(-1), sourceState.st_gid) != 0 && errno != EPERM) {
        fail(errno);
    }
    if (::fchmod(fd, sourceState.st_mode & 07777) != 0) {
        fail(errno);
    }
    try {
        for (const auto& name : userAttributeNames(source)) {
            ssize_t size = ::getxattr(source.c_str(), name.c_str(), nullptr, 0);
            if (size < 0) {
                fail(errno);
            }
            std::vector<char> value(static_cast<std::size_t>(size) + 1);
            size = ::getxattr(source.c_str(), name.c_str(), value.data(), value.size());
            if (size < 0 || ::fsetxattr(fd, name.c_str(), value.data(),
                                        static_cast<std::size_t>(size), 0) != 0) {
                fail(errno);
            }
        }
    } catch (const ReplacementFailure&) {
        ::close(fd);
        throw;
    }
    if (::fsync(fd) != 0) {
        fail(errno);
    }
    ::close(fd);
}

void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Puts `prepared` at `source` and the old file at `backup`, or throws with the source intact.
void swapInto(const fs::path& source, const fs::path& prepared, const fs::path& backup) {
    if (::renameat2(AT_FDCWD, prepared.c_str(), AT_FDCWD, source.c_str(), RENAME_EXCHANGE) == 0) {
        // The old file now has the prepared file's hidden name; give it the backup name.
        try {
            moveNoReplace(prepared, backup);
        } catch (const fs::filesystem_error&) {
            removeQuietly(prepared);
        }
        return;
    }
    const int exchangeError = errno;
    if (!isUnsupportedOperation(exchangeError)) {
        throw ReplacementFailure{exchangeError};
    }
    // Without an exchange: a second link keeps the old file while rename() puts the new one in
    // place atomically.
    if (::link(source.c_str(), backup.c_str()) == 0) {
        if (::rename(prepared.c_str(), source.c_str()) != 0) {
            const int error = errno;
            ::unlink(backup.c_str());
            throw ReplacementFailure{error};
        }
        return;
    }
    // Without hard links either: move the source aside, then the prepared file in.
    try {
        moveNoReplace(source, backup);
    } catch (const fs::filesystem_error& error) {
        throw ReplacementFailure{error.code().value()};
    }
    try {
        moveNoReplace(prepared, source);
    } catch (const fs::filesystem_error& error) {
        try {
            moveNoReplace(backup, source);
        } catch (const fs::filesystem_error&) {
        }
        throw ReplacementFailure{error.code().value()};
    }
}

}  // namespace

fs::path resolvedFilePath(const fs::path& path) {
    std::error_code error;
    auto real = fs::canonical(path, error);
    return error ? standardizedPath(path) : real;
}

SourceFileFingerprint SourceFileFingerprint::of(const fs::path& file) {
    struct stat state {};
    if (::stat(file.c_str(), &state) != 0) {
        throw MediaProcessingError::processFailed(
            "Tavrolin could not read the source file state needed for a safe replacement. The "
            "original file was not changed. " +
            std::string(std::strerror(errno)));
    }
    if (!S_ISREG(state.st_mode)) {
        throw MediaProcessingError::processFailed(
            "Tavrolin could not record the source file state needed for a safe replacement. The "
            "original file was not changed.");
    }
    SourceFileFingerprint fingerprint;
    fingerprint.fileSize = static_cast<std::uintmax_t>(state.st_size);
    fingerprint.modificationSeconds = state.st_mtim.tv_sec;
    fingerprint.modificationNanoseconds = state.st_mtim.tv_nsec;
    fingerprint.device = state.st_dev;
    fingerprint.inode = state.st_ino;
    fingerprint.statusChangeSeconds = state.st_ctim.tv_sec;
    fingerprint.statusChangeNanoseconds = state.st_ctim.tv_nsec;
    return fingerprint;
}

void SafeFileReplacement::replace(const fs::path& sourcePath, const fs::path& preparedPath,
                                  const ReplacementSteps& steps) const {
    const fs::path source = resolvedFilePath(sourcePath);
    const fs::path prepared = standardizedPath(preparedPath);
    if (source.parent_path() != prepared.parent_path()) {
        throw MediaProcessingError::invalidRequest(
            "A replacement must be prepared beside the source so it stays on the same volume.");
    }
    if (!nameExists(source)) {
        throw MediaProcessingError::invalidRequest(
            "The source disappeared before Tavrolin could replace it. The prepared output was not "
            "committed.");
    }
    if (!nameExists(prepared)) {
        throw MediaProcessingError::invalidRequest(
            "The verified replacement file is missing. The source was not changed.");
    }
    const fs::path backup = hiddenBackupName(source, backupMarker, Uuid::random());
    try {
        carryOverAttributes(source, prepared);
        if (steps.beforeSwap) {
            steps.beforeSwap(backup, source);
        }
        swapInto(source, prepared, backup);
    } catch (const ReplacementFailure& failure) {
        if (isOutOfSpace(failure.error)) {
            throw MediaProcessingError::notEnoughSpace(source.parent_path(),
                                                       source.filename().string());
        }
        throw MediaProcessingError::processFailed(
            "Tavrolin could not replace " + source.filename().string() +
            " in one filesystem operation. The original file was left in place. " +
            std::strerror(failure.error));
    }
    syncFolder(source.parent_path());
    if (steps.swapped) {
        steps.swapped();
    }
    if (nameExists(source)) {
        removeQuietly(backup);
        return;
    }
    if (nameExists(backup)) {
        try {
            moveNoReplace(backup, source);
        } catch (const fs::filesystem_error&) {
        }
    }
    throw MediaProcessingError::processFailed(
        "The storage volume did not confirm the replacement. Tavrolin restored the original when "
        "possible.");
}

}  // namespace tavrolin
