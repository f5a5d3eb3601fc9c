// Real splits of streams whose content spans time: subtitle cues across a cut, audio files whose
// header states a length, a QuickTime timecode track.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "engine/FFmpegProcessor.h"
#include "process/FoundationProcessRunner.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

nlohmann::json probe(const fs::path& file, const std::string& entries) {
    std::string text;
    EXPECT_EQ(tavtest::runTool({"ffprobe", "-v", "error", "-show_entries", entries, "-of", "json",
                                file.string()},
                               &text),
              0)
        << file;
    return nlohmann::json::parse(text.empty() ? "{}" : text);
}

double number(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? std::stod(found->get<std::string>()) : 0;
}

struct Cue {
    double start;
    double end;
};

// Per stream: its cues, in order. Empty samples (MP4's gaps between cues) are no cues.
std::map<std::int64_t, std::vector<Cue>> cuesIn(const fs::path& file) {
    std::map<std::int64_t, std::vector<Cue>> cues;
    const auto json = probe(file,
                            "stream=index,codec_type:packet=stream_index,pts_time,"
                            "duration_time,size");
    for (const auto& stream : json.at("streams")) {
        if (stream.value("codec_type", "") == "subtitle") {
            cues[stream.at("index").get<std::int64_t>()];
        }
    }
    for (const auto& packet : json.value("packets", nlohmann::json::array())) {
        const auto found = cues.find(packet.at("stream_index").get<std::int64_t>());
        if (found != cues.end() && number(packet, "size") > 2) {
            const double start = number(packet, "pts_time");
            found->second.push_back({start, start + number(packet, "duration_time")});
        }
    }
    return cues;
}

fs::path written(const fs::path& folder, const std::string& name, const std::string& text) {
    const fs::path file = folder / name;
    std::ofstream(file, std::ios::binary) << text;
    return file;
}

}  // namespace

// A cue across a cut is in both parts, clipped to each, in SRT, ASS and WebVTT streams in
// Matroska and in an MP4 text track; one that began 20 s before a cut reaches the part after it.
TEST(SplitStreamParts, CuesAcrossACutAreClippedIntoBothParts) {
    tavtest::TempDir scratch;
    const auto srt = written(scratch.path(), "a.srt",
                             "1\n00:00:01,000 --> 00:00:02,000\nearly\n\n"
                             "2\n00:00:03,500 --> 00:00:04,600\nacross\n\n"
                             "3\n00:00:10,000 --> 00:00:31,000\nlong\n\n"
                             "4\n00:00:35,000 --> 00:00:36,000\nlate\n");
    const auto ass = written(scratch.path(), "a.ass",
                             "[Script Info]\nScriptType: v4.00+\n\n[V4+ Styles]\n"
                             "Format: Name, Fontname, Fontsize, PrimaryColour\n"
                             "Style: Default,Arial,16,&Hffffff\n\n[Events]\n"
                             "Format: Layer, Start, End, Style, Text\n"
                             "Dialogue: 0,0:00:03.80,0:00:04.40,Default,across\n"
                             "Dialogue: 0,0:00:29.50,0:00:30.50,Default,short\n");
    const auto vtt =
        written(scratch.path(), "a.vtt", "WEBVTT\n\n00:00:03.500 --> 00:00:04.600\nacross\n");
    // 40 s, a keyframe every second.
    const auto made = [](const std::string& name, const std::vector<std::string>& inputs,
                         const std::vector<std::string>& subtitles) {
        std::vector<std::string> arguments = {"-f", "lavfi", "-i",
                                              "testsrc=size=96x64:rate=25:duration=40"};
        arguments.insert(arguments.end(), inputs.begin(), inputs.end());
        arguments.insert(arguments.end(), {"-map", "0", "-c:v", "libx264", "-g", "25", "-bf", "2"});
        arguments.insert(arguments.end(), subtitles.begin(), subtitles.end());
        return tavtest::TestMedia::generate(name, arguments);
    };
    // Parts from 0 to 4 s, 4 to 30 s, and 30 s to the end.
    using Parts = std::vector<std::map<std::int64_t, std::vector<Cue>>>;
    const Parts mkvParts = {
        {{1, {{1, 2}, {3.5, 4}}}, {2, {{3.8, 4}}}, {3, {{3.5, 4}}}},
        {{1, {{0, 0.6}, {6, 26}}}, {2, {{0, 0.4}, {25.5, 26}}}, {3, {{0, 0.6}}}},
        {{1, {{0, 1}, {5, 6}}}, {2, {{0, 0.5}}}, {3, {}}},
    };
    const Parts mp4Parts = {
        {{1, {{1, 2}, {3.5, 4}}}}, {{1, {{0, 0.6}, {6, 26}}}}, {{1, {{0, 1}, {5, 6}}}}};
    const struct {
        fs::path source;
        Parts parts;
    } sources[] = {
        {made("cues.mkv", {"-i", srt.string(), "-i", ass.string(), "-i", vtt.string()},
              {"-map", "1", "-map", "2", "-map", "3", "-c:s", "copy"}),
         mkvParts},
        {made("cues.mp4", {"-i", srt.string()}, {"-map", "1", "-c:s", "mov_text"}), mp4Parts},
    };
    FFmpegProcessor processor(std::make_shared<FoundationProcessRunner>(), ToolLocations{});
    for (const auto& [source, parts] : sources) {
        SCOPED_TRACE(source.filename());
        tavtest::TempDir output;
        const fs::path extension = source.extension();
        const SplitRequest requests[] = {
            {source, output / ("1" + extension.string()), 0, 4.0},
            {source, output / ("2" + extension.string()), 4, 30.0},
            {source, output / ("3" + extension.string()), 30, std::nullopt},
        };
        for (std::size_t at = 0; at < std::size(requests); ++at) {
            SCOPED_TRACE(at + 1);
            processor.process(requests[at], {}, {});
            const auto cues = cuesIn(requests[at].output);
            ASSERT_EQ(cues.size(), parts[at].size());
            for (const auto& [stream, expected] : parts[at]) {
                SCOPED_TRACE(stream);
                const auto& read = cues.at(stream);
                ASSERT_EQ(read.size(), expected.size());
                for (std::size_t cue = 0; cue < read.size(); ++cue) {
                    EXPECT_NEAR(read[cue].start, expected[cue].start, 0.002);
                    EXPECT_NEAR(read[cue].end, expected[cue].end, 0.002);
                }
            }
        }
    }
}

