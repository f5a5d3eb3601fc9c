#pragma once

#include <string>
#include <vector>

#include "model/ChapterMarker.h"

namespace tavrolin {

// Writes chapter markers as the text of an FFmpeg FFMETADATA (version 1) file, and decides
// whether a chapter list can be written at all.
class ChapterMetadataRenderer {
  public:
    // The complete file text, lines ending in a line feed, times in milliseconds. Each chapter
    // ends where the next one starts; the last ends at `duration` (seconds). Throws
    // MediaProcessingError::invalidRequest when the duration or a marker cannot be written.
    std::string render(const std::vector<ChapterMarker>& chapters, double duration) const;
};

}  // namespace tavrolin
