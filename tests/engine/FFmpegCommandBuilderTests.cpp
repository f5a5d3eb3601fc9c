#include "engine/FFmpegCommandBuilder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "model/MediaProcessingError.h"

#include "EngineTestHelpers.h"

using namespace tavrolin;
using tavtest::stream;
using ::testing::ElementsAreArray;

namespace {

using Args = std::vector<std::string>;

Args withPrefix(Args rest) {
    Args all{"-nostdin", "-hide_banner", "-n", "-nostats", "-progress", "pipe:1"};
    all.insert(all.end(), rest.begin(), rest.end());
    return all;
}

// Arguments written as one line, split at each space.
Args words(const std::string& line) {
    Args all;
    std::istringstream in(line);
    for (std::string word; in >> word;) {
        all.push_back(word);
    }
    return all;
}

constexpr auto video = MediaStreamKind::video;
constexpr auto audio = MediaStreamKind::audio;
constexpr auto subtitle = MediaStreamKind::subtitle;

template <typename F>
std::string invalidRequestMessage(F&& f) {
    try {
        f();
    } catch (const MediaProcessingError& error) {
        EXPECT_EQ(error.errorCase(), MediaProcessingError::Case::invalidRequest);
        return error.what();
    }
    ADD_FAILURE() << "no invalidRequest thrown";
    return {};
}

TranscriptionMediaRequest transcriptRequest() {
    TranscriptionMediaRequest request;
    request.input = "/in/talk.mkv";
    request.output = "/out/talk.mkv";
    request.selectedStreams = {stream(0, video), stream(1, audio)};
    request.cues = {SubtitleCue{1, 0, 1, "Hello", std::nullopt}};
    request.subtitleLanguage = "eng";
    return request;
}

}  // namespace

TEST(FFmpegCommandBuilder, ContainerArgumentsFollowTheLowerCasedExtension) {
    EXPECT_EQ(FFmpegCommandBuilder::containerArguments("/o/a.mp4"), (Args{"-f", "mp4"}));
    EXPECT_EQ(FFmpegCommandBuilder::containerArguments("/o/a.mov"), (Args{"-f", "mov"}));
    EXPECT_EQ(FFmpegCommandBuilder::containerArguments("/o/clip.MKV"), (Args{"-f", "matroska"}));
    EXPECT_EQ(FFmpegCommandBuilder::containerArguments("/o/a.m4v"), (Args{"-f", "mp4"}));
    EXPECT_EQ(FFmpegCommandBuilder::containerArguments("/o/a.WebM"), (Args{"-f", "webm"}));
    EXPECT_TRUE(FFmpegCommandBuilder::containerArguments("/o/a.avi").empty());
    EXPECT_TRUE(FFmpegCommandBuilder::containerArguments("/o/noextension").empty());
    EXPECT_TRUE(FFmpegCommandBuilder::containerArguments("/o/.mkv").empty());
}

TEST(FFmpegCommandBuilder, SecondsUseSixDecimalsAndAPointWhateverTheLocale) {
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");  // ignored when the locale is missing
    EXPECT_EQ(formatCommandLineSeconds(90), "90.000000");
    EXPECT_EQ(formatCommandLineSeconds(60.25), "60.250000");
    EXPECT_EQ(formatCommandLineSeconds(1234567.0000004), "1234567.000000");
    std::setlocale(LC_NUMERIC, "C");
}