// Audio files and a MOV with a timecode track, split at 4.37 s (the MOV at its keyframe at
// 4 s): each part's header tells its own length, the parts' audio adds up to the source's, and
// the MOV's timecode track starts at the source's timecode plus the cut.
TEST(SplitStreamParts, PartsTellTheirOwnLengthAndTimecode) {
    const std::vector<std::string> sine = {"-f", "lavfi", "-i",
                                           "sine=frequency=440:sample_rate=44100:duration=10"};
    const auto audio = [&](const std::string& name, std::vector<std::string> codec) {
        codec.insert(codec.begin(), sine.begin(), sine.end());
        return tavtest::TestMedia::generate(name, codec);
    };
    auto mov = sine;
    mov.insert(mov.end(), {"-f", "lavfi", "-i", "testsrc=size=96x64:rate=25:duration=10", "-c:v",
                           "libx264", "-g", "25", "-c:a", "aac", "-timecode", "01:00:00:00"});
    const struct {
        fs::path source;
        double cut;
        std::vector<std::string> timecodes;  // per part; none for audio files
    } sources[] = {
        {audio("tone.flac", {"-c:a", "flac"}), 4.37, {}},
        {audio("tone.mp3", {"-c:a", "libmp3lame"}), 4.37, {}},
        {audio("tone.ogg", {"-c:a", "libvorbis"}), 4.37, {}},
        {audio("tone.opus", {"-ar", "48000", "-c:a", "libopus"}), 4.37, {}},
        {audio("tone.m4a", {"-c:a", "aac"}), 4.37, {}},
        {tavtest::TestMedia::generate("timecode.mov", mov), 4, {"01:00:00:00", "01:00:04:00"}},
    };
    FFmpegProcessor processor(std::make_shared<FoundationProcessRunner>(), ToolLocations{});
    for (const auto& [source, cut, timecodes] : sources) {
        SCOPED_TRACE(source.filename());
        tavtest::TempDir output;
        const SplitRequest requests[] = {
            {source, output / ("1" + source.extension().string()), 0, cut},
            {source, output / ("2" + source.extension().string()), cut, std::nullopt}};
        double audioTotal = 0;
        for (std::size_t at = 0; at < std::size(requests); ++at) {
            SCOPED_TRACE(at + 1);
            processor.process(requests[at], {}, {});
            const auto json =
                probe(requests[at].output,
                      "format=duration:stream=index,codec_type,codec_tag_string:stream_tags="
                      "timecode:packet=stream_index,pts_time,duration_time");
            // Each stream's span, from its first packet to the end of its last.
            std::map<std::int64_t, std::pair<double, double>> spans;
            for (const auto& packet : json.value("packets", nlohmann::json::array())) {
                const double start = number(packet, "pts_time");
                const double end = start + number(packet, "duration_time");
                auto [span, fresh] = spans.try_emplace(packet.at("stream_index"), start, end);
                span->second = {std::min(span->second.first, start),
                                std::max(span->second.second, end)};
            }
            double longest = 0;
            std::string timecode;
            for (const auto& stream : json.at("streams")) {
                const auto [start, end] = spans[stream.at("index")];
                const auto kind = stream.value("codec_type", "");
                if (kind == "audio") {
                    audioTotal += end - start;
                }
                if (kind == "data" && stream.value("codec_tag_string", "") == "tmcd") {
                    timecode = stream.value("tags", nlohmann::json::object()).value("timecode", "");
                } else {
                    longest = std::max(longest, end - start);
                }
            }
            EXPECT_NEAR(number(json.at("format"), "duration"), longest, 0.1);
            EXPECT_EQ(timecode, timecodes.empty() ? "" : timecodes[at]);
        }
        EXPECT_NEAR(audioTotal, 10, 0.1);
    }
}
