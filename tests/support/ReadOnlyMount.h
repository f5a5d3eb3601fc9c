#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

namespace tavtest {

// A small tmpfs mounted read-only at a new folder `path`, unmounted when the object goes away.
// Needs root (CI runs tests as root); `skipReason()` says why there is none otherwise.
class ReadOnlyMount {
  public:
    explicit ReadOnlyMount(const std::filesystem::path& path) : path_(path) {
        std::filesystem::create_directories(path_);
        if (::geteuid() != 0) {
            skipReason_ = "mounting a read-only tmpfs needs root";
        } else if (::mount("tmpfs", path_.c_str(), "tmpfs", MS_RDONLY | MS_NOSUID | MS_NODEV,
                           "size=1m") != 0) {
            skipReason_ = std::string("mounting a read-only tmpfs failed: ") + std::strerror(errno);
        }
    }
    ~ReadOnlyMount() {
        if (!skipReason_) {
            ::umount2(path_.c_str(), MNT_DETACH);
        }
    }
    ReadOnlyMount(const ReadOnlyMount&) = delete;
    ReadOnlyMount& operator=(const ReadOnlyMount&) = delete;

    bool isMounted() const { return !skipReason_; }
    const std::string& skipReason() const { return *skipReason_; }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    std::optional<std::string> skipReason_;
};

}  // namespace tavtest
