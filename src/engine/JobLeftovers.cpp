#include "engine/JobLeftovers.h"

#include <cerrno>
#include <optional>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/CacheFolder.h"
#include "engine/FileOperations.h"
#include "engine/LeftoverRemoval.h"
#include "model/Uuid.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kRecordExtension = ".job";
constexpr std::string_view kRecordWorkingMarker = ".tmp-";
// Records are a few hundred bytes; anything far larger is no record of ours.
constexpr std::size_t kLargestRecord = 1 << 20;

// Fields are separated by NUL, the one byte no path can hold.
std::string recordText(const RecordEntries& entries) {
    std::string text;
    for (const auto& [kind, value] : entries) {
        text += kind;
        text += '\0';
        text += value;
        text += '\0';
    }
    return text;
}

RecordEntries parseRecord(std::string_view text) {
    std::vector<std::string_view> fields;
    for (std::size_t start = 0, end = text.find('\0'); end != std::string_view::npos;
         start = end + 1, end = text.find('\0', start)) {
        fields.push_back(text.substr(start, end - start));
    }
    RecordEntries entries;
    for (std::size_t at = 0; at + 1 < fields.size(); at += 2) {
        entries.emplace_back(std::string(fields[at]), std::string(fields[at + 1]));
    }
    return entries;
}

// "<UUID>.job", or the hidden name a new version has before it takes that name.
bool isRecordName(std::string_view name) {
    return textAfterPrefixedUuid(name, "") == kRecordExtension;
}

bool isRecordWorkingName(std::string_view name) {
    const auto rest = textAfterPrefixedUuid(name, ".");
    return rest && textAfterPrefixedUuid(*rest, kRecordWorkingMarker) == kRecordExtension;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::optional<std::string> readAll(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 || text.size() > kLargestRecord) {
            return std::nullopt;
        }
        if (count == 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(count));
    }
}

void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Whether the file open at `fd` is still the one under `name`: a job puts each new version of
// its record in place by a rename and then lets go of the old one's lock, so a lock taken on a
// file that lost its name says nothing about the job.
bool isStillNamed(int fd, const fs::path& name) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::lstat(name.c_str(), &named) == 0 && S_ISREG(held.st_mode) &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// A new file in `folder` holding `text`, flushed, locked before it has any name, then named
// `name`; -1 when that fails. Where the file system cannot make unnamed files it is created
// under `name` and locked at once: a clean-up that locks it first finds nothing recorded and
// removes it, and that write fails, which the job survives.
int writeLockedFile(const fs::path& folder, const fs::path& name, std::string_view text) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        if (::flock(fd, LOCK_EX) == 0 && writeAll(fd, text) && ::fsync(fd) == 0 &&
            ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return fd;
        }
        ::close(fd);
    }
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return -1;
    }
    if (::flock(fd, LOCK_EX) == 0 && writeAll(fd, text) && ::fsync(fd) == 0) {
        return fd;
    }
    removeQuietly(name);
    ::close(fd);
    return -1;
}

struct OpenFile {
    int fd;
    ~OpenFile() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

}  // namespace

JobRecord::JobRecord(fs::path recordsFolder) : folder_(std::move(recordsFolder)) {}

JobRecord::~JobRecord() {
    if (lockedFd_ >= 0) {
        // Unlinked before the lock goes, so no start of the app reads a finished job's record.
        removeQuietly(file_);
        ::close(lockedFd_);
    }
}

fs::path JobRecord::defaultFolder() {
    return xdgBaseFolder("XDG_STATE_HOME", fs::path(".local") / "state") / "tavrolin" /
           "unfinished-jobs";
}

void JobRecord::addWorkingOutput(const fs::path& working, const fs::path& output) {
    entries_.emplace_back(recordEntry::output, output.native());
    entries_.emplace_back(recordEntry::working, working.native());
    write();
}

void JobRecord::setTemporaryFolder(const fs::path& folder) {
    set(std::string(recordEntry::folder), folder.native());
}

void JobRecord::addBackup(const fs::path& backup, const fs::path& original) {
    entries_.emplace_back(recordEntry::replaced, original.native());
    entries_.emplace_back(recordEntry::backup, backup.native());
    write();
}

void JobRecord::setWaitingJobs(std::size_t count) {
    set(std::string(recordEntry::waiting), std::to_string(count));
}

void JobRecord::set(const std::string& kind, const std::string& value) {
    std::erase_if(entries_, [&](const auto& entry) { return entry.first == kind; });
    entries_.emplace_back(kind, value);
    write();
}

void JobRecord::write() {
    if (folder_.empty()) {
        return;
    }
    try {
        if (file_.empty()) {
            createPrivateFolders(folder_);
            file_ = folder_ / (Uuid::random().toString() + std::string(kRecordExtension));
        }
        const fs::path working = hiddenSiblingName(file_, kRecordWorkingMarker, Uuid::random());
        const int fd = writeLockedFile(folder_, working, recordText(entries_));
        if (fd < 0) {
            return;
        }
        if (::rename(working.c_str(), file_.c_str()) != 0) {
            removeQuietly(working);
            ::close(fd);
            return;
        }
        syncFolder(folder_);
        // Only now: until the rename the old version was the one under the name.
        if (lockedFd_ >= 0) {
            ::close(lockedFd_);
        }
        lockedFd_ = fd;
    } catch (const std::exception&) {
        // Recording is a safety net; the job still cleans up after itself.
    }
}

std::vector<std::string> removeJobLeftovers(
    const fs::path& recordsFolder, const std::function<void(const fs::path&)>& betweenOpenAndLock) {
    std::vector<std::string> lines;
    std::size_t waitingJobs = 0;
    try {
        std::error_code error;
        for (fs::directory_iterator it(recordsFolder, error), end; !error && it != end;
             it.increment(error)) {
            const fs::path record = it->path();
            const std::string name = record.filename().string();
            if (!isRecordName(name) && !isRecordWorkingName(name)) {
                continue;
            }
            const OpenFile opened{::open(record.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW)};
            if (opened.fd < 0) {
                continue;
            }
            if (betweenOpenAndLock) {
                betweenOpenAndLock(record);
            }
            // A lock held means the job still runs; so does one taken on a replaced version.
            if (::flock(opened.fd, LOCK_EX | LOCK_NB) != 0 || !isStillNamed(opened.fd, record)) {
                continue;
            }
            const auto text = readAll(opened.fd);
            const auto removal = removeRecordedItems(text ? parseRecord(*text) : RecordEntries{});
            lines.insert(lines.end(), removal.lines.begin(), removal.lines.end());
            waitingJobs += removal.waitingJobs;
            if (!removal.pending) {
                removeQuietly(record);
            }
        }
        if (waitingJobs > 0) {
            lines.push_back(waitingJobsLine(waitingJobs));
        }
    } catch (const std::exception&) {
        // Out of memory: what was removed so far is said.
    }
    return lines;
}

}  // namespace tavrolin
