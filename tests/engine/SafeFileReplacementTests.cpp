#include "engine/SafeFileReplacement.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "engine/FFmpegProcessor.h"
#include "engine/FFprobeQueries.h"
#include "engine/split/OutputVerification.h"
#include "model/MediaProcessingError.h"
#include "process/FoundationProcessRunner.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

#include "EngineTestHelpers.h"

using namespace tavrolin;
using tavtest::processingError;
using tavtest::readFile;
using tavtest::stream;
using tavtest::writeFile;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

std::size_t streamCount(const fs::path& file) {
    std::string output;
    EXPECT_EQ(tavtest::runTool({"ffprobe", "-v", "error", "-show_entries", "stream=index", "-of",
                                "json", file.string()},
                               &output),
              0);
    return nlohmann::json::parse(output)["streams"].size();
}

double probedDuration(const fs::path& file) {
    std::string output;
    tavtest::runTool({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
                      "default=noprint_wrappers=1:nokey=1", file.string()},
                     &output);
    return std::stod(output);
}

class VerifiedReplacementTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { tavtest::TestMedia::shared(); }

    std::shared_ptr<FoundationProcessRunner> runner = std::make_shared<FoundationProcessRunner>();
    FFmpegProcessor processor{runner, ToolLocations{}};
    tavtest::TempDir folder;

    // A private copy of a test file, mode 0600.
    fs::path copyOf(const fs::path& file, const std::string& name) {
        fs::copy_file(file, folder / name);
        fs::permissions(folder / name, fs::perms::owner_read | fs::perms::owner_write);
        return folder / name;
    }

    TranscriptionMediaRequest replacing(const fs::path& source) {
        TranscriptionMediaRequest request;
        request.input = source;
        request.output = source;
        request.replacesInput = true;
        request.selectedStreams = {stream(0, MediaStreamKind::video),
                                   stream(1, MediaStreamKind::audio)};
        request.cues = {{1, 0.2, 1.0, "Replaced", std::nullopt}};
        request.subtitleLanguage = "eng";
        return request;
    }

    // Nothing hidden is left beside the source.
    void expectNoHiddenFiles(const fs::path& where) {
        for (const auto& entry : fs::directory_iterator(where)) {
            EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
        }
    }
};

}  // namespace

TEST(SourceFileFingerprint, NoticesASameSizeEditWithinTheSameModificationTime) {
    tavtest::TempDir folder;
    const fs::path file = folder / "a.mkv";
    writeFile(file, "0123456789");
    auto before = SourceFileFingerprint::of(file);
    EXPECT_EQ(before, SourceFileFingerprint::of(file));
    EXPECT_EQ(before.fileSize, 10u);

    struct stat state {};
    ASSERT_EQ(::stat(file.c_str(), &state), 0);
    writeFile(file, "abcdefghij");
    const timespec times[2] = {state.st_atim, state.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    auto after = SourceFileFingerprint::of(file);
    EXPECT_EQ(after.fileSize, before.fileSize);
    EXPECT_EQ(after.modificationNanoseconds, before.modificationNanoseconds);
    EXPECT_NE(after, before);

    try {
        SourceFileFingerprint::of(folder / "missing.mkv");
        ADD_FAILURE();
    } catch (const MediaProcessingError& error) {
        EXPECT_STREQ(error.what(),
                     "Tavrolin could not read the source file state needed for a safe "
                     "replacement. The original file was not changed. No such file or directory");
    }
}

TEST(SafeFileReplacement, RefusesBeforeTouchingAnything) {
    tavtest::TempDir folder;
    fs::create_directory(folder / "other");
    writeFile(folder / "source.mkv", "old");
    writeFile(folder / "other" / ".source.tmp-tavrolin-X.mkv", "new");
    SafeFileReplacement replacement;
    auto elsewhere = processingError([&] {
        replacement.replace(folder / "source.mkv", folder / "other" / ".source.tmp-tavrolin-X.mkv");
    });
    EXPECT_STREQ(elsewhere.what(),
                 "A replacement must be prepared beside the source so it stays on the same "
                 "volume.");
    auto gone = processingError(
        [&] { replacement.replace(folder / "gone.mkv", folder / ".gone.tmp-tavrolin-X.mkv"); });
    EXPECT_STREQ(gone.what(),
                 "The source disappeared before Tavrolin could replace it. The prepared output "
                 "was not committed.");
    auto missing = processingError(
        [&] { replacement.replace(folder / "source.mkv", folder / ".source.tmp-tavrolin-X.mkv"); });
    EXPECT_STREQ(missing.what(),
                 "The verified replacement file is missing. The source was not changed.");
    EXPECT_EQ(readFile(folder / "source.mkv"), "old");
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"other", "source.mkv"}));
}

