#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tavtest {

// A private folder under $TMPDIR, removed with everything in it when the object goes away.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const {
        return path_ / name;
    }
    // Names of the entries directly inside, sorted.
    std::vector<std::string> entries() const;

  private:
    std::filesystem::path path_;
};

}  // namespace tavtest
