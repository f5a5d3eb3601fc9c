#include "probe/MediaProbeError.h"

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

}  // namespace tavrolin
