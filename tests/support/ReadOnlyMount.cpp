#include "ReadOnlyMount.h"

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tavtest {

ReadOnlyMount::ReadOnlyMount(const std::filesystem::path& path) : path_(path) {
    std::filesystem::create_directories(path_);
    if (::geteuid() != 0) {
        skipReason_ = "mounting a read-only tmpfs needs root";
    } else if (::mount("tmpfs", path_.c_str(), "tmpfs", MS_RDONLY | MS_NOSUID | MS_NODEV,
                       "size=1m") != 0) {
        skipReason_ = std::string("mounting a read-only tmpfs failed: ") + std::strerror(errno);
    }
}

ReadOnlyMount::~ReadOnlyMount() {
    if (!skipReason_) {
        ::umount2(path_.c_str(), MNT_DETACH);
    }
}

}  // namespace tavtest
