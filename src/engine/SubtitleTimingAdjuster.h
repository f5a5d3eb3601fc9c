#pragma once

#include <vector>

#include "model/SubtitleCue.h"

namespace tavrolin {

struct SubtitleTimingShift {
    std::vector<SubtitleCue> cues;
    // The offset actually applied: 0, or smaller in size than asked when the earliest cue would
    // otherwise start before zero.
    double appliedOffset = 0;
};

// Moves every cue by one offset without letting any cue start before zero.
class SubtitleTimingAdjuster {
  public:
    SubtitleTimingShift shift(const std::vector<SubtitleCue>& cues, double offset) const;
};

}  // namespace tavrolin
