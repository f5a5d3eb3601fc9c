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
        // The journal of an unfinished rename cannot be read; the payload is the folder.
        unreadableJournal,
    };

    // A file left under another name: its old name and the name it has now.
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
    static RenameError unreadableJournal(const std::string& folder);

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
