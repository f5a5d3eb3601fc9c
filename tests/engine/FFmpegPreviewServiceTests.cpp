#include "engine/FFmpegPreviewService.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "engine/PreviewPreparationError.h"
#include "model/CancellationError.h"
#include "model/MediaProcessingError.h"
#include "model/Uuid.h"
#include "process/FoundationProcessRunner.h"
#include "support/CountingRunner.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

using namespace tavrolin;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using tavtest::CountingRunner;

// Every fraction a preparation reported, from whichever thread.
class ProgressLog {
  public:
    std::function<void(double)> callback() {
        return [this](double fraction) {
            std::lock_guard lock(mutex_);
            values_.push_back(fraction);
        };
    }
    std::vector<double> values() {
        std::lock_guard lock(mutex_);
        return values_;
    }

  private:
    std::mutex mutex_;
    std::vector<double> values_;
};

nlohmann::json streamsOf(const fs::path& file) {
    std::string output;
    EXPECT_EQ(tavtest::runTool(
                  {"ffprobe", "-v", "error", "-show_entries",
                   "stream=codec_name,codec_type,codec_tag_string", "-of", "json", file.string()},
                  &output),
              0);
    return nlohmann::json::parse(output.empty() ? "{}" : output)["streams"];
}

std::vector<std::string> entriesOf(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> videoAndAudio(const std::string& video, const std::string& audio) {
    std::vector<std::string> arguments{
        "-f",   "lavfi", "-i",   "testsrc=size=64x36:rate=10:duration=1",
        "-f",   "lavfi", "-i",   "sine=frequency=440:duration=1",
        "-map", "0:v",   "-map", "1:a"};
    arguments.insert(arguments.end(), {"-c:v", video, "-c:a", audio});
    return arguments;
}

int lineCount(const fs::path& file) {
    std::ifstream in(file);
    int lines = 0;
    for (std::string line; std::getline(in, line);) {
        ++lines;
    }
    return lines;
}

bool waitUntil(const std::function<bool()>& condition) {
    for (int i = 0; i < 6000; ++i) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

class PreviewServiceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        using tavtest::TestMedia;
        auto hevc = videoAndAudio("libx265", "aac");
        hevc.insert(hevc.end(), {"-preset", "ultrafast", "-pix_fmt", "yuv420p10le", "-x265-params",
                                 "log-level=error"});
        hevc10 = TestMedia::generate("hevc10.mkv", hevc);
        auto wma = videoAndAudio("libx264", "wmav2");
        wma.insert(wma.end(), {"-preset", "ultrafast"});
        wmaAudio = TestMedia::generate("wma.mkv", wma);
        auto pcm = videoAndAudio("libx264", "pcm_s16le");
        pcm.insert(pcm.end(), {"-preset", "ultrafast"});
        pcmAudio = TestMedia::generate("pcm.mkv", pcm);
        theora = TestMedia::generate("theora.mkv", videoAndAudio("libtheora", "libvorbis"));
        audioOnly = TestMedia::generate(
            "audio-only.m4a",
            {"-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-c:a", "aac"});
    }

    void SetUp() override {
        const char* previous = std::getenv("XDG_CACHE_HOME");
        previousCache_ = previous ? std::optional<std::string>(previous) : std::nullopt;
        ::setenv("XDG_CACHE_HOME", (scratch_ / "cache").c_str(), 1);
    }
    void TearDown() override {
        if (previousCache_) {
            ::setenv("XDG_CACHE_HOME", previousCache_->c_str(), 1);
        } else {
            ::unsetenv("XDG_CACHE_HOME");
        }
    }

    fs::path previewFolder() const { return scratch_ / "cache" / "tavrolin" / "Tavrolin-Previews"; }

    // A stand-in ffmpeg that logs its arguments, creates its output and then runs `rest`; the
    // real ffprobe beside it, or a stand-in that logs and runs `probe` when one is given.
    ToolLocations standIn(const std::string& rest, const std::string& probe = {}) {
        const fs::path tools = scratch_ / "tools";
        fs::create_directories(tools);
        std::ofstream(tools / "ffmpeg") << "#!/bin/bash\n"
                                        << "echo \"$*\" >> '" << log().string() << "'\n"
                                        << "touch \"${@: -1}\"\n"
                                        << rest << "\n";
        fs::permissions(tools / "ffmpeg", fs::perms::owner_all);
        if (probe.empty()) {
            fs::create_symlink("/usr/bin/ffprobe", tools / "ffprobe");
        } else {
            std::ofstream(tools / "ffprobe") << "#!/bin/bash\n"
                                             << "echo \"$*\" >> '" << probeLog().string() << "'\n"
                                             << probe << "\n";
            fs::permissions(tools / "ffprobe", fs::perms::owner_all);
        }
        auto preferences = std::make_shared<InMemoryPreferencesStore>();
        preferences->setString("customFFmpegPath", (tools / "ffmpeg").string());
        ToolLocations locations;
        locations.preferences = preferences;
        return locations;
    }
    fs::path log() const { return scratch_ / "ffmpeg.log"; }
    fs::path probeLog() const { return scratch_ / "ffprobe.log"; }
    fs::path release() const { return scratch_ / "release"; }

    static inline fs::path hevc10, wmaAudio, pcmAudio, theora, audioOnly;
    tavtest::TempDir scratch_;
    std::optional<std::string> previousCache_;
};

}  // namespace

