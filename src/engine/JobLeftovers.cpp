#include "engine/JobLeftovers.h"

#include <cerrno>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "engine/CacheFolder.h"
#include "engine/FileOperations.h"
#include "model/Uuid.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kWorking = "working";
constexpr std::string_view kOutput = "output";
constexpr std::string_view kFolder = "folder";
constexpr std::string_view kRecordExtension = ".job";
constexpr std::string_view kFolderPrefix = "Tavrolin-";

// Fields are separated by NUL, the one byte no path can hold.
std::string recordText(const std::vector<std::pair<std::string, fs::path>>& entries) {
    std::string text;
    for (const auto& [kind, path] : entries) {
        text += kind;
        text += '\0';
        text += path.native();
        text += '\0';
    }
    return text;
}

std::vector<std::pair<std::string, fs::path>> parseRecord(std::string_view text) {
    std::vector<std::string_view> fields;
    for (std::size_t start = 0, end = text.find('\0'); end != std::string_view::npos;
         start = end + 1, end = text.find('\0', start)) {
        fields.push_back(text.substr(start, end - start));
    }
    std::vector<std::pair<std::string, fs::path>> entries;
    for (std::size_t at = 0; at + 1 < fields.size(); at += 2) {
        if (!fields[at + 1].empty() && fields[at + 1].front() == '/') {
            entries.emplace_back(std::string(fields[at]), fs::path(std::string(fields[at + 1])));
        }
    }
    return entries;
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

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
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

// A recorded name is removed only when it still has the shape of a name this program makes.
bool isOurWorkingName(const fs::path& path) {
    const std::string name = path.filename().string();
    return name.size() > 1 && name.front() == '.' && name.find(workingMarker) != std::string::npos;
}

bool isOurTemporaryFolder(const fs::path& path) {
    return path.filename().string().starts_with(kFolderPrefix);
}

// Removes one record's items; the sentence for a removed working copy, if any.
std::vector<std::string> removeRecorded(
    const std::vector<std::pair<std::string, fs::path>>& entries) {
    std::vector<std::string> removed;
    fs::path output;
    for (const auto& [kind, path] : entries) {
        std::error_code error;
        const auto status = fs::symlink_status(path, error);
        if (kind == kOutput) {
            output = path;
        } else if (kind == kWorking && isOurWorkingName(path) && fs::is_regular_file(status)) {
            if (fs::remove(path, error)) {
                const std::string shown =
                    output.empty() ? path.filename().string() : output.filename().string();
                removed.push_back("Removed an unfinished copy of \u201C" + shown +
                                  "\u201D left by an earlier run.");
            }
        } else if (kind == kFolder && isOurTemporaryFolder(path) && fs::is_directory(status)) {
            fs::remove_all(path, error);
        }
    }
    return removed;
}

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
    entries_.emplace_back(std::string(kOutput), output);
    entries_.emplace_back(std::string(kWorking), working);
    write();
}

void JobRecord::addTemporaryFolder(const fs::path& folder) {
    entries_.emplace_back(std::string(kFolder), folder);
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
        const fs::path working = hiddenSiblingName(file_, ".tmp-", Uuid::random());
        const int fd = ::open(working.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            return;
        }
        // Locked before it takes the record's name: a record in place is always locked.
        const bool written = ::flock(fd, LOCK_EX) == 0 && writeAll(fd, recordText(entries_)) &&
                             ::fsync(fd) == 0 && ::rename(working.c_str(), file_.c_str()) == 0;
        if (!written) {
            removeQuietly(working);
            ::close(fd);
            return;
        }
        syncFolder(folder_);
        if (lockedFd_ >= 0) {
            ::close(lockedFd_);
        }
        lockedFd_ = fd;
    } catch (const std::exception&) {
        // Recording is a safety net; the job still cleans up after itself.
    }
}

std::vector<std::string> removeJobLeftovers(const fs::path& recordsFolder) {
    std::vector<std::string> removed;
    std::error_code error;
    for (fs::directory_iterator it(recordsFolder, error), end; !error && it != end;
         it.increment(error)) {
        const fs::path record = it->path();
        const std::string name = record.filename().string();
        if (name.starts_with(".") || !name.ends_with(kRecordExtension)) {
            continue;
        }
        const int fd = ::open(record.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            continue;
        }
        // A lock held means the job still runs.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            try {
                for (auto& sentence : removeRecorded(parseRecord(readAll(fd)))) {
                    removed.push_back(std::move(sentence));
                }
            } catch (const std::exception&) {
                // A record that cannot be read whole removes nothing more.
            }
            removeQuietly(record);
        }
        ::close(fd);
    }
    return removed;
}

}  // namespace tavrolin
