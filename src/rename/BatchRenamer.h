#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "rename/FileManaging.h"
#include "rename/RenamePlanner.h"
#include "rename/RenameRule.h"
#include "rename/RenamesInProgress.h"

namespace tavrolin {

// Plans a batch rename and carries it out in two phases: every file moves to a hidden temporary
// name in its folder, then to its new name, so files of the batch may exchange names. No move
// ever replaces an existing name. A journal in the folder, written whole before the first move,
// records the rename until it has finished or been undone, so that a crash in between can be
// repaired by restoreInterruptedRename; `inProgress`, when given, lists the folders of such
// renames for the next start.
//
// Thread-safe; its operations never overlap (each holds the renamer's lock) and block, so they
// are called from a worker thread, never from the GUI thread. They take no stop token: a rename
// once begun runs to its end or rollback, so that no file is left under a temporary name.
class BatchRenamer {
  public:
    explicit BatchRenamer(std::shared_ptr<FileManaging> fileManager, RenamePlanner planner = {},
                          std::shared_ptr<RenamesInProgress> inProgress = nullptr);

    // Looks for a journal in the folder of the first file before anything else (RenameError
    // interruptedRename, or unreadableJournal while files have hidden names; a damaged journal
    // that hides nothing is ignored), lists the folder (its failure is thrown as a
    // filesystem_error), checks that files can be created in it (folderNotWritable), then plans
    // and refuses two names of one file (namesOfOneFile). Changes nothing.
    std::vector<RenamePlanItem> plan(const std::vector<std::filesystem::path>& files,
                                     const RenameRule& rule);

    // Renames along a plan made just before. When a move fails, the moves made are undone and
    // the failure is thrown as a filesystem_error naming the file; when some file cannot get its
    // old name back, RenameError namesNotRestored names each one and its current name, and the
    // journal stays for a later restore.
    void apply(const std::vector<RenamePlanItem>& plan);

    // Gives the files of the unfinished rename recorded in `folder` their old names back and
    // removes the journal; does nothing without a journal. A file is found by its recorded names
    // first, its identity only confirming it. Returns a notice naming temporary names that no
    // journal names (left alone), or an empty text; `restoredNames`, when given, receives how
    // many files got their old name back. Throws RenameError unreadableJournal (nothing moved)
    // or namesNotRestored (the journal then stays).
    std::string restoreInterruptedRename(const std::filesystem::path& folder,
                                         std::size_t* restoredNames = nullptr);

    // What opening a folder for renaming found.
    struct OpenedFolder {
        std::filesystem::path folder;  // standardized
        // The folder holds the journal of an unfinished rename.
        bool interruptedRename = false;
        // What was kept that the user should know of, or empty.
        std::string notice;
    };
    // Opens a folder for renaming (its files added, the folder dropped): removes what this
    // program left there that holds no user data (journal working copies, write-check probes);
    // hidden rename names with user data stay. The notice names them when no journal does, and
    // leftovers that could not be removed. A folder that cannot be listed opens with nothing.
    OpenedFolder openFolder(const std::filesystem::path& folder);
    // Opens each recorded folder; those without a journal leave the record.
    std::vector<OpenedFolder> openRecordedFolders();

  private:
    enum class Place { source, temporary, destination, missing };
    struct Record;
    class Restorer;
    enum class JournalState { none, readable, ignorable };

    // Reads the folder's journal: none, a whole one (returned in `journal`), or a damaged one
    // while no file has a hidden name (ignorable). Throws unreadableJournal otherwise.
    JournalState readJournal(const std::filesystem::path& folder,
                             std::optional<RenameJournal>* journal = nullptr);
    // Throws RenameError::namesOfOneFile when two sources are one file.
    void refuseNamesOfOneFile(const std::vector<RenamePlanItem>& plan);
    // The files of the plan that change their names, each with its fingerprint and a new
    // temporary name.
    std::vector<Record> recordsFor(const std::vector<RenamePlanItem>& plan);
    std::vector<std::string> temporaryNamesIn(const std::filesystem::path& folder);
    // Where the file of an entry is now, by its names, confirmed by its fingerprint.
    Place locate(const Record& record);
    // Restores, then removes the journal; when a file keeps another name, throws
    // namesNotRestored with `cause` first and keeps the journal.
    void undo(std::vector<Record>& records, const std::filesystem::path& journal,
              const std::string& cause);
    // Inside a catch block: undoes, then throws the caught error (or namesNotRestored).
    [[noreturn]] void undoAfterFailure(std::vector<Record>& records,
                                       const std::filesystem::path& journal);
    void forgetJournal(const std::filesystem::path& journal);
    OpenedFolder openStandardFolder(const std::filesystem::path& folder);

    std::shared_ptr<FileManaging> fileManager_;
    RenamePlanner planner_;
    std::shared_ptr<RenamesInProgress> inProgress_;
    std::mutex mutex_;
};

}  // namespace tavrolin
