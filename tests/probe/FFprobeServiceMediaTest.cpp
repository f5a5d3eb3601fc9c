#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>

#include "model/MediaProcessingError.h"
#include "probe/FFprobeService.h"
#include "probe/MediaProbeError.h"
#include "process/FoundationProcessRunner.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

namespace fs = std::filesystem;
using tavrolin::FFprobeService;
using tavrolin::FoundationProcessRunner;
using tavrolin::MediaProbeError;
using tavrolin::MediaStream;
using tavrolin::MediaStreamKind;
using tavrolin::ToolLocations;
using tavtest::TestMedia;

// The service as the application builds it: a real runner, tools found in the standard folders.
FFprobeService makeService() {
    return FFprobeService(std::make_shared<FoundationProcessRunner>(), ToolLocations{});
}

TEST(FFprobeServiceMediaTest, MatroskaStreamsChaptersAndDuration) {
    const auto& media = TestMedia::shared();
    FFprobeService service = makeService();

    auto streams = service.inspectStreams(media.matroska);
    ASSERT_EQ(streams.size(), 5u);
    for (std::size_t i = 0; i < streams.size(); ++i) {
        EXPECT_EQ(streams[i].index, static_cast<std::int64_t>(i));
    }
    const MediaStream& video = streams[0];
    EXPECT_EQ(video.kind, MediaStreamKind::video);
    EXPECT_EQ(video.codecName, "h264");
    EXPECT_TRUE(video.codecLongName && video.codecLongName->find("H.264") != std::string::npos);
    EXPECT_EQ(video.width, 64);
    EXPECT_EQ(video.height, 36);
    EXPECT_EQ(video.pixelFormat, "yuv420p");
    EXPECT_TRUE(video.profile.has_value());
    EXPECT_TRUE(video.level.has_value());
    EXPECT_TRUE(video.isDefault);
    EXPECT_FALSE(video.channelCount);

    const MediaStream& english = streams[1];
    EXPECT_EQ(english.kind, MediaStreamKind::audio);
    EXPECT_EQ(english.codecName, "aac");
    EXPECT_EQ(english.channelCount, 2);
    EXPECT_EQ(english.channelLayout, "stereo");
    EXPECT_EQ(english.language, "eng");
    EXPECT_FALSE(english.title);
    EXPECT_TRUE(english.isDefault);
    EXPECT_FALSE(english.width);

    const MediaStream& commentary = streams[2];
    EXPECT_EQ(commentary.codecName, "ac3");
    EXPECT_EQ(commentary.channelCount, 6);
    EXPECT_EQ(commentary.language, "fre");
    EXPECT_EQ(commentary.title, "Commentary");
    EXPECT_FALSE(commentary.isDefault);

    EXPECT_EQ(streams[3].kind, MediaStreamKind::subtitle);
    EXPECT_EQ(streams[3].codecName, "subrip");
    EXPECT_EQ(streams[3].language, "eng");
    EXPECT_FALSE(streams[3].isForced);
    EXPECT_EQ(streams[4].codecName, "ass");
    EXPECT_EQ(streams[4].language, "jpn");
    EXPECT_TRUE(streams[4].isForced);

    auto chapters = service.inspectChapters(media.matroska);
    ASSERT_EQ(chapters.size(), 2u);
    EXPECT_EQ(chapters[0].title, "Opening");
    EXPECT_DOUBLE_EQ(chapters[0].startTime, 0.0);
    EXPECT_EQ(chapters[1].title, "Finale");
    EXPECT_DOUBLE_EQ(chapters[1].startTime, 1.5);

    auto duration = service.inspectDuration(media.matroska);
    ASSERT_TRUE(duration);
    EXPECT_NEAR(*duration, 3.0, 0.1);
}

