#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "rename/FileManaging.h"
#include "rename/RenamePlanner.h"
#include "rename/RenameRule.h"

namespace tavrolin {

// Plans a batch rename and carries it out in two phases: every file moves to a hidden temporary
// name in its folder, then to its new name, so files of the batch may exchange names. No move
// ever replaces an existing name. A journal in the folder records the rename until it has
// finished or been undone, so that a crash in between can be repaired by
// restoreInterruptedRename.
//
// Thread-safe; its operations never overlap (each holds the renamer's lock) and block, so they
// are called from a worker thread, never from the GUI thread. They take no stop token: a rename
// once begun runs to its end or rollback, so that no file is left under a temporary name.
class BatchRenamer {
  public:
    explicit BatchRenamer(std::shared_ptr<FileManaging> fileManager, RenamePlanner planner = {});

    // Lists the folder of the first file (its failure is thrown as a filesystem_error), reports a
    // leftover journal there (RenameError interruptedRename), then plans. Changes nothing.
    std::vector<RenamePlanItem> plan(const std::vector<std::filesystem::path>& files,
                                     const RenameRule& rule);

    // Renames along a plan made just before. When a move fails, the moves made are undone in
    // reverse and the failure is thrown as a filesystem_error naming the file; when some file
    // cannot get its old name back, RenameError namesNotRestored names each one and its current
    // name, and the journal stays for a later restore.
    void apply(const std::vector<RenamePlanItem>& plan);

    // Gives the files of the unfinished rename recorded in `folder` their old names back and
    // removes the journal; does nothing without a journal. Throws RenameError
    // unreadableJournal or namesNotRestored (the journal then stays).
    void restoreInterruptedRename(const std::filesystem::path& folder);

  private:
    struct Record;

    // Undoes the records' moves: new names back to temporary names, then temporary names back
    // to old names, both in reverse. Restoring moves that fail are left; never throws them.
    void restore(std::vector<Record>& records);
    // Restores, then removes the journal; when a file keeps another name, throws
    // namesNotRestored with `cause` first and keeps the journal.
    void undo(std::vector<Record>& records, const std::filesystem::path& journal,
              const std::string& cause);
    // Inside a catch block: undoes, then throws the caught error (or namesNotRestored).
    [[noreturn]] void undoAfterFailure(std::vector<Record>& records,
                                       const std::filesystem::path& journal);

    std::shared_ptr<FileManaging> fileManager_;
    RenamePlanner planner_;
    std::mutex mutex_;
};

}  // namespace tavrolin
