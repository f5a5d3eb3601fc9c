#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "engine/FFmpegProgressTracker.h"
#include "engine/MediaProcessing.h"

namespace tavrolin {

// Progress of one ffmpeg run whose duration may still be being measured: chunks wait until
// the duration is known, then go through a tracker in their order; without a duration they are
// dropped. `start` and `consume` may come from different threads (a probe and the runner's
// reader); throws nothing of its own.
class FFmpegProgressRelay {
  public:
    explicit FFmpegProgressRelay(ProgressCallback& progress) : progress_(progress) {}

    void start(std::optional<double> duration);
    void consume(std::string_view chunk);

  private:
    ProgressCallback& progress_;
    std::mutex mutex_;
    bool decided_ = false;
    std::string waiting_;
    std::unique_ptr<FFmpegProgressTracker> tracker_;
};

}  // namespace tavrolin