TEST(FFprobeServiceMediaTest, Mp4ClipAndRawStreamWithoutDuration) {
    const auto& media = TestMedia::shared();
    FFprobeService service = makeService();

    auto streams = service.inspectStreams(media.mp4ClipA);
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].kind, MediaStreamKind::video);
    EXPECT_EQ(streams[0].codecTag, "avc1");
    EXPECT_EQ(streams[1].kind, MediaStreamKind::audio);
    EXPECT_EQ(streams[1].codecTag, "mp4a");
    EXPECT_TRUE(service.inspectChapters(media.mp4ClipA).empty());
    auto duration = service.inspectDuration(media.mp4ClipA);
    ASSERT_TRUE(duration);
    EXPECT_NEAR(*duration, 2.0, 0.1);

    auto raw = service.inspectStreams(media.rawH264);
    ASSERT_EQ(raw.size(), 1u);
    EXPECT_EQ(raw[0].codecName, "h264");
    EXPECT_EQ(service.inspectDuration(media.rawH264), std::nullopt);
    EXPECT_TRUE(service.inspectChapters(media.rawH264).empty());
}

// ffprobe's own words vary between versions; what matters is that the message is its text
// (naming the file) or the fallback, and that it is a bounded, clean tail. A file no format
// reads is said in one sentence, and trying again is not offered for it; a file that is gone
// is said in one sentence too.
void expectFailure(const std::function<void()>& inspection, const fs::path& file,
                   const std::string& fallback, MediaProbeError::Case expectedCase) {
    const bool notMedia = expectedCase == MediaProbeError::Case::notMedia ||
                          expectedCase == MediaProbeError::Case::notRegularFile;
    try {
        inspection();
        ADD_FAILURE() << "inspection of " << file << " succeeded";
    } catch (const MediaProbeError& error) {
        EXPECT_EQ(error.errorCase(), expectedCase);
        EXPECT_EQ(error.retryMayHelp(), !notMedia);
        const std::string message = error.what();
        EXPECT_TRUE(message == fallback ||
                    message.find(file.filename().string()) != std::string::npos)
            << message;
        EXPECT_EQ(message.find("\n\n"), std::string::npos);
        EXPECT_LE(std::count(message.begin(), message.end(), '\n'), notMedia ? 0 : 7);
        if (expectedCase == MediaProbeError::Case::fileMissing) {
            EXPECT_EQ(message, "\u201C" + file.filename().string() +
                                   "\u201D is no longer in \u201C" +
                                   file.parent_path().filename().string() +
                                   "\u201D. Add it again, or choose another file.");
        }
    }
}

TEST(FFprobeServiceMediaTest, BrokenFilesFailWithOneSentenceOrFfprobesText) {
    const auto& media = TestMedia::shared();
    FFprobeService service = makeService();
    tavtest::TempDir temp;
    // Random bytes under a name with a space: the sentence names it as it is.
    const fs::path spaced = temp / "fake video.mkv";
    fs::copy_file(media.randomBytes, spaced);
    // Neither a folder nor a device reaches ffprobe (nor a pipe, on which it would wait).
    fs::create_directory(temp / "folder.mkv");
    fs::create_symlink("loop.mkv", temp / "loop.mkv");
    const std::pair<fs::path, MediaProbeError::Case> rows[] = {
        {temp / "folder.mkv", MediaProbeError::Case::notRegularFile},
        {temp / "loop.mkv", MediaProbeError::Case::notRegularFile},
        {"/dev/null", MediaProbeError::Case::notRegularFile},
        {media.truncated, MediaProbeError::Case::processFailed},
        {spaced, MediaProbeError::Case::notMedia},
        {media.empty, MediaProbeError::Case::notMedia},
        {media.folder / "missing.mkv", MediaProbeError::Case::fileMissing},
    };
    for (const auto& [file, expected] : rows) {
        SCOPED_TRACE(file.filename());
        expectFailure([&] { service.inspectStreams(file); }, file,
                      "ffprobe could not inspect this file.", expected);
        expectFailure([&] { service.inspectChapters(file); }, file,
                      "ffprobe could not inspect this file's chapters.", expected);
        expectFailure([&] { service.inspectDuration(file); }, file,
                      "ffprobe could not inspect this file's duration.", expected);
    }
}

