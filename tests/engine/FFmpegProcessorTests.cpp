#include "engine/FFmpegProcessor.h"

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "engine/FFmpegCommandBuilder.h"
#include "engine/FFmpegWriteFailure.h"
#include "engine/JobFiles.h"
#include "model/CancellationError.h"
#include "model/MediaProcessingError.h"
#include "process/FoundationProcessRunner.h"
#include "support/StandInTools.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

#include "EngineTestHelpers.h"

namespace {

// The replacement's last step before its swap gives the copy the source's mode (fchmod, which
// nothing else in this process calls meanwhile): armed, the next call runs `reached` and waits
// until released.
struct SwapHold {
    std::mutex mutex;
    std::condition_variable changed;
    std::function<void()> reached;
    bool released = false;
};

SwapHold& swapHold() {
    static SwapHold hold;
    return hold;
}

}  // namespace

extern "C" int fchmod(int fd, mode_t mode) noexcept {
    static const auto next = reinterpret_cast<int (*)(int, mode_t)>(::dlsym(RTLD_NEXT, "fchmod"));
    auto& hold = swapHold();
    std::unique_lock lock(hold.mutex);
    if (hold.reached) {
        std::exchange(hold.reached, nullptr)();
        hold.changed.wait(lock, [&hold] { return hold.released; });
    }
    lock.unlock();
    return next(fd, mode);
}

using namespace tavrolin;
using tavtest::processingError;
using tavtest::stream;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
namespace fs = std::filesystem;

