#include "support/TempDir.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavtest {

namespace fs = std::filesystem;

namespace {

constexpr std::array<std::string_view, 2> kSweptPrefixes{"tavrolin-test-", "tavrolin-media-"};

fs::path temporaryRoot() {
    const char* root = std::getenv("TMPDIR");
    return root && *root ? fs::path(root) : fs::path("/tmp");
}

// The process id in "<prefix><pid>-<suffix>", or 0 when the name is not one of ours.
pid_t ownerOf(std::string_view name) {
    for (const auto prefix : kSweptPrefixes) {
        if (!name.starts_with(prefix)) {
            continue;
        }
        const std::string_view rest = name.substr(prefix.size());
        pid_t pid = 0;
        const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
        if (error != std::errc{} || end == rest.data() || end == rest.data() + rest.size() ||
            *end != '-' || pid <= 0) {
            return 0;
        }
        return pid;
    }
    return 0;
}

bool processExists(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

void removeTestFolder(const fs::path& folder) {
    std::error_code ignored;
    // Tests may leave read-only folders behind; make them removable first.
    for (auto it = fs::recursive_directory_iterator(folder, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    fs::remove_all(folder, ignored);
}

void removeStaleTestFolders(const fs::path& root) {
    std::error_code error;
    for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        const pid_t owner = ownerOf(it->path().filename().native());
        if (owner == 0 || owner == ::getpid()) {
            continue;
        }
        struct stat info {};
        if (::lstat(it->path().c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            info.st_uid != ::getuid() || processExists(owner)) {
            continue;
        }
        removeTestFolder(it->path());
    }
}

fs::path makePrivateTestFolder(const std::string& prefix) {
    const fs::path root = temporaryRoot();
    static std::once_flag swept;
    std::call_once(swept, [&] { removeStaleTestFolders(root); });
    std::string pattern = (root / (prefix + "-" + std::to_string(::getpid()) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
    }
    return pattern;
}

TempDir::TempDir() : path_(makePrivateTestFolder("tavrolin-test")) {}

TempDir::~TempDir() {
    removeTestFolder(path_);
}

std::vector<std::string> TempDir::entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace tavtest