TEST(SafeFileReplacement, SwapsInThePreparedFileKeepingWhatTheUserHad) {
    tavtest::TempDir folder;
    const fs::path source = folder / "source.mkv";
    const fs::path prepared = folder / ".source.tmp-tavrolin-X.mkv";
    writeFile(source, "old");
    writeFile(prepared, "new");
    ::chmod(source.c_str(), 0640);
    const bool hasAttributes = ::setxattr(source.c_str(), "user.rating", "5", 1, 0) == 0;

    SafeFileReplacement().replace(source, prepared);
    EXPECT_EQ(readFile(source), "new");
    struct stat state {};
    ASSERT_EQ(::stat(source.c_str(), &state), 0);
    EXPECT_EQ(state.st_mode & 07777, 0640u);
    if (hasAttributes) {
        char value[8] = {};
        EXPECT_EQ(::getxattr(source.c_str(), "user.rating", value, sizeof value), 1);
        EXPECT_STREQ(value, "5");
    }
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"source.mkv"});
}

TEST(SafeFileReplacement, ReplacesTheFileBehindASymbolicLink) {
    tavtest::TempDir folder;
    fs::create_directory(folder / "real");
    writeFile(folder / "real" / "movie.mkv", "old");
    writeFile(folder / "real" / ".movie.tmp-tavrolin-X.mkv", "new");
    fs::create_symlink("real/movie.mkv", folder / "link.mkv");
    SafeFileReplacement().replace(folder / "link.mkv",
                                  folder / "real" / ".movie.tmp-tavrolin-X.mkv");
    EXPECT_TRUE(fs::is_symlink(folder / "link.mkv"));
    EXPECT_EQ(readFile(folder / "link.mkv"), "new");
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"link.mkv", "real"}));
    EXPECT_EQ(fs::directory_iterator(folder / "real")->path().filename(), "movie.mkv");
}

TEST_F(VerifiedReplacementTest, ReplacesTheSourceAfterVerifyingIt) {
    const fs::path source = copyOf(tavtest::TestMedia::shared().mp4ClipA, "clip.mp4");
    const bool hasAttributes = ::setxattr(source.c_str(), "user.note", "kept", 4, 0) == 0;
    std::vector<double> fractions;
    processor.process(replacing(source), [&](double f) { fractions.push_back(f); }, {});
    EXPECT_EQ(fractions.back(), 1.0);
    EXPECT_EQ(streamCount(source), 3u);
    struct stat state {};
    ASSERT_EQ(::stat(source.c_str(), &state), 0);
    EXPECT_EQ(state.st_mode & 07777, 0600u);
    if (hasAttributes) {
        char value[8] = {};
        EXPECT_EQ(::getxattr(source.c_str(), "user.note", value, sizeof value), 4);
    }
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"clip.mp4"});

    // As the Transcribe page asks for it: every source stream, an earlier transcript and the
    // chapter track included; the chapter track is no stream whose packets must match.
    const fs::path chaptered =
        copyOf(tavtest::TestMedia::generate(
                   "replaced-chapters.mp4",
                   {"-i", tavtest::TestMedia::shared().matroska.string(), "-map", "0:v", "-map",
                    "0:a:0", "-map", "0:s:0", "-c:v", "copy", "-c:a", "copy", "-c:s", "mov_text"}),
               "chaptered.mp4");
    auto request = replacing(chaptered);
    request.selectedStreams.push_back(stream(2, MediaStreamKind::subtitle));
    request.mapsEverySourceStream = true;
    processor.process(request, {}, {});
    EXPECT_GE(streamCount(chaptered), 4u);
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"chaptered.mp4", "clip.mp4"}));
}

TEST_F(VerifiedReplacementTest, ReplacesTheTargetOfALinkedSource) {
    fs::create_directory(folder / "library");
    const fs::path target = copyOf(tavtest::TestMedia::shared().mp4ClipA, "library/clip.mp4");
    fs::create_symlink("library/clip.mp4", folder / "link.mp4");
    processor.process(replacing(folder / "link.mp4"), {}, {});
    EXPECT_TRUE(fs::is_symlink(folder / "link.mp4"));
    EXPECT_EQ(streamCount(target), 3u);
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"library", "link.mp4"}));
    expectNoHiddenFiles(folder / "library");
}

