#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "probe/FFprobeParser.h"
#include "probe/MediaProbeError.h"

namespace {

using tavrolin::FFprobeParser;
using tavrolin::MediaProbeError;
using tavrolin::MediaStream;
using tavrolin::MediaStreamKind;

MediaProbeError::Case failureOf(const std::string& json) {
    try {
        FFprobeParser{}.parse(json);
    } catch (const MediaProbeError& error) {
        return error.errorCase();
    }
    ADD_FAILURE() << "parsed without error: " << json;
    return MediaProbeError::Case::processFailed;
}

std::string streamsOf(const std::string& elements) {
    return R"({"streams":[)" + elements + "]}";
}

TEST(FFprobeParserTest, MapsEveryFieldOfAFullStream) {
    auto streams = FFprobeParser{}.parse(streamsOf(R"({
        "index": 0, "codec_name": "hevc", "codec_long_name": "H.265 / HEVC", "profile": "Main 10",
        "codec_type": "video", "codec_tag_string": "hvc1", "width": 3840, "height": 2160,
        "pix_fmt": "yuv420p10le", "level": 153, "color_space": "bt2020nc",
        "color_transfer": "smpte2084", "color_primaries": "bt2020", "extra": [1, 2],
        "disposition": {"default": 1, "forced": 0, "dub": 0},
        "tags": {"language": "und", "title": " Main ", "handler_name": "x"}})"));
    ASSERT_EQ(streams.size(), 1u);
    const MediaStream& s = streams[0];
    EXPECT_EQ(s.index, 0);
    EXPECT_EQ(s.kind, MediaStreamKind::video);
    EXPECT_EQ(s.codecName, "hevc");
    EXPECT_EQ(s.codecLongName, "H.265 / HEVC");
    EXPECT_EQ(s.profile, "Main 10");
    EXPECT_EQ(s.codecTag, "hvc1");
    EXPECT_EQ(s.width, 3840);
    EXPECT_EQ(s.height, 2160);
    EXPECT_EQ(s.pixelFormat, "yuv420p10le");
    EXPECT_EQ(s.level, 153);
    EXPECT_EQ(s.colorSpace, "bt2020nc");
    EXPECT_EQ(s.colorTransfer, "smpte2084");
    EXPECT_EQ(s.colorPrimaries, "bt2020");
    // Values pass through untouched: no trimming, "und" stays.
    EXPECT_EQ(s.language, "und");
    EXPECT_EQ(s.title, " Main ");
    EXPECT_TRUE(s.isDefault);
    EXPECT_FALSE(s.isForced);
    EXPECT_FALSE(s.channelCount);
    EXPECT_FALSE(s.channelLayout);
}

TEST(FFprobeParserTest, AbsentAndNullOptionalsAndDispositionValues) {
    auto streams = FFprobeParser{}.parse(streamsOf(R"json(
        {"index": 1, "codec_type": "audio", "channels": 6, "channel_layout": "5.1(side)",
         "sample_rate": "44100", "level": -99, "disposition": {"default": 2, "forced": 1}},
        {"index": 2, "codec_type": "subtitle", "codec_name": null, "tags": null,
         "disposition": null, "width": null},
        {"index": 3, "codec_type": "subtitle", "codec_name": "hdmv_pgs_subtitle",
         "width": 1920, "height": 1080, "tags": {"language": "ger"}, "disposition": {}})json"));
    ASSERT_EQ(streams.size(), 3u);
    EXPECT_EQ(streams[0].codecName, "unknown");
    EXPECT_EQ(streams[0].channelCount, 6);
    EXPECT_EQ(streams[0].channelLayout, "5.1(side)");
    EXPECT_EQ(streams[0].sampleRate, 44100);
    EXPECT_FALSE(streams[1].sampleRate);
    EXPECT_EQ(streams[0].level, -99);
    EXPECT_FALSE(streams[0].isDefault);  // 2 is not 1
    EXPECT_TRUE(streams[0].isForced);
    EXPECT_EQ(streams[1].codecName, "unknown");
    EXPECT_FALSE(streams[1].language);
    EXPECT_FALSE(streams[1].title);
    EXPECT_FALSE(streams[1].width);
    EXPECT_FALSE(streams[1].isDefault);
    // A bitmap subtitle keeps its picture size.
    EXPECT_EQ(streams[2].kind, MediaStreamKind::subtitle);
    EXPECT_EQ(streams[2].width, 1920);
    EXPECT_EQ(streams[2].language, "ger");
    EXPECT_FALSE(streams[2].title);
}

TEST(FFprobeParserTest, ReadsTheTurnAVideoIsShownWith) {
    struct Row {
        const char* name;
        std::string fields;
        std::optional<int> rotation;
        std::string type = "video";
    };
    const std::vector<Row> rows{
        {"phone portrait display matrix",
         R"("side_data_list": [{"side_data_type": "Display Matrix", "rotation": -90}])", 90},
        {"counter-clockwise matrix", R"("side_data_list": [{"rotation": 90}])", 270},
        {"other side data first, as a fraction",
         R"("side_data_list": [{"side_data_type": "CPB properties"}, {"rotation": 180.0}])", 180},
        {"the older rotate tag", R"("tags": {"rotate": "90"})", 90},
        {"the matrix wins over the tag",
         R"("tags": {"rotate": "90"}, "side_data_list": [{"rotation": 180}])", 180},
        {"a full turn is none", R"("side_data_list": [{"rotation": -360}])", std::nullopt},
        {"a tag that is no number", R"("tags": {"rotate": "ninety"})", std::nullopt},
        {"audio is never turned", R"("tags": {"rotate": "90"})", std::nullopt, "audio"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto streams = FFprobeParser{}.parse(
            streamsOf(R"({"index": 0, "codec_type": ")" + row.type + "\", " + row.fields + "}"));
        ASSERT_EQ(streams.size(), 1u);
        EXPECT_EQ(streams[0].rotation, row.rotation);
    }
}

TEST(FFprobeParserTest, SortsByIndexStablyAndDropsOtherKinds) {
    auto streams = FFprobeParser{}.parse(streamsOf(R"(
        {"index": 2, "codec_type": "audio", "codec_name": "first2"},
        {"index": 4, "codec_type": "data", "codec_name": "bin_data"},
        {"index": 0, "codec_type": "video"},
        {"index": 5, "codec_type": "attachment", "codec_name": "ttf"},
        {"index": 6, "codec_type": "Video"},
        {"index": 2, "codec_type": "subtitle", "codec_name": "second2"},
        {"index": 1, "codec_type": "audio"})"));
    ASSERT_EQ(streams.size(), 4u);
    EXPECT_EQ(streams[0].index, 0);
    EXPECT_EQ(streams[1].index, 1);
    EXPECT_EQ(streams[2].codecName, "first2");
    EXPECT_EQ(streams[3].codecName, "second2");
}

TEST(FFprobeParserTest, NoKeptStreamIsNoSupportedStreams) {
    EXPECT_EQ(failureOf(streamsOf("")), MediaProbeError::Case::noSupportedStreams);
    EXPECT_EQ(failureOf(streamsOf(R"({"index":0,"codec_type":"data"},
                                    {"index":1,"codec_type":"attachment"})")),
              MediaProbeError::Case::noSupportedStreams);
    try {
        FFprobeParser{}.parse(streamsOf(""));
    } catch (const MediaProbeError& error) {
        EXPECT_STREQ(error.what(), "No video, audio, or subtitle streams were found.");
    }
}

TEST(FFprobeParserTest, WrongShapesInvalidateTheWholeDocument) {
    const std::string valid = R"({"index":0,"codec_type":"video"})";
    for (const std::string& text : std::vector<std::string>{
             streamsOf(valid + R"(,{"index":1,"codec_type":"video","width":"1920"})"),
             streamsOf(valid + R"(,{"codec_type":"audio"})"),
             streamsOf(valid + R"(,{"index":null,"codec_type":"audio"})"),
             streamsOf(valid + R"(,{"index":1.5,"codec_type":"audio"})"),
             streamsOf(valid + R"(,{"index":"1","codec_type":"audio"})"),
             streamsOf(valid + R"(,{"index":1})"),
             streamsOf(valid + R"(,{"index":1,"codec_type":"audio","channels":2.0})"),
             streamsOf(valid + R"(,{"index":1,"codec_type":"audio","level":true})"),
             streamsOf(valid + R"(,{"index":1,"codec_type":"audio","sample_rate":48000})"),
             streamsOf(valid + R"(,{"index":1,"codec_type":"audio","sample_rate":"48k"})"),
             streamsOf(valid + R"(,{"index":1,"codec_type":"audio","sample_rate":"-1"})"),
             streamsOf(valid + R"(,{"index":1,"codec_type":"audio","tags":{"title":5}})"),
             streamsOf(valid + R"(,{"index":1,"codec_type":"audio","tags":[]})"),
             streamsOf(valid +
                       R"(,{"index":1,"codec_type":"audio","disposition":{"default":"1"}})"),
             streamsOf(valid + R"(,{"index":9223372036854775808,"codec_type":"audio"})"),
             // A malformed stream of a dropped kind still spoils the document.
             streamsOf(valid + R"(,{"index":1,"codec_type":"data","codec_name":7})"),
             streamsOf(valid + ",3"),
             R"({"streams":null})",
             R"({"streams":{}})",
             R"({})",
             R"([])",
             "",
             "not json",
             streamsOf(valid) + " trailing",
         }) {
        EXPECT_EQ(failureOf(text), MediaProbeError::Case::invalidResponse) << text;
    }
    try {
        FFprobeParser{}.parse("{}");
    } catch (const MediaProbeError& error) {
        EXPECT_STREQ(error.what(), "ffprobe returned media information in an unexpected format.");
    }
}

}  // namespace
