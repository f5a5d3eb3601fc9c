#pragma once

#include <string_view>
#include <vector>

#include "model/MediaStream.h"

namespace tavrolin {

// Reads the stream document of `ffprobe -show_entries stream=... -of json`, and the first
// packets beside it when given (what an edit list hides before each stream's start).
struct FFprobeParser {
    // The video, audio and subtitle streams sorted by index. Throws
    // MediaProbeError::invalidResponse for a document of another shape and
    // MediaProbeError::noSupportedStreams when none of those kinds is present.
    std::vector<MediaStream> parse(std::string_view standardOutput) const;
};

}  // namespace tavrolin
