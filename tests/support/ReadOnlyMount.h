#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tavtest {

// A small tmpfs mounted read-only at a new folder `path`, unmounted when the object goes away.
// Needs root (CI runs tests as root); `skipReason()` says why there is none otherwise.
class ReadOnlyMount {
  public:
    explicit ReadOnlyMount(const std::filesystem::path& path);
    ~ReadOnlyMount();
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
