#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tavrolin {

// The files of one processing job: a private folder for temporary inputs and the hidden working
// output. Whatever is still there when the object ends is removed, quietly. Used by the one
// thread that runs the job; writeTemporaryInput and temporaryPath throw std::filesystem_error
// when the folder or file cannot be made.
class JobFiles {
  public:
    JobFiles() = default;
    JobFiles(const JobFiles&) = delete;
    JobFiles& operator=(const JobFiles&) = delete;
    ~JobFiles();

    // A new file in the job's private temporary folder (made with mkdtemp on first use).
    std::filesystem::path writeTemporaryInput(const std::string& prefix,
                                              const std::string& extension,
                                              std::string_view contents);

    // A new name there, for a tool to write.
    std::filesystem::path temporaryPath(const std::string& prefix, const std::string& extension);

    std::filesystem::path workingOutput;

  private:
    std::filesystem::path temporaryFolder_;
};

}  // namespace tavrolin
