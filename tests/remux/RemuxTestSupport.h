#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <unicode/locid.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/MediaProcessing.h"
#include "model/MediaStream.h"
#include "probe/FFprobeService.h"
#include "probe/MediaProbing.h"
#include "process/FoundationProcessRunner.h"
#include "queue/JobQueueViewModel.h"
#include "remux/RemuxViewModel.h"
#include "support/QtTestApplication.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"
#include "support/TestStreams.h"

namespace tavtest {

// The Qt application on the offscreen platform, and language names in US English.
inline void prepareRemuxTest() {
    qtApplication();
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("en_US"), status);
}

// Processes GUI events until `condition` holds or `timeout` passes; returns the condition.
[[nodiscard]] inline bool waitUntil(const std::function<bool()>& condition,
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

// Submits a page and waits for its output folder's check, after which the submission ran.
template <typename Model, typename... Mode>
bool submitChecked(Model& model, Mode... mode) {
    model.submit(mode...);
    return waitUntil([&] { return !model.isCheckingOutputFolder(); });
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

// For queues that are never started: their jobs only wait.
class UnusedProcessor final : public tavrolin::MediaProcessing {
  public:
    void process(const tavrolin::ProcessingRequest&, tavrolin::ProgressCallback,
                 std::stop_token) override {
        throw std::logic_error("not started in these tests");
    }
    void cancel() override {}
};

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
    // Runs of the script now. The shell forks for each `sleep`, and the fork keeps the
    // script's command line until it execs: only a process whose parent is no run counts.
    int runningCount() const {
        std::map<int, int> parents;  // run's pid -> its parent's
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            // A process that ends while it is read fails the read (ESRCH); it no longer runs.
            try {
                std::ifstream stream(entry.path() / "cmdline", std::ios::binary);
                const std::string commandLine((std::istreambuf_iterator<char>(stream)),
                                              std::istreambuf_iterator<char>());
                if (commandLine.find(script_.string()) == std::string::npos) {
                    continue;
                }
                std::ifstream stat(entry.path() / "stat");
                const std::string line((std::istreambuf_iterator<char>(stat)),
                                       std::istreambuf_iterator<char>());
                const auto afterName = line.rfind(')');
                int parent = 0;
                char state = 0;
                if (afterName != std::string::npos &&
                    std::sscanf(line.c_str() + afterName + 1, " %c %d", &state, &parent) == 2) {
                    parents[std::stoi(entry.path().filename().string())] = parent;
                }
            } catch (const std::exception&) {
            }
        }
        return static_cast<int>(std::count_if(parents.begin(), parents.end(), [&](const auto& run) {
            return !parents.contains(run.second);
        }));
    }
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

// A Remux model over a FixedProbe, with a queue that is never started.
class FixedProbeRemuxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        prepareRemuxTest();
        probe = std::make_shared<FixedProbe>();
        queue = std::make_unique<tavrolin::JobQueueViewModel>(std::make_shared<UnusedProcessor>());
        model = std::make_unique<tavrolin::RemuxViewModel>(*queue, probe);
    }

    // Adds a file with the given streams and waits until its inspection and the check of the
    // output folder have ended.
    std::filesystem::path add(const std::string& name, std::vector<tavrolin::MediaStream> streams) {
        const auto path = folder / name;
        probe->streams[path] = std::move(streams);
        EXPECT_TRUE(model->addFiles({path}));
        EXPECT_TRUE(waitUntil([&] {
            return model->runningInspectionCount() == 0 && !model->isCheckingOutputFolder();
        }));
        QCoreApplication::processEvents();
        return path;
    }

    TempDir folder;
    std::shared_ptr<FixedProbe> probe;
    std::unique_ptr<tavrolin::JobQueueViewModel> queue;
    std::unique_ptr<tavrolin::RemuxViewModel> model;
};