TEST(FFprobeServiceMediaTest, OddNamesReachFfprobeAsTheyAre) {
    const auto& media = TestMedia::shared();
    FFprobeService service = makeService();
    ASSERT_GE(media.oddNames.size(), 14u);
    // All at once through the one service, as a workspace does when several files are dropped.
    std::vector<std::future<std::pair<std::size_t, std::optional<double>>>> results;
    for (const fs::path& file : media.oddNames) {
        results.push_back(std::async(std::launch::async, [&service, file] {
            return std::make_pair(service.inspectStreams(file).size(),
                                  service.inspectDuration(file));
        }));
    }
    for (std::size_t i = 0; i < results.size(); ++i) {
        SCOPED_TRACE(media.oddNames[i].filename().string());
        auto [streamCount, duration] = results[i].get();
        EXPECT_EQ(streamCount, 2u);
        ASSERT_TRUE(duration);
        EXPECT_NEAR(*duration, 2.0, 0.1);
        EXPECT_TRUE(service.inspectChapters(media.oddNames[i]).empty());
    }
}

TEST(FFprobeServiceMediaTest, AttachmentStreamsAreLeftOut) {
    tavtest::TempDir folder;
    std::ofstream(folder / "font.ttf") << "not really a font";
    const fs::path file = TestMedia::generate(
        "with-attachment.mkv",
        {"-f", "lavfi", "-i", "testsrc2=size=64x36:rate=25:duration=1", "-attach",
         (folder / "font.ttf").string(), "-metadata:s:t", "mimetype=application/x-truetype-font",
         "-map", "0:v", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
    std::string kinds;
    ASSERT_EQ(tavtest::runTool({"ffprobe", "-v", "error", "-show_entries", "stream=codec_type",
                                "-of", "csv=p=0", file.string()},
                               &kinds),
              0);
    ASSERT_EQ(kinds, "video\nattachment\n");

    FFprobeService service = makeService();
    const auto streams = service.inspectStreams(file);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0].index, 0);
    EXPECT_EQ(streams[0].kind, MediaStreamKind::video);
}

TEST(FFprobeServiceMediaTest, UntitledChaptersAreNumberedAndTitlesTrimmed) {
    tavtest::TempDir folder;
    {
        std::ofstream metadata(folder / "chapters.txt");
        metadata << ";FFMETADATA1\n"
                    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=500\n"
                    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=500\nEND=1000\ntitle=   \n"
                    "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=1500\ntitle=  Middle  \n";
    }
    const fs::path file = TestMedia::generate(
        "untitled-chapters.mkv",
        {"-f", "lavfi", "-i", "testsrc2=size=64x36:rate=25:duration=1.5", "-f", "ffmetadata", "-i",
         (folder / "chapters.txt").string(), "-map", "0:v", "-map_chapters", "1", "-c:v", "libx264",
         "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
    FFprobeService service = makeService();
    const auto chapters = service.inspectChapters(file);
    ASSERT_EQ(chapters.size(), 3u);
    EXPECT_EQ(chapters[0].title, "Chapter 1");
    EXPECT_DOUBLE_EQ(chapters[0].startTime, 0.0);
    EXPECT_EQ(chapters[1].title, "Chapter 2");
    EXPECT_DOUBLE_EQ(chapters[1].startTime, 0.5);
    EXPECT_EQ(chapters[2].title, "Middle");
    EXPECT_DOUBLE_EQ(chapters[2].startTime, 1.0);
    EXPECT_NE(chapters[0].id, chapters[1].id);
}

TEST(FFprobeServiceMediaTest, RelativeNamesAreMadeAbsoluteSoADashIsNoOption) {
    const auto& media = TestMedia::shared();
    const fs::path folder = media.oddNames.front().parent_path();
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    FFprobeService service = makeService();
    std::vector<MediaStream> streams;
    EXPECT_NO_THROW(streams = service.inspectStreams("-leading-dash.mp4"));
    EXPECT_NO_THROW(service.inspectDuration(" leading space.mp4"));
    fs::current_path(previous);
    EXPECT_EQ(streams.size(), 2u);
}

}  // namespace
