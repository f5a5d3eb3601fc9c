#include "engine/FFmpegProgressRelay.h"

namespace tavrolin {

void FFmpegProgressRelay::start(std::optional<double> duration) {
    std::lock_guard lock(mutex_);
    decided_ = true;
    if (duration) {
        tracker_ = std::make_unique<FFmpegProgressTracker>(*duration, [this](double fraction) {
            if (progress_) {
                progress_(fraction);
            }
        });
        tracker_->consume(waiting_);
    }
    waiting_.clear();
}

void FFmpegProgressRelay::consume(std::string_view chunk) {
    std::lock_guard lock(mutex_);
    if (tracker_) {
        tracker_->consume(chunk);
    } else if (!decided_) {
        waiting_.append(chunk);
        // Only the latest complete lines matter; keep the waiting text small.
        constexpr std::size_t kept = 8192;
        if (waiting_.size() > 4 * kept) {
            auto cut = waiting_.rfind('\n', waiting_.size() - kept);
            waiting_.erase(0, cut == std::string::npos ? 0 : cut + 1);
        }
    }
}

}  // namespace tavrolin
