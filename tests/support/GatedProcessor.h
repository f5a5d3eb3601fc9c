#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "engine/FileRevealing.h"
#include "engine/MediaProcessing.h"
#include "model/CancellationError.h"
#include "model/MediaProcessingError.h"

namespace tavtest {

// A processor whose jobs run until the test lets them finish, so every queue state can be
// looked at. `process` reports progress through `report` and ends with `finish` or `fail`; a
// stop request ends it as a cancellation.
class GatedProcessor : public tavrolin::MediaProcessing {
  public:
    void process(const tavrolin::ProcessingRequest&, tavrolin::ProgressCallback progress,
                 std::stop_token stop) override {
        std::unique_lock lock(mutex_);
        progress_ = std::move(progress);
        running_ = true;
        ++started_;
        changed_.notify_all();
        std::stop_callback onStop(stop, [this] {
            std::lock_guard inner(mutex_);
            changed_.notify_all();
        });
        changed_.wait(lock, [&] { return outcome_.has_value() || stop.stop_requested(); });
        running_ = false;
        progress_ = {};
        if (!outcome_) {
            throw tavrolin::CancellationError();
        }
        const std::string failure = *outcome_;
        outcome_.reset();
        if (!failure.empty()) {
            throw tavrolin::MediaProcessingError::processFailed(failure);
        }
    }
    void cancel() override {}

    // How many jobs have entered `process`.
    int startedCount() {
        std::lock_guard lock(mutex_);
        return started_;
    }
    void report(double fraction) {
        tavrolin::ProgressCallback progress;
        {
            std::lock_guard lock(mutex_);
            progress = progress_;
        }
        if (progress) {
            progress(fraction);
        }
    }
    void finish() { end(""); }
    void fail(const std::string& message) { end(message); }

  private:
    void end(const std::string& failure) {
        std::lock_guard lock(mutex_);
        outcome_ = failure;
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool running_ = false;
    int started_ = 0;
    std::optional<std::string> outcome_;
    tavrolin::ProgressCallback progress_;
};

// Records what would have been shown in the file manager.
class RecordingRevealer : public tavrolin::FileRevealing {
  public:
    void reveal(const std::filesystem::path& file) override { revealed.push_back(file); }
    std::vector<std::filesystem::path> revealed;
};

}  // namespace tavtest