TEST_F(PreviewServiceTest, Hevc10BitCopiesOnTheFirstAttemptWithTheHvc1Tag) {
    auto runner = std::make_shared<CountingRunner>();
    FFmpegPreviewService service(runner, ToolLocations{});
    EXPECT_EQ(service.previewFolder(), previewFolder());
    ProgressLog progress;
    const fs::path preview = service.preparePreview(hevc10, progress.callback());

    EXPECT_EQ(preview.parent_path(), previewFolder());
    EXPECT_EQ(preview.extension(), ".mp4");
    EXPECT_TRUE(Uuid::fromString(preview.stem().string()).has_value());
    EXPECT_EQ(runner->runs, 2);  // the probe and one attempt
    const auto streams = streamsOf(preview);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0]["codec_name"], "hevc");
    EXPECT_EQ(streams[0]["codec_tag_string"], "hvc1");
    EXPECT_EQ(streams[1]["codec_name"], "aac");  // copied, not encoded
    const auto values = progress.values();
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));

    // Folders that did not exist were made private to the user.
    for (const auto& folder : {previewFolder(), previewFolder().parent_path()}) {
        struct stat info {};
        ASSERT_EQ(::stat(folder.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u) << folder;
    }
}

TEST_F(PreviewServiceTest, AudioThatMp4CannotHoldIsEncodedOnTheSecondAttempt) {
    for (const auto& source : {wmaAudio, pcmAudio}) {
        SCOPED_TRACE(source.filename().string());
        auto runner = std::make_shared<CountingRunner>();
        FFmpegPreviewService service(runner, ToolLocations{});
        ProgressLog progress;
        const fs::path preview = service.preparePreview(source, progress.callback());
        EXPECT_EQ(runner->runs, 3);  // the probe and two attempts
        const auto streams = streamsOf(preview);
        ASSERT_EQ(streams.size(), 2u);
        EXPECT_EQ(streams[0]["codec_name"], "h264");
        EXPECT_EQ(streams[0]["codec_tag_string"], "avc1");
        EXPECT_EQ(streams[1]["codec_name"], "aac");
        // Progress went back to 0 between the attempts and ended at 1.
        const auto values = progress.values();
        ASSERT_FALSE(values.empty());
        EXPECT_NE(std::find(values.begin(), values.end(), 0.0), values.end());
        EXPECT_EQ(values.back(), 1.0);
        EXPECT_EQ(entriesOf(previewFolder()), (std::vector<std::string>{preview.filename()}));
    }
}

