#include "probe/MediaProbeError.h"

#include "model/ErrorMessage.h"

namespace tavrolin {

MediaProbeError::MediaProbeError(Case errorCase, const std::string& message)
    : std::runtime_error(message), case_(errorCase) {}

MediaProbeError MediaProbeError::processFailed(const std::string& message) {
    return {Case::processFailed, message};
}

MediaProbeError MediaProbeError::invalidResponse() {
    return {Case::invalidResponse, "ffprobe returned media information in an unexpected format."};
}

MediaProbeError MediaProbeError::noSupportedStreams() {
    return {Case::noSupportedStreams, "No video, audio, or subtitle streams were found."};
}

MediaProbeError MediaProbeError::notMedia(const std::string& fileName, const std::string& reason) {
    return {Case::notMedia, "\u201C" + fileName +
                                "\u201D is not a video or audio file that FFmpeg can read (" +
                                reason + "). Remove it, then add a media file."};
}

MediaProbeError MediaProbeError::fileMissing(const std::filesystem::path& file) {
    return {Case::fileMissing, missingFileMessage(file)};
}

MediaProbeError MediaProbeError::notRegularFile(const std::filesystem::path& file,
                                                std::string_view kind) {
    return {Case::notRegularFile, notRegularFileMessage(file, kind)};
}

void requireRegularFile(const std::filesystem::path& file) {
    if (const auto kind = specialFileKind(file)) {
        throw MediaProbeError::notRegularFile(file, *kind);
    }
}

bool MediaProbeError::retryMayHelp() const {
    switch (case_) {
        case Case::processFailed:
        case Case::invalidResponse:
        case Case::fileMissing:
            return true;
        case Case::noSupportedStreams:
        case Case::notMedia:
        case Case::notRegularFile:
            return false;
    }
    return true;
}

}  // namespace tavrolin