TEST(FFmpegCommandBuilder, RemuxMapsInListOrderAndCountsOverridesPerKind) {
    FFmpegCommandBuilder builder;
    RemuxRequest request;
    request.input = "/in/a.mkv";
    request.output = "/out/a.mp4";
    request.selectedStreams = {stream(0, video), stream(1, audio), stream(3, subtitle),
                               stream(4, subtitle)};
    request.subtitleCodecOverrides = {{4, "mov_text"}};
    request.videoCodecTagOverrides = {{0, "hvc1"}};
    EXPECT_THAT(builder.remuxArguments(request, "/out/.a.tmp-tavrolin-X.mp4"),
                ElementsAreArray(withPrefix({"-i",
                                             "/in/a.mkv",
                                             "-map",
                                             "0:0",
                                             "-map",
                                             "0:1",
                                             "-map",
                                             "0:3",
                                             "-map",
                                             "0:4",
                                             "-c",
                                             "copy",
                                             "-tag:v:0",
                                             "hvc1",
                                             "-c:s:1",
                                             "mov_text",
                                             "-map_metadata",
                                             "0",
                                             "-f",
                                             "mp4",
                                             "/out/.a.tmp-tavrolin-X.mp4"})));

    // Overrides of unselected streams or of the other kind are ignored; audio moves no counter;
    // the second video stream is tag index 1. Matroska to Matroska keeps the attachments.
    request.selectedStreams = {stream(5, audio), stream(2, video), stream(7, subtitle),
                               stream(6, video), stream(8, subtitle)};
    request.videoCodecTagOverrides = {{6, "hvc1"}, {7, "avc1"}, {99, "hev1"}};
    request.subtitleCodecOverrides = {{8, "webvtt"}, {2, "mov_text"}, {5, "srt"}};
    EXPECT_THAT(builder.remuxArguments(request, "/o/x.mkv"),
                ElementsAreArray(withPrefix(
                    {"-i",  "/in/a.mkv", "-map",     "0:5",     "-map",   "0:2",    "-map",
                     "0:7", "-map",      "0:6",      "-map",    "0:8",    "-map",   "0:t?",
                     "-c",  "copy",      "-tag:v:1", "hvc1",    "-c:s:1", "webvtt", "-map_metadata",
                     "0",   "-f",        "matroska", "/o/x.mkv"})));

    // One audio stream, no muxer for an unknown extension.
    request.selectedStreams = {stream(1, audio)};
    EXPECT_THAT(builder.remuxArguments(request, "/o/x.mka"),
                ElementsAreArray(withPrefix({"-i", "/in/a.mkv", "-map", "0:1", "-c", "copy",
                                             "-map_metadata", "0", "/o/x.mka"})));

    request.selectedStreams.clear();
    EXPECT_EQ(invalidRequestMessage([&] { builder.remuxArguments(request, "/o/x.mkv"); }),
              "Select at least one stream to include.");
}

TEST(FFmpegCommandBuilder, JoinReadsTheConcatListWithAbsolutePathsAllowed) {
    EXPECT_THAT(FFmpegCommandBuilder().joinArguments("/tmp/l.txt", "/o/.j.tmp-tavrolin-U.mov"),
                ElementsAreArray(withPrefix({"-f", "concat", "-safe", "0", "-i", "/tmp/l.txt",
                                             "-map", "0", "-c", "copy", "-map_metadata", "0", "-f",
                                             "mov", "/o/.j.tmp-tavrolin-U.mov"})));
}

