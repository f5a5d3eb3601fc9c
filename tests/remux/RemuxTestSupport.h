#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <unicode/locid.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/QtTestApplication.h"
#include "model/MediaStream.h"
#include "probe/FFprobeService.h"
#include "probe/MediaProbing.h"
#include "process/FoundationProcessRunner.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace tavtest {

// The Qt application on the offscreen platform, and language names in US English.
inline void prepareRemuxTest() {
    qtApplication();
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("en_US"), status);
}

// Processes GUI events until `condition` holds or `timeout` passes; returns the condition.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeout.count()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// Processes GUI events for a while, for checks that something does not happen.
inline void processEventsFor(std::chrono::milliseconds duration) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < duration.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

// The real ffprobe through its own runner.
inline std::shared_ptr<tavrolin::MediaProbing> realProbe(
    std::optional<std::filesystem::path> ffprobeOverride = std::nullopt) {
    return std::make_shared<tavrolin::FFprobeService>(
        std::make_shared<tavrolin::FoundationProcessRunner>(), tavrolin::ToolLocations{},
        std::move(ffprobeOverride));
}

// An ffprobe that waits until its gate file exists, then runs the real one: inspections stay
// in flight (as real child processes) until the test opens the gate.
class GatedFFprobe {
  public:
    explicit GatedFFprobe(const TempDir& folder)
        : gate_(folder / "gate"), script_(folder / "gated-ffprobe") {
        std::ofstream(script_) << "#!/bin/sh\nwhile [ ! -e '" << gate_.string()
                               << "' ]; do sleep 0.01; done\nexec ffprobe \"$@\"\n";
        std::filesystem::permissions(script_, std::filesystem::perms::owner_all);
    }
    const std::filesystem::path& script() const { return script_; }
    void open() const { std::ofstream(gate_) << ""; }

  private:
    std::filesystem::path gate_;
    std::filesystem::path script_;
};

// Answers each file with a fixed stream list (or an error text), for rule tables that need
// codecs no small generated file has. Everything else uses the real ffprobe.
class FixedProbe final : public tavrolin::MediaProbing {
  public:
    std::map<std::filesystem::path, std::vector<tavrolin::MediaStream>> streams;
    std::map<std::filesystem::path, std::string> failures;

    std::vector<tavrolin::MediaStream> inspectStreams(const std::filesystem::path& file,
                                                      std::stop_token) override {
        std::lock_guard lock(mutex_);
        if (auto failure = failures.find(file); failure != failures.end()) {
            throw std::runtime_error(failure->second);
        }
        return streams.at(file);
    }
    std::vector<tavrolin::ChapterMarker> inspectChapters(const std::filesystem::path&,
                                                         std::stop_token) override {
        return {};
    }
    std::optional<double> inspectDuration(const std::filesystem::path&, std::stop_token) override {
        return std::nullopt;
    }

  private:
    std::mutex mutex_;
};

inline tavrolin::MediaStream makeStream(std::int64_t index, tavrolin::MediaStreamKind kind,
                                        std::string codec,
                                        std::optional<std::string> language = std::nullopt,
                                        std::optional<std::string> title = std::nullopt) {
    tavrolin::MediaStream stream;
    stream.index = index;
    stream.kind = kind;
    stream.codecName = std::move(codec);
    stream.language = std::move(language);
    stream.title = std::move(title);
    if (kind == tavrolin::MediaStreamKind::audio) {
        stream.channelCount = 2;
    }
    return stream;
}

}  // namespace tavtest
