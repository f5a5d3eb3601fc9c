#include "engine/FileOperations.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "model/TextMetrics.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void throwError(const char* what, int error, const fs::path& first,
                             const fs::path& second = {}) {
    const std::error_code code{error, std::generic_category()};
    if (second.empty()) {
        throw fs::filesystem_error(what, first, code);
    }
    throw fs::filesystem_error(what, first, second, code);
}

fs::path boundedSibling(const fs::path& target, std::string_view shortenable,
                        std::string_view trailing) {
    const std::size_t fixedBytes = 1 + trailing.size();  // the leading "." and the rest
    if (fixedBytes > maximumFileNameBytes) {
        throwError("cannot make a hidden name short enough", ENAMETOOLONG, target);
    }
    const std::size_t kept = graphemePrefixBytes(shortenable, maximumFileNameBytes - fixedBytes);
    std::string name = ".";
    name.append(shortenable.substr(0, kept));
    name.append(trailing);
    return target.parent_path() / name;
}

}  // namespace

void moveNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return;
    }
    const int renameError = errno;
    if (!isUnsupportedOperation(renameError)) {
        throwError("cannot move file", renameError, to, from);
    }
    moveNoReplaceByLink(from, to);
}

void moveNoReplaceByLink(const fs::path& from, const fs::path& to) {
    // link() refuses an existing name just as RENAME_NOREPLACE does.
    if (::link(from.c_str(), to.c_str()) != 0) {
        const int linkError = errno;
        if (linkError == EPERM || isUnsupportedOperation(linkError)) {
            // Only a plain rename would be left, and it would replace a file created meanwhile.
            throwError("cannot move file without risking a replacement", ENOTSUP, to, from);
        }
        throwError("cannot move file", linkError, to, from);
    }
    if (::unlink(from.c_str()) != 0) {
        const int unlinkError = errno;
        ::unlink(to.c_str());
        throwError("cannot move file", unlinkError, to, from);
    }
}

fs::path hiddenSiblingName(const fs::path& target, std::string_view marker, const Uuid& uuid) {
    const std::string stem = target.stem().string();
    std::string trailing{marker};
    trailing += uuid.toString();
    trailing += target.extension().string();
    return boundedSibling(target, stem, trailing);
}

fs::path hiddenBackupName(const fs::path& target, std::string_view marker, const Uuid& uuid) {
    const std::string name = target.filename().string();
    std::string trailing{marker};
    trailing += uuid.toString();
    return boundedSibling(target, name, trailing);
}

void writeNewFile(const fs::path& path, std::string_view contents) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        throwError("cannot create file", errno, path);
    }
    auto fail = [&](int error) {
        ::close(fd);
        ::unlink(path.c_str());
        throwError("cannot write file", error, path);
    };
    std::size_t written = 0;
    while (written < contents.size()) {
        const ssize_t result = ::write(fd, contents.data() + written, contents.size() - written);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(errno);
        }
        written += static_cast<std::size_t>(result);
    }
    if (::fsync(fd) != 0) {
        fail(errno);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(path.c_str());
        throwError("cannot write file", error, path);
    }
}

bool nameExists(const fs::path& path) noexcept {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

bool isUnsupportedOperation(int error) noexcept {
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

bool isOutOfSpace(int error) noexcept {
    return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

void removeQuietly(const fs::path& path) noexcept {
    std::error_code ignored;
    fs::remove(path, ignored);
}

}  // namespace tavrolin
