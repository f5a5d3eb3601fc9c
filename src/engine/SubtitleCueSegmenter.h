#pragma once

#include <cstdint>
#include <vector>

#include "model/SubtitleCue.h"

namespace tavrolin {

// Groups recognised speech fragments into readable cues. A fragment joins the open cue while the
// silence before it, the cue's span and the cue's text stay within the limits (each limit admits
// its own value); a cue that ends a sentence closes once it spans at least 1.2 s.
struct SubtitleCueSegmenter {
    std::int64_t maximumCharacters = 84;  // user-perceived characters
    double maximumDuration = 6.0;  // seconds from the first fragment's start to the last's end
    double maximumGap = 1.2;       // seconds of silence before a fragment that may still join

    // Cues with ids 1, 2, 3 ... in time order. Fragments with empty text or unusable times are
    // skipped; never fails.
    std::vector<SubtitleCue> segment(const std::vector<TranscriptFragment>& fragments) const;
};

}  // namespace tavrolin
