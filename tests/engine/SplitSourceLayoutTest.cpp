#include "engine/SplitSourceLayout.h"

#include "engine/OutputVerification.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using Role = SplitStreamRole;

// An MP4 with video, audio, its chapter track, cover art, a font and a second video stream;
// the first video's keyframe at 4 s has two leading pictures, the one at 5 s none.
constexpr const char* report = R"({
    "packets": [
        {"stream_index": 0, "pts_time": "3.000000", "flags": "K_"},
        {"stream_index": 0, "pts_time": "3.958333", "flags": "__"},
        {"stream_index": 1, "pts_time": "3.990000", "flags": "K_"},
        {"stream_index": 0, "pts_time": "4.000000", "flags": "K_"},
        {"stream_index": 5, "pts_time": "3.500000", "flags": "__"},
        {"stream_index": 0, "pts_time": "3.916667", "flags": "__"},
        {"stream_index": 0, "pts_time": "3.875000", "flags": "__"},
        {"stream_index": 0, "pts_time": "4.041667", "flags": "__"},
        {"stream_index": 0, "pts_time": "N/A", "flags": "__"},
        {"stream_index": 0, "pts_time": "5.000000", "flags": "K_"},
        {"stream_index": 0, "pts_time": "5.041667", "flags": "__"}
    ],
    "streams": [
        {"index": 0, "codec_name": "hevc", "codec_type": "video", "codec_tag_string": "hvc1",
         "time_base": "1/600", "disposition": {"attached_pic": 0}},
        {"index": 1, "codec_type": "audio", "sample_rate": "44100", "time_base": "0/1",
         "disposition": {"attached_pic": 0}},
        {"index": 2, "codec_type": "data", "codec_tag_string": "text"},
        {"index": 3, "codec_name": "mjpeg", "codec_type": "video",
         "disposition": {"attached_pic": 1}, "tags": {"filename": "front.jpg"}},
        {"index": 4, "codec_type": "attachment", "tags": {"mimetype": "font/ttf"}},
        {"index": 5, "codec_type": "video", "disposition": {"attached_pic": 0}}
    ],
    "chapters": [
        {"start_time": "0.000000", "end_time": "3.000000", "tags": {"title": "One", "artist": "A"}},
        {"start_time": "3.000000", "end_time": "N/A"}
    ],
    "format": {"start_time": "0.500000", "duration": "10.000000"}
})";

TEST(SplitSourceLayout, ReadsRolesChaptersAndWhereThePartsVideoEnds) {
    const auto layout = parseSplitLayout(report, 4.0);
    ASSERT_TRUE(layout.has_value());
    std::vector<SplitStream> streams = {{0, Role::video},        {1, Role::timed},
                                        {2, Role::chapterTrack}, {3, Role::picture},
                                        {4, Role::attachment},   {5, Role::timed}};
    for (std::size_t at = 0; at < streams.size(); ++at) {
        streams[at].kind =
            std::vector<std::string>{"video", "audio", "data", "video", "attachment", "video"}[at];
    }
    streams[0].timeBase = {1, 600};
    streams[1].sampleRate = 44100;
    streams[3].codec = "mjpeg";
    streams[3].fileName = "front.jpg";
    EXPECT_EQ(layout->streams, streams);
    // A chapter without an end is no chapter to shift.
    EXPECT_EQ(layout->chapters,
              (std::vector<SourceChapter>{{0, 3, {{"artist", "A"}, {"title", "One"}}}}));
    EXPECT_EQ(layout->duration, 10.0);
    EXPECT_EQ(layout->start, 0.5);
    // Before the end keyframe's leading pictures; at the next keyframe for a time between;
    // none without a keyframe read there, from a read that began after the end time (a
    // transport stream's seek overshoots), or without an end.
    EXPECT_EQ(layout->videoEnd, 3.875);
    const struct {
        std::optional<double> end;
        std::optional<double> videoEnd;
    } ends[] = {{4.0005, 3.875},
                {4.02, 5.0},
                {5.5, std::nullopt},
                {2.5, std::nullopt},
                {std::nullopt, std::nullopt}};
    for (const auto& [end, videoEnd] : ends) {
        EXPECT_EQ(parseSplitLayout(report, end)->videoEnd, videoEnd) << end.value_or(-1);
    }
    EXPECT_EQ(parseSplitLayout("ffprobe: not json", 4.0), std::nullopt);
    EXPECT_EQ(parseSplitLayout(R"({"format": {}})", 4.0), std::nullopt);
}