TEST_F(PreviewServiceTest, VideoThatMp4CannotHoldFailsEveryAttemptWithFFmpegsExplanation) {
    auto runner = std::make_shared<CountingRunner>();
    FFmpegPreviewService service(runner, ToolLocations{});
    try {
        service.preparePreview(theora, {});
        FAIL() << "a preview was made";
    } catch (const PreviewPreparationError& error) {
        EXPECT_EQ(error.errorCase(), PreviewPreparationError::Case::generationFailed);
        const std::string message = error.what();
        EXPECT_EQ(message, error.message());
        EXPECT_NE(message.find("Could not find tag for codec theora"), std::string::npos)
            << message;
        EXPECT_LE(std::count(message.begin(), message.end(), '\n'), 7);
        EXPECT_EQ(message.find("\n\n"), std::string::npos);
    }
    EXPECT_EQ(runner->runs, 4);  // the probe and three attempts
    EXPECT_TRUE(entriesOf(previewFolder()).empty());
    EXPECT_TRUE(fs::is_directory(previewFolder()));
}

TEST_F(PreviewServiceTest, SourcesWithoutUsableVideoFailInspection) {
    FFmpegPreviewService service(std::make_shared<FoundationProcessRunner>(), ToolLocations{});
    const auto& media = tavtest::TestMedia::shared();
    for (const auto& source : {audioOnly, media.randomBytes, media.empty, media.rawH264}) {
        SCOPED_TRACE(source.filename().string());
        try {
            service.preparePreview(source, {});
            ADD_FAILURE() << "a preview was made";
        } catch (const PreviewPreparationError& error) {
            EXPECT_EQ(error.errorCase(), PreviewPreparationError::Case::inspectionFailed);
            EXPECT_STREQ(error.what(),
                         "The source could not be inspected for preview compatibility.");
        }
    }
    EXPECT_TRUE(entriesOf(previewFolder()).empty());
}

TEST_F(PreviewServiceTest, MissingToolsAreReported) {
    ToolLocations nowhere;
    nowhere.searchFolders = {scratch_ / "no-tools"};
    FFmpegPreviewService service(std::make_shared<FoundationProcessRunner>(), nowhere);
    try {
        service.preparePreview(hevc10, {});
        FAIL() << "a preview was made";
    } catch (const MediaProcessingError& error) {
        EXPECT_EQ(error.errorCase(), MediaProcessingError::Case::toolNotFound);
    }
}

TEST_F(PreviewServiceTest, ARepeatedSourceIsServedFromTheCacheWhileItsFileExists) {
    auto runner = std::make_shared<CountingRunner>();
    FFmpegPreviewService service(runner, ToolLocations{});
    const auto source = tavtest::TestMedia::shared().mp4ClipA;
    const fs::path first = service.preparePreview(source, {});
    EXPECT_EQ(streamsOf(first)[0]["codec_tag_string"], "avc1");
    const int runsAfterFirst = runner->runs;

    ProgressLog progress;
    // The same file named differently is the same source.
    const fs::path again =
        service.preparePreview(source.parent_path() / "." / source.filename(), progress.callback());
    EXPECT_EQ(again, first);
    EXPECT_EQ(progress.values(), (std::vector<double>{1.0}));
    EXPECT_EQ(runner->runs, runsAfterFirst);

    // Once the copy is gone a new one with a new name takes its place.
    fs::remove(first);
    const fs::path replacement = service.preparePreview(source, {});
    EXPECT_NE(replacement, first);
    EXPECT_TRUE(fs::exists(replacement));
    EXPECT_GT(runner->runs, runsAfterFirst);
    EXPECT_EQ(service.preparePreview(source, {}), replacement);
}

