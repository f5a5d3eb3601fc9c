#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrolin {

// Reads ffmpeg's "-progress" key=value report, which arrives in arbitrary chunks, and turns its
// "out_time_us=" lines into fractions of a known duration, clamped to 0...1.
class FFmpegProgressParser {
  public:
    // Fractions of the complete out_time_us lines this chunk finished, in report order. With a
    // duration that is not above 0 the chunk is dropped.
    std::vector<double> consume(std::string_view chunk, double duration);

    const std::string& pendingText() const { return pendingText_; }

  private:
    std::string pendingText_;  // the unfinished last line
};

// The "frame=" count of a finished "-progress" report: the packets a stream copy wrote of its
// first video stream (after its bit-stream filters dropped theirs). None without one.
std::optional<std::int64_t> progressFrameCount(std::string_view report);

// One ffmpeg run's progress: serialises the runner's chunks through a parser and hands each
// fraction to `handler` outside the lock. Fractions never go back: a report that lies behind
// an earlier one repeats the highest fraction reached so far.
class FFmpegProgressTracker {
  public:
    FFmpegProgressTracker(double duration, std::function<void(double)> handler);

    void consume(std::string_view chunk);

  private:
    std::mutex mutex_;
    FFmpegProgressParser parser_;
    double highest_ = 0;
    const double duration_;
    const std::function<void(double)> handler_;
};

}  // namespace tavrolin