// Matroska, 1 s: H.264 video (default); AAC stereo "eng" titled "Main" (default); AAC mono
// "fre" titled "Commentary"; SubRip "eng" (default); SubRip "eng" titled "Forced" (forced).
inline std::filesystem::path remuxSourceMedia() {
    const auto srt = (TestMedia::shared().folder / "source-eng.srt").string();
    return TestMedia::generate("remux-source.mkv",
                               {"-f",
                                "lavfi",
                                "-i",
                                "testsrc2=size=64x36:rate=25:duration=1",
                                "-f",
                                "lavfi",
                                "-i",
                                "sine=frequency=440:sample_rate=48000:duration=1",
                                "-i",
                                srt,
                                "-map",
                                "0:v",
                                "-map",
                                "1:a",
                                "-map",
                                "1:a",
                                "-map",
                                "2:s",
                                "-map",
                                "2:s",
                                "-t",
                                "1",
                                "-c:v",
                                "libx264",
                                "-preset",
                                "ultrafast",
                                "-pix_fmt",
                                "yuv420p",
                                "-c:a",
                                "aac",
                                "-b:a",
                                "48k",
                                "-ac:a:0",
                                "2",
                                "-ac:a:1",
                                "1",
                                "-c:s",
                                "srt",
                                "-map_metadata",
                                "-1",
                                "-metadata:s:a:0",
                                "language=eng",
                                "-metadata:s:a:0",
                                "title=Main",
                                "-metadata:s:a:1",
                                "language=fre",
                                "-metadata:s:a:1",
                                "title=Commentary",
                                "-metadata:s:s:0",
                                "language=eng",
                                "-metadata:s:s:1",
                                "language=eng",
                                "-metadata:s:s:1",
                                "title=Forced",
                                "-disposition:v:0",
                                "default",
                                "-disposition:a:0",
                                "default",
                                "-disposition:a:1",
                                "0",
                                "-disposition:s:0",
                                "default",
                                "-disposition:s:1",
                                "forced"});
}

// Matroska, 1 s: H.265 video, AAC stereo "eng", SubRip "eng".
inline std::filesystem::path hevcSourceMedia() {
    const auto srt = (TestMedia::shared().folder / "source-eng.srt").string();
    return TestMedia::generate("remux-hevc.mkv", {"-f",
                                                  "lavfi",
                                                  "-i",
                                                  "testsrc2=size=64x64:rate=25:duration=1",
                                                  "-f",
                                                  "lavfi",
                                                  "-i",
                                                  "sine=frequency=440:sample_rate=48000:duration=1",
                                                  "-i",
                                                  srt,
                                                  "-map",
                                                  "0:v",
                                                  "-map",
                                                  "1:a",
                                                  "-map",
                                                  "2:s",
                                                  "-t",
                                                  "1",
                                                  "-c:v",
                                                  "libx265",
                                                  "-preset",
                                                  "ultrafast",
                                                  "-x265-params",
                                                  "log-level=error",
                                                  "-pix_fmt",
                                                  "yuv420p",
                                                  "-c:a",
                                                  "aac",
                                                  "-b:a",
                                                  "48k",
                                                  "-c:s",
                                                  "srt",
                                                  "-metadata:s:a:0",
                                                  "language=eng",
                                                  "-metadata:s:s:0",
                                                  "language=eng"});
}

// Copies `file` into `folder` under `name`.
inline std::filesystem::path copyMedia(const std::filesystem::path& file, const TempDir& folder,
                                       const std::string& name) {
    const auto target = folder / name;
    std::filesystem::copy_file(file, target, std::filesystem::copy_options::overwrite_existing);
    return target;
}

// One line per stream of a file as ffprobe reports it: "index kind codec tag".
inline std::vector<std::string> probedStreamLines(const std::filesystem::path& file) {
    std::string output;
    runTool(
        {"ffprobe", "-v", "error", "-show_entries",
         "stream=index,codec_type,codec_name,codec_tag_string", "-of", "csv=p=0", file.string()},
        &output);
    std::vector<std::string> lines;
    std::string line;
    for (char c : output) {
        if (c == '\n') {
            if (!line.empty()) {
                lines.push_back(line);
            }
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace tavtest