TEST(FFmpegCommandBuilder, SplitCutsWithTheSegmentMuxerAtTheKeyframesTimes) {
    FFmpegCommandBuilder builder;
    const std::string working = "/out/.b.tmp-tavrolin-0123.mp4";
    struct Row {
        const char* name;
        double start;
        std::optional<double> end;
        Args arguments;
        const char* part;
    };
    const Row rows[] = {
        {"range", 5.25, 65.5,
         words("-copyts -seek_timestamp 1 -ss 4.250000 -i /in/a.mp4 -map 0 -c copy -to 65.600000 "
               "-avoid_negative_ts disabled -f segment -segment_times 5.250000,65.500000 "
               "-segment_time_delta 0.000500 -segment_format mp4 -reset_timestamps 1 "
               "/out/.b.tmp-tavrolin-012%d.mp4"),
         "/out/.b.tmp-tavrolin-0121.mp4"},
        {"first part: no seek, timestamps kept", 0, 7.25,
         words("-copyts -i /in/a.mp4 -map 0 -c copy -to 7.350000 -avoid_negative_ts disabled "
               "-f segment -segment_times 7.250000 -segment_time_delta 0.000500 "
               "-segment_format mp4 /out/.b.tmp-tavrolin-012%d.mp4"),
         "/out/.b.tmp-tavrolin-0120.mp4"},
        {"no cut: a plain copy", 0, std::nullopt,
         words("-i /in/a.mp4 -map 0 -c copy -f mp4 " + working), "/out/.b.tmp-tavrolin-0123.mp4"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const SplitRequest request{"/in/a.mp4", "/out/b.mp4", row.start, row.end};
        EXPECT_THAT(builder.splitArguments(request, working),
                    ElementsAreArray(withPrefix(row.arguments)));
        EXPECT_EQ(FFmpegCommandBuilder::splitPartFile(request, working), row.part);
    }
    // The pattern doubles every other "%"; the pieces keep the name's length.
    const SplitRequest odd{"/in/a.mkv", "/o/100%/x.mkv", 2, std::nullopt};
    EXPECT_EQ(builder.splitArguments(odd, "/o/100%/.x%d.tmp-A.mkv").back(),
              "/o/100%%/.x%%d.tmp-%d.mkv");
    EXPECT_EQ(FFmpegCommandBuilder::splitPieceFile("/o/100%/.x%d.tmp-A.mkv", 2),
              "/o/100%/.x%d.tmp-2.mkv");

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    SplitRequest request;
    for (auto [start, end] :
         std::vector<std::pair<double, std::optional<double>>>{{10, 10},
                                                               {11, 10},
                                                               {-1, std::nullopt},
                                                               {nan, std::nullopt},
                                                               {0, nan},
                                                               {inf, std::nullopt},
                                                               {0, inf}}) {
        request = {"/in/a.mp4", "/out/b.mp4", start, end};
        EXPECT_EQ(invalidRequestMessage([&] { builder.splitArguments(request, "/out/b.mp4"); }),
                  "The end time must be later than the start time.")
            << start;
    }
}

TEST(FFmpegCommandBuilder, ChaptersReplaceTheSourceChaptersFromInputOne) {
    FFmpegCommandBuilder builder;
    ChapterRequest request{"/in/a.mkv", "/out/a.mkv", {ChapterMarker{Uuid::random(), 0, "One"}}};
    EXPECT_THAT(builder.chapterArguments(request, "/tmp/c.ffmetadata", "/out/.a.tmp.mkv"),
                ElementsAreArray(
                    withPrefix({"-i", "/in/a.mkv", "-f", "ffmetadata", "-i", "/tmp/c.ffmetadata",
                                "-map", "0", "-map_metadata", "0", "-map_chapters", "1", "-c",
                                "copy", "-f", "matroska", "/out/.a.tmp.mkv"})));

    request.output = "/in/./x/../a.mkv";
    EXPECT_EQ(invalidRequestMessage([&] { builder.chapterArguments(request, "/c", "/o.mkv"); }),
              "Choose a new output file. Tavrolin does not replace the source.");
    request.chapters.clear();
    EXPECT_EQ(invalidRequestMessage([&] { builder.chapterArguments(request, "/c", "/o.mkv"); }),
              "Add at least one chapter marker.");
}

TEST(FFmpegCommandBuilder, TranscriptExportAddsTheTranscriptAfterTheSelectedSubtitles) {
    FFmpegCommandBuilder builder;
    auto request = transcriptRequest();
    request.selectedStreams = {stream(0, video), stream(1, audio), stream(2, subtitle),
                               stream(3, subtitle)};
    request.subtitleCodecOverrides = {{3, "mov_text"}};
    request.chapters = {ChapterMarker{Uuid::random(), 0, "A"}};
    request.output = "/out/talk.mp4";
    EXPECT_THAT(builder.transcriptionMediaArguments(
                    request, "/tmp/t.srt", std::filesystem::path("/tmp/c"), "/out/.talk.tmp.mp4"),
                ElementsAreArray(withPrefix({"-i",
                                             "/in/talk.mkv",
                                             "-f",
                                             "srt",
                                             "-i",
                                             "/tmp/t.srt",
                                             "-f",
                                             "ffmetadata",
                                             "-i",
                                             "/tmp/c",
                                             "-map",
                                             "0:0",
                                             "-map",
                                             "0:1",
                                             "-map",
                                             "0:2",
                                             "-map",
                                             "0:3",
                                             "-map",
                                             "1:0",
                                             "-c",
                                             "copy",
                                             "-c:s:1",
                                             "mov_text",
                                             "-c:s:2",
                                             "mov_text",
                                             "-metadata:s:s:2",
                                             "language=eng",
                                             "-metadata:s:s:2",
                                             "title=Tavrolin Transcript",
                                             "-map_metadata",
                                             "0",
                                             "-map_chapters",
                                             "2",
                                             "-f",
                                             "mp4",
                                             "/out/.talk.tmp.mp4"})));

    // Every source stream, no chapters (none are written), Matroska: the SubRip stream is copied
    // as it is.
    request = transcriptRequest();
    request.mapsEverySourceStream = true;
    EXPECT_THAT(
        builder.transcriptionMediaArguments(request, "/tmp/t.srt", std::nullopt, "/out/.t.MKV"),
        ElementsAreArray(withPrefix({"-i",
                                     "/in/talk.mkv",
                                     "-f",
                                     "srt",
                                     "-i",
                                     "/tmp/t.srt",
                                     "-map",
                                     "0",
                                     "-map",
                                     "1:0",
                                     "-c",
                                     "copy",
                                     "-metadata:s:s:0",
                                     "language=eng",
                                     "-metadata:s:s:0",
                                     "title=Tavrolin Transcript",
                                     "-map_metadata",
                                     "0",
                                     "-map_chapters",
                                     "-1",
                                     "-f",
                                     "matroska",
                                     "/out/.t.MKV"})));

    request.output = "/out/talk.webm";
    auto webm = builder.transcriptionMediaArguments(request, "/t.srt", std::nullopt, "/o.webm");
    EXPECT_THAT(std::vector<std::string>(webm.end() - 13, webm.end() - 11),
                ElementsAreArray({"-c:s:0", "webvtt"}));
}

TEST(FFmpegCommandBuilder, TranscriptExportChecksInOrder) {
    FFmpegCommandBuilder builder;
    auto check = [&](const TranscriptionMediaRequest& request,
                     std::optional<std::filesystem::path> chapters, std::filesystem::path out) {
        return invalidRequestMessage(
            [&] { builder.transcriptionMediaArguments(request, "/t.srt", chapters, out); });
    };
    auto request = transcriptRequest();
    request.selectedStreams.clear();
    request.cues.clear();
    EXPECT_EQ(check(request, std::nullopt, "/o.mkv"),
              "The source has no compatible media streams to export.");
    request = transcriptRequest();
    request.cues.clear();
    EXPECT_EQ(check(request, std::nullopt, "/o.mkv"),
              "Transcribe the source before exporting a media file.");
    request = transcriptRequest();
    request.output = request.input;
    EXPECT_EQ(check(request, std::nullopt, "/o.avi"),
              "Choose a new output file. Tavrolin does not replace the source.");
    request.replacesInput = true;  // the processor decides about replacing
    EXPECT_NO_THROW(builder.transcriptionMediaArguments(request, "/t.srt", std::nullopt,
                                                        "/in/.talk.tmp-tavrolin-U.mkv"));
    EXPECT_EQ(check(request, std::nullopt, "/in/.talk.tmp-tavrolin-U"),
              "Choose MP4, M4V, MOV, MKV, or WebM as the output container.");
    request.chapters = {ChapterMarker{Uuid::random(), 1, "A"}};
    EXPECT_EQ(check(request, std::nullopt, "/o.mkv"),
              "Chapter metadata is missing from this export.");
}
