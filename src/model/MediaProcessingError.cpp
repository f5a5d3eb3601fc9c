#include "model/MediaProcessingError.h"

#include "model/ErrorMessage.h"

namespace tavrolin {

MediaProcessingError::MediaProcessingError(Case errorCase, std::string payload,
                                           const std::string& message)
    : std::runtime_error(message), case_(errorCase), payload_(std::move(payload)) {}

MediaProcessingError MediaProcessingError::toolNotFound(const std::string& toolName) {
    return {Case::toolNotFound, toolName,
            toolName + " was not found. Install FFmpeg or choose its binary in Settings."};
}

MediaProcessingError MediaProcessingError::outputExists(const std::string& fileName) {
    return {Case::outputExists, fileName,
            "An output named \u201C" + fileName +
                "\u201D already exists. Choose another folder or name."};
}

MediaProcessingError MediaProcessingError::outputClaimed(const std::string& fileName,
                                                         OutputClaim claim) {
    return {Case::outputClaimed, fileName,
            "\u201C" + fileName + "\u201D is already the output of " +
                (claim == OutputClaim::running ? "the job running" : "a job waiting") +
                " in the queue."};
}

MediaProcessingError MediaProcessingError::invalidRequest(const std::string& message) {
    return {Case::invalidRequest, message, message};
}

MediaProcessingError MediaProcessingError::processFailed(const std::string& message) {
    return {Case::processFailed, message, message};
}

MediaProcessingError MediaProcessingError::sourceMissing(const std::filesystem::path& file) {
    return {Case::sourceMissing, file.filename().string(), missingFileMessage(file)};
}

MediaProcessingError MediaProcessingError::sourceNotFile(const std::filesystem::path& file,
                                                         std::string_view kind) {
    return {Case::sourceNotFile, file.filename().string(),
            quotedName(file) + " is now " + std::string(kind) +
                ", not the video or audio file that was added, so Tavrolin did not read it. Put "
                "the media file back under that name, or add it again."};
}

MediaProcessingError MediaProcessingError::notEnoughSpace(const std::filesystem::path& folder,
                                                          const std::string& fileName) {
    return {Case::notEnoughSpace, fileName,
            "There is not enough free space in " + quotedName(folder) + " to finish \u201C" +
                fileName + "\u201D. Free some space, then try again."};
}

MediaProcessingError MediaProcessingError::outputFolderGone(const std::filesystem::path& folder,
                                                            const std::string& fileName) {
    return {Case::outputFolderGone, fileName,
            "The output folder " + quotedName(folder) +
                " is gone, so Tavrolin could not finish \u201C" + fileName +
                "\u201D. Choose another folder, then try again."};
}

MediaProcessingError MediaProcessingError::outputUnreadable(const std::filesystem::path& folder,
                                                            const std::string& fileName,
                                                            const std::string& reason) {
    return {Case::outputUnreadable, fileName,
            "Tavrolin could not read back \u201C" + fileName + "\u201D from the folder " +
                quotedName(folder) + " (" + reason +
                "), so it did not keep it. Check that the folder is still there and working, "
                "then try again."};
}

MediaProcessingError MediaProcessingError::partMismatch(const std::string& fileName,
                                                        const std::string& fault) {
    return {Case::partMismatch, fileName,
            "Tavrolin did not keep \u201C" + fileName + "\u201D because the part it wrote " +
                fault + ". Choose another split point, or remux the source to MKV and split that."};
}

}  // namespace tavrolin
