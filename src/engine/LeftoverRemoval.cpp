#include "engine/LeftoverRemoval.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <set>

#include "engine/FileOperations.h"
#include "engine/JobItemNames.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

enum class Outcome {
    notOurs,  // left alone
    gone,     // nothing there
    removed,
    remains,  // there or unreachable: the record stays
};

std::string quoted(const fs::path& path) {
    return "\u201C" + path.filename().string() + "\u201D";
}

// Whether the folder that would hold `path` is there (not on a drive that is not mounted).
bool parentReachable(const fs::path& path) {
    struct stat state {};
    return ::stat(path.parent_path().c_str(), &state) == 0 && S_ISDIR(state.st_mode);
}

// A replacement that stopped before its swap: its copy is gone, the original stays as it was.
std::string notReplacedLine(const fs::path& original) {
    return "Removed the unfinished replacement of " + quoted(original) +
           " left by an earlier run; the original file was not changed.";
}

Outcome missing(const fs::path& path, int error) {
    return error == ENOENT && parentReachable(path) ? Outcome::gone : Outcome::remains;
}

// A regular file only: a symbolic link of the same name is not what the job made.
Outcome removeFile(const fs::path& path) {
    struct stat state {};
    if (::lstat(path.c_str(), &state) != 0) {
        return missing(path, errno);
    }
    if (!S_ISREG(state.st_mode)) {
        return Outcome::notOurs;
    }
    if (::unlink(path.c_str()) == 0) {
        return Outcome::removed;
    }
    return errno == ENOENT ? Outcome::gone : Outcome::remains;
}

// The original is whole when a regular file stands at its name: each step of the swap is one
// rename, and the new file was flushed to disk before the first, so whatever stands there is
// the old file or the verified new one. It was never replaced while the backup is a second link
// to it, made just before the swap. Without one, the backup goes back.
Outcome settleBackup(const fs::path& backup, const fs::path& original, std::string& line) {
    struct stat kept {};
    if (::lstat(backup.c_str(), &kept) != 0) {
        return missing(backup, errno);
    }
    if (!S_ISREG(kept.st_mode)) {
        return Outcome::notOurs;
    }
    struct stat state {};
    if (::lstat(original.c_str(), &state) == 0) {
        if (!S_ISREG(state.st_mode)) {
            return Outcome::remains;  // never replaced, never without a copy: keep both
        }
        line = state.st_dev == kept.st_dev && state.st_ino == kept.st_ino
                   ? notReplacedLine(original)
                   : "Removed the backup of " + quoted(original) +
                         " left by an earlier run; the replaced file is whole.";
        const Outcome outcome = removeFile(backup);
        return outcome == Outcome::notOurs ? Outcome::remains : outcome;
    }
    if (errno != ENOENT) {
        return Outcome::remains;
    }
    try {
        moveNoReplace(backup, original);
    } catch (const fs::filesystem_error&) {
        return Outcome::remains;
    }
    line = "Restored " + quoted(original) + " from its backup left by an earlier run.";
    return Outcome::removed;
}

// A folder of ours holds only our temporary inputs, as regular files (report pipes as FIFOs),
// and belongs to this user.
bool holdsOnlyTemporaryInputs(int folder, std::vector<std::string>& names) {
    struct stat state {};
    if (::fstat(folder, &state) != 0 || state.st_uid != ::getuid()) {
        return false;
    }
    const int listed = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    DIR* listing = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (listing == nullptr) {
        if (listed >= 0) {
            ::close(listed);
        }
        return false;
    }
    bool ours = true;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        ours = ours && isTemporaryInputName(name) &&
               ::fstatat(folder, entry->d_name, &state, AT_SYMLINK_NOFOLLOW) == 0 &&
               (S_ISREG(state.st_mode) ||
                (S_ISFIFO(state.st_mode) && name.starts_with(reportPipeInput.prefix)));
        names.emplace_back(name);
    }
    ::closedir(listing);
    return ours;
}

Outcome removeTemporaryFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return error == ELOOP || error == ENOTDIR ? Outcome::notOurs : missing(folder, error);
    }
    std::vector<std::string> names;
    if (!holdsOnlyTemporaryInputs(fd, names)) {
        ::close(fd);
        return Outcome::notOurs;
    }
    bool emptied = true;
    for (const auto& name : names) {
        emptied = (::unlinkat(fd, name.c_str(), 0) == 0 || errno == ENOENT) && emptied;
    }
    ::close(fd);
    if (emptied && (::rmdir(folder.c_str()) == 0 || errno == ENOENT)) {
        return Outcome::removed;
    }
    return Outcome::remains;
}

}  // namespace

LeftoverRemoval removeRecordedItems(const RecordEntries& entries) {
    // A replacement's working copy and backup make one line, said by the backup's settling, or
    // at the end when the copy was all there was.
    std::set<fs::path> replaced;
    for (const auto& [kind, value] : entries) {
        if (kind == recordEntry::replaced) {
            replaced.insert(fs::path(value));
        }
    }
    std::set<fs::path> unsaidCopies;
    LeftoverRemoval removal;
    fs::path output;
    fs::path original;
    for (const auto& [kind, value] : entries) {
        const fs::path path(value);
        Outcome outcome = Outcome::notOurs;
        std::string line;
        if (kind == recordEntry::output) {
            output = path;
        } else if (kind == recordEntry::replaced) {
            original = path;
        } else if (kind == recordEntry::working && isWorkingNameOf(path, output)) {
            outcome = removeFile(path);
            if (!replaced.contains(output)) {
                line =
                    "Removed an unfinished copy of " + quoted(output) + " left by an earlier run.";
            } else if (outcome == Outcome::removed) {
                unsaidCopies.insert(output);
            }
        } else if (kind == recordEntry::backup && isBackupNameOf(path, original)) {
            outcome = settleBackup(path, original, line);
            if (outcome == Outcome::removed || outcome == Outcome::remains) {
                unsaidCopies.erase(original);
            }
        } else if (kind == recordEntry::folder && isTemporaryFolderName(path)) {
            outcome = removeTemporaryFolder(path);
        } else if (kind == recordEntry::waiting) {
            std::size_t count = 0;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), count);
            if (error == std::errc() && end == value.data() + value.size()) {
                removal.waitingJobs += count;
            }
        }
        if (outcome == Outcome::removed && !line.empty()) {
            removal.lines.push_back(std::move(line));
        }
        removal.pending = removal.pending || outcome == Outcome::remains;
    }
    for (const auto& copyOf : unsaidCopies) {
        removal.lines.push_back(notReplacedLine(copyOf));
    }
    return removal;
}

std::string waitingJobsLine(std::size_t count) {
    if (count == 1) {
        return "1 job that was waiting in the queue when an earlier run ended was not kept. Add "
               "it again to run it.";
    }
    return std::to_string(count) +
           " jobs that were waiting in the queue when an earlier run ended were not kept. Add "
           "them again to run them.";
}

}  // namespace tavrolin