namespace {

nlohmann::json probeJson(const fs::path& file, const std::string& entries,
                         const std::string& extra = {}) {
    std::string output;
    std::vector<std::string> command{"ffprobe", "-v",  "error", "-show_entries",
                                     entries,   "-of", "json"};
    if (!extra.empty()) {
        command.push_back(extra);
    }
    command.push_back(file.string());
    EXPECT_EQ(tavtest::runTool(command, &output), 0) << file;
    return nlohmann::json::parse(output.empty() ? "{}" : output);
}

double probedDuration(const fs::path& file) {
    auto json = probeJson(file, "format=duration");
    return std::stod(json["format"]["duration"].get<std::string>());
}

template <typename Predicate>
bool waitUntil(Predicate predicate) {
    for (int i = 0; i < 6000; ++i) {
        if (predicate()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool waitFor(const fs::path& marker) {
    return waitUntil([&marker] { return fs::exists(marker); });
}

class FFmpegProcessorTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { tavtest::TestMedia::shared(); }

    void SetUp() override {
        const char* previous = std::getenv("TMPDIR");
        previousTmp_ = previous ? std::optional<std::string>(previous) : std::nullopt;
        fs::create_directory(temporaryRoot());
        fs::create_directory(outputs());
        ::setenv("TMPDIR", temporaryRoot().c_str(), 1);
    }

    void TearDown() override {
        if (previousTmp_) {
            ::setenv("TMPDIR", previousTmp_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

    const tavtest::TestMedia& media() const { return tavtest::TestMedia::shared(); }
    fs::path temporaryRoot() const { return scratch_ / "tmp"; }
    fs::path outputs() const { return scratch_ / "out"; }

    FFmpegProcessor processor(ToolLocations locations = {}) {
        return FFmpegProcessor(std::make_shared<FoundationProcessRunner>(), std::move(locations));
    }

    // Stand-in `ffmpeg` with `body`, the real ffprobe beside it unless a body for it is given.
    // The processor asks the release of the ffmpeg it runs: the real one answers.
    ToolLocations standIn(const std::string& ffmpegBody, const std::string& ffprobeBody = {}) {
        return tavtest::standInTools(scratch_ / "tools", tavtest::kAnswersVersion + ffmpegBody,
                                     ffprobeBody);
    }
    fs::path marker(const std::string& name) const { return scratch_ / name; }

    // Nothing but `names` in the output folder and no temporary input anywhere.
    void expectOnly(const std::vector<std::string>& names) const {
        std::vector<std::string> present;
        for (const auto& entry : fs::directory_iterator(outputs())) {
            present.push_back(entry.path().filename().string());
        }
        std::sort(present.begin(), present.end());
        auto expected = names;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(present, expected);
        EXPECT_TRUE(fs::is_empty(temporaryRoot()));
    }

    tavtest::TempDir scratch_;

  private:
    std::optional<std::string> previousTmp_;
};

// Fractions as the callback saw them, from any thread.
struct Fractions {
    std::mutex mutex;
    std::vector<double> values;
    ProgressCallback callback() {
        return [this](double fraction) {
            std::lock_guard lock(mutex);
            values.push_back(fraction);
        };
    }
    void expectOrderedEndingInOne() {
        ASSERT_FALSE(values.empty());
        EXPECT_EQ(values.back(), 1.0);
        EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
        EXPECT_GE(values.front(), 0.0);
    }
};

// A job's sentence for a run that failed for a reason other than the output's folder.
std::string ffmpegFailed(const std::string& name, const std::string& said) {
    return "FFmpeg could not make \u201C" + name +
           "\u201D. Check the source and the output folder, then try again. FFmpeg said:\n" + said;
}

}  // namespace

// What a failed or killed ffmpeg leaves for the user: the cause, not the media description.
TEST(FFmpegProcessorText, FailureMessageNamesTheCause) {
    std::string twelve;
    for (int i = 1; i <= 12; ++i) {
        twelve += "line " + std::to_string(i) + (i % 3 == 0 ? "\r\n\n" : "\n");
    }
    const std::string description =
        "Input #0, matroska,webm, from '/m/a.mkv':\n"
        "  Metadata:\n"
        "    ENCODER         : Lavf59.27.100\n"
        "  Duration: 00:00:01.00, start: 0.000000, bitrate: 301 kb/s\n"
        "  Stream #0:0: Video: h264 (High), yuv420p, 64x36, 25 fps\n"
        "    Metadata:\n"
        "      DURATION        : 00:00:01.000000000\n"
        "Output #0, mp4, to '/ro/.a.tmp-tavrolin-1.mp4':\n"
        "Stream mapping:\n"
        "  Stream #0:0 -> #0:0 (copy)\n"
        "Press [q] to stop, [?] for help\n";
    struct Row {
        std::string name;
        std::string standardError;
        int signal = 0;
        std::string expected;
    };
    const std::vector<Row> rows{
        {"last eight lines", twelve, 0,
         "line 5\nline 6\nline 7\nline 8\nline 9\nline 10\nline 11\nline 12"},
        {"every line break",
         "a\xC2\x85"
         "b\xE2\x80\xA8"
         "c\xE2\x80\xA9 \vd\fe",
         0, "a\nb\nc\n \nd\ne"},
        {"nothing written", "\n\r\n\n", 0, "FFmpeg stopped without an error message."},
        {"cause after the description, the working name read as the chosen output",
         "[matroska @ 0x55d0c1a2b3c0] Unknown entry 0x1234\n" + description +
             "[mp4 @ 0x5611aa] Could not open '/ro/.a.tmp-tavrolin-1.mp4'\n"
             "/ro/.a.tmp-tavrolin-1.mp4: Read-only file system\n",
         0,
         "[matroska] Unknown entry 0x1234\n[mp4] Could not open '/ro/a.mp4'\n"
         "/ro/a.mp4: Read-only file system"},
        {"only a description", "Input #0, mov, from 'a':\n  Stream #0:0 -> #0:0 (copy)\n", 0,
         "FFmpeg stopped without an error message."},
        {"killed", description, 9, "FFmpeg was stopped by signal 9 (Killed)."},
        {"killed after a cause", "Error while decoding\n", 15,
         "FFmpeg was stopped by signal 15 (Terminated).\nError while decoding"},
        {"statistics of a cancelled run",
         "frame=    0 fps=0.0 q=-1.0 Lsize=       2kB time=00:00:00.00 bitrate=N/A speed=   0x\r"
         "size=       2kB time=00:00:01.00 bitrate=  16.4kbits/s speed= 200x\n"
         "video:0kB audio:1kB subtitle:0kB other streams:0kB global headers:0kB muxing "
         "overhead: 31.0%\n",
         15, "FFmpeg was stopped by signal 15 (Terminated)."},
        {"statistics after the cause",
         "Conversion failed!\nframe=    1 fps=0.0 q=-1.0 size=0kB time=00:00:00.04 bitrate=0\n", 0,
         "Conversion failed!"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ProcessResult result;
        result.terminationStatus = row.signal == 0 ? 1 : 128 + row.signal;
        result.terminationSignal = row.signal;
        result.standardError = row.standardError;
        EXPECT_EQ(ffmpegFailureMessage(result, "/ro/.a.tmp-tavrolin-1.mp4", "/ro/a.mp4"),
                  row.expected);
    }

    // The job's sentence: a system error on the output names the file, its folder and what to
    // do; an error about anything else (an input's name that merely contains the output's
    // name) leads the cause with them.
    const std::vector<std::pair<std::string, std::string>> sentences{
        {"/ro/.a.tmp-tavrolin-1.mp4: Read-only file system\n",
         "Tavrolin could not write \u201Ca.mp4\u201D in the folder \u201Cro\u201D (Read-only "
         "file system). Choose another output folder, then try again."},
        {"/in/ro/a.mp4: Permission denied\n",
         "FFmpeg could not make \u201Ca.mp4\u201D. Check the source and the output folder, then "
         "try again. FFmpeg said:\n/in/ro/a.mp4: Permission denied"},
    };
    for (const auto& [standardError, expected] : sentences) {
        SCOPED_TRACE(standardError);
        ProcessResult result;
        result.terminationStatus = 1;
        result.standardError = standardError;
        EXPECT_EQ(ffmpegFailureSentence(result, "/ro/.a.tmp-tavrolin-1.mp4", "/ro/a.mp4"),
                  expected);
    }
}

TEST(FFmpegProcessorText, ConcatListQuotesEveryPath) {
    EXPECT_EQ(FFmpegCommandBuilder::concatListText({"/Volumes/A/Tom's Cut.mov", "/b/x\\y.mp4"}),
              "file '/Volumes/A/Tom'\\''s Cut.mov'\nfile '/b/x\\y.mp4'");
}

TEST(FFmpegProcessorText, WorkingOutputIsHiddenBesideTheOutputAndFitsAName) {
    auto working = hiddenWorkingOutput("/Movies/Trip.mkv");
    EXPECT_EQ(working.parent_path(), "/Movies");
    const std::string name = working.filename().string();
    EXPECT_TRUE(name.starts_with(".Trip.tmp-tavrolin-")) << name;
    EXPECT_TRUE(name.ends_with(".mkv")) << name;
    EXPECT_EQ(name.size(), std::string(".Trip.tmp-tavrolin-.mkv").size() + 36);
    const auto bare = hiddenWorkingOutput("/M/noext").filename().string();
    EXPECT_EQ(bare.size(), std::string(".noext.tmp-tavrolin-").size() + 36) << bare;

    auto longName = "/M/" + std::string(200, 'x') + "\u00E9\u00E9\u00E9.mp4";
    auto shortened = hiddenWorkingOutput(longName).filename().string();
    EXPECT_LE(shortened.size(), 255u);
    EXPECT_TRUE(shortened.ends_with(".mp4"));
    EXPECT_THAT(shortened, HasSubstr(".tmp-tavrolin-"));
}

TEST_F(FFmpegProcessorTest, RemuxesMatroskaToMP4WithSubtitleOverridesAndAnHvc1Tag) {
    const fs::path source = tavtest::TestMedia::generate(
        "hevc-with-subtitles.mkv", {"-i",           media().matroska.string(),
                                    "-f",           "lavfi",
                                    "-i",           "testsrc=size=64x36:rate=10:duration=3",
                                    "-map",         "1:v",
                                    "-map",         "0:a:0",
                                    "-map",         "0:s",
                                    "-c:v",         "libx265",
                                    "-preset",      "ultrafast",
                                    "-x265-params", "log-level=none",
                                    "-c:a",         "copy",
                                    "-c:s",         "copy",
                                    "-t",           "3"});
    RemuxRequest request;
    request.input = source;
    request.output = outputs() / "converted.mp4";
    request.selectedStreams = {stream(0, MediaStreamKind::video), stream(1, MediaStreamKind::audio),
                               stream(2, MediaStreamKind::subtitle),
                               stream(3, MediaStreamKind::subtitle)};
    request.subtitleCodecOverrides = {{2, "mov_text"}, {3, "mov_text"}};
    request.videoCodecTagOverrides = {{0, "hvc1"}};
    Fractions fractions;
    processor().process(request, fractions.callback(), {});

    fractions.expectOrderedEndingInOne();
    expectOnly({"converted.mp4"});
    auto streams =
        probeJson(request.output, "stream=codec_name,codec_type,codec_tag_string")["streams"];
    // The source's chapters come along as an MP4 chapter track after the mapped streams.
    ASSERT_GE(streams.size(), 4u);
    for (std::size_t i = 4; i < streams.size(); ++i) {
        EXPECT_EQ(streams[i]["codec_type"], "data");
    }
    EXPECT_EQ(streams[0]["codec_name"], "hevc");
    EXPECT_EQ(streams[0]["codec_tag_string"], "hvc1");
    EXPECT_EQ(streams[1]["codec_name"], "aac");
    EXPECT_EQ(streams[2]["codec_name"], "mov_text");
    EXPECT_EQ(streams[3]["codec_name"], "mov_text");
}

TEST_F(FFmpegProcessorTest, RemuxWithoutAKnownDurationReportsOnlyItsEnd) {
    RemuxRequest request{
        media().rawH264, outputs() / "raw.mkv", {stream(0, MediaStreamKind::video)}, {}, {}};
    Fractions fractions;
    processor().process(request, fractions.callback(), {});
    EXPECT_EQ(fractions.values, std::vector<double>{1.0});
    expectOnly({"raw.mkv"});
}

TEST_F(FFmpegProcessorTest, JoinsClipsWhateverTheirNames) {
    Fractions fractions;
    processor().process(JoinRequest{{media().mp4ClipA, media().mp4ClipB}, outputs() / "ab.mp4"},
                        fractions.callback(), {});
    fractions.expectOrderedEndingInOne();
    EXPECT_NEAR(probedDuration(outputs() / "ab.mp4"), 4.0, 0.2);

    // Every odd name as an input, and an odd output name too.
    const std::string oddOutput = "joined ' \" \\ 100%d #;= -x \u00E9\U0001F3AC.mp4";
    processor().process(JoinRequest{media().oddNames, outputs() / oddOutput}, {}, {});
    EXPECT_NEAR(probedDuration(outputs() / oddOutput),
                2.0 * static_cast<double>(media().oddNames.size()), 0.5);

    // Checked again as it runs, with the Join workspace's words: the file may have been
    // replaced since it was inspected.
    auto mismatch = processingError([&] {
        processor().process(
            JoinRequest{{media().mp4ClipA, media().matroska}, outputs() / "mixed.mp4"}, {}, {});
    });
    EXPECT_EQ(mismatch.errorCase(), MediaProcessingError::Case::invalidRequest);
    EXPECT_STREQ(mismatch.what(),
                 "\u201Cmovie.mkv\u201D has 5 streams; \u201Cclip-a.mp4\u201D has 2. #2 "
                 "Commentary, #3 Subtitle stream 3 and #4 Subtitle stream 4 in "
                 "\u201Cmovie.mkv\u201D have no match in \u201Cclip-a.mp4\u201D. Lossless Join "
                 "requires the same stream count and order. Remove \u201Cmovie.mkv\u201D from "
                 "the list, or remux it in Remux without those streams and join the remuxed "
                 "file.");
    // A join that lost a frame on the way is counted against its files and not kept, whether
    // their sample tables tell their frames or they are read whole.
    auto dropping = processor(
        standIn("exec ffmpeg \"${@:1:$#-1}\" -bsf:v:0 'noise=drop=eq(n\\,5)' \"${@: -1}\"\n"));
    for (const auto& inputs : {std::vector<fs::path>{media().mp4ClipA, media().mp4ClipB},
                               std::vector<fs::path>{media().matroska, media().matroska}}) {
        const fs::path output = outputs() / ("lost" + inputs[0].extension().string());
        auto lost = processingError([&] { dropping.process(JoinRequest{inputs, output}, {}, {}); });
        EXPECT_THAT(lost.what(), ::testing::StartsWith("Tavrolin did not keep \u201C" +
                                                       output.filename().string() +
                                                       "\u201D because the file it wrote holds "));
        EXPECT_THAT(lost.what(),
                    ::testing::EndsWith(" its files hold together. Try the join again."));
    }
    expectOnly({"ab.mp4", oddOutput});
}

TEST_F(FFmpegProcessorTest, RefusesJoinsItCannotWrite) {
    auto tools = standIn("touch '" + marker("ffmpeg-ran").string() + "'\nexit 1\n");
    const fs::path output = outputs() / "sub" / "j.mp4";
    // A line break cannot go into the concat list: the part of the path that holds it is named.
    for (const auto& [input, sentence] : std::vector<std::pair<fs::path, std::string>>{
             {media().folder / "two\nlines.mp4",
              "\u201Ctwo\u21B5lines.mp4\u201D cannot be joined because its name contains a line "
              "break. Rename the file."},
             {media().folder / "day\rtwo" / "1.mp4",
              "\u201C1.mp4\u201D cannot be joined because the name of its folder "
              "\u201Cday\u21B5two\u201D contains a line break. Move the file or rename the "
              "folder."}}) {
        auto lineBreak = processingError([&] {
            processor(tools).process(JoinRequest{{media().mp4ClipA, input}, output}, {}, {});
        });
        EXPECT_EQ(lineBreak.errorCase(), MediaProcessingError::Case::invalidRequest);
        EXPECT_EQ(lineBreak.what(), sentence);
    }
    EXPECT_FALSE(fs::exists(outputs() / "sub"));

    auto single = processingError([&] {
        processor(tools).process(JoinRequest{{media().mp4ClipA}, output}, {}, {});
    });
    EXPECT_STREQ(single.what(), "Add at least two files to join.");
    EXPECT_FALSE(fs::exists(marker("ffmpeg-ran")));
    EXPECT_TRUE(fs::is_empty(outputs() / "sub"));
    EXPECT_TRUE(fs::is_empty(temporaryRoot()));
}

TEST_F(FFmpegProcessorTest, SplitsFromAStartAndRefusesAStartPastTheEnd) {
    const fs::path source = tavtest::TestMedia::generate(
        "hundred-seconds.mkv", {"-f", "lavfi", "-i", "testsrc=size=64x36:rate=2:duration=100",
                                "-c:v", "libx264", "-preset", "ultrafast", "-g", "2"});
    Fractions fractions;
    // 70 s at 2 frames a second: the 140 frames counted in the source.
    processor().process(
        SplitRequest{source, outputs() / "rest.mkv", 30, std::nullopt, SplitFrameCount{140, 0}},
        fractions.callback(), {});
    fractions.expectOrderedEndingInOne();
    // Fractions of the 70 s that remain: the last report before the final 1 is near the end.
    ASSERT_GE(fractions.values.size(), 2u);
    EXPECT_GT(fractions.values[fractions.values.size() - 2], 0.95);
    EXPECT_NEAR(probedDuration(outputs() / "rest.mkv"), 70.0, 1.5);

    processor().process(SplitRequest{source, outputs() / "ten.mkv", 10, 20.5}, {}, {});
    EXPECT_NEAR(probedDuration(outputs() / "ten.mkv"), 10.5, 1.0);

    for (double start : {100.0, 150.0}) {
        auto error = processingError([&] {
            processor().process(SplitRequest{source, outputs() / "late.mkv", start, std::nullopt},
                                {}, {});
        });
        EXPECT_STREQ(error.what(), "The start time must be earlier than the end of the source.");
    }
    auto reversed = processingError([&] {
        processor().process(SplitRequest{source, outputs() / "r.mkv", 20, 10}, {}, {});
    });
    EXPECT_STREQ(reversed.what(), "The end time must be later than the start time.");
    // Half a second after a keyframe: the part written cannot start at its cut, and is not kept.
    auto between = processingError([&] {
        processor().process(SplitRequest{source, outputs() / "half.mkv", 30.5, 40.0}, {}, {});
    });
    EXPECT_EQ(between.errorCase(), MediaProcessingError::Case::partMismatch);
    EXPECT_STREQ(between.what(),
                 "Tavrolin did not keep \u201Chalf.mkv\u201D because the part it wrote does not "
                 "start on a keyframe. Choose another split point, or remux the source to MKV and "
                 "split that.");
    // One frame more or fewer than its span has in the source: not kept.
    for (const std::int64_t counted : {139, 141}) {
        auto miscounted = processingError([&] {
            processor().process(SplitRequest{source, outputs() / "counted.mkv", 30, std::nullopt,
                                             SplitFrameCount{counted, 0}},
                                {}, {});
        });
        EXPECT_EQ(miscounted.what(),
                  "Tavrolin did not keep \u201Ccounted.mkv\u201D because the part it wrote holds "
                  "140 video frames instead of the " +
                      std::to_string(counted) +
                      " its span has in the source. Choose another split point, or remux the "
                      "source to MKV and split that.");
    }
    // The parts of a source, kept or touched since, read it in-process: no ffprobe run.
    const fs::path copy = scratch_ / "copy.mkv";
    fs::copy_file(source, copy);
    const fs::path reads = scratch_ / "ffprobe-runs";
    auto counting = processor(standIn(
        "exec ffmpeg \"$@\"\n", "echo \"$*\" >> '" + reads.string() + "'\nexec ffprobe \"$@\"\n"));
    counting.process(SplitRequest{copy, outputs() / "a.mkv", 0, 50.0}, {}, {});
    counting.process(SplitRequest{copy, outputs() / "b.mkv", 50.0, std::nullopt}, {}, {});
    fs::last_write_time(copy, fs::last_write_time(copy) - std::chrono::seconds(5));
    counting.process(SplitRequest{copy, outputs() / "c.mkv", 60.0, std::nullopt}, {}, {});
    EXPECT_FALSE(fs::exists(reads)) << tavtest::readFile(reads);
    expectOnly({"rest.mkv", "ten.mkv", "a.mkv", "b.mkv", "c.mkv"});
}

TEST_F(FFmpegProcessorTest, WritesChaptersAndNeedsADurationForThem) {
    ChapterRequest request{media().mp4ClipA,
                           outputs() / "chapters.mkv",
                           {ChapterMarker{Uuid::random(), 1.0, "Q&A = part 1; #2"},
                            ChapterMarker{Uuid::random(), 0, "Intro"}}};
    // The real ffmpeg, saying it is of release 5.1, whose second input costs a thread unless
    // every input is read on the main thread; its command line is kept.
    const fs::path command = marker("command");
    const auto as51 = tavtest::standInTools(
        scratch_ / "tools",
        "if [ \"$1\" = -version ]; then /usr/bin/ffmpeg -version | "
        "sed '1s/^ffmpeg version [^ ]*/ffmpeg version 5.1.4/'; exit 0; fi\nprintf '%s\\n' "
        "\"$@\" > '" +
            command.string() + "'\nexec /usr/bin/ffmpeg \"$@\"\n");
    Fractions fractions;
    processor(as51).process(request, fractions.callback(), {});
    fractions.expectOrderedEndingInOne();
    std::vector<std::string> arguments;
    std::ifstream lines(command);
    for (std::string line; std::getline(lines, line);) {
        arguments.push_back(line);
    }
    ASSERT_EQ(std::count(arguments.begin(), arguments.end(), "-i"), 2);
    for (auto at = std::find(arguments.begin(), arguments.end(), "-i"); at != arguments.end();
         at = std::find(at + 1, arguments.end(), "-i")) {
        ASSERT_GE(at - arguments.begin(), 2);
        EXPECT_EQ(std::vector<std::string>(at - 2, at),
                  (std::vector<std::string>{"-thread_queue_size", "0"}));
    }
    auto chapters = probeJson(request.output, "chapter=start_time:chapter_tags=title",
                              "-show_chapters")["chapters"];
    ASSERT_EQ(chapters.size(), 2u);
    EXPECT_EQ(chapters[0]["tags"]["title"], "Intro");
    EXPECT_EQ(chapters[1]["tags"]["title"], "Q&A = part 1; #2");
    EXPECT_EQ(chapters[1]["start_time"], "1.000000");

    request.input = media().rawH264;
    request.output = outputs() / "raw-chapters.mkv";
    auto error = processingError([&] { processor().process(request, {}, {}); });
    EXPECT_STREQ(error.what(),
                 "Tavrolin could not determine the source duration needed to write chapters.");
    expectOnly({"chapters.mkv"});
}

TEST_F(FFmpegProcessorTest, ExportsTranscriptsToEveryContainerKind) {
    const fs::path webmSource = tavtest::TestMedia::generate(
        "vp9-opus.webm", {"-f", "lavfi", "-i", "testsrc=size=64x36:rate=10:duration=3", "-f",
                          "lavfi", "-i", "sine=duration=3", "-c:v", "libvpx-vp9", "-deadline",
                          "realtime", "-cpu-used", "8", "-c:a", "libopus"});
    const std::vector<SubtitleCue> cues{{1, 0.5, 1.25, "Tom & <Jerry>", 0.9},
                                        {2, 1.5, 2.75, "second\nline", std::nullopt}};
    struct Case {
        fs::path input;
        std::string name;
        std::vector<MediaStream> streams;
        const char* transcriptCodec;
        std::vector<ChapterMarker> chapters;
    };
    const std::vector<Case> cases{
        {media().matroska,
         "talk.mkv",
         {stream(0, MediaStreamKind::video), stream(1, MediaStreamKind::audio),
          stream(3, MediaStreamKind::subtitle)},
         "subrip",
         {ChapterMarker{Uuid::random(), 0, "Start"}, ChapterMarker{Uuid::random(), 2, "End"}}},
        {media().mp4ClipA,
         "talk.mp4",
         {stream(0, MediaStreamKind::video), stream(1, MediaStreamKind::audio)},
         "mov_text",
         {}},
        {webmSource,
         "talk.webm",
         {stream(0, MediaStreamKind::video), stream(1, MediaStreamKind::audio)},
         "webvtt",
         {}},
    };
    std::vector<std::string> written;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TranscriptionMediaRequest request;
        request.input = c.input;
        request.output = outputs() / c.name;
        request.selectedStreams = c.streams;
        request.cues = cues;
        request.chapters = c.chapters;
        request.subtitleLanguage = "fra";
        Fractions fractions;
        processor().process(request, fractions.callback(), {});
        fractions.expectOrderedEndingInOne();
        written.push_back(c.name);

        auto streams = probeJson(
            request.output, "stream=codec_name,codec_type:stream_tags=language,title")["streams"];
        ASSERT_EQ(streams.size(), c.streams.size() + 1);
        auto transcript = streams.back();
        SCOPED_TRACE(transcript.dump());
        EXPECT_EQ(transcript["codec_name"], c.transcriptCodec);
        EXPECT_EQ(transcript["tags"]["language"], "fra");
        if (c.transcriptCodec != std::string("mov_text")) {  // MP4 keeps no stream titles
            EXPECT_EQ(transcript["tags"]["title"], "Tavrolin Transcript");
        }
        auto chapters = probeJson(request.output, "chapter=start_time:chapter_tags=title",
                                  "-show_chapters")["chapters"];
        EXPECT_EQ(chapters.size(), c.chapters.empty() && c.input != media().matroska ? 0u : 2u);
        if (!c.chapters.empty()) {
            EXPECT_EQ(chapters[1]["tags"]["title"], "End");
        }

        // The transcript reads back as written, text that looks like markup included (Matroska
        // holds the SubRip text itself; the others are read through ffmpeg's decoders, and an
        // invisible word joiner does not count).
        const bool copied = c.transcriptCodec == std::string("subrip");
        std::string text;
        ASSERT_EQ(tavtest::runTool({"ffmpeg", "-v", "error", "-i", request.output.string(), "-map",
                                    "0:s:" + std::to_string(c.streams.size() - 2), "-c:s",
                                    copied ? "copy" : "srt", "-f", "srt", "-"},
                                   &text),
                  0);
        for (const std::string ignored : {"\u2060", "\r"}) {
            for (auto at = text.find(ignored); at != std::string::npos; at = text.find(ignored)) {
                text.erase(at, ignored.size());
            }
        }
        EXPECT_THAT(text, HasSubstr("\nTom & <Jerry>\n\n"));
        EXPECT_THAT(text, HasSubstr("\nsecond\nline\n"));
    }
    expectOnly(written);
}

TEST_F(FFmpegProcessorTest, RefusesATranscriptWhoseSubtitleStreamsNoLongerMatchTheSource) {
    TranscriptionMediaRequest request;
    request.input = media().matroska;
    request.output = outputs() / "all.mkv";
    request.mapsEverySourceStream = true;
    request.cues = {{1, 0, 1, "Hi", std::nullopt}};
    request.subtitleLanguage = "eng";
    // The source has subtitle streams 3 and 4; only 4 is selected.
    request.selectedStreams = {stream(0, MediaStreamKind::video),
                               stream(4, MediaStreamKind::subtitle)};
    auto error = processingError([&] { processor().process(request, {}, {}); });
    EXPECT_STREQ(error.what(),
                 "The source\u2019s subtitle streams changed. Inspect the source again before "
                 "exporting.");
    expectOnly({});

    request.selectedStreams = {stream(0, MediaStreamKind::video),
                               stream(3, MediaStreamKind::subtitle),
                               stream(4, MediaStreamKind::subtitle)};
    processor().process(request, {}, {});
    auto streams = probeJson(request.output, "stream=index:stream_tags=language,title")["streams"];
    ASSERT_EQ(streams.size(), 6u);
    EXPECT_EQ(streams[3]["tags"]["language"], "eng");  // the source's own, untouched
    EXPECT_EQ(streams[5]["tags"]["title"], "Tavrolin Transcript");
}

TEST_F(FFmpegProcessorTest, NeverOverwritesAnOutput) {
    auto tools = standIn("touch '" + marker("ffmpeg-ran").string() + "'\nexit 1\n",
                         "touch '" + marker("ffprobe-ran").string() + "'\nexit 1\n");
    std::ofstream(outputs() / "taken.mp4") << "mine";
    fs::create_symlink(outputs() / "nowhere", outputs() / "dangling.mp4");
    for (const char* name : {"taken.mp4", "dangling.mp4"}) {
        auto error = processingError([&] {
            processor(tools).process(RemuxRequest{media().mp4ClipA,
                                                  outputs() / name,
                                                  {stream(0, MediaStreamKind::video)},
                                                  {},
                                                  {}},
                                     {}, {});
        });
        EXPECT_EQ(error.errorCase(), MediaProcessingError::Case::outputExists);
        EXPECT_EQ(error.payload(), name);
    }
    EXPECT_FALSE(fs::exists(marker("ffmpeg-ran")));
    EXPECT_FALSE(fs::exists(marker("ffprobe-ran")));

    // An output that appears while ffmpeg runs survives, and the job fails.
    fs::remove(marker("ffmpeg-ran"));
    auto racing = standIn("out=\"${@: -1}\"\necho working > \"$out\"\necho theirs > '" +
                          (outputs() / "raced.mp4").string() + "'\nexit 0\n");
    auto error = processingError([&] {
        processor(racing).process(RemuxRequest{media().mp4ClipA,
                                               outputs() / "raced.mp4",
                                               {stream(0, MediaStreamKind::video)},
                                               {},
                                               {}},
                                  {}, {});
    });
    EXPECT_EQ(error.errorCase(), MediaProcessingError::Case::outputExists);
    std::string content;
    std::getline(std::ifstream(outputs() / "raced.mp4"), content);
    EXPECT_EQ(content, "theirs");
    expectOnly({"dangling.mp4", "raced.mp4", "taken.mp4"});
}

TEST_F(FFmpegProcessorTest, AFailedCopyReportsFFmpegsOwnWordsAndLeavesNothing) {
    const fs::path flac = tavtest::TestMedia::generate(
        "flac-audio.mkv", {"-f", "lavfi", "-i", "sine=duration=2", "-c:a", "flac"});
    auto error = processingError([&] {
        processor().process(
            RemuxRequest{flac, outputs() / "flac.mp4", {stream(0, MediaStreamKind::audio)}, {}, {}},
            {}, {});
    });
    EXPECT_EQ(error.errorCase(), MediaProcessingError::Case::processFailed);
    EXPECT_THAT(error.what(), HasSubstr("flac in MP4 support is experimental"));
    const std::string message = error.what();
    EXPECT_LE(std::count(message.begin(), message.end(), '\n'), 7);
    expectOnly({});

    // A failed remux ends at once: the duration probe running alongside is stopped, not awaited.
    auto tools = standIn("echo 'Invalid data found when processing input' >&2\nexit 1\n",
                         "trap 'exit 143' TERM\nfor i in $(seq 100); do sleep 0.05; done\ntouch '" +
                             marker("probe-finished").string() + "'\necho 2.0\n");
    auto remuxError = processingError([&] {
        processor(tools).process(
            RemuxRequest{
                media().mp4ClipA, outputs() / "r.mkv", {stream(0, MediaStreamKind::video)}, {}, {}},
            {}, {});
    });
    EXPECT_EQ(remuxError.what(), ffmpegFailed("r.mkv", "Invalid data found when processing input"));
    EXPECT_FALSE(fs::exists(marker("probe-finished")));
    expectOnly({});

    // So does a failed split whose source's layout was kept: the read of its end beside it.
    const std::string ran = marker("split-ran").string();
    auto splitting = processor(standIn(
        "if [ -e '" + ran + "' ]; then exit 1; fi\ntouch '" + ran + "'\nexec ffmpeg \"$@\"\n",
        "case \"$*\" in *-read_intervals*chapter=*)\n  trap 'exit 143' TERM\n  for i in $(seq "
        "100); do sleep 0.05; done\n  touch '" +
            marker("end-read").string() + "';;\nesac\nexec ffprobe \"$@\"\n"));
    splitting.process(SplitRequest{media().matroska, outputs() / "a.mkv", 0, std::nullopt}, {}, {});
    EXPECT_THROW(
        splitting.process(SplitRequest{media().matroska, outputs() / "b.mkv", 1, 2.0}, {}, {}),
        MediaProcessingError);
    EXPECT_FALSE(fs::exists(marker("end-read")));
    expectOnly({"a.mkv"});
}

// Failures a new user meets: the job says why, writes no output and leaves no working file.
TEST_F(FFmpegProcessorTest, KilledReadOnlyAndChangingSourcesFailWithTheirCause) {
    const fs::path longClip = tavtest::TestMedia::generate(
        "processor-five-seconds.mkv", {"-f", "lavfi", "-i", "testsrc=size=64x36:rate=10:duration=5",
                                       "-c:v", "libx264", "-preset", "ultrafast"});
    const fs::path source = scratch_ / "source.mkv";
    fs::copy_file(longClip, source);
    const fs::path readOnly = scratch_ / "read-only";
    fs::create_directory(readOnly);
    const bool mounted = ::mount("tmpfs", readOnly.c_str(), "tmpfs", MS_RDONLY, "size=1m") == 0;
    const auto pidFile = marker("ffmpeg-pid");
    struct Row {
        std::string name;
        fs::path output;
        std::string ffmpegBody;  // runs the real ffmpeg in the end
        std::string message;     // the start of the failure text
        bool killsFFmpeg = false;
    };
    std::vector<Row> rows{
        {"killed", outputs() / "killed.mkv",
         "echo $$ > '" + pidFile.string() + "'\nexec ffmpeg -re \"$@\"\n",
         ffmpegFailed("killed.mkv", "FFmpeg was stopped by signal 9 (Killed)."), true},
        {"source truncated", outputs() / "truncated.mkv",
         "truncate -s 20000 '" + source.string() + "'\nexec ffmpeg \"$@\"\n",
         "\u201Csource.mkv\u201D changed while Tavrolin was reading it. Nothing was written."},
        {"output folder removed once written", outputs() / "gone" / "g.mkv",
         "ffmpeg \"$@\" || exit\nrm -rf '" + (outputs() / "gone").string() + "'\n",
         "The output folder \u201Cgone\u201D is gone, so Tavrolin could not finish "
         "\u201Cg.mkv\u201D. "
         "Choose another folder, then try again."},
    };
    if (mounted) {
        rows.push_back({"read-only folder", readOnly / "out.mkv", "exec ffmpeg \"$@\"\n", ""});
    }
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(pidFile);
        auto fp = processor(standIn(row.ffmpegBody));
        std::thread killer;
        if (row.killsFFmpeg) {
            killer = std::thread([&] {
                for (int i = 0; i < 500 && !fs::exists(pidFile); ++i) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                if (const std::string pid = tavtest::readFile(pidFile); !pid.empty()) {
                    ::kill(std::stoi(pid), SIGKILL);
                }
            });
        }
        const auto error = processingError([&] {
            fp.process(
                RemuxRequest{source, row.output, {stream(0, MediaStreamKind::video)}, {}, {}}, {},
                {});
        });
        if (killer.joinable()) {
            killer.join();
        }
        if (row.message.empty()) {
            EXPECT_THAT(error.what(), StartsWith("Tavrolin could not write \u201Cout.mkv\u201D in "
                                                 "the folder \u201C" +
                                                 readOnly.filename().string() +
                                                 "\u201D (Read-only file system). Choose"));
            EXPECT_THAT(error.what(), Not(HasSubstr("Input #0")));
            EXPECT_THAT(error.what(), Not(HasSubstr("tmp-tavrolin")));
            EXPECT_TRUE(fs::is_empty(readOnly));
        } else {
            EXPECT_THAT(error.what(), StartsWith(row.message));
        }
        expectOnly({});
    }
    if (mounted) {
        ::umount(readOnly.c_str());
    }
}

// Fonts for styled subtitles travel with a Matroska remux.
// Fonts typed "font/ttf" are nothing the concat reader can describe: a join takes the first
// file's once, and only into Matroska, as a remux does.
TEST_F(FFmpegProcessorTest, MatroskaKeepsAttachmentsOnceOnRemuxAndJoin) {
    for (const char* font : {"one.ttf", "two.otf"}) {
        std::ofstream(scratch_ / font) << "not really a font " << font;
    }
    const fs::path source = tavtest::TestMedia::generate(
        "processor-attachments.mkv",
        {"-f", "lavfi", "-i", "testsrc=size=64x36:rate=10:duration=1", "-c:v", "libx264", "-preset",
         "ultrafast", "-attach", (scratch_ / "one.ttf").string(), "-metadata:s:t:0",
         "mimetype=font/ttf", "-attach", (scratch_ / "two.otf").string(), "-metadata:s:t:1",
         "mimetype=font/otf"});
    const std::string fonts = "video\nattachment,one.ttf\nattachment,two.otf\n";
    const auto remux = [&](const char* name) -> ProcessingRequest {
        return RemuxRequest{source, outputs() / name, {stream(0, MediaStreamKind::video)}, {}, {}};
    };
    const auto join = [&](const char* name) -> ProcessingRequest {
        return JoinRequest{{source, source}, outputs() / name};
    };
    for (const auto& [request, streams] :
         std::vector<std::pair<ProcessingRequest, std::string>>{{remux("kept.mkv"), fonts},
                                                                {remux("kept.mp4"), "video\n"},
                                                                {join("joined.mkv"), fonts},
                                                                {join("joined.mp4"), "video\n"}}) {
        SCOPED_TRACE(request.output().filename().string());
        processor().process(request, {}, {});
        std::string json;
        ASSERT_EQ(tavtest::runTool({"ffprobe", "-v", "error", "-show_entries",
                                    "stream=codec_type:stream_tags=filename", "-of", "csv=p=0",
                                    request.output().string()},
                                   &json),
                  0);
        EXPECT_EQ(json, streams);
    }
}

TEST_F(FFmpegProcessorTest, WritesAnOutputWithA214ByteName) {
    const fs::path longInput = media().oddNames.back();
    ASSERT_EQ(longInput.filename().string().size(), 214u) << longInput;
    const std::string name = longInput.filename().string();
    processor().process(
        RemuxRequest{longInput,
                     outputs() / name,
                     {stream(0, MediaStreamKind::video), stream(1, MediaStreamKind::audio)},
                     {},
                     {}},
        {}, {});
    expectOnly({name});
}

// Cancellation: whenever the stop comes, nothing is written and nothing is left.
TEST_F(FFmpegProcessorTest, StopDuringTheDurationProbeEndsTheJob) {
    auto tools = standIn("trap 'exit 143' TERM\ntouch '" + marker("ffmpeg-ran").string() +
                             "'\nfor i in $(seq 100); do sleep 0.05; done\n",
                         "trap 'exit 143' TERM\ntouch '" + marker("probing").string() +
                             "'\nfor i in $(seq 100); do sleep 0.05; done\necho 3.0\n");
    // A chapter job needs the duration first, so ffmpeg never starts; a remux measures it while
    // ffmpeg runs, and still writes nothing.
    const std::vector<ProcessingRequest> requests{
        ChapterRequest{
            media().mp4ClipA, outputs() / "c.mkv", {ChapterMarker{Uuid::random(), 0, "A"}}},
        RemuxRequest{
            media().mp4ClipA, outputs() / "c.mp4", {stream(0, MediaStreamKind::video)}, {}, {}}};
    for (const auto& request : requests) {
        SCOPED_TRACE(request.title());
        fs::remove(marker("probing"));
        auto fp = processor(tools);
        std::stop_source stop;
        std::exception_ptr outcome;
        std::thread worker([&] {
            try {
                fp.process(request, {}, stop.get_token());
            } catch (...) {
                outcome = std::current_exception();
            }
        });
        EXPECT_TRUE(waitFor(marker("probing")));
        stop.request_stop();
        worker.join();
        EXPECT_THROW(std::rethrow_exception(outcome), CancellationError);
        if (request.as<ChapterRequest>()) {
            EXPECT_FALSE(fs::exists(marker("ffmpeg-ran")));
        }
        expectOnly({});
    }
}

TEST_F(FFmpegProcessorTest, CancelBeforeFFmpegStartsKeepsItFromStarting) {
    auto tools = standIn("touch '" + marker("ffmpeg-ran").string() + "'\nexit 0\n",
                         "trap 'exit 143' TERM\ntouch '" + marker("probing").string() +
                             "'\nfor i in $(seq 100); do sleep 0.05; done\necho 3.0\n");
    auto fp = processor(tools);
    std::exception_ptr outcome;
    std::thread worker([&] {
        try {
            fp.process(
                ChapterRequest{
                    media().mp4ClipA, outputs() / "c.mkv", {ChapterMarker{Uuid::random(), 0, "A"}}},
                {}, {});
        } catch (...) {
            outcome = std::current_exception();
        }
    });
    EXPECT_TRUE(waitFor(marker("probing")));
    fp.cancel();
    worker.join();
    // A cancellation, not the chapters' missing duration that the cut-short probe leaves.
    EXPECT_THROW(std::rethrow_exception(outcome), CancellationError);
    EXPECT_FALSE(fs::exists(marker("ffmpeg-ran")));
    expectOnly({});
}

TEST_F(FFmpegProcessorTest, StopOrCancelDuringFFmpegLeavesNothing) {
    // Prints progress until terminated, like ffmpeg, and says so on standard error.
    auto tools = standIn(
        "trap 'echo stopped by signal >&2; exit 255' TERM\nout=\"${@: -1}\"\n"
        "echo partial > \"$out\"\ntouch '" +
        marker("running").string() +
        "'\nfor i in $(seq 200); do echo out_time_us=$((i * 10000)); "
        "echo progress=continue; sleep 0.05; done\nexit 0\n");
    for (bool viaStopToken : {true, false}) {
        SCOPED_TRACE(viaStopToken ? "stop token" : "cancel()");
        fs::remove(marker("running"));
        auto fp = processor(tools);
        std::stop_source stop;
        std::exception_ptr outcome;
        Fractions fractions;
        std::thread worker([&] {
            try {
                ChapterRequest request{
                    media().mp4ClipA, outputs() / "c.mkv", {ChapterMarker{Uuid::random(), 0, "A"}}};
                fp.process(request, fractions.callback(), stop.get_token());
            } catch (...) {
                outcome = std::current_exception();
            }
        });
        ASSERT_TRUE(waitFor(marker("running")));
        if (viaStopToken) {
            stop.request_stop();
        } else {
            fp.cancel();
        }
        worker.join();
        // Not ffmpeg's "stopped by signal": the stop was marked before it reached ffmpeg.
        EXPECT_THROW(std::rethrow_exception(outcome), CancellationError);
        EXPECT_TRUE(fractions.values.empty() || fractions.values.back() < 1.0);
        expectOnly({});
    }
}

TEST_F(FFmpegProcessorTest, CancelStopsOnlyItsOwnJobWhenProcessorsShareARunner) {
    // Each run says it started, under its output's stem, and runs until it is terminated.
    auto tools = standIn(
        "trap 'echo stopped by signal >&2; exit 255' TERM\nout=\"${@: -1}\"\n"
        "case \"$out\" in *first*) touch '" +
        marker("first").string() + "';; *) touch '" + marker("second").string() +
        "';; esac\nfor i in $(seq 400); do sleep 0.05; done\nexit 0\n");
    const auto runner = std::make_shared<FoundationProcessRunner>();
    FFmpegProcessor first(runner, tools);
    FFmpegProcessor second(runner, tools);
    std::stop_source secondStop;
    std::exception_ptr firstOutcome;
    std::exception_ptr secondOutcome;
    const auto job = [&](FFmpegProcessor& processor, const std::string& name, std::stop_token stop,
                         std::exception_ptr& outcome) {
        return std::thread([&processor, &outcome, name, stop, this] {
            try {
                processor.process(ChapterRequest{media().mp4ClipA,
                                                 outputs() / name,
                                                 {ChapterMarker{Uuid::random(), 0, "A"}}},
                                  {}, stop);
            } catch (...) {
                outcome = std::current_exception();
            }
        });
    };
    std::thread firstWorker = job(first, "first.mkv", {}, firstOutcome);
    ASSERT_TRUE(waitFor(marker("first")));
    // Started last: a cancel of the runner's latest run would hit this one.
    std::thread secondWorker = job(second, "second.mkv", secondStop.get_token(), secondOutcome);
    ASSERT_TRUE(waitFor(marker("second")));
    first.cancel();
    firstWorker.join();
    secondStop.request_stop();
    secondWorker.join();
    // Each ended by its own stop or cancel, not by the other's; the first ran on until then.
    EXPECT_THROW(std::rethrow_exception(firstOutcome), CancellationError);
    EXPECT_THROW(std::rethrow_exception(secondOutcome), CancellationError);
    expectOnly({});
}

TEST_F(FFmpegProcessorTest, StopBetweenFFmpegsExitAndTheMoveWritesNothing) {
    // Finishes its work and exits 0 even when asked to stop; it runs long enough for the duration
    // probe beside it to answer, which the fraction needs.
    auto tools = standIn(
        "trap '' TERM\nout=\"${@: -1}\"\necho done > \"$out\"\n"
        "echo out_time_us=999000000\necho progress=end\nsleep 1.5\nexit 0\n");
    std::stop_source stop;
    EXPECT_THROW(processor(tools).process(
                     RemuxRequest{media().mp4ClipA,
                                  outputs() / "late.mp4",
                                  {stream(0, MediaStreamKind::video)},
                                  {},
                                  {}},
                     [&](double fraction) {
                         if (fraction >= 1.0) {
                             stop.request_stop();
                         }
                     },
                     stop.get_token()),
                 CancellationError);
    expectOnly({});
}

TEST_F(FFmpegProcessorTest, StopDuringTheRealFFmpegLeavesNothing) {
    std::stop_source stop;
    TranscriptionMediaRequest request;
    request.input = media().matroska;
    request.output = outputs() / "stopped.mkv";
    request.selectedStreams = {stream(0, MediaStreamKind::video)};
    request.cues = {{1, 0, 1, "Hi", std::nullopt}};
    request.chapters = {ChapterMarker{Uuid::random(), 0, "A"}};
    EXPECT_THROW(processor().process(
                     request, [&](double) { stop.request_stop(); }, stop.get_token()),
                 CancellationError);
    expectOnly({});

    stop.request_stop();  // already stopped: nothing runs at all
    EXPECT_THROW(processor().process(SplitRequest{media().mp4ClipA, outputs() / "s.mp4", 0, 1}, {},
                                     stop.get_token()),
                 CancellationError);
    expectOnly({});
}

// A cancel while any step of an in-place replacement runs is a cancellation that keeps the
// original. The stand-in tools log each read as "<source|copy> <kind>" when it ends; the one a
// row holds logs "held" and waits on a pipe nobody writes until the cancel ends it. The real
// ffprobe dies with the stand-in a cancel ends. The last row holds the step before the swap,
// after every read and check, in-process (see SwapHold).
TEST_F(FFmpegProcessorTest, CancelAtEveryStepOfAReplacementKeepsTheOriginal) {
    const fs::path source = outputs() / "a.mp4";
    fs::copy_file(media().mp4ClipA, source);
    const std::string original = tavtest::readFile(source);
    const fs::path log = marker("reads.log");
    const fs::path gate = marker("gate");
    ASSERT_EQ(::mkfifo(gate.c_str(), 0600), 0);
    const auto hold = [&](const std::string& step) {
        return "if [ \"$step\" = '" + step + "' ]; then echo held >> '" + log.string() +
               "'; read -r _ < '" + gate.string() + "'; fi\n";
    };
    // Any ffprobe run is logged: the source's and the copy's headers and packets are all read
    // in-process, so only ffmpeg's run and the swap are there to hold, the swap once every read
    // is done, where the copy takes the source's mode.
    const auto tools = [&](const std::string& held) {
        return standIn("step=ffmpeg\n" + hold(held) + "exec ffmpeg \"$@\"\n",
                       "echo ffprobe >> '" + log.string() + "'\nexec ffprobe \"$@\"\n");
    };
    for (const std::string held : {"ffmpeg", "swap"}) {
        SCOPED_TRACE(held);
        fs::remove(log);
        auto fp = processor(tools(held));
        {
            const std::lock_guard lock(swapHold().mutex);
            swapHold().released = false;
            if (held == "swap") {
                swapHold().reached = [&log] { std::ofstream(log, std::ios::app) << "held\n"; };
            }
        }
        TranscriptionMediaRequest request;
        request.input = request.output = source;
        request.replacesInput = true;
        request.selectedStreams = {stream(0, MediaStreamKind::video),
                                   stream(1, MediaStreamKind::audio)};
        request.cues = {{1, 0.2, 1.0, "Replaced", std::nullopt}};
        std::exception_ptr outcome;
        std::thread worker([&] {
            try {
                fp.process(request, {}, {});
            } catch (...) {
                outcome = std::current_exception();
            }
        });
        EXPECT_TRUE(waitUntil([&] { return fs::exists(log); }));
        fp.cancel();
        {
            const std::lock_guard lock(swapHold().mutex);
            swapHold().released = true;
        }
        swapHold().changed.notify_all();
        worker.join();
        ASSERT_TRUE(outcome);
        EXPECT_THROW(std::rethrow_exception(outcome), CancellationError);
        EXPECT_TRUE(tavtest::readFile(source) == original);
        expectOnly({"a.mp4"});
        EXPECT_EQ(tavtest::readFile(log), "held\n");
    }
}

// A disk that fills up at the end of a job. FFmpeg 5.1 exits 0 when the write fails only at
// the trailer or the close, as it does for a Matroska file with a sparse subtitle track. A file
// size limit on the stand-in's ffmpeg (SIGXFSZ ignored) fails writes with EFBIG as a full disk
// fails them with ENOSPC, with no root needed: once just below the output's size, so only the
// last flush fails, and once half-way.
TEST_F(FFmpegProcessorTest, AJobThatRunsOutOfRoomFailsWithASentenceAndKeepsTheSource) {
    const fs::path generated = tavtest::TestMedia::generate(
        "sparse-subtitles.mkv", {"-f",      "lavfi",
                                 "-i",      "testsrc=size=320x240:rate=25:duration=8",
                                 "-f",      "lavfi",
                                 "-i",      "sine=duration=8:sample_rate=48000",
                                 "-i",      media().matroska.string(),
                                 "-map",    "0:v",
                                 "-map",    "1:a",
                                 "-map",    "1:a",
                                 "-map",    "2:s:0",
                                 "-c:v",    "libx264",
                                 "-preset", "ultrafast",
                                 "-g",      "25",
                                 "-c:a:0",  "aac",
                                 "-c:a:1",  "ac3",
                                 "-c:s",    "copy"});
    const fs::path source = outputs() / "movie.mkv";
    fs::copy_file(generated, source);
    const std::string original = tavtest::readFile(source);
    const std::vector<MediaStream> everyStream{
        stream(0, MediaStreamKind::video), stream(1, MediaStreamKind::audio),
        stream(2, MediaStreamKind::audio), stream(3, MediaStreamKind::subtitle)};
    TranscriptionMediaRequest transcript;
    transcript.input = source;
    transcript.output = outputs() / "talk.mkv";
    transcript.selectedStreams = everyStream;
    transcript.mapsEverySourceStream = true;
    transcript.cues = {{1, 0.5, 1.5, "Hello", std::nullopt}};
    auto inPlace = transcript;
    inPlace.output = source;
    inPlace.replacesInput = true;
    const std::vector<std::pair<std::string, ProcessingRequest>> jobs{
        {"remux", RemuxRequest{source, outputs() / "remux.mkv", everyStream, {}, {}}},
        {"join", JoinRequest{{source, source}, outputs() / "joined.mkv"}},
        // Cuts on keyframes, which lie after the audio's priming.
        {"split to the end", SplitRequest{source, outputs() / "rest.mkv", 2.021, std::nullopt}},
        {"split with an end", SplitRequest{source, outputs() / "clip.mkv", 2.021, 6.021}},
        {"chapters",
         ChapterRequest{
             source, outputs() / "chapters.mkv", {ChapterMarker{Uuid::random(), 1, "A"}}}},
        {"transcript to a new file", transcript},
        {"transcript in place", inPlace},
    };
    const std::string sentence = "There is not enough free space in \u201C" +
                                 outputs().filename().string() + "\u201D to finish \u201C";
    for (const auto& [name, request] : jobs) {
        SCOPED_TRACE(name);
        // The size the output has when there is room (an in-place export measured on a copy).
        const fs::path roomy = scratch_ / "roomy";
        fs::create_directory(roomy);
        fs::copy_file(source, roomy / "movie.mkv");
        auto measured = request;
        std::visit(
            [&](auto& payload) {
                payload.output = roomy / payload.output.filename();
                if constexpr (std::is_same_v<std::decay_t<decltype(payload)>,
                                             TranscriptionMediaRequest>) {
                    payload.input = payload.replacesInput ? payload.output : payload.input;
                }
            },
            measured.payload);
        processor().process(measured, {}, {});
        const auto size = fs::file_size(measured.output());
        fs::remove_all(roomy);

        for (const auto limit : {size / 2 / 1024, (size - 1) / 1024}) {
            SCOPED_TRACE("limit " + std::to_string(limit) + " KiB of " + std::to_string(size));
            const auto error = processingError([&] {
                processor(standIn("ulimit -f " + std::to_string(limit) +
                                  "\ntrap '' XFSZ\nexec ffmpeg \"$@\"\n"))
                    .process(request, {}, {});
            });
            EXPECT_EQ(error.errorCase(), MediaProcessingError::Case::notEnoughSpace);
            EXPECT_EQ(error.what(), sentence + request.output().filename().string() +
                                        "\u201D. Free some space, then try again.");
            expectOnly({"movie.mkv"});
            EXPECT_TRUE(tavtest::readFile(source) == original);
        }
    }

    // A replacement cut short with no word from ffmpeg keeps a header that looks whole; only
    // reading every packet shows it.
    auto cutShort = standIn(
        "ffmpeg \"$@\" || exit\nout=\"${@: -1}\"\ntruncate -s $(($(stat -c %s \"$out\") / 2)) "
        "\"$out\"\n");
    const auto error = processingError([&] { processor(cutShort).process(inPlace, {}, {}); });
    EXPECT_STREQ(error.what(),
                 "Tavrolin left \u201Cmovie.mkv\u201D unchanged because its prepared copy is "
                 "incomplete; try the export again.");
    expectOnly({"movie.mkv"});
    EXPECT_TRUE(tavtest::readFile(source) == original);
}

// A part whose working file or folder goes while ffmpeg writes it, or right after, fails on that
// with what to do: never a FLAC or audio header it never had, nor the hidden file's name.
TEST_F(FFmpegProcessorTest, APartWhoseFileOrFolderGoesSaysSo) {
    const fs::path folder = outputs() / "parts";
    const std::string folderGone =
        "The output folder \u201Cparts\u201D is gone, so Tavrolin could "
        "not finish \u201Cs.mkv\u201D. Choose another folder, then try "
        "again.";
    const std::pair<std::string, std::string> rows[] = {
        {"ffmpeg \"$@\" || exit\nrm -f \"${@: -1}\"\n",
         "The unfinished \u201Cs.mkv\u201D was removed from the folder \u201Cparts\u201D before "
         "Tavrolin could finish it. Try again."},
        {"ffmpeg \"$@\" || exit\nd=$(dirname \"${@: -1}\")\nmv \"$d\" \"$d/../moved\"\n",
         folderGone},
        {"rm -r \"$(dirname \"${@: -1}\")\"\nexec ffmpeg \"$@\"\n", folderGone},
    };
    for (const auto& [script, sentence] : rows) {
        SCOPED_TRACE(script);
        fs::create_directories(folder);
        const auto error = processingError([&] {
            processor(standIn(script))
                .process(SplitRequest{media().matroska, folder / "s.mkv", 1, std::nullopt}, {}, {});
        });
        EXPECT_EQ(error.what(), sentence);
        fs::remove_all(outputs() / "moved");
        fs::remove(folder);
        expectOnly({});
    }
}

// A written part or joined file that reads back cut short, as from a folder failing under it,
// fails its job with a sentence naming the folder, never a split point to choose; the job's
// process goes on, its sources stay as they were and nothing hidden is left.
TEST_F(FFmpegProcessorTest, AWrittenFileThatReadsBackCutShortNamesItsFolder) {
    const auto cutShort = standIn(
        "ffmpeg \"$@\" || exit\nout=\"${@: -1}\"\ntruncate -s $(($(stat -c %s \"$out\") * 3 / 5)) "
        "\"$out\"\n");
    struct Row {
        std::string name;
        ProcessingRequest request;
        std::vector<fs::path> sources;
    };
    const std::vector<Row> rows{
        {"split.mkv",
         SplitRequest{media().matroska, outputs() / "split.mkv", 0.5, 2.5},
         {media().matroska}},
        {"split.mp4",
         SplitRequest{media().mp4ClipA, outputs() / "split.mp4", 0.5, std::nullopt},
         {media().mp4ClipA}},
        {"joined.mkv",
         JoinRequest{{media().mp4ClipA, media().mp4ClipB}, outputs() / "joined.mkv"},
         {media().mp4ClipA, media().mp4ClipB}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> before;
        for (const auto& source : row.sources) {
            before.push_back(tavtest::readFile(source));
        }
        const auto error =
            processingError([&] { processor(cutShort).process(row.request, {}, {}); });
        EXPECT_EQ(error.errorCase(), MediaProcessingError::Case::outputUnreadable);
        EXPECT_THAT(error.what(), HasSubstr("Tavrolin could not read back \u201C" + row.name +
                                            "\u201D from the folder \u201Cout\u201D ("));
        EXPECT_THAT(error.what(), HasSubstr("Check that the folder is still there and working"));
        for (std::size_t at = 0; at < row.sources.size(); ++at) {
            EXPECT_TRUE(tavtest::readFile(row.sources[at]) == before[at]);
        }
        expectOnly({});
    }
}

// A source removed while its job waited, or just as ffmpeg starts, is named with what to do;
// ffmpeg's "No such file or directory" never shows, nor a claim that it changed. One that became
// a named pipe or a loop of links while it waited is named too, and holds no tool.
TEST_F(FFmpegProcessorTest, ASourceThatIsGoneIsNamedInASentence) {
    const fs::path kept = scratch_ / "kept.mp4";
    const fs::path gone = scratch_ / "gone.mp4";
    fs::copy_file(media().mp4ClipA, kept);
    const std::string sentence = "\u201Cgone.mp4\u201D is no longer in \u201C" +
                                 scratch_.path().filename().string() +
                                 "\u201D. Add it again, or choose another file.";
    const std::vector<ProcessingRequest> requests{
        RemuxRequest{gone, outputs() / "r.mp4", {stream(0, MediaStreamKind::video)}, {}, {}},
        SplitRequest{gone, outputs() / "s.mp4", 1, std::nullopt},
        JoinRequest{{kept, gone}, outputs() / "j.mp4"},
    };
    auto removing = standIn("rm -f '" + gone.string() + "'\nexec ffmpeg \"$@\"\n");
    for (const auto& request : requests) {
        for (const bool removedWhileQueued : {true, false}) {
            SCOPED_TRACE(request.title() + (removedWhileQueued ? " queued" : " running"));
            if (!removedWhileQueued) {
                fs::copy_file(media().mp4ClipB, gone);
            }
            const auto error = processingError([&] {
                (removedWhileQueued ? processor() : processor(removing)).process(request, {}, {});
            });
            EXPECT_EQ(error.errorCase(), MediaProcessingError::Case::sourceMissing);
            EXPECT_EQ(error.what(), sentence);
            EXPECT_FALSE(fs::exists(gone));
            expectOnly({});
        }
        for (const auto& [kind, make] : std::vector<std::pair<std::string, std::function<void()>>>{
                 {"a link that leads back to itself",
                  [&] { fs::create_symlink(gone.filename(), gone); }},
                 {"a named pipe", [&] { ASSERT_EQ(::mkfifo(gone.c_str(), 0600), 0); }}}) {
            SCOPED_TRACE(request.title() + " " + kind);
            make();
            const auto error = processingError([&] { processor().process(request, {}, {}); });
            EXPECT_EQ(error.errorCase(), MediaProcessingError::Case::sourceNotFile);
            EXPECT_EQ(error.what(), "\u201Cgone.mp4\u201D is now " + kind +
                                        ", not the video or audio file that was added, so "
                                        "Tavrolin did not read it. Put the media file back under "
                                        "that name, or add it again.");
            fs::remove(gone);
            expectOnly({});
        }
    }
}
