#include "transcription/TranscriptTimelineLayout.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace tavrolin {

double TranscriptTimelineLayout::tickInterval(double pointsPerSecond) const {
    if (!std::isfinite(pointsPerSecond) || pointsPerSecond <= 0) {
        return 60;
    }
    constexpr std::array<double, 13> ladder{1,   2,   5,   10,  15,   30,  60,
                                            120, 300, 600, 900, 1800, 3600};
    const double wanted = 90 / pointsPerSecond;
    for (double step : ladder) {
        if (step >= wanted) {
            return step;
        }
    }
    return 7200;
}

double TranscriptTimelineLayout::clampedZoom(double magnification, double startZoom) const {
    double candidate =
        std::isfinite(magnification) && magnification > 0 ? startZoom * magnification : startZoom;
    if (!std::isfinite(candidate)) {
        candidate = 1.0;
    }
    return std::clamp(candidate, 1.0, 32.0);
}

}  // namespace tavrolin
