#pragma once

#include <filesystem>
#include <string_view>

#include "engine/JobLeftovers.h"

namespace tavrolin {

// The hidden working output beside `output`: "." + stem + workingMarker + UUID + extension,
// within 255 bytes.
std::filesystem::path hiddenWorkingOutput(const std::filesystem::path& output);

// The files of one processing job: a private folder for temporary inputs, the hidden working
// output and a replacement's backup. Each is recorded in `recordsFolder` (see JobRecord) before
// it is made, so that a later start can remove what a crash left. Whatever is still there when the
// object ends is removed, quietly, then the record. Used by the one thread that runs the job;
// writeTemporaryInput and temporaryPath throw std::filesystem_error when the folder or file
// cannot be made.
class JobFiles {
  public:
    // An empty `recordsFolder` records nothing.
    explicit JobFiles(std::filesystem::path recordsFolder = {});
    JobFiles(const JobFiles&) = delete;
    JobFiles& operator=(const JobFiles&) = delete;
    ~JobFiles();

    // A new file in the job's private temporary folder ("Tavrolin-XXXXXX" in temporaryRoot(),
    // mode 0700, made on first use).
    std::filesystem::path writeTemporaryInput(const TemporaryInputKind& kind,
                                              std::string_view contents);

    // A new name there, for a tool to write.
    std::filesystem::path temporaryPath(const TemporaryInputKind& kind);

    // Before a replacement keeps `original` at `backup`.
    void recordBackup(const std::filesystem::path& backup, const std::filesystem::path& original);

    // Records `working` as the hidden name the job writes for `output`, then sets workingOutput.
    void useWorkingOutput(const std::filesystem::path& working,
                          const std::filesystem::path& output);

    std::filesystem::path workingOutput;

  private:
    // Destroyed last: the record goes only after what it names.
    JobRecord record_;
    std::filesystem::path temporaryFolder_;
};

}  // namespace tavrolin
