#include "engine/split/SplitSourceLayout.h"

#include "engine/split/OutputVerification.h"
#include "engine/split/SplitLayoutCache.h"
#include "engine/split/SplitPartPreparation.h"
#include "model/CancellationError.h"
#include "model/MediaProcessingError.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

namespace tavrolin {
namespace {

using Role = SplitStreamRole;

// An MP4 with video, audio, its chapter track, cover art, a font and a second video stream;
// the first video's keyframe at 4 s has two leading pictures, the one at 5 s none.
PacketFormat source() {
    PacketFormat format;
    const auto stream = [](int index, const char* type, const char* codec, TimeBase base) {
        PacketStream read;
        read.index = index;
        read.codecType = type;
        read.codecName = codec;
        read.timeBase = base;
        return read;
    };
    format.streams = {
        stream(0, "video", "hevc", {1, 600}),      stream(1, "audio", "none", {0, 1}),
        stream(2, "data", "none", {1, 1000}),      stream(3, "video", "mjpeg", {1, 90000}),
        stream(4, "attachment", "ttf", {1, 1000}), stream(5, "video", "h264", {1, 1000})};
    format.streams[3].attachedPicture = true;
    format.streams[0].codecTag = "hvc1";
    format.streams[0].frameRate = {24, 1};
    format.streams[0].tags = {{"timecode", "01:00:00:00"}};
    format.streams[1].sampleRate = 44100;
    format.streams[2].codecTag = "text";
    format.streams[3].tags = {{"filename", "front.jpg"}, {"mimetype", "image/jpeg"}};
    format.streams[4].tags = {{"mimetype", "font/ttf"}};
    format.chapters = {{{1, 1000}, 0, 3000, {{"title", "One"}, {"artist", "A"}}},
                       {{1, 1000}, 3000, std::nullopt, {}}};
    format.name = "mov,mp4,m4a,3gp,3g2,mj2";
    format.startMicroseconds = 500000;
    format.durationMicroseconds = 10000000;
    format.bitRate = 1500000;
    return format;
}

// Around 4 s, in the first video's ticks of 1/600 s.
std::vector<ReadPacket> packetsNearTheEnd() {
    const auto packet = [](int stream, std::optional<std::int64_t> pts, bool keyframe) {
        ReadPacket read;
        read.stream = stream;
        read.pts = pts;
        read.size = 1000;
        read.keyframe = keyframe;
        return read;
    };
    return {packet(0, 1800, true),  packet(0, 2375, false), packet(1, 399, true),
            packet(0, 2400, true),  packet(5, 3500, false), packet(0, 2350, false),
            packet(0, 2325, false), packet(0, 2425, false), packet(0, std::nullopt, false),
            packet(0, 3000, true),  packet(0, 3025, false)};
}

TEST(SplitSourceLayout, ReadsRolesChaptersAndWhereThePartsVideoEnds) {
    const auto layout = splitLayoutOf(source(), packetsNearTheEnd(), 4.0);
    std::vector<SplitStream> streams = {{0, Role::video},        {1, Role::timed},
                                        {2, Role::chapterTrack}, {3, Role::picture},
                                        {4, Role::attachment},   {5, Role::timed}};
    const std::vector<std::tuple<std::string, StreamTimeBase, std::string>> kinds{
        {"video", {1, 600}, "hevc"},      {"audio", {}, ""},
        {"data", {1, 1000}, ""},          {"video", {1, 90000}, "mjpeg"},
        {"attachment", {1, 1000}, "ttf"}, {"video", {1, 1000}, "h264"}};
    for (std::size_t at = 0; at < streams.size(); ++at) {
        std::tie(streams[at].kind, streams[at].timeBase, streams[at].codec) = kinds[at];
    }
    streams[0].frameRate = {24, 1};
    streams[0].timecode = "01:00:00:00";
    streams[1].sampleRate = 44100;
    streams[3].fileName = "front.jpg";
    streams[3].mimeType = "image/jpeg";
    EXPECT_EQ(layout.streams, streams);
    // A chapter without an end is no chapter to shift.
    EXPECT_EQ(layout.chapters,
              (std::vector<SourceChapter>{{0, 3, {{"title", "One"}, {"artist", "A"}}}}));
    EXPECT_EQ(layout.duration, 10.0);
    EXPECT_EQ(layout.start, 0.5);
    EXPECT_EQ(layout.bitRate, 1.5e6);
    EXPECT_EQ(layout.formatName, "mov,mp4,m4a,3gp,3g2,mj2");
    // Before the end keyframe's leading pictures; at the next keyframe for a time between;
    // none without a keyframe read there, from a read that began after the end time (a
    // transport stream's seek overshoots), or without an end.
    EXPECT_EQ(layout.videoEnd, 3.875);
    EXPECT_EQ(layout.videoLastFrame, 3.0);
    const struct {
        std::optional<double> end;
        std::optional<double> videoEnd;
    } ends[] = {{4.0005, 3.875},
                {4.02, 5.0},
                {5.5, std::nullopt},
                {2.5, std::nullopt},
                {std::nullopt, std::nullopt}};
    for (const auto& [end, videoEnd] : ends) {
        EXPECT_EQ(splitLayoutOf(source(), packetsNearTheEnd(), end).videoEnd, videoEnd)
            << end.value_or(-1);
    }
}

// The split's read of a real source: where its video ends from a seek before the end cut, in
// its own timestamps (a transport stream's start 1.4 s in); a source it cannot read named with
// its folder; a stop requested ends it.
TEST(SplitSourceLayout, ReadsASourceOrSaysWhyNot) {
    tavtest::TempDir folder;
    // Keyframes every 0.48 s, at 1.44 s the first after 1 s.
    const auto film = tavtest::TestMedia::generate(
        "layout-film.mp4",
        {"-f", "lavfi", "-i", "testsrc2=s=96x64:r=25:d=4", "-c:v", "libx264", "-preset", "veryfast",
         "-bf", "2", "-x264-params", "keyint=12:min-keyint=12:scenecut=0"});
    const auto stream =
        tavtest::TestMedia::generate("layout-film.ts", {"-i", film.string(), "-c", "copy"});
    std::ofstream(folder / "notes.mkv") << "not a film\n";
    std::stop_source stopped;
    stopped.request_stop();
    const struct {
        std::string name;
        std::filesystem::path input;
        std::stop_token stop;
        std::string fault;
    } rows[] = {
        {"MP4", film, {}, ""},
        {"MPEG-TS", stream, {}, ""},
        {"not media", folder / "notes.mkv", {}, "\u201Cnotes.mkv\u201D in the folder"},
        {"stopped", film, stopped.get_token(), "stopped"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        try {
            SplitRequest split;
            split.input = row.input;
            split.endTime = 1.0;
            auto layout = probeSplitLayout(split, row.stop);
            split.endTime = layout.start + 1.0;
            layout = probeSplitLayout(split, row.stop);
            ASSERT_EQ(row.fault, "");
            ASSERT_TRUE(layout.videoEnd.has_value());
            EXPECT_NEAR(*layout.videoEnd - layout.start, 1.44, 1e-6);
            EXPECT_LT(*layout.videoLastFrame, *layout.videoEnd);
        } catch (const MediaProcessingError& error) {
            EXPECT_NE(std::string(error.what()).find(row.fault), std::string::npos) << error.what();
            EXPECT_NE(std::string(error.what()).find(folder.path().filename().string()),
                      std::string::npos);
        } catch (const CancellationError&) {
            EXPECT_EQ(row.fault, "stopped");
        }
    }
}

// The parts of the latest four sources read each layout once, as its file was, without the end
// cut's own read.
TEST(SplitLayoutCache, KeepsTheLatestSourcesAsTheirFilesWere) {
    SplitLayoutCache cache;
    SourceFileFingerprint state;
    state.fileSize = 1;
    SourceFileFingerprint touched = state;
    touched.modificationSeconds = 5;
    SplitSourceLayout layout;
    layout.duration = 10;
    layout.videoEnd = 4;
    layout.videoLastFrame = 3.96;
    for (const char* source : {"a.mkv", "b.mkv", "c.mkv", "d.mkv", "e.mkv"}) {
        cache.keep(source, state, layout);
    }
    cache.keep("e.mkv", touched, layout);
    const struct {
        const char* source;
        SourceFileFingerprint state;
        bool kept;
    } rows[] = {{"a.mkv", state, false},
                {"b.mkv", state, true},
                {"e.mkv", state, false},
                {"e.mkv", touched, true},
                {"f.mkv", state, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.source);
        const auto found = cache.find(row.source, row.state);
        ASSERT_EQ(found.has_value(), row.kept);
        if (found) {
            EXPECT_EQ(found->duration, 10.0);
            EXPECT_EQ(found->videoEnd, std::nullopt);
            EXPECT_EQ(found->videoLastFrame, std::nullopt);
        }
    }
}

// The packets of a report written as ffprobe's JSON, which keeps the rows below short.
WrittenPackets packetsIn(const std::string& json) {
    const auto seconds = [](const nlohmann::json& object, const char* key) {
        return object.contains(key)
                   ? std::optional<double>(std::stod(object.at(key).get<std::string>()))
                   : std::nullopt;
    };
    const auto report = nlohmann::json::parse(json);
    WrittenPackets read;
    for (const auto& packet : report.at("packets")) {
        const std::string flags = packet.at("flags");
        read.packets.push_back({*seconds(packet, "pts_time"), seconds(packet, "duration_time"),
                                flags[0] == 'K', flags.find('D') != std::string::npos});
    }
    read.start = seconds(report.at("format"), "start_time");
    read.duration = seconds(report.at("format"), "duration");
    return read;
}

// What a written part's first and last packets, and the video packets ffmpeg reported writing,
// say against the span it was cut for.
TEST(SplitPartCheck, NamesWhatAWrittenPartGotWrong) {
    const auto report = [](const std::string& first, const std::string& duration = "4.0") {
        return R"({"packets": [)" + first +
               R"(, {"pts_time": "3.96", "duration_time": "0.04", "flags": "__"}],
                  "format": {"start_time": "0", "duration": ")" +
               duration + "\"}}";
    };
    const auto packet = [](const char* pts, const char* flags, const char* duration = "0.04") {
        return std::string(R"({"duration_time": ")") + duration + R"(", "pts_time": ")" + pts +
               R"(", "flags": ")" + flags + "\"}";
    };
    // Packets at `times` (keyframe first), without stored durations.
    const auto bare = [](std::vector<const char*> times) {
        std::string json = R"({"packets": [)";
        for (const char* time : times) {
            json += std::string(json.back() == '[' ? "" : ", ") + R"({"pts_time": ")" + time +
                    R"(", "flags": ")" + (json.back() == '[' ? "K_" : "__") + "\"}";
        }
        return json + R"(], "format": {}})";
    };
    // A 25 fps part cut at a keyframe, its video to end at 4 s; with 100 packets counted; before
    // an end keyframe whose two leading pictures are lost (the source's frame at 3.96 is the
    // part's last, its next at 4.0); audio alone cut at 4.37 s, warmed by one packet before.
    const SplitPartSpan cut{true, 4.0, true};
    const SplitPartSpan counted{true, 4.0, true, true, std::nullopt, 100};
    const SplitPartSpan lost{true, 4.0, true, true, 3.96};
    const SplitPartSpan beginning{false, 6.0, false};
    const SplitPartSpan audio{true, 4.37, true, false, std::nullopt, std::nullopt, 0, 0.023};
    // An MP3 clip of 5 s, read from 4.5 frames before its start; its packets count from 0.
    const SplitPartSpan mp3{true, 5.0, true, false, std::nullopt, std::nullopt, 0, 0.1166};
    const auto mp3Clip = [&](const char* last) {
        return R"({"packets": [)" + packet("0", "K_", "0.026122") + ", " +
               packet(last, "K_", "0.026122") +
               R"(], "format": {"start_time": "0.104490", "duration": "5.146"}})";
    };
    const std::string tone = R"({"packets": [)" + packet("-0.023", "KD", "0.023") + ", " +
                             packet("0", "K_", "0.023") + ", " + packet("4.35", "K_", "0.023") +
                             R"(], "format": {}})";
    const auto flac = [&](const char* duration) {
        return R"({"packets": [)" + packet("4.388", "K_", "0.093") + ", " +
               packet("9.907", "K_", "0.093") +
               R"(], "format": {"start_time": "4.388", "duration": ")" + duration + "\"}}";
    };
    const struct {
        std::string json;
        SplitPartSpan span;
        std::optional<std::string> fault;
        std::optional<std::int64_t> written = std::nullopt;
    } rows[] = {
        {report(packet("0", "K_")), cut, std::nullopt},
        {report(packet("-0.04", "KD")), cut, "would hide its first frame from most players"},
        {report(packet("-0.04", "KD"), "6.0"), beginning, std::nullopt},  // the source's own
        {report(packet("0", "__")), cut, "does not start on a keyframe"},
        {report(packet("0.04", "K_")), cut, "starts 0.040 s after the cut"},
        {report(packet("0", "K_")),
         {true, 3.0, true},
         "ends at 4.000 s of its own time instead of 3.000 s"},
        {report(packet("0", "K_"), "5.0"), beginning,
         "ends at 5.000 s of its own time instead of 6.000 s"},
        {bare({"0", "0.04", "3.96"}), cut, std::nullopt},  // a frame is the closest two times
        // The last frame lasts what its packet says, or up to the source's next frame when the
        // plan read it: five of the first frames' length at a variable rate, though the muxer
        // stored the first ones' length for it.
        {R"({"packets": [)" + packet("0", "K_", "0.02") + ", " + packet("3.9", "__", "0.1") +
             R"(], "format": {}})",
         cut, std::nullopt},
        {R"({"packets": [)" + packet("0", "K_", "0.02") + ", " + packet("3.9", "__", "0.02") +
             R"(], "format": {}})",
         {true, 4.0, true, true, 3.9},
         std::nullopt},
        {bare({"0", "0.02", "3.7", "3.8", "3.9"}), {true, 4.0, true, true, 3.9}, std::nullopt},
        {bare({"0", "0.02", "3.7", "3.8"}),
         {true, 4.0, true, true, 3.9},
         "ends at 3.900 s of its own time instead of 4.000 s"},
        {bare({"0", "0.02", "3.9", "4.0"}),
         {true, 4.0, true, true, 3.9},
         "ends at 4.100 s of its own time instead of 4.000 s"},
        // Without the frames the page said are lost, no more and no fewer.
        {report(packet("0", "K_")), lost, std::nullopt},
        {report(packet("0", "K_")),
         {true, 4.08, true, true, 4.04},
         "ends at 4.000 s of its own time instead of 4.080 s"},
        {bare({"0", "0.04", "3.96", "4.0"}), lost,
         "ends at 4.040 s of its own time instead of 4.000 s"},
        // Every packet counted: one too many or too few, or none read, fails.
        {report(packet("0", "K_")), counted, std::nullopt, 100},
        {report(packet("0", "K_")), counted,
         "holds 99 video frames instead of the 100 its span has in the source", 99},
        {report(packet("0", "K_")), counted,
         "holds 101 video frames instead of the 100 its span has in the source", 101},
        // Audio plays the span within a packet, hidden warm-up before 0 aside, whatever times
        // its packets carry (FLAC's tell their place in the source).
        {tone, audio, std::nullopt},
        {tone,
         {true, 4.5, true, false, std::nullopt, std::nullopt, 0, 0.023},
         "plays 4.373 s of audio instead of 4.500 s"},
        {mp3Clip("5.12"), mp3, std::nullopt},
        {mp3Clip("5.2"), mp3, "plays 5.109 s of audio instead of 5.000 s"},
        {flac("5.612"), {true, 5.63, false, false}, std::nullopt},
        {flac("4.9"), {true, 5.63, false, false}, "plays 4.900 s of audio instead of 5.630 s"},
        {R"({"packets": [], "format": {}})", audio, "holds no audio"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.json);
        EXPECT_EQ(splitPartFault(packetsIn(row.json), row.span, row.written), row.fault);
    }
}

}  // namespace
}  // namespace tavrolin
