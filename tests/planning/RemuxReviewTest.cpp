// The review without Qt: what the installed FFmpeg refuses, and outputs that cannot be written.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

#include "planning/RemuxReview.h"
#include "process/FFmpegVersion.h"
#include "process/FoundationProcessRunner.h"
#include "support/StandInTools.h"
#include "support/TempDir.h"
#include "support/TestStreams.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

using tavtest::makeStream;

RemuxSource readySource(fs::path url, std::vector<MediaStream> streams) {
    RemuxSource source{std::move(url), RemuxSource::Ready{streams}, {}};
    for (const auto& s : streams) {
        source.selectedStreamIndices.insert(s.index);
    }
    return source;
}

}  // namespace

TEST(RemuxReviewTest, InstalledReleaseRefusesWhatItCannotWrite) {
    using enum MediaStreamKind;
    using enum OutputContainer;
    struct Row {
        MediaStreamKind kind;
        std::string codec;
        OutputContainer container;
        std::optional<std::string> reason;  // none: kept
        std::optional<FFmpegRelease> installed = FFmpegRelease{5, 1};
    };
    const std::vector<Row> rows{
        {audio, "opus", mov, "Opus audio cannot be copied into MOV by FFmpeg 5.1."},
        {audio, "flac", mov, "FLAC audio cannot be copied into MOV by FFmpeg 5.1."},
        {audio, "FLAC", mp4, "FLAC audio cannot be copied into MP4 by FFmpeg 5.1."},
        {audio, "pcm_s24le", m4v, "PCM audio cannot be copied into M4V by FFmpeg 5.1."},
        {audio, "pcm_s16le", mov, std::nullopt},
        {video, "vp9", mov, "VP9 video cannot be copied into MOV by FFmpeg 5.1."},
        {subtitle, "mov_text", mkv, "MOV_TEXT subtitle cannot be copied into MKV by FFmpeg 5.1."},
        {audio, "opus", mp4, std::nullopt},
        {audio, "aac", mov, std::nullopt},
        // Matroska takes no PCM that has neither a codec ID of its own nor a WAVE tag.
        {audio, "pcm_bluray", mkv, "Blu-ray LPCM audio cannot be copied into MKV by FFmpeg 5.1."},
        {audio, "pcm_dvd", mov, "DVD LPCM audio cannot be copied into MOV by FFmpeg 5.1."},
        {audio, "pcm_u16le", mkv, "PCM_U16LE audio cannot be copied into MKV by FFmpeg 5.1."},
        {audio, "s302m", mkv, "SMPTE 302M audio cannot be copied into MKV by FFmpeg 5.1."},
        {audio, "pcm_s24be", mkv, std::nullopt},
        // Other releases, and an unknown one, keep the rules as they are.
        {audio, "pcm_bluray", mkv, std::nullopt, std::nullopt},
        {audio, "opus", mov, std::nullopt, FFmpegRelease{6, 0}},
        {audio, "flac", mp4, std::nullopt, FFmpegRelease{5, 0}},
        {audio, "flac", mp4, std::nullopt, std::nullopt},
        // What the rules refuse anyway keeps their sentence.
        {video, "theora", mov, "THEORA video cannot be written to MOV by FFmpeg."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.codec + " in " + std::string(rawValue(row.container)));
        const auto stream = makeStream(static_cast<int>(row.kind), row.kind, row.codec);
        const std::vector<RemuxSource> sources{
            readySource("/media/clip.mkv", {makeStream(0, video, "h264"), stream})};
        const RemuxReview review(sources, fs::path("/media"), row.container, std::nullopt,
                                 row.installed);
        const auto issues = review.compatibilityIssues();
        const auto notes = review.unsupportedStreamMessages(sources[0]);
        if (!row.reason) {
            EXPECT_TRUE(issues.empty());
            continue;
        }
        ASSERT_EQ(issues.size(), 1u);
        EXPECT_EQ(issues[0].reason, *row.reason);
        EXPECT_FALSE(issues[0].isPlaybackTargetIssue);
        EXPECT_EQ(notes.at(stream.index), *row.reason);
        const auto request =
            std::get<RemuxRequest>(review.makeRemuxRequest(sources[0], "/out").payload);
        EXPECT_EQ(request.selectedStreams.size(), 1u) << "only the kept stream is requested";
    }
}

