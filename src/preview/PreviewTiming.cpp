#include "preview/PreviewTiming.h"

#include <algorithm>
#include <cmath>

namespace tavrolin {

namespace {

double usableRate(double frameRate) {
    return std::max(frameRate, 1.0);
}

}  // namespace

long long previewFrameNumber(double seconds, double frameRate) {
    return std::llround(seconds * usableRate(frameRate));
}

double snappedPreviewTime(double seconds, double frameRate, double duration) {
    const double rate = usableRate(frameRate);
    double time = std::round(seconds * rate) / rate;
    if (time <= 0) {
        time = 0;
    }
    return std::min(time, std::max(duration, 0.0));
}

double frameRepeatInterval(double frameRate, double elapsed) {
    constexpr double rampSeconds = 1.25;
    const double maxRate = frameRate <= 1 ? 1 : frameRate;
    const double minRate = frameRate <= 1 ? 1 : std::min(frameRate, 4.0);
    const double progress = std::clamp(elapsed / rampSeconds, 0.0, 1.0);
    return 1 / (minRate + (maxRate - minRate) * progress);
}

}  // namespace tavrolin
