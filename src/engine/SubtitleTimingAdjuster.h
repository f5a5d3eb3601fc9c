#pragma once

#include <optional>
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
    // Ends no cue later than `duration` (seconds) when it is known and finite. A cue that starts
    // at or after the end is left as it is, for the document's own check to refuse.
    std::vector<SubtitleCue> endingBy(std::vector<SubtitleCue> cues,
                                      std::optional<double> duration) const;
};

}  // namespace tavrolin
