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

}  // namespace

RenameError::RenameError(Case errorCase, std::string payload, const std::string& message)
    : std::runtime_error(message), case_(errorCase), payload_(std::move(payload)) {}

RenameError RenameError::duplicateDestination(const std::string& fileName) {
    return {Case::duplicateDestination, fileName,
            "More than one file would become " + quoted(fileName) + "."};
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
        message += quoted(stranded[i].oldName) + " is now " + quoted(stranded[i].currentName);
    }
    message += ". Restore the old names once the cause is fixed.";
    return {Case::namesNotRestored, folder, message};
}

RenameError RenameError::unreadableJournal(const std::string& folder) {
    return {Case::unreadableJournal, folder,
            "The record of an earlier rename in " + quoted(folderName(folder)) +
                " cannot be read. Check the folder\u2019s files, then remove its hidden "
                "\u201C.tavrolin-rename-journal\u201D file."};
}

}  // namespace tavrolin
