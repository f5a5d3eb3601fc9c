#include "rename/RenameError.h"

#include <filesystem>

namespace tavrolin {

namespace {

std::string quoted(const std::string& name) {
    return "\u201C" + name + "\u201D";
}

std::string folderName(const std::string& folder) {
    const std::filesystem::path path(folder);
    return path.has_filename() ? path.filename().string() : path.parent_path().filename().string();
}

std::string quotedList(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : ", ") + quoted(names[i]);
    }
    return text;
}

}  // namespace

RenameError::RenameError(Case errorCase, std::string payload, const std::string& message)
    : std::runtime_error(message), case_(errorCase), payload_(std::move(payload)) {}

RenameError RenameError::duplicateDestination(const std::string& fileName) {
    return {Case::duplicateDestination, fileName,
            "More than one file would become " + quoted(fileName) + "."};
}

RenameError RenameError::namesOfOneFile(const std::string& firstName,
                                        const std::string& secondName) {
    return {Case::namesOfOneFile, firstName,
            quoted(firstName) + " and " + quoted(secondName) +
                " are two names of one file (hard links), so they cannot be renamed together. "
                "Leave one of them out of the batch."};
}

RenameError RenameError::destinationExists(const std::string& fileName) {
    return {Case::destinationExists, fileName,
            "A different file named " + quoted(fileName) + " already exists."};
}

RenameError RenameError::noFiles() {
    return {Case::noFiles, {}, "Add at least one file."};
}

RenameError RenameError::emptyShowName() {
    return {Case::emptyShowName, {}, "Enter a show name."};
}

RenameError RenameError::invalidNumber() {
    return {Case::invalidNumber, {}, "Season, episode, and padding values must be positive."};
}

RenameError RenameError::filesMustShareFolder() {
    return {
        Case::filesMustShareFolder, {}, "All files in a rename batch must be in the same folder."};
}

RenameError RenameError::interruptedRename(const std::string& folder) {
    return {Case::interruptedRename, folder,
            "An earlier rename in " + quoted(folderName(folder)) +
                " did not finish. Restore the old names before renaming again."};
}

RenameError RenameError::namesNotRestored(const std::string& folder, const std::string& cause,
                                          const std::vector<StrandedFile>& stranded) {
    std::string message = cause;
    if (!message.empty() && message.back() != '.') {
        message += '.';
    }
    message += " These files could not get their old names back:";
    for (std::size_t i = 0; i < stranded.size(); ++i) {
        message += i == 0 ? " " : "; ";
        message += quoted(stranded[i].oldName);
        message += stranded[i].currentName.empty() ? " was found under none of its names"
                                                   : " is now " + quoted(stranded[i].currentName);
    }
    message += ". Restore the old names once the cause is fixed.";
    return {Case::namesNotRestored, folder, message};
}

RenameError RenameError::unreadableJournal(const std::string& folder,
                                           const std::vector<std::string>& hiddenNames) {
    std::string message = "The record of an earlier rename in " + quoted(folderName(folder)) +
                          " is damaged or incomplete, so nothing was restored.";
    if (hiddenNames.empty()) {
        message += " No file has a hidden rename name; rename again to replace the record.";
    } else {
        message += " These files still have hidden names: " + quotedList(hiddenNames) +
                   ". Show hidden files in the folder, give them their names back, then remove "
                   "\u201C.tavrolin-rename-journal\u201D.";
    }
    return {Case::unreadableJournal, folder, message};
}

RenameError RenameError::nameTooLong(const std::string& fileName, std::size_t limit) {
    return {Case::nameTooLong, fileName,
            "The new name " + quoted(fileName) + " is " + std::to_string(fileName.size()) +
                " bytes long; the folder\u2019s file system allows " + std::to_string(limit) +
                ". Shorten the show name."};
}

RenameError RenameError::folderNotWritable(const std::string& folder, const std::string& reason) {
    return {Case::folderNotWritable, folder,
            "Files in " + quoted(folderName(folder)) + " cannot be renamed: " + reason +
                ". Move the files to a folder you can change, or allow changes to this one."};
}

RenameError RenameError::folderMissing(const std::string& folder) {
    const std::filesystem::path path(folder);
    return {Case::folderMissing, folder,
            quoted(folderName(folder)) + " is no longer in " +
                quoted(folderName(path.parent_path().string())) +
                ". Add its files again from where they are now."};
}

std::string RenameError::emptyFolderNotice(const std::string& folder) {
    return quoted(folderName(folder)) +
           " holds no files to rename. Drop the episode files, or the folder that holds them.";
}

std::string RenameError::unreadableFolderNotice(const std::string& folder,
                                                const std::string& reason) {
    return "The files in " + quoted(folderName(folder)) + " could not be listed (" + reason +
           "). Allow reading the folder, then drop it again.";
}

std::string RenameError::restoredNamesNotice(const std::string& folder, std::size_t count) {
    if (count == 0) {
        return "No file in " + quoted(folderName(folder)) + " needed its old name back.";
    }
    return "Restored " + std::to_string(count) + (count == 1 ? " name" : " names") + " in " +
           quoted(folderName(folder)) + ".";
}

std::string RenameError::renamedFilesNotice(std::size_t count) {
    return "Renamed " + std::to_string(count) + (count == 1 ? " file." : " files.");
}

std::string RenameError::leftoverNamesNotice(const std::string& folder,
                                             const std::vector<std::string>& names) {
    if (names.empty()) {
        return {};
    }
    return "The old names are back. " + quoted(folderName(folder)) +
           " also holds hidden files from another rename, left untouched: " + quotedList(names) +
           ". Show hidden files to give them names.";
}

std::string RenameError::keptLeftoversNotice(const std::string& folder,
                                             const std::vector<std::string>& hiddenNames,
                                             const std::vector<std::string>& unremovable,
                                             const std::string& reason) {
    std::string notice;
    if (!hiddenNames.empty()) {
        notice = quoted(folderName(folder)) +
                 " holds hidden files from an earlier rename that no record names, left "
                 "untouched: " +
                 quotedList(hiddenNames) + ". Show hidden files to give them names.";
    }
    if (!unremovable.empty()) {
        notice += notice.empty() ? "" : " ";
        notice += "Working files that Tavrolin left in " + quoted(folderName(folder)) +
                  " could not be removed (" + reason + "): " + quotedList(unremovable) +
                  ". Show hidden files to remove them.";
    }
    return notice;
}

}  // namespace tavrolin