TEST_F(PreviewServiceTest, DestroyingTheServiceRemovesItsCopiesAndKeepsTheFolder) {
    fs::path hevcPreview, wmaPreview;
    {
        FFmpegPreviewService service(std::make_shared<FoundationProcessRunner>(), ToolLocations{});
        hevcPreview = service.preparePreview(hevc10, {});
        wmaPreview = service.preparePreview(wmaAudio, {});
        std::ofstream(previewFolder() / "someone-else.mp4") << "x";
        EXPECT_EQ(entriesOf(previewFolder()).size(), 3u);
    }
    EXPECT_FALSE(fs::exists(hevcPreview));
    EXPECT_FALSE(fs::exists(wmaPreview));
    EXPECT_EQ(entriesOf(previewFolder()), (std::vector<std::string>{"someone-else.mp4"}));
}

TEST_F(PreviewServiceTest, CancellingDuringTheFirstAttemptRunsNoOtherAttempt) {
    FFmpegPreviewService service(std::make_shared<FoundationProcessRunner>(),
                                 standIn("exec sleep 30"));
    std::stop_source stop;
    auto preparation = std::async(
        std::launch::async, [&] { return service.preparePreview(hevc10, {}, stop.get_token()); });
    ASSERT_TRUE(
        waitUntil([&] { return lineCount(log()) == 1 && !entriesOf(previewFolder()).empty(); }));
    stop.request_stop();
    EXPECT_THROW(preparation.get(), CancellationError);
    EXPECT_EQ(lineCount(log()), 1);
    EXPECT_TRUE(entriesOf(previewFolder()).empty());  // the partial file is gone

    // The service's own cancel() stops its preparation in the same way.
    auto second =
        std::async(std::launch::async, [&] { return service.preparePreview(hevc10, {}); });
    ASSERT_TRUE(
        waitUntil([&] { return lineCount(log()) == 2 && !entriesOf(previewFolder()).empty(); }));
    service.cancel();
    EXPECT_THROW(second.get(), CancellationError);
    EXPECT_EQ(lineCount(log()), 2);
    EXPECT_TRUE(entriesOf(previewFolder()).empty());
}

TEST_F(PreviewServiceTest, CancellingOnePreparationLeavesAnotherRunning) {
    FFmpegPreviewService service(
        std::make_shared<FoundationProcessRunner>(),
        standIn("while [ ! -e '" + release().string() + "' ]; do sleep 0.02; done"));
    std::stop_source firstStop;
    auto first = std::async(std::launch::async, [&] {
        return service.preparePreview(hevc10, {}, firstStop.get_token());
    });
    ASSERT_TRUE(waitUntil([&] { return lineCount(log()) == 1; }));
    auto second =
        std::async(std::launch::async, [&] { return service.preparePreview(wmaAudio, {}); });
    ASSERT_TRUE(waitUntil([&] { return lineCount(log()) == 2; }));

    firstStop.request_stop();
    EXPECT_THROW(first.get(), CancellationError);
    EXPECT_EQ(second.wait_for(100ms), std::future_status::timeout);

    std::ofstream(release()) << "";
    const fs::path preview = second.get();
    EXPECT_EQ(lineCount(log()), 2);
    EXPECT_EQ(entriesOf(previewFolder()), (std::vector<std::string>{preview.filename()}));
}

TEST_F(PreviewServiceTest, OverlappingPreparationsOfOneSourceAreAllRemovedAtTheEnd) {
    fs::path a, b;
    {
        FFmpegPreviewService service(
            std::make_shared<FoundationProcessRunner>(),
            standIn("while [ ! -e '" + release().string() + "' ]; do sleep 0.02; done"));
        auto first =
            std::async(std::launch::async, [&] { return service.preparePreview(hevc10, {}); });
        auto second =
            std::async(std::launch::async, [&] { return service.preparePreview(hevc10, {}); });
        ASSERT_TRUE(waitUntil([&] { return lineCount(log()) == 2; }));
        std::ofstream(release()) << "";
        a = first.get();
        b = second.get();
        // Calls are not merged: each made its own copy, and the cache answers with one of them.
        EXPECT_NE(a, b);
        const fs::path cached = service.preparePreview(hevc10, {});
        EXPECT_TRUE(cached == a || cached == b);
        EXPECT_EQ(lineCount(log()), 2);
        EXPECT_EQ(entriesOf(previewFolder()).size(), 2u);
    }
    EXPECT_TRUE(entriesOf(previewFolder()).empty());
}