TEST_F(VerifiedReplacementTest, LeavesTheSourceAloneWhenItChangesOrCannotBeVerified) {
    const fs::path source = copyOf(tavtest::TestMedia::shared().mp4ClipA, "clip.mp4");
    const std::string original = readFile(source);

    // Touched while ffmpeg runs.
    auto touched = processingError([&] {
        processor.process(replacing(source),
                          [&](double) {
                              const timespec times[2] = {{0, UTIME_OMIT}, {1'000'000'000, 0}};
                              ::utimensat(AT_FDCWD, source.c_str(), times, 0);
                          },
                          {});
    });
    EXPECT_STREQ(touched.what(),
                 "The source changed while Tavrolin was preparing its replacement. The original "
                 "file was not changed.");
    EXPECT_EQ(readFile(source), original);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"clip.mp4"});

    // A source whose duration nobody can tell.
    const fs::path piped = folder / "piped.mkv";
    std::string bytes;
    ASSERT_EQ(tavtest::runTool({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                                "testsrc=size=64x36:rate=5:duration=2", "-c:v", "libx264",
                                "-preset", "ultrafast", "-f", "matroska", "-"},
                               &bytes),
              0);
    writeFile(piped, bytes);
    auto request = replacing(piped);
    request.selectedStreams = {stream(0, MediaStreamKind::video)};
    auto noDuration = processingError([&] { processor.process(request, {}, {}); });
    EXPECT_STREQ(noDuration.what(),
                 "Tavrolin could not verify the source duration, so it did not replace the "
                 "original file.");
    EXPECT_EQ(readFile(piped), bytes);

    auto elsewhere = replacing(source);
    elsewhere.output = folder / "other.mp4";
    auto notItself = processingError([&] { processor.process(elsewhere, {}, {}); });
    EXPECT_STREQ(notItself.what(), "Only a transcript export can replace its own source file.");
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"clip.mp4", "piped.mkv"}));
}

TEST_F(VerifiedReplacementTest, VerificationChecksSizeStreamsAndDuration) {
    const auto& media = tavtest::TestMedia::shared();
    const fs::path clip = media.mp4ClipA;  // two streams
    const double duration = probedDuration(clip);
    // The header as the census reads it, in the same opening of the file.
    const auto read = readFileCensusOrNone(clip, {});
    ASSERT_TRUE(read);
    ASSERT_EQ(read->header.streams.size(), 2u);
    EXPECT_NEAR(*statedDuration(read->header), duration, 1e-6);

    const std::string durationMessage =
        "The prepared file duration does not match the source. The original file was not "
        "changed.";
    const std::string streamsMessage =
        "Tavrolin could not verify the prepared media streams. The original file was not "
        "changed.";
    struct Row {
        const char* name;
        std::size_t streams;
        double sourceDuration;
        std::string error;
    };
    const std::vector<Row> rows{
        {"as many streams", 2, duration, ""},
        {"more streams than asked", 1, duration, ""},
        {"2.9 s shorter", 2, duration + 2.9, ""},
        {"2.9 s longer", 2, duration - 2.9, ""},
        // Past the 3 s floor.
        {"4 s shorter", 2, duration + 4, durationMessage},
        {"3.1 s shorter", 2, duration + 3.1, durationMessage},
        {"a stream short", 3, duration, streamsMessage},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto check = [&] {
            checkPreparedHeader(read->header.streams.size(), statedDuration(read->header),
                                row.streams, row.sourceDuration);
        };
        if (row.error.empty()) {
            EXPECT_NO_THROW(check());
        } else {
            EXPECT_EQ(processingError(check).what(), row.error);
        }
    }
    // No duration at all, and a file that cannot be read.
    const auto raw = readFileCensusOrNone(media.rawH264, {});
    ASSERT_TRUE(raw);
    EXPECT_EQ(processingError([&] {
                  checkPreparedHeader(raw->header.streams.size(), statedDuration(raw->header), 1,
                                      2);
              }).what(),
              streamsMessage);
    PacketCensusRead unread(media.randomBytes, {});
    EXPECT_FALSE(unread.header());
    EXPECT_EQ(processingError([&] {
                  verifyPreparedReplacement(media.randomBytes, media.randomBytes, unread, {}, 1, 2,
                                            {});
              }).what(),
              streamsMessage);
    EXPECT_EQ(processingError([&] {
                  verifyPreparedReplacement(media.empty, media.empty, unread, {}, 1, 2, {});
              }).what(),
              std::string("The prepared replacement is empty. The original file was not "
                          "changed."));
}

TEST_F(VerifiedReplacementTest, DurationProbeGivesNothingRatherThanFailing) {
    const auto& media = tavtest::TestMedia::shared();
    EXPECT_NEAR(*probeDuration(*runner, media.mp4ClipA, "/usr/bin/ffprobe", {}), 2.0, 0.1);
    EXPECT_FALSE(probeDuration(*runner, media.rawH264, "/usr/bin/ffprobe", {}));
    EXPECT_FALSE(probeDuration(*runner, media.randomBytes, "/usr/bin/ffprobe", {}));
    EXPECT_FALSE(probeDuration(*runner, media.mp4ClipA, "/nonexistent/ffprobe", {}));
}
