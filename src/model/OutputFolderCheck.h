#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace tavrolin {

// Whether new files can be made in an output folder. Asked by creating a hidden probe file
// (".tavrolin-write-check-<UUID>") and removing it at once, the one question that answers for
// read-only mounts, permission bits, ACLs and root alike. A folder that does not exist yet has
// no problem here: the job creates it and reports its own failure. Blocking file-system calls;
// any thread. Returns the user's sentence when the folder cannot be written, none when it can.
std::optional<std::string> outputFolderProblem(const std::filesystem::path& folder);

// The probe itself: the error of creating a hidden file in an existing folder, empty when one
// could be created (or a file of that name already stood there).
std::error_code folderWriteError(const std::filesystem::path& folder);

// The answer for the last folder asked about, kept until the folder changes or `recheck()`, for
// view models that read it on every refresh: the probe then runs once per folder chosen, and
// again right before queueing. Not thread-safe: one owner, one thread.
class OutputFolderCheck {
  public:
    // None for no folder.
    const std::optional<std::string>& problem(const std::optional<std::filesystem::path>& folder);
    // The next problem() probes again, even for the same folder.
    void recheck() { checked_ = false; }

  private:
    bool checked_ = false;
    std::optional<std::filesystem::path> folder_;
    std::optional<std::string> problem_;
};

}  // namespace tavrolin
