#include "engine/FFmpegCommandBuilder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/MillisecondTime.h"
#include "model/MediaProcessingError.h"

#include "EngineTestHelpers.h"

using namespace tavrolin;
using tavtest::stream;
using tavtest::words;
using ::testing::ElementsAreArray;

namespace {

using Args = std::vector<std::string>;

Args withPrefix(Args rest) {
    Args all{"-nostdin", "-hide_banner", "-n", "-nostats", "-progress", "pipe:1"};
    all.insert(all.end(), rest.begin(), rest.end());
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
    // Attachments never come through the concat reader; into Matroska the first file's come
    // once, from a second input that stops at once.
    EXPECT_THAT(FFmpegCommandBuilder().joinArguments("/tmp/l.txt", "/o/.j.tmp-tavrolin-U.mov", {},
                                                     {"/a.mkv", std::nullopt, {}, {}}),
                ElementsAreArray(
                    withPrefix({"-f", "concat", "-safe", "0", "-i", "/tmp/l.txt", "-map", "0",
                                "-map", "-0:t", "-ignore_unknown", "-c", "copy", "-map_metadata",
                                "0", "-f", "mov", "/o/.j.tmp-tavrolin-U.mov"})));
    // clang-format off
    EXPECT_THAT(
        FFmpegCommandBuilder().joinArguments("/tmp/l.txt", "/o/.j.tmp-tavrolin-U.mkv", {},
                                             {"/a.mkv", std::nullopt, {}, {}}),
        ElementsAreArray(withPrefix({
            "-f", "concat", "-safe", "0", "-i", "/tmp/l.txt", "-t", "0.001", "-i", "/a.mkv",
            "-map", "0", "-map", "-0:t", "-ignore_unknown", "-map", "1:t?", "-map_chapters", "0",
            "-c", "copy", "-map_metadata", "0", "-f", "matroska", "/o/.j.tmp-tavrolin-U.mkv"})));
    // clang-format on
}

TEST(FFmpegCommandBuilder, SplitCopiesOnePartWithAFilterPerStream) {
    FFmpegCommandBuilder builder;
    using Role = SplitStreamRole;
    // Video (an open group: its part ends at 65.4, before the end keyframe's leading
    // pictures), audio, MP4's chapter track, cover art, a font.
    SplitSourceLayout layout{{{0, Role::video},
                              {1, Role::timed},
                              {2, Role::chapterTrack},
                              {3, Role::picture},
                              {4, Role::attachment}},
                             {},
                             70.0,
                             65.4,
                             ""};
    layout.streams[0].kind = "video";
    layout.streams[0].timeBase = {1, 600};
    layout.streams[1].kind = "audio";
    layout.streams[1].timeBase = {1, 44100};
    layout.streams[1].sampleRate = 48000;
    layout.streams[3].codec = "png";
    const SplitSideFiles chaptersAndPicture{"/tmp/c.ffmetadata", {{3, "/tmp/p.picture"}}, {}};
    // T in a filter: a packet's presentation time, else its decoding time.
    const auto timed = [](std::string text) {
        for (std::size_t at; (at = text.find("(T\\,")) != std::string::npos;) {
            text.replace(at + 1, 1, "if(eq(pts\\,nopts)\\,dts\\,pts)*tb");
        }
        return text;
    };
    struct Row {
        const char* name;
        const char* input;
        const char* output;
        double start;
        std::optional<double> end;
        SplitSideFiles files;
        std::string arguments;
    };
    const Row rows[] = {
        {"range into Matroska: the start keyframe is time 0, the filters count from one tick of "
         "1/600 before it; the picture is attached, the font kept",
         "/in/a.mkv", "/o/.b.mkv", 5.25, 65.5, chaptersAndPicture,
         "-seek_timestamp 1 -ss 5.248333 -i /in/a.mkv -f ffmetadata -i /tmp/c.ffmetadata "
         "-map 0:0 -map 0:1 -map 0:4 -map_metadata 0 -map_chapters 1 -c copy -time_base:0 1/1000 "
         "-bsf:0 noise=drop=lt(T\\,0.000000)+gte(T\\,60.150000) -time_base:1 1/1000 "
         "-bsf:1 noise=drop=lt(T\\,0.000000)+gte(T\\,60.250000) "
         "-attach /tmp/p.picture -metadata:s:3 mimetype=image/png "
         "-metadata:s:3 filename=cover.png -to 61.251667 -output_ts_offset -0.001667 "
         "-avoid_negative_ts disabled -f matroska /o/.b.mkv"},
        {"first part into MP4: the source's timestamps, the picture copied as a stream",
         "/in/a.mp4", "/o/.b.mp4", 0, 65.5, SplitSideFiles{},
         "-copyts -i /in/a.mp4 -map 0:0 -map 0:1 -map 0:3 -map_metadata 0 -map_chapters -1 "
         "-c copy -time_base:0 1/19200 -bsf:0 noise=drop=gte(T\\,65.398333) "
         "-time_base:1 1/48000 -bsf:1 noise=drop=gte(T\\,65.498333) -frames:2 1 -to 66.500000 "
         "-avoid_negative_ts disabled -f mp4 /o/.b.mp4"},
        {"whole file into WebM, which holds neither pictures nor fonts", "/in/a.mkv", "/o/.b.webm",
         0, std::nullopt, SplitSideFiles{},
         "-copyts -i /in/a.mkv -map 0:0 -map 0:1 -map_metadata 0 -map_chapters -1 -c copy "
         "-avoid_negative_ts disabled -f webm /o/.b.webm"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const SplitRequest request{row.input, "/out/b", row.start, row.end};
        EXPECT_THAT(builder.splitArguments(request, layout, row.files, row.output),
                    ElementsAreArray(withPrefix(words(timed(row.arguments)))));
    }
    EXPECT_THAT(FFmpegCommandBuilder::splitPictureArguments("/in/a.mkv", {{3, "/tmp/p"}}),
                ElementsAreArray(words("-nostdin -hide_banner -n -v error -i /in/a.mkv -map 0:3 "
                                       "-c copy -frames:0 1 -f image2 /tmp/p")));
    // Without the end keyframe found, the video ends at the end time as the rest does.
    SplitSourceLayout unknown = layout;
    unknown.videoEnd.reset();
    EXPECT_THAT(builder.splitArguments({"/in/a.mkv", "/o/b.mkv", 0, 8.0}, unknown, {}, "/o/.b.mkv"),
                ::testing::Contains(timed("noise=drop=gte(T\\,7.998333)")).Times(2));
    // A part after a cut reads lossy audio from before it, hidden by an MP4 edit list: 4,096
    // samples, the look-back in whole ticks of the video's 1/600 so the keyframe stays at 0.
    SplitSourceLayout aac = unknown;
    aac.streams[1].codec = "aac";
    const auto warm =
        builder.splitArguments({"/in/a.mkv", "/o/b.mp4", 5.25, 8.0}, aac, {}, "/o/.b.mp4");
    EXPECT_THAT(
        warm,
        ::testing::IsSupersetOf(
            {std::string("5.161667"), timed("noise=drop=lt(T\\,0.086667)+gte(T\\,2.836667)"),
             timed("noise=drop=lt(T\\,0.001333)+gte(T\\,2.836667)"), std::string("-0.088333")}));
    EXPECT_THAT(builder.splitArguments({"/in/a.mkv", "/o/b.mkv", 5.25, 8.0}, aac, {}, "/o/.b.mkv"),
                ::testing::Contains("5.248333"));
    // With its frames counted, the video goes without its filter: ffmpeg starts it at its
    // keyframe when no other lies within the look-back, and stops it between its last packet and
    // its end keyframe (7.95 s in decoding time) in an input of its own, where that input's
    // clock is the file's and a second reading costs less: in the MP4 family at any rate, in
    // Matroska at a high one.
    SplitSourceLayout mp4 = aac;
    mp4.formatName = "mov,mp4,m4a,3gp,3g2,mj2";
    mp4.bitRate = 5e5;
    SplitSourceLayout ts = mp4;
    ts.formatName = "mpegts";
    SplitSourceLayout lowRate = mp4;
    lowRate.formatName = "matroska,webm";
    SplitSourceLayout highRate = lowRate;
    highRate.bitRate = 8e6;
    const char* const filtered = "noise=drop=lt(T\\,0.086667)+gte(T\\,2.836667)";
    const SplitFrameCount counted{100, 0, 0, 7.95, 2.0};
    SplitFrameCount keyframeNear = counted;
    keyframeNear.keyframeGap = 0.05;
    const struct {
        const char* name;
        const SplitSourceLayout& layout;
        std::optional<double> end;
        SplitFrameCount frames;
        Args has;
        const char* videoFilter;  // present, or absent when nullptr
    } counts[] = {
        {"cut and end", mp4, 8.0, counted,
         words("-ss 5.161667 -t 2.788333 -i /in/a.mkv -map 1:0 -map 0:1 -copypriorss:0 0"),
         nullptr},
        {"cut and end in Matroska at a high rate", highRate, 8.0, counted,
         words("-t 2.788333 -i /in/a.mkv -map 1:0"), nullptr},
        {"a keyframe within the look-back", mp4, 8.0, keyframeNear, {"0:0"}, filtered},
        {"a transport stream's clock", ts, 8.0, counted, {"0:0"}, filtered},
        {"Matroska at a low rate, where the filter costs less",
         lowRate,
         8.0,
         counted,
         {"0:0"},
         filtered},
        {"cut to the end", mp4, std::nullopt, counted, {"0:0", "-copypriorss:0"}, nullptr},
        {"cut to the end at a low rate",
         lowRate,
         std::nullopt,
         counted,
         {"-copypriorss:0"},
         nullptr},
    };
    for (const auto& row : counts) {
        SCOPED_TRACE(row.name);
        const auto arguments = builder.splitArguments(
            {"/in/a.mkv", "/o/b.mp4", 5.25, row.end, row.frames}, row.layout, {}, "/o/.b.mp4");
        EXPECT_THAT(arguments, ::testing::IsSupersetOf(row.has));
        const auto filters = std::count_if(arguments.begin(), arguments.end(),
                                           [](auto& text) { return text.starts_with("noise="); });
        EXPECT_EQ(filters, row.videoFilter ? 2 : 1);
        if (row.videoFilter) {
            EXPECT_THAT(arguments, ::testing::Contains(timed(row.videoFilter)));
        }
    }
    // An MP3 file reads four whole frames more, and one cut too near its start for them has no
    // header that would claim them.
    SplitSourceLayout mp3;
    mp3.streams = {{0, Role::timed}};
    mp3.streams[0].kind = "audio";
    mp3.streams[0].codec = "mp3";
    mp3.streams[0].sampleRate = 48000;
    EXPECT_THAT(
        builder.splitArguments({"/in/a.mp3", "/o/b.mp3", 4.37, {}}, mp3, {}, "/o/.b.mp3"),
        ::testing::IsSupersetOf({std::string("4.284000"), timed("noise=drop=lt(T\\,0.000000)")}));
    EXPECT_THAT(builder.splitArguments({"/in/a.mp3", "/o/b.mp3", 0.05, {}}, mp3, {}, "/o/.b.mp3"),
                ::testing::Contains("-write_xing"));
    // A muxer of another family keeps the source's time bases.
    EXPECT_THAT(builder.splitArguments({"/in/a.ts", "/o/b.ts", 0, 8.0}, unknown, {}, "/o/.b.ts"),
                ::testing::IsSupersetOf({"1/600", "1/44100"}));

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
        EXPECT_EQ(invalidRequestMessage(
                      [&] { builder.splitArguments(request, layout, {}, "/out/b.mp4"); }),
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
