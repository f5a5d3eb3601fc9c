#pragma once

#include <filesystem>

namespace tavrolin {

// Shows one file selected in the user's file manager. Called on the GUI thread; reports
// nothing (when the file is gone, the file manager decides what to show).
class FileRevealing {
  public:
    virtual ~FileRevealing() = default;
    virtual void reveal(const std::filesystem::path& file) = 0;
};

}  // namespace tavrolin
