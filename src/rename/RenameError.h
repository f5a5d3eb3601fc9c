#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace tavrolin {

// The errors of planning and of a rename that could not be undone; what() is the user message.
class RenameError : public std::runtime_error {
  public:
    enum class Case {
        duplicateDestination,
        destinationExists,
        noFiles,
        emptyShowName,
        invalidNumber,
        filesMustShareFolder,
        // A journal of an unfinished rename lies in the folder; the payload is the folder.
        interruptedRename,
        // Undoing a rename left files under other names; the payload is the folder, whose
        // journal stays for a later restore.
        namesNotRestored,
        // The journal of an unfinished rename cannot be trusted (damaged, or of the first
        // format and incomplete); the payload is the folder. Nothing was moved.
        unreadableJournal,
        // A planned name is longer than the folder's file system takes; the payload is the name.
        nameTooLong,
        // No file can be created in the batch's folder; the payload is the folder.
        folderNotWritable,
        // Two names of the batch are one file (hard links); the payload is the first name.
        namesOfOneFile,
        // The batch's folder was moved away or removed; the payload is the folder.
        folderMissing,
    };

    // A file left under another name: its old name and the name it has now (empty when it was
    // found under none of its names).
    struct StrandedFile {
        std::string oldName;
        std::string currentName;
        friend bool operator==(const StrandedFile&, const StrandedFile&) = default;
    };

    static RenameError duplicateDestination(const std::string& fileName);
    static RenameError destinationExists(const std::string& fileName);
    static RenameError noFiles();
    static RenameError emptyShowName();
    static RenameError invalidNumber();
    static RenameError filesMustShareFolder();
    static RenameError interruptedRename(const std::string& folder);
    static RenameError namesNotRestored(const std::string& folder, const std::string& cause,
                                        const std::vector<StrandedFile>& stranded);
    // `hiddenNames` are the temporary names found in the folder, which the user may need to
    // give back by hand.
    static RenameError unreadableJournal(const std::string& folder,
                                         const std::vector<std::string>& hiddenNames);
    static RenameError nameTooLong(const std::string& fileName, std::size_t limit);
    static RenameError folderNotWritable(const std::string& folder, const std::string& reason);
    static RenameError namesOfOneFile(const std::string& firstName, const std::string& secondName);
    static RenameError folderMissing(const std::string& folder);

    // After a restore that succeeded: temporary names in the folder that its journal did not
    // name, left alone. Empty when there are none.
    static std::string leftoverNamesNotice(const std::string& folder,
                                           const std::vector<std::string>& names);
    // After a restore that succeeded: how many files got their old names back.
    static std::string restoredNamesNotice(const std::string& folder, std::size_t count);
    // After a rename: how many files got new names ("Renamed 12 files.").
    static std::string renamedFilesNotice(std::size_t count);

    // On opening a folder: hidden rename names that no journal names (user files, left alone)
    // and working files of this program that could not be removed, for `reason`. Empty when
    // there are none.
    static std::string keptLeftoversNotice(const std::string& folder,
                                           const std::vector<std::string>& hiddenNames,
                                           const std::vector<std::string>& unremovable,
                                           const std::string& reason);

    // On adding a dropped folder: it holds no file to rename, or it cannot be listed, for
    // `reason`.
    static std::string emptyFolderNotice(const std::string& folder);
    static std::string unreadableFolderNotice(const std::string& folder, const std::string& reason);

    Case errorCase() const { return case_; }
    const std::string& payload() const { return payload_; }

    friend bool operator==(const RenameError& a, const RenameError& b) {
        return a.case_ == b.case_ && a.payload_ == b.payload_;
    }

  private:
    RenameError(Case errorCase, std::string payload, const std::string& message);

    Case case_;
    std::string payload_;
};

}  // namespace tavrolin
