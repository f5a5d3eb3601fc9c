#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "model/MediaProcessingError.h"
#include "probe/FFprobeCommandBuilder.h"
#include "probe/FFprobeService.h"
#include "probe/MediaProbeError.h"
#include "process/FoundationProcessRunner.h"
#include "process/ProbeConcurrencyLimit.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using tavrolin::FFprobeCommandBuilder;
using tavrolin::FFprobeService;
using tavrolin::FoundationProcessRunner;
using tavrolin::InMemoryPreferencesStore;
using tavrolin::MediaProbeError;
using tavrolin::MediaProcessingError;
using tavrolin::ProcessOutputHandler;
using tavrolin::ProcessResult;
using tavrolin::ProcessRunning;
using tavrolin::ToolLocations;
using tavtest::TempDir;

// The real runner, counting how many children it was asked to start.
class CountingRunner : public ProcessRunning {
  public:
    ProcessResult run(const fs::path& executable, const std::vector<std::string>& arguments,
                      ProcessOutputHandler handler, std::stop_token stop) override {
        ++runs;
        return runner_.run(executable, arguments, std::move(handler), stop);
    }
    void cancel() override { runner_.cancel(); }
    std::atomic<int> runs{0};

  private:
    FoundationProcessRunner runner_;
};

fs::path writeScript(const fs::path& path, const std::string& body) {
    {
        std::ofstream out(path);
        out << "#!/bin/sh\n" << body << "\n";
    }
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

const char* const kOneVideoStream = R"({"streams":[{"index":0,"codec_type":"video"}]})";

// A stand-in ffprobe that prints `json` on standard output.
fs::path printingProbe(const fs::path& path, const std::string& json) {
    std::ofstream(path.string() + ".json") << json;
    return writeScript(path, "cat '" + path.string() + ".json'");
}

FFprobeService serviceWith(const fs::path& ffprobe,
                           std::shared_ptr<ProcessRunning> runner = nullptr) {
    if (!runner) {
        runner = std::make_shared<FoundationProcessRunner>();
    }
    return FFprobeService(std::move(runner), ToolLocations{}, ffprobe);
}

std::vector<std::string> readArguments(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> arguments;
    std::string argument;
    while (std::getline(in, argument, '\0')) {
        arguments.push_back(argument);
    }
    return arguments;
}

TEST(FFprobeServiceTest, PassesTheArgumentListsUnchanged) {
    TempDir dir;
    const fs::path log = dir / "arguments";
    const fs::path probe = writeScript(dir / "ffprobe", "printf '%s\\0' \"$@\" > '" + log.string() +
                                                            "'\necho '" + kOneVideoStream + "'");
    FFprobeService service = serviceWith(probe);
    const fs::path file = dir / "-odd 'name\" \xE9.mkv";

    // Each list reaches ffprobe as the builder made it, the odd name byte for byte.
    const FFprobeCommandBuilder builder;
    service.inspectStreams(file);
    EXPECT_EQ(readArguments(log), builder.streamArguments(file));
    service.inspectChapters(file);
    EXPECT_EQ(readArguments(log), builder.chapterArguments(file));
    service.inspectDuration(file);
    EXPECT_EQ(readArguments(log), builder.durationArguments(file));
}

TEST(FFprobeServiceTest, CommandBuilderMakesRelativePathsAbsolute) {
    FFprobeCommandBuilder builder;
    auto arguments = builder.durationArguments("-i.mkv");
    EXPECT_EQ(arguments.back(), (fs::current_path() / "-i.mkv").native());
    EXPECT_EQ(arguments.back().front(), '/');
    EXPECT_EQ(builder.chapterArguments("/a/../b c.mkv").back(), "/a/../b c.mkv");
}

TEST(FFprobeServiceTest, FailedRunsReportTheErrorTailOrTheFallback) {
    TempDir dir;
    // A file that is there: a missing one is said in a sentence of its own.
    const fs::path file = dir / "x.mkv";
    std::ofstream(file) << "x";
    std::string twelveLines;
    for (int i = 1; i <= 12; ++i) {
        twelveLines += "echo 'problem " + std::to_string(i) + "' >&2\n";
    }
    FFprobeService chatty = serviceWith(writeScript(dir / "chatty", twelveLines + "exit 1"));
    try {
        chatty.inspectStreams(file);
        ADD_FAILURE();
    } catch (const MediaProbeError& error) {
        EXPECT_EQ(error.errorCase(), MediaProbeError::Case::processFailed);
        EXPECT_STREQ(error.what(),
                     "problem 5\nproblem 6\nproblem 7\nproblem 8\nproblem 9\nproblem 10\n"
                     "problem 11\nproblem 12");
    }

    // Output on standard output is not read after a failure.
    FFprobeService silent =
        serviceWith(writeScript(dir / "silent", std::string("echo '") + kOneVideoStream +
                                                    "'\nprintf '\\n\\r\\n' >&2\nexit 2"));
    auto messageOf = [](const std::function<void()>& inspection) -> std::string {
        try {
            inspection();
        } catch (const MediaProbeError& error) {
            return error.what();
        }
        return "no error";
    };
    EXPECT_EQ(messageOf([&] { silent.inspectStreams(file); }),
              "ffprobe could not inspect this file.");
    EXPECT_EQ(messageOf([&] { silent.inspectChapters(file); }),
              "ffprobe could not inspect this file's chapters.");
    EXPECT_EQ(messageOf([&] { silent.inspectDuration(file); }),
              "ffprobe could not inspect this file's duration.");

    // A zero exit with output of another shape.
    FFprobeService garbled = serviceWith(printingProbe(dir / "garbled", "{\"streams\": 5}"));
    EXPECT_EQ(messageOf([&] { garbled.inspectStreams(file); }),
              "ffprobe returned media information in an unexpected format.");
    FFprobeService dataOnly = serviceWith(
        printingProbe(dir / "data", R"({"streams":[{"index":0,"codec_type":"data"}]})"));
    EXPECT_EQ(messageOf([&] { dataOnly.inspectStreams(file); }),
              "No video, audio, or subtitle streams were found.");
}

TEST(FFprobeServiceTest, AnExecutableThatCannotStartThrowsTheLaunchError) {
    TempDir dir;
    std::ofstream(dir / "not-executable") << "#!/bin/sh\n";
    for (const fs::path& probe : {dir / "missing", dir / "not-executable", dir.path()}) {
        FFprobeService service = serviceWith(probe);
        EXPECT_THROW(service.inspectStreams("/x.mkv"), std::system_error) << probe;
    }
}

TEST(FFprobeServiceTest, NoLocatedToolFailsBeforeAnythingRuns) {
    TempDir dir;
    auto runner = std::make_shared<CountingRunner>();
    ToolLocations nowhere;
    nowhere.searchFolders = {dir.path()};
    FFprobeService service(runner, nowhere);
    for (int inspection = 0; inspection < 3; ++inspection) {
        try {
            if (inspection == 0) {
                service.inspectStreams("/x.mkv");
            } else if (inspection == 1) {
                service.inspectChapters("/x.mkv");
            } else {
                service.inspectDuration("/x.mkv");
            }
            ADD_FAILURE() << "inspection " << inspection << " ran";
        } catch (const MediaProcessingError& error) {
            EXPECT_EQ(error.errorCase(), MediaProcessingError::Case::toolNotFound);
            EXPECT_EQ(error.payload(), "FFmpeg");
        }
    }
    ToolLocations empty;
    empty.searchFolders.clear();
    EXPECT_THROW(FFprobeService(runner, empty).inspectStreams("/x.mkv"), MediaProcessingError);

    // An ffmpeg without any ffprobe.
    writeScript(dir / "ffmpeg", "exit 0");
    try {
        service.inspectDuration("/x.mkv");
        ADD_FAILURE();
    } catch (const MediaProcessingError& error) {
        EXPECT_EQ(error.payload(), "ffprobe");
    }
    EXPECT_EQ(runner->runs.load(), 0);
}

TEST(FFprobeServiceTest, ToolsAreLocatedAnewForEveryInspection) {
    TempDir dir;
    for (const char* name : {"one", "two"}) {
        fs::create_directory(dir / name);
        writeScript(dir / name / "ffmpeg", "exit 0");
        printingProbe(dir / name / "ffprobe",
                      std::string(R"({"streams":[{"index":0,"codec_type":"audio","codec_name":")") +
                          name + "\"}]}");
    }
    auto preferences = std::make_shared<InMemoryPreferencesStore>();
    ToolLocations locations;
    locations.preferences = preferences;
    locations.searchFolders = {dir / "nowhere"};
    FFprobeService service(std::make_shared<FoundationProcessRunner>(), locations);

    preferences->setString("customFFmpegPath", (dir / "one" / "ffmpeg").string());
    EXPECT_EQ(service.inspectStreams("/x.mkv").at(0).codecName, "one");
    preferences->setString("customFFmpegPath", (dir / "two" / "ffmpeg").string());
    EXPECT_EQ(service.inspectStreams("/x.mkv").at(0).codecName, "two");
    preferences->remove("customFFmpegPath");
    EXPECT_THROW(service.inspectStreams("/x.mkv"), MediaProcessingError);
}

TEST(FFprobeServiceTest, StoppingEndsOnlyThatInspectionPromptly) {
    TempDir dir;
    // Waits for a file to appear, then answers; so the first inspection is surely running
    // when it is stopped, and the second one outlives the stop.
    const fs::path started = dir / "started";
    const fs::path probe =
        writeScript(dir / "slow", "touch '" + started.string() + "'\nsleep 0.5\necho '" +
                                      kOneVideoStream + "'\nexit 0");
    // Says it started, and that it was terminated (then ends by the signal), which its thirty
    // seconds never say.
    const fs::path sleeping = dir / "sleeping";
    const fs::path terminated = dir / "terminated";
    const fs::path sleeper = writeScript(
        dir / "sleeper", "trap \"touch '" + terminated.string() +
                             "'; trap - TERM; kill -TERM \\$\\$\" TERM\ntouch '" +
                             sleeping.string() + "'\nfor i in $(seq 600); do sleep 0.05; done");
    auto runner = std::make_shared<FoundationProcessRunner>();
    FFprobeService slowService(runner, ToolLocations{}, sleeper);
    FFprobeService steadyService(runner, ToolLocations{}, probe);

    auto steady =
        std::async(std::launch::async, [&] { return steadyService.inspectStreams("/x"); });
    std::stop_source stop;
    auto stopped = std::async(std::launch::async, [&] {
        return slowService.inspectDuration("/x.mkv", stop.get_token());
    });
    while (!fs::exists(started) || !fs::exists(sleeping)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop.request_stop();
    try {
        stopped.get();
        ADD_FAILURE() << "a stopped inspection returned a duration";
    } catch (const MediaProbeError& error) {
        EXPECT_EQ(error.errorCase(), MediaProbeError::Case::processFailed);
    }
    EXPECT_TRUE(fs::exists(terminated)) << "the stopped ffprobe was waited for, not ended";
    EXPECT_EQ(steady.get().size(), 1u);

    // A token stopped beforehand starts no inspection that could hang.
    std::stop_source already;
    already.request_stop();
    EXPECT_ANY_THROW(slowService.inspectStreams("/x.mkv", already.get_token()));
}

TEST(FFprobeServiceTest, ConcurrentInspectionsStayWithinTheProbeLimit) {
    TempDir dir;
    const fs::path running = dir / "running";
    const fs::path peaks = dir / "peaks";
    fs::create_directory(running);
    // Each stand-in registers itself, notes how many are registered, and leaves.
    const fs::path probe = writeScript(
        dir / "counting", "touch '" + running.string() + "/'$$\nls '" + running.string() +
                              "' | wc -l >> '" + peaks.string() + "'\nsleep 0.05\nrm '" +
                              running.string() + "/'$$\necho '" + kOneVideoStream + "'");
    FFprobeService service = serviceWith(probe);
    const std::size_t capacity = tavrolin::ProbeConcurrencyLimit::shared().capacity();
    std::vector<std::future<std::size_t>> results;
    for (std::size_t i = 0; i < capacity * 3; ++i) {
        results.push_back(std::async(std::launch::async,
                                     [&] { return service.inspectStreams("/x.mkv").size(); }));
    }
    for (auto& result : results) {
        EXPECT_EQ(result.get(), 1u);
    }
    std::ifstream in(peaks);
    std::size_t peak = 0;
    std::size_t count = 0;
    for (std::size_t value; in >> value; ++count) {
        peak = std::max(peak, value);
    }
    EXPECT_EQ(count, capacity * 3);
    EXPECT_GE(peak, 1u);
    EXPECT_LE(peak, capacity);
}

}  // namespace