TEST(RemuxReviewTest, OutputsThatCannotBeWrittenShowBeforeQueueing) {
    tavtest::TempDir folder;
    std::ofstream(folder / "taken-converted.mp4") << "kept";
    const auto h264 = [] { return std::vector{makeStream(0, MediaStreamKind::video, "h264")}; };
    struct Row {
        std::vector<std::string> files;
        std::optional<OutputContainer> container;
        std::optional<std::string> message;
    };
    const std::vector<Row> rows{
        {{"a.mkv", "a.mp4"},
         OutputContainer::mp4,
         "\u201Ca.mkv\u201D and \u201Ca.mp4\u201D would both be written to "
         "\u201Ca-converted.mp4\u201D."},
        // Each keeps its own extension, so nothing clashes.
        {{"a.mkv", "a.mp4"}, std::nullopt, std::nullopt},
        {{"b.mov", "taken.mov"},
         OutputContainer::mp4,
         "An output named \u201Ctaken-converted.mp4\u201D already exists. Choose another output "
         "folder or container, or move the existing file away."},
        {{"b.mov", "taken.mov"}, OutputContainer::mkv, std::nullopt},
        // A job already queued writes it, or the job running does.
        {{"b.mov", "queued.mov"},
         OutputContainer::mp4,
         "\u201Cqueued-converted.mp4\u201D is already the output of a job waiting in the queue."},
        {{"b.mov", "running.mov"},
         OutputContainer::mp4,
         "\u201Crunning-converted.mp4\u201D is already the output of the job running in the "
         "queue."},
        // A name that fits, whose output's would not: 246 + "-converted.mp4" passes 255 bytes.
        {{"b.mov", std::string(246, 'n') + ".mov"},
         OutputContainer::mp4,
         "An output of \u201C" + std::string(246, 'n') +
             ".mov\u201D would get a name longer than the 255 bytes a file name can have. Rename "
             "the file to a shorter name, then add it again."},
        {{"b.mov", std::string(241, 'n') + ".mov"}, OutputContainer::mp4, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.files[0] + " " + row.files[1].substr(0, 20));
        std::vector<RemuxSource> sources;
        for (const auto& file : row.files) {
            sources.push_back(readySource(folder / file, h264()));
        }
        RemuxReview review(sources, folder.path(), row.container, std::nullopt, std::nullopt);
        review.setOutputExists([](const fs::path& output) { return fs::exists(output); });
        review.setOutputClaimed([&](const fs::path& output) {
            return output == folder / "queued-converted.mp4"    ? OutputClaim::waiting
                   : output == folder / "running-converted.mp4" ? OutputClaim::running
                                                                : OutputClaim::none;
        });
        const auto validation = review.validation();
        EXPECT_EQ(validation ? std::optional(validation->message) : std::nullopt, row.message);
    }
    EXPECT_EQ(std::ifstream(folder / "taken-converted.mp4").get(), 'k');
}

TEST(RemuxReviewTest, InstalledFFmpegIsAskedOncePerExecutable) {
    struct Row {
        std::string version;
        std::optional<FFmpegRelease> release;
    };
    const std::vector<Row> rows{
        {"5.1.9-0+deb12u1", FFmpegRelease{5, 1}},
        {"n6.1.1", FFmpegRelease{6, 1}},
        {"7.0", FFmpegRelease{7, 0}},
        {"4", FFmpegRelease{4, 0}},
        {"N-112233-g0123abcd", std::nullopt},
        {"git-2024-01-01", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.version);
        const auto facts = parseFFmpegVersionOutput("ffmpeg version " + row.version +
                                                    " Copyright (c) the FFmpeg developers\n");
        ASSERT_TRUE(facts);
        EXPECT_EQ(facts->release(), row.release);
    }

    // A stand-in ffmpeg that counts its runs; replacing it is noticed by its new time.
    tavtest::TempDir folder;
    const auto count = folder / "runs";
    const auto body = [&](const std::string& version) {
        return "echo run >> '" + count.string() + "'\necho 'ffmpeg version " + version + "'\n";
    };
    const auto locations = tavtest::standInTools(folder / "tools", body("5.1.2"));
    InstalledFFmpeg installed(std::make_shared<FoundationProcessRunner>(), locations);
    const auto runs = [&] {
        std::ifstream stream(count);
        return std::count(std::istreambuf_iterator<char>(stream), {}, '\n');
    };
    EXPECT_EQ(installed.facts()->release(), (FFmpegRelease{5, 1}));
    EXPECT_EQ(installed.facts()->version, "5.1.2");
    EXPECT_EQ(runs(), 1);

    tavtest::standInTools(folder / "tools", body("6.0"));
    fs::last_write_time(folder / "tools" / "ffmpeg",
                        fs::file_time_type::clock::now() + std::chrono::seconds(5));
    EXPECT_EQ(installed.facts()->release(), (FFmpegRelease{6, 0}));
    EXPECT_EQ(runs(), 2);

    tavtest::standInTools(folder / "tools", "echo not an ffmpeg\n");
    fs::last_write_time(folder / "tools" / "ffmpeg",
                        fs::file_time_type::clock::now() + std::chrono::seconds(10));
    EXPECT_EQ(installed.facts(), std::nullopt);
    std::stop_source stopped;
    stopped.request_stop();
    InstalledFFmpeg fresh(std::make_shared<FoundationProcessRunner>(), locations);
    EXPECT_EQ(fresh.facts(stopped.get_token()), std::nullopt) << "a stopped read gives nothing";
}
