#pragma once

#include <string_view>
#include <vector>

#include "model/ChapterMarker.h"

namespace tavrolin {

// Reads the chapter document of `ffprobe -show_entries chapter=start_time:chapter_tags=title`.
struct FFprobeChapterParser {
    // Chapters with a usable start time, sorted by it; untitled ones are named after their
    // position in the document. Throws MediaProbeError::invalidResponse.
    std::vector<ChapterMarker> parse(std::string_view standardOutput) const;
};

}  // namespace tavrolin
