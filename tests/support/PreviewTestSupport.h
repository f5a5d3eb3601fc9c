#pragma once

#include <QTimer>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <vector>

#include "engine/PreviewPreparing.h"
#include "model/CancellationError.h"
#include "preview/PreviewPlayer.h"
#include "support/QtTestApplication.h"

namespace tavtest {

// A player that loads what it is told to, answering on the next event-loop turn, and records
// what the model asks of it.
class FakePreviewPlayer : public tavrolin::PreviewPlayer {
  public:
    struct Media {
        double duration = 0;
        double frameRate = 0;
        double lastFrameTime = 0;
    };
    std::map<std::filesystem::path, Media> media;  // files missing here fail to load
    std::vector<std::filesystem::path> loads;
    std::vector<double> seeks;
    std::filesystem::path current;
    bool playing = false;
    bool ended = false;
    double at = 0;

    void load(const std::filesystem::path& file, std::stop_token stop, Loaded loaded,
              Failed failed) override {
        loads.push_back(file);
        QTimer::singleShot(0, this, [this, file, stop, loaded, failed] {
            if (stop.stop_requested()) {
                return;
            }
            auto found = media.find(file);
            if (found == media.end()) {
                failed(std::make_exception_ptr(std::runtime_error("cannot open")));
                return;
            }
            tavrolin::PreviewMediaInfo info;
            info.file = file;
            info.duration = found->second.duration;
            info.frameRate = found->second.frameRate;
            info.lastFrameTime = found->second.lastFrameTime;
            loaded(info);
        });
    }
    void setMedia(tavrolin::PreviewMediaInfo info) override { current = info.file; }
    void play() override {
        playing = true;
        ended = false;
    }
    void pause() override { playing = false; }
    bool isPlaying() const override { return playing; }
    bool hasEnded() const override { return ended; }
    double position() const override { return at; }
    void seek(double seconds) override {
        seeks.push_back(seconds);
        at = seconds;
        ended = false;
    }
    QImage picture() const override { return {}; }
};

// A clock that only records what is scheduled; the test fires it.
class FakeRepeatClock : public tavrolin::FrameRepeatClock {
  public:
    std::vector<double> scheduled;
    std::function<void()> pending;

    void schedule(double seconds, std::function<void()> fire) override {
        scheduled.push_back(seconds);
        pending = std::move(fire);
    }
    void cancel() override { pending = nullptr; }
    bool fire() {
        if (!pending) {
            return false;
        }
        auto fire = std::move(pending);
        pending = nullptr;
        fire();
        return true;
    }
};

// A preparation that reports `reports`, then waits until the test answers or its stop is
// requested.
class GatedPreviewService : public tavrolin::PreviewPreparing {
  public:
    std::vector<double> reports;

    std::filesystem::path preparePreview(const std::filesystem::path& source,
                                         std::function<void(double)> progress,
                                         std::stop_token stop) override {
        for (double report : reports) {
            progress(report);
        }
        std::unique_lock lock(mutex_);
        started_ = true;
        changed_.notify_all();
        changed_.wait(lock, stop, [this] { return answer_.has_value(); });
        if (!answer_) {
            stoppedSeen_ = true;
            if (errorAfterStop_) {
                throw std::runtime_error("killed");
            }
            throw tavrolin::CancellationError();
        }
        if (!answer_->error.empty()) {
            throw std::runtime_error(answer_->error);
        }
        return answer_->path.empty() ? source : answer_->path;
    }
    void cancel() override { ++cancelCalls; }

    // Serves the GUI thread meanwhile, which delivers the failed load that starts it.
    bool waitStarted() {
        return waitUntil([this] {
            std::lock_guard lock(mutex_);
            return started_;
        });
    }
    void answer(std::filesystem::path path, std::string error = {}) {
        std::lock_guard lock(mutex_);
        answer_ = Answer{std::move(path), std::move(error)};
        changed_.notify_all();
    }
    void failAfterStop() { errorAfterStop_ = true; }
    bool stoppedSeen() {
        std::lock_guard lock(mutex_);
        return stoppedSeen_;
    }
    int cancelCalls = 0;

  private:
    struct Answer {
        std::filesystem::path path;
        std::string error;
    };
    std::mutex mutex_;
    std::condition_variable_any changed_;
    bool started_ = false;
    bool stoppedSeen_ = false;
    bool errorAfterStop_ = false;
    std::optional<Answer> answer_;
};

}  // namespace tavtest