TEST_F(PreviewServiceTest, SilentFailuresOfEveryAttemptGiveTheFixedText) {
    FFmpegPreviewService service(std::make_shared<FoundationProcessRunner>(), standIn("exit 1"));
    try {
        service.preparePreview(hevc10, {});
        FAIL() << "a preview was made";
    } catch (const PreviewPreparationError& error) {
        EXPECT_EQ(error.errorCase(), PreviewPreparationError::Case::generationFailed);
        EXPECT_STREQ(error.what(), "A compatible local preview could not be generated.");
    }
    EXPECT_EQ(lineCount(log()), 3);
    EXPECT_TRUE(entriesOf(previewFolder()).empty());
}

TEST_F(PreviewServiceTest, CancellingDuringTheProbeRunsNoAttempt) {
    FFmpegPreviewService service(std::make_shared<FoundationProcessRunner>(),
                                 standIn("exit 0", "exec sleep 30"));
    std::stop_source stop;
    auto preparation = std::async(
        std::launch::async, [&] { return service.preparePreview(hevc10, {}, stop.get_token()); });
    ASSERT_TRUE(waitUntil([&] { return lineCount(probeLog()) == 1; }));
    stop.request_stop();
    EXPECT_THROW(preparation.get(), CancellationError);
    EXPECT_FALSE(fs::exists(log()));
    EXPECT_TRUE(entriesOf(previewFolder()).empty());
}

TEST_F(PreviewServiceTest, TheDefaultFolderIsInTheUsersOwnCache) {
    EXPECT_EQ(FFmpegPreviewService::defaultPreviewFolder(), previewFolder());
    const char* home = std::getenv("HOME");
    const std::optional<std::string> savedHome =
        home ? std::optional<std::string>(home) : std::nullopt;
    ::setenv("XDG_CACHE_HOME", "relative/cache", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(FFmpegPreviewService::defaultPreviewFolder(),
              fs::path("/home/someone/.cache/tavrolin/Tavrolin-Previews"));
    // Without $HOME the password database names the home folder, never a shared folder.
    ::unsetenv("XDG_CACHE_HOME");
    ::unsetenv("HOME");
    const passwd* entry = ::getpwuid(::geteuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(FFmpegPreviewService::defaultPreviewFolder(),
              fs::path(entry->pw_dir) / ".cache" / "tavrolin" / "Tavrolin-Previews");
    if (savedHome) {
        ::setenv("HOME", savedHome->c_str(), 1);
    }
}

TEST_F(PreviewServiceTest, AFolderThatAnotherUserMadeFirstIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a folder to another user needs root";
    }
    for (const auto& taken : {previewFolder().parent_path(), previewFolder()}) {
        SCOPED_TRACE(taken.string());
        fs::remove_all(scratch_ / "cache");
        fs::create_directories(taken);
        ASSERT_EQ(::chown(taken.c_str(), 4242, 4242), 0);
        auto runner = std::make_shared<CountingRunner>();
        FFmpegPreviewService service(runner, ToolLocations{});
        try {
            service.preparePreview(hevc10, {});
            ADD_FAILURE() << "a preview was made";
        } catch (const fs::filesystem_error& error) {
            EXPECT_EQ(error.code(), std::errc::permission_denied);
        }
        EXPECT_EQ(runner->runs, 1);  // the probe only
        EXPECT_TRUE(entriesOf(previewFolder()).empty());
    }
}
