#include "preview/VideoFrameIndex.h"

#include <algorithm>
#include <cmath>

namespace tavrolin {

double VideoFrameIndex::time(std::size_t index) const {
    if (pts.empty()) {
        return 0;
    }
    index = std::min(index, pts.size() - 1);
    return static_cast<double>(pts[index] - pts.front()) * timeBaseNum / timeBaseDen;
}

std::size_t VideoFrameIndex::frameCovering(double seconds) const {
    if (pts.empty() || !(seconds > 0)) {
        return 0;
    }
    // Matroska stores milliseconds, so a frame may start up to half a millisecond after the
    // exact grid time that names it.
    const double nominal = frameRate > 0 ? 1.0 / frameRate : 1.0 / 30;
    const double slack = std::min(0.001, nominal / 4);
    const double ticks = (seconds + slack) * timeBaseDen / timeBaseNum;
    if (ticks >= static_cast<double>(pts.back() - pts.front())) {
        return pts.size() - 1;
    }
    return frameAtTicks(pts.front() + static_cast<std::int64_t>(std::floor(ticks)));
}

std::size_t VideoFrameIndex::frameAtTicks(std::int64_t ticks) const {
    const auto after = std::upper_bound(pts.begin(), pts.end(), ticks);
    return after == pts.begin() ? 0 : static_cast<std::size_t>(after - pts.begin() - 1);
}

std::size_t VideoFrameIndex::keyframeAtOrBefore(std::size_t index) const {
    const auto after = std::upper_bound(keyframes.begin(), keyframes.end(), index);
    return after == keyframes.begin() ? 0 : *(after - 1);
}

std::size_t VideoFrameIndex::keyframeBefore(std::size_t keyframe) const {
    const auto at = std::lower_bound(keyframes.begin(), keyframes.end(), keyframe);
    return at == keyframes.begin() ? keyframe : *(at - 1);
}

}  // namespace tavrolin
