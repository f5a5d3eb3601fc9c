#include "engine/SubtitleTimingAdjuster.h"

#include <algorithm>
#include <cmath>

namespace tavrolin {

SubtitleTimingShift SubtitleTimingAdjuster::shift(const std::vector<SubtitleCue>& cues,
                                                  double offset) const {
    if (!std::isfinite(offset) || offset == 0 || cues.empty()) {
        return {cues, 0};
    }
    double earliest = INFINITY;
    for (const auto& cue : cues) {
        if (!std::isnan(cue.startTime)) {
            earliest = std::min(earliest, cue.startTime);
        }
    }
    // No offset can bring a cue at minus infinity to zero.
    if (earliest == -INFINITY) {
        return {cues, 0};
    }
    const double applied = std::max(offset, -earliest);
    if (applied == 0) {
        return {cues, 0};
    }
    SubtitleTimingShift result{cues, applied};
    for (auto& cue : result.cues) {
        cue.startTime += applied;
        cue.endTime += applied;
    }
    return result;
}

std::vector<SubtitleCue> SubtitleTimingAdjuster::endingBy(std::vector<SubtitleCue> cues,
                                                          std::optional<double> duration) const {
    if (!duration || !std::isfinite(*duration) || *duration <= 0) {
        return cues;
    }
    for (auto& cue : cues) {
        if (cue.startTime < *duration && cue.endTime > *duration) {
            cue.endTime = *duration;
        }
    }
    return cues;
}

}  // namespace tavrolin
