#pragma once

#include <functional>
#include <mutex>
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
