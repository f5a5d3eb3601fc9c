#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/JobItemNames.h"

namespace tavrolin {

// The record of what one running job has made under names of its own (its hidden working
// output, its private temporary folder, a replacement's backup), or of how many jobs wait in a
// queue, kept as one small file in the records folder of the state folder, so that a later
// start of the app can remove what a crash or a kill left and say what was lost.
//
// Every change writes a new file, locks it (flock) before it has any name, then renames it over
// the old one, flushed to disk, so a crash leaves the old or the new record, never half of one,
// and the file under the record's name is always locked while the record object lives: a start
// of the app skips the records of jobs that still run, in this or another instance. Writing
// failures are ignored: the job then only cleans up on its own way out, as it always does. Used
// by one thread at a time.
class JobRecord {
  public:
    // Nothing is written until the first change; an empty folder records nothing.
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
    // Before the folder is made; a later call names another folder in its place.
    void setTemporaryFolder(const std::filesystem::path& folder);
    // Before a replacement swaps `original` for a new file and keeps the old one at `backup`.
    void addBackup(const std::filesystem::path& backup, const std::filesystem::path& original);
    // The number of jobs waiting in the queue that owns this record.
    void setWaitingJobs(std::size_t count);

  private:
    void set(const std::string& kind, const std::string& value);
    void write();

    std::filesystem::path folder_;
    std::filesystem::path file_;
    std::vector<std::pair<std::string, std::string>> entries_;
    int lockedFd_ = -1;
};

// Removes what the unlocked records in `recordsFolder` name and is still there, then the
// records themselves; the records of running jobs are left alone. A name is removed only when
// it has exactly the shape this program gives it (JobItemNames.h), a temporary folder only
// while it holds nothing but temporary inputs; any other name is left alone. A record stays
// while something it names could not be removed or lies in a folder that is not there (a drive
// not mounted), to be tried again at the next start. A replacement's backup goes when a file
// stands at the original's name again, else it is moved back there.
//
// Returns the lines for the job queue: one per removed working copy, one per interrupted
// replacement (its copy and backup together, saying whether the original was replaced), and one
// for the jobs that were waiting in the queues of ended runs. `betweenOpenAndLock` runs after a
// record is opened and before it is locked (a pause for tests). Touches the disk: not on the
// GUI thread. Never throws.
std::vector<std::string> removeJobLeftovers(
    const std::filesystem::path& recordsFolder,
    const std::function<void(const std::filesystem::path&)>& betweenOpenAndLock = {});

}  // namespace tavrolin
