#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "process/ProcessRunning.h"

namespace tavrolin {

// The processor's short ffprobe questions, each run within the application's bound on
// concurrent ffprobe runs and under `stop`. Called on the job's thread (or a probe thread of
// its own); none throws: a run that cannot answer gives nothing.

// ffprobe's result; a run stopped before it started answers as the runner answers a stopped run.
ProcessResult runBoundedFFprobe(ProcessRunning& runner, const std::filesystem::path& ffprobe,
                                const std::vector<std::string>& arguments, std::stop_token stop);

// A file's duration in seconds as ffprobe reports it; nothing on any failure.
std::optional<double> probeDuration(ProcessRunning& runner, const std::filesystem::path& file,
                                    const std::filesystem::path& ffprobe, std::stop_token stop);

// Each stream's index and codec type ("video", "subtitle", ...); nothing on any failure.
std::optional<std::vector<std::pair<std::int64_t, std::string>>> probeStreamKinds(
    ProcessRunning& runner, const std::filesystem::path& file, const std::filesystem::path& ffprobe,
    std::stop_token stop);

// How many packets `file`'s first video stream (cover art included, as ffmpeg's report counts
// it) holds, read whole in-process. Nothing on any failure, a stop, or without video.
std::optional<std::int64_t> countFirstVideoPackets(const std::filesystem::path& file,
                                                   std::stop_token stop);

// The sum of the first video streams' packets of `files`: the count a file's header gave when
// `headerCounts` holds one for it (an MP4 sample table, read with the file's inspection), else
// countFirstVideoPackets, the reads side by side; nothing when any gives nothing.
std::optional<std::int64_t> countVideoPackets(
    const std::vector<std::filesystem::path>& files,
    const std::vector<std::optional<std::int64_t>>& headerCounts, std::stop_token stop);

// A read beside other work (the ffmpeg run, most often), on a thread of its own and under a
// stop of its own, which `outerStop` also requests. Owned by one thread, which calls `get` once;
// the end of the object stops the read and waits for it.
template <typename T>
class ReadBeside {
  public:
    ReadBeside(std::stop_token outerStop, std::function<T(std::stop_token)> read)
        : forwardStop_(std::move(outerStop), [this] { stop_.request_stop(); }),
          result_(std::async(std::launch::async, std::move(read), stop_.get_token())) {}
    ~ReadBeside() {
        stop_.request_stop();
        if (result_.valid()) {
            result_.wait();
        }
    }

    // Its answer; stopped first when the answer no longer matters, so that a read still waiting
    // for an ffprobe slot does not hold its owner.
    T get(bool stopFirst = false) {
        if (stopFirst) {
            stop_.request_stop();
        }
        return result_.get();
    }

  private:
    std::stop_source stop_;
    std::stop_callback<std::function<void()>> forwardStop_;
    std::future<T> result_;
};

}  // namespace tavrolin
