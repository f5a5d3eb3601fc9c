#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tavrolin {

// What a job's hidden working output carries in its name: ".<stem>.tmp-tavrolin-<UUID><ext>".
inline constexpr std::string_view workingMarker = ".tmp-tavrolin-";

// The record of what one running job has made under names of its own (its hidden working
// output, its private temporary folder), kept as one small file in the records folder of the
// state folder, so that a later start of the app can remove what a crash or a kill left.
//
// Every change rewrites the file under a hidden name and renames it into place, flushed to disk,
// so a crash leaves the old or the new record, never half of one. The file is locked (flock) for
// as long as the record object lives: a start of the app skips the records of jobs that still
// run, in this or another instance. Writing failures are ignored: the job then only cleans up on
// its own way out, as it always does. Used by the one thread that runs the job.
class JobRecord {
  public:
    // Nothing is written until the first `add`; an empty folder records nothing.
    explicit JobRecord(std::filesystem::path recordsFolder);
    // Removes the record; call it after the recorded items are gone or published.
    ~JobRecord();
    JobRecord(const JobRecord&) = delete;
    JobRecord& operator=(const JobRecord&) = delete;

    // $XDG_STATE_HOME/tavrolin/unfinished-jobs (~/.local/state when the variable is unset),
    // beside the record of renames in progress.
    static std::filesystem::path defaultFolder();

    // Before ffmpeg may create `working`: what the user will see it as is `output`.
    void addWorkingOutput(const std::filesystem::path& working,
                          const std::filesystem::path& output);
    void addTemporaryFolder(const std::filesystem::path& folder);

  private:
    void write();

    std::filesystem::path folder_;
    std::filesystem::path file_;
    std::vector<std::pair<std::string, std::filesystem::path>> entries_;
    int lockedFd_ = -1;
};

// Removes what the records in `recordsFolder` name and is still there, by exact name, then the
// records themselves; records of running jobs are left alone. Only names this program makes
// are removed (a hidden working name beside an output, a "Tavrolin-" temporary folder). Returns
// one sentence per removed working copy, for the job queue. Touches the disk: not on the GUI
// thread. Never throws.
std::vector<std::string> removeJobLeftovers(const std::filesystem::path& recordsFolder);

}  // namespace tavrolin