TEST(SplitSourceLayout, ProbesPacketsOnlyNearAnEnd) {
    EXPECT_THAT(splitLayoutProbeArguments("/m/a.mp4", 4.0),
                ::testing::IsSupersetOf(
                    {std::string("-read_intervals"), std::string("1.999000%+12.000000")}));
    EXPECT_THAT(splitLayoutProbeArguments("/m/a.mp4", std::nullopt),
                ::testing::Not(::testing::Contains(std::string("-read_intervals"))));
}

}  // namespace
}  // namespace tavrolin

namespace tavrolin {
namespace {

// What a written part's first and last video packets say against the span it was cut for.
TEST(SplitPartCheck, NamesWhatAWrittenPartGotWrong) {
    const auto report = [](const std::string& packets, const std::string& duration = "4.0") {
        return R"({"packets": [)" + packets + R"(], "format": {"start_time": "0.000000",
                   "duration": ")" +
               duration + "\"}}";
    };
    // A 25 fps part cut at a keyframe, its video to end at 4 s; the same packets read twice
    // where the two reads meet.
    const std::string whole =
        R"({"pts_time": "0.000000", "duration_time": "0.040000", "flags": "K_"},
           {"pts_time": "0.080000", "duration_time": "0.040000", "flags": "__"},
           {"pts_time": "0.040000", "duration_time": "0.040000", "flags": "__"},
           {"pts_time": "3.960000", "duration_time": "0.040000", "flags": "__"},
           {"pts_time": "3.960000", "duration_time": "0.040000", "flags": "__"})";
    const SplitPartSpan cut{true, 4.0, true};
    const struct {
        const char* name;
        std::string json;
        SplitPartSpan span;
        std::optional<std::string> fault;
    } rows[] = {
        {"exact", report(whole), cut, std::nullopt},
        {"the keyframe before the edit's start, flagged discard",
         report(R"({"pts_time": "-0.041667", "duration_time": "0.041667", "flags": "KD"},
                   {"pts_time": "0.000000", "duration_time": "0.041667", "flags": "__"})"),
         {true, std::nullopt, false},
         "would hide its first frame from most players"},
        {"opens on a picture that needs another",
         report(R"({"pts_time": "0.000000", "duration_time": "0.040000", "flags": "__"})"),
         {false, std::nullopt, false},
         "does not start on a keyframe"},
        {"a frame late",
         report(R"({"pts_time": "0.040000", "duration_time": "0.040000",
                                    "flags": "K_"})"),
         {true, std::nullopt, false},
         "starts 0.040 s after the cut"},
        {"a part from the beginning keeps its source's own hidden first frame",
         report(R"({"pts_time": "-0.041667", "duration_time": "0.041667", "flags": "KD"})"),
         {false, std::nullopt, false},
         std::nullopt},
        {"a part from the beginning may start late",
         report(R"({"pts_time": "0.040000", "duration_time": "0.040000", "flags": "K_"})"),
         {false, std::nullopt, false},
         std::nullopt},
        {"a group too long",
         report(whole),
         {true, 3.0, true},
         "ends at 4.000 s of its own time instead of 3.000 s"},
        {"the whole part, by its format, within a frame",
         report(whole, "6.030"),
         {true, 6.0, false},
         std::nullopt},
        {"the whole part a second short",
         report(whole, "5.0"),
         {true, 6.0, false},
         "ends at 5.000 s of its own time instead of 6.000 s"},
        {"no video: nothing shown to check", report(""), cut, std::nullopt},
        {"not a report", "ffprobe: error", cut, "cannot be read back"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(splitPartFault(row.json, row.span), row.fault);
    }
}

}  // namespace
}  // namespace tavrolin
