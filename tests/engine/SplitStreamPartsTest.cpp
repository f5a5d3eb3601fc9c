// Real splits of streams whose content spans time: subtitle cues across a cut, audio files whose
// header states a length, a QuickTime timecode track.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <future>
#include <iterator>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "engine/FFmpegProcessor.h"
#include "engine/split/OutputVerification.h"
#include "process/FoundationProcessRunner.h"
#include "support/CountingRunner.h"
#include "support/SplitCaseMedia.h"
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

namespace {

// The same, decoded by GStreamer (as most Linux players do), at 48 kHz; an audio file at its own
// rate when `resampled` is false.
std::vector<std::int16_t> decodedByGStreamer(const fs::path& file, const fs::path& folder,
                                             bool resampled = true) {
    const fs::path wav = folder / (file.filename().string() + ".wav");
    const std::string sink = "audio/x-raw,format=S16LE,channels=1" +
                             std::string(resampled ? ",rate=48000" : "") +
                             " ! wavenc ! filesink location=" + wav.string();
    std::vector<std::string> command = {"gst-launch-1.0", "-q"};
    if (resampled) {
        command.insert(command.end(), {"playbin", "uri=file://" + fs::absolute(file).string(),
                                       "video-sink=fakesink sync=false",
                                       "audio-sink=audioconvert ! audioresample ! " + sink});
    } else {
        // Each element and property its own argument.
        std::istringstream words("filesrc location=" + file.string() +
                                 " ! decodebin ! audioconvert ! " + sink);
        command.insert(command.end(), std::istream_iterator<std::string>(words), {});
    }
    EXPECT_EQ(tavtest::runTool(command), 0) << file;
    std::ifstream in(wav, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    const auto data = bytes.find("data");
    if (data == std::string::npos) {
        return {};
    }
    std::vector<std::int16_t> samples((bytes.size() - data - 8) / 2);
    std::memcpy(samples.data(), bytes.data() + data + 8, samples.size() * 2);
    return samples;
}

// How part 2 goes on from part 1, both decoded: how many samples of the source lie between
// the end of part 1 and the start of part 2 (negative: repeated), and how far part 2's first
// 100 ms and the rest are from the source's there (RMS of the difference against the source's).
struct Seam {
    long gap = 0;
    double startError = 1;
    double restError = 1;
};

// The RMS of `part`'s samples [from, to) against the source's `at` samples on, relative to the
// source's there; the plain sum of squares when `relative` is false.
double mismatch(const std::vector<std::int16_t>& source, long at,
                const std::vector<std::int16_t>& part, long from, long to, bool relative = true) {
    double difference = 0;
    double power = 0;
    for (long i = from; i < std::min({to, std::ssize(part), std::ssize(source) - at}); ++i) {
        const double said = source[static_cast<std::size_t>(at + i)];
        difference += std::pow(part[static_cast<std::size_t>(i)] - said, 2);
        power += said * said;
    }
    return relative ? std::sqrt(difference / std::max(power, 1.0)) : difference;
}

Seam seamOf(const std::vector<std::int16_t>& source, long partOne,
            const std::vector<std::int16_t>& two, long rate, long frame, long framesBack = 2) {
    const long tenth = rate / 10;
    // Part 2 against the source where it fits best, judged past its first 100 ms.
    Seam seam;
    std::optional<std::pair<double, long>> best;
    for (long gap = -framesBack * frame; gap <= 2 * frame; ++gap) {
        const long at = partOne + gap;
        if (at >= 0) {
            const double error = mismatch(source, at, two, tenth, 2 * tenth, false);
            if (!best || error < best->first) {
                best = {error, gap};
            }
        }
    }
    seam.gap = best->second;
    const long at = partOne + seam.gap;
    seam.startError = mismatch(source, at, two, 0, tenth);
    seam.restError = mismatch(source, at, two, tenth, std::ssize(two));
    return seam;
}

// Decoded by libav with every timestamp gap filled and the start padded from 0, as a player
// keeps sound against pictures (plain `async=1` leaves gaps under 100 ms closed).
std::vector<std::int16_t> decodedInTime(const fs::path& file) {
    std::string bytes;
    EXPECT_EQ(tavtest::runTool({"ffmpeg", "-nostdin", "-v", "error", "-i", file.string(), "-map",
                                "0:a:0", "-af", "aresample=async=1:min_hard_comp=0.001:first_pts=0",
                                "-ac", "1", "-f", "s16le", "-"},
                               &bytes),
              0)
        << file;
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// The source as it plays: in time, or where libav's Ogg reader places some Vorbis packets late
// (a short block after a long one at a page start), decoded from 0 as its granules place it.
std::vector<std::int16_t> sourceInTime(const fs::path& source) {
    const auto streams =
        probe(source, "stream=codec_name").value("streams", nlohmann::json::array());
    const bool vorbis = !streams.empty() && streams.front().value("codec_name", "") == "vorbis";
    return source.extension() == ".ogg" && vorbis ? tavtest::decodedSamples(source)
                                                  : decodedInTime(source);
}

// Where each whole second of `source` lies in `copy`, in samples after it: the best fit of 30 ms
// within 20 ms either way of `lead`.
std::vector<long> secondsOffsets(const std::vector<std::int16_t>& source,
                                 const std::vector<std::int16_t>& copy, long rate, long lead) {
    std::vector<long> offsets;
    const long reach = rate / 50;
    const long window = rate * 3 / 100;
    for (long at = rate;
         at + window + lead + reach < std::min(std::ssize(source), std::ssize(copy)); at += rate) {
        std::optional<std::pair<double, long>> best;
        for (long shift = lead - reach; shift <= lead + reach; shift += 2) {
            double error = 0;
            for (long i = 0; i < window; i += 2) {
                error += std::pow(copy[static_cast<std::size_t>(at + shift + i)] -
                                      source[static_cast<std::size_t>(at + i)],
                                  2);
            }
            if (!best || error < best->first) {
                best = {error, shift};
            }
        }
        offsets.push_back(best->second);
    }
    return offsets;
}

// Each picture's checksum, in the order shown.
std::vector<std::string> pictureSums(const fs::path& file) {
    std::string text;
    tavtest::runTool({"ffmpeg", "-nostdin", "-v", "error", "-i", file.string(), "-map", "0:v:0?",
                      "-an", "-f", "framemd5", "-"},
                     &text);
    std::vector<std::string> sums;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.front() != '#') {
            sums.push_back(line.substr(line.find_last_of(',') + 1));
        }
    }
    return sums;
}

}  // namespace

// Audio files, a MOV with a timecode track, Opus beside video in WebM and Matroska and the files
// with a beep at every second, split at 4.37 s (the others at a keyframe): each part's header
// tells its own length and the MOV's timecode track starts at the source's timecode plus the
// cut. Decoded, part 1 is the source's start, part 2 goes on from it within a codec frame, and
// they add up to the source; where the container can hide the frames that warm its decoder,
// part 2's first 100 ms are the source's within 1 %, in GStreamer too where the row says.
// GStreamer plays an MP3 part's warm-up: no more frames than its reservoir needs, and no noise.
// A range two seconds either side of the cut is the source's there; the two parts joined again
// (in the row's container) play as the source in libav with gaps filled and in GStreamer: every
// whole second within 10 ms of the source's, as long within a frame, the same pictures. Parts in
// the MP4 family and Matroska pass their check from their own index, without ffprobe.
TEST(SplitStreamParts, PartsTellTheirOwnLengthAndTimecodeAndDecodeAsTheSource) {
    // A rising tone, so that a part that is off by any number of samples shows.
    const std::vector<std::string> chirp = {"-f", "lavfi", "-i",
                                            "aevalsrc=0.5*sin(2*PI*(200*t+40*t*t)):s=48000:d=10"};
    const auto audio = [&](const std::string& name, std::vector<std::string> codec) {
        codec.insert(codec.begin(), chirp.begin(), chirp.end());
        return tavtest::TestMedia::generate(name, codec);
    };
    auto mov = chirp;
    mov.insert(mov.end(), {"-f", "lavfi", "-i", "testsrc=size=96x64:rate=25:duration=10", "-c:v",
                           "libx264", "-g", "25", "-c:a", "aac", "-timecode", "01:00:00:00"});
    const fs::path timecoded = tavtest::TestMedia::generate("timecode.mov", mov);
    using tavtest::SplitCase;
    const auto file = tavtest::splitCaseFile;
    // MKV cannot hide the priming of an MP3 file's first frame: its joined sound starts this
    // many samples late in libav.
    constexpr long mp3Priming = 1105;
    struct Row {
        fs::path source;
        double cut;
        std::vector<std::string> timecodes;  // per part; none for audio files
        long frame;                          // samples of one codec frame
        bool warm;                           // whether the container hides a warm-up
        bool gstreamer = false;              // whether GStreamer must hear the same
        long heardFrames = 0;                // MP3: the most frames of warm-up GStreamer may play
        std::string joinAs = ".mkv";
        long rate = 48000;
        long joinLead = 0;
        bool statesWhatPlays = false;  // each part's stated length as libav and GStreamer play it
    };
    const Row sources[] = {
        {audio("chirp.flac", {"-c:a", "flac"}), 4.37, {}, 4608, true},
        {audio("chirp.mp3", {"-c:a", "libmp3lame"}),
         4.37,
         {},
         1152,
         true,
         false,
         0,
         ".mkv",
         48000,
         mp3Priming},
        {audio("chirp.ogg", {"-c:a", "libvorbis"}), 4.37, {}, 2048, false},
        // An Opus part in Ogg or MP4 starts at the frame holding the cut, cold, as ffmpeg's copy
        // does: in Ogg so that its pre-skip, which ffmpeg counts in its length, stays within it.
        {audio("chirp.opus", {"-c:a", "libopus"}),
         4.37,
         {},
         960,
         false,
         false,
         0,
         ".mkv",
         48000,
         0,
         true},
        {audio("chirp-opus.mp4", {"-c:a", "libopus"}),
         4.37,
         {},
         960,
         false,
         false,
         0,
         ".mp4",
         48000,
         0,
         true},
        {audio("chirp.m4a", {"-c:a", "aac"}), 4.37, {}, 1024, true, false, 0, ".mp4"},
        {audio("chirp.mkv", {"-c:a", "aac"}), 4.37, {}, 1024, false},
        {timecoded, 4, {"01:00:00:00", "01:00:04:00"}, 1024, true, false, 0, ".mov"},
        {file(SplitCase::opusMatroska), 5.014, {}, 960, true, true},
        {file(SplitCase::opusWebm), 5.007, {}, 960, true, true, 0, ".webm"},
        {file(SplitCase::mp3), 4.37, {}, 1152, true, false, 2, ".mkv", 44100, mp3Priming},
        {file(SplitCase::beepsAac), 5, {}, 1024, true, false, 0, ".mp4"},
        {file(SplitCase::beepsAc3), 5, {}, 1536, true, false, 0, ".mp4"},
        {file(SplitCase::beepsOpusMatroska), 5.007, {}, 960, true, true},
        {file(SplitCase::beepsOpusWebm), 5.007, {}, 960, true, true, 0, ".webm"},
        {file(SplitCase::beepsVp9Mp4), 5, {}, 960, true, false, 0, ".mp4"},
        {file(SplitCase::beepsMp3), 5.1, {}, 1152, true, false, 0, ".mp3", 44100},
        {file(SplitCase::beepsVorbis), 5.1, {}, 2048, false, false, 0, ".mkv"},
    };
    const auto check = [](const Row& row) {
        const auto& [source, cut, timecodes, frame, warm, gstreamer, heardFrames, joinAs, rate,
                     joinLead, statesWhatPlays] = row;
        const auto runner = std::make_shared<tavtest::CountingRunner>();
        FFmpegProcessor processor(runner, ToolLocations{});
        SCOPED_TRACE(source.filename());
        tavtest::TempDir output;
        const SplitRequest requests[] = {
            // Part 1 from the beginning, as the page asks: whatever starts the source.
            {source, output / ("1" + source.extension().string()),
             -std::numeric_limits<double>::infinity(), cut},
            {source, output / ("2" + source.extension().string()), cut, std::nullopt}};
        std::array<double, 2> stated{};
        for (std::size_t at = 0; at < std::size(requests); ++at) {
            SCOPED_TRACE(at + 1);
            processor.process(requests[at], {}, {});
            const auto json =
                probe(requests[at].output,
                      "format=duration:stream=index,codec_type,codec_tag_string:stream_tags="
                      "timecode:packet=stream_index,pts_time,duration_time");
            // Each stream's span, from its first packet to the end of its last; in the MP4
            // family and Matroska from 0, before which an edit list or the codec delay hides
            // the warm-up.
            const bool edited = source.extension() == ".mkv" ||  // not Ogg, MP3
                                (joinAs != ".mkv" && joinAs != ".mp3");
            std::map<std::int64_t, std::pair<double, double>> spans;
            for (const auto& packet : json.value("packets", nlohmann::json::array())) {
                const double start =
                    edited ? std::max(number(packet, "pts_time"), 0.0) : number(packet, "pts_time");
                const double end = start + number(packet, "duration_time");
                auto [span, fresh] = spans.try_emplace(packet.at("stream_index"), start, end);
                span->second = {std::min(span->second.first, start),
                                std::max(span->second.second, end)};
            }
            double longest = 0;
            std::string timecode;
            for (const auto& stream : json.at("streams")) {
                const auto [start, end] = spans[stream.at("index")];
                if (stream.value("codec_type", "") == "data" &&
                    stream.value("codec_tag_string", "") == "tmcd") {
                    timecode = stream.value("tags", nlohmann::json::object()).value("timecode", "");
                } else {
                    longest = std::max(longest, end - start);
                }
            }
            stated[at] = number(json.at("format"), "duration");
            EXPECT_NEAR(stated[at], longest, 0.1);
            EXPECT_EQ(timecode, timecodes.empty() ? "" : timecodes[at]);
        }
        const auto whole = tavtest::decodedSamples(source);
        const auto one = tavtest::decodedSamples(requests[0].output);
        const auto two = tavtest::decodedSamples(requests[1].output);
        ASSERT_GT(one.size(), 48000u);
        ASSERT_GT(two.size(), 48000u);
        EXPECT_TRUE(std::equal(one.begin(), one.end() - frame, whole.begin()));
        const Seam seam = seamOf(whole, std::ssize(one), two, rate, frame);
        EXPECT_LE(std::abs(seam.gap), frame);
        EXPECT_LE(std::abs(static_cast<long>(one.size() + two.size() - whole.size())), frame);
        // Part 2 ends as the source does, its end trimming kept.
        EXPECT_EQ(std::ssize(one) + seam.gap + std::ssize(two), std::ssize(whole));
        EXPECT_LT(seam.restError, 0.01);
        if (warm) {
            EXPECT_LT(seam.startError, 0.01);
        }
        // The source and both parts as GStreamer decodes them.
        const auto heardAll = [&](bool resampled) {
            return std::array{decodedByGStreamer(source, output.path(), resampled),
                              decodedByGStreamer(requests[0].output, output.path(), resampled),
                              decodedByGStreamer(requests[1].output, output.path(), resampled)};
        };
        if (gstreamer) {
            const auto [heardWhole, heardOne, heardTwo] = heardAll(true);
            const Seam heard = seamOf(heardWhole, std::ssize(heardOne), heardTwo, 48000, frame);
            EXPECT_LE(std::abs(heard.gap), frame);
            EXPECT_LT(heard.startError, 0.01);
        }
        if (statesWhatPlays) {
            const auto [heardWhole, heardOne, heardTwo] = heardAll(true);
            const double within = static_cast<double>(frame) / static_cast<double>(rate);
            EXPECT_NEAR(stated[0], static_cast<double>(one.size()) / rate, within);
            EXPECT_NEAR(stated[1], static_cast<double>(two.size()) / rate, within);
            EXPECT_NEAR(stated[0], static_cast<double>(heardOne.size()) / 48000, within);
            EXPECT_NEAR(stated[1], static_cast<double>(heardTwo.size()) / 48000, within);
        }
        if (heardFrames > 0) {
            // GStreamer ignores the header's delay and plays part 2's warm-up: at most that many
            // frames, each the source's own audio there or silence where its reservoir lies
            // before the part, never noise; from the cut on it is the source.
            const auto [heardWhole, heardOne, heardTwo] = heardAll(false);
            const Seam heard =
                seamOf(heardWhole, std::ssize(heardOne), heardTwo, 48000, frame, heardFrames + 4);
            // Part 1 may end a few samples past the cut frame's start.
            EXPECT_GT(heard.gap, -(heardFrames + 1) * frame);
            EXPECT_LT(heard.restError, 0.01);
            const long at = std::ssize(heardOne) + heard.gap;
            const long warmUp = std::max(-heard.gap, 0L);
            for (long from = 0; from < warmUp; from += frame) {
                SCOPED_TRACE(from);
                EXPECT_LE(mismatch(heardWhole, at, heardTwo, from, std::min(from + frame, warmUp)),
                          1.001);
            }
            EXPECT_LT(mismatch(heardWhole, at, heardTwo, warmUp, warmUp + 4800), 0.01);
        }
        SCOPED_TRACE("range and join");
        const fs::path middle = output / ("3" + source.extension().string());
        processor.process(SplitRequest{source, middle, cut - 2, cut + 2}, {}, {});
        const Seam within =
            seamOf(whole, std::ssize(one) - 2 * rate, tavtest::decodedSamples(middle), rate, frame);
        EXPECT_LE(std::abs(within.gap), frame);
        EXPECT_LT(within.restError, 0.01);
        if (warm) {
            EXPECT_LT(within.startError, 0.01);
        }
        // The check reads the parts in-process: no ffprobe reads them back.
        EXPECT_EQ(runner->countedReads, 0);
        const fs::path joined = output / ("joined" + joinAs);
        processor.process(JoinRequest{{requests[0].output, requests[1].output}, joined}, {}, {});
        EXPECT_LE(
            std::abs(std::ssize(tavtest::decodedSamples(joined)) - std::ssize(whole) - joinLead),
            frame);
        for (const long offset :
             secondsOffsets(sourceInTime(source), decodedInTime(joined), rate, joinLead)) {
            EXPECT_LE(std::abs(offset - joinLead), rate / 100);
        }
        for (const long offset :
             secondsOffsets(decodedByGStreamer(source, output.path()),
                            decodedByGStreamer(joined, output.path()), 48000, 0)) {
            EXPECT_LE(std::abs(offset), 480);
        }
        EXPECT_EQ(pictureSums(joined), pictureSums(source));
    };
    // Four rows at a time, each on its own.
    constexpr std::size_t lanes = 4;
    std::vector<std::future<void>> running;
    for (std::size_t lane = 0; lane < lanes; ++lane) {
        running.push_back(std::async(std::launch::async, [&, lane] {
            for (std::size_t row = lane; row < std::size(sources); row += lanes) {
                check(sources[row]);
            }
        }));
    }
    for (auto& lane : running) {
        lane.get();
    }
}

namespace {

// The largest step between the presentation times of `file`'s first video stream: a picture
// held over a gap shows as a step longer than one frame.
double longestPictureStep(const fs::path& file) {
    std::string text;
    tavtest::runTool({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                      "packet=pts_time", "-of", "csv=p=0", file.string()},
                     &text);
    std::vector<double> times;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) {
            times.push_back(std::stod(line));
        }
    }
    std::ranges::sort(times);
    double longest = 0;
    for (std::size_t i = 1; i < times.size(); ++i) {
        longest = std::max(longest, times[i] - times[i - 1]);
    }
    return longest;
}

// Where `file`'s first picture is shown; 0 without pictures.
double firstPictureTime(const fs::path& file) {
    std::string text;
    tavtest::runTool({"ffprobe", "-v", "error", "-select_streams", "v:0", "-read_intervals", "%+#1",
                      "-show_entries", "packet=pts_time", "-of", "csv=p=0", file.string()},
                     &text);
    return text.empty() ? 0.0 : std::stod(text);
}

}  // namespace

// Each file split at a point and into three ranges that cover it, at three cut times, joined
// again in order into the container Join offers for it plays as the source: every whole
// second's beep within 5 ms of the source's in libav with every gap filled and in GStreamer,
// as long within one audio frame, every picture once, in order, and none held over a gap. The
// joins cover sound alone whose parts hide a warm-up (edit lists, an MP3 header's delay, Opus
// pre-skip), a range whose own start hides one, Matroska parts whose sound runs past their
// last picture, and Vorbis, whose packets' lengths hang on the block before.
TEST(SplitStreamParts, EverySplitJoinedAgainPlaysAsTheSource) {
    using tavtest::SplitCase;
    struct Case {
        SplitCase source;
        std::string joinAs;
        long rate;
        long frame;  // samples of one codec frame
        // Cut times: with pictures on keyframes (a second apart), counted from the first.
        std::array<double, 3> cuts;
        std::array<std::pair<double, double>, 3> ranges;
        // libav starts Opus in Matroska 7 ms late, as ffmpeg's own copy of the source plays.
        long libavLead = 0;
    };
    const std::array<double, 3> soundCuts = {4.0, 5.1, 6.37};
    const std::array<std::pair<double, double>, 3> soundRanges = {
        std::pair{2.5, 7.3}, std::pair{3.6, 6.1}, std::pair{4.87, 8.67}};
    const std::array<double, 3> keyframes = {4, 5, 6};
    const std::array<std::pair<double, double>, 3> keyframeRanges = {
        std::pair{3.0, 6.0}, std::pair{2.0, 7.0}, std::pair{4.0, 8.0}};
    const Case cases[] = {
        {SplitCase::beepsAacM4a, ".mp4", 48000, 1024, soundCuts, soundRanges},
        {SplitCase::beepsAacMov, ".mov", 48000, 1024, soundCuts, soundRanges},
        {SplitCase::beepsEac3Mov, ".mov", 48000, 1536, soundCuts, soundRanges},
        {SplitCase::beepsAc3Alone, ".mp4", 48000, 1536, soundCuts, soundRanges},
        {SplitCase::beepsMp3, ".mp3", 44100, 1152, soundCuts, soundRanges},
        {SplitCase::beepsOpusOgg, ".mkv", 48000, 960, soundCuts, soundRanges, 336},
        {SplitCase::beepsOpusOgg60, ".mkv", 48000, 2880, soundCuts, soundRanges, 336},
        {SplitCase::beepsFlacMatroska, ".mkv", 48000, 4608, keyframes, keyframeRanges},
        {SplitCase::beepsAc3Matroska, ".mkv", 48000, 1536, keyframes, keyframeRanges},
        {SplitCase::beepsOpusMatroska, ".mkv", 48000, 960, keyframes, keyframeRanges},
        {SplitCase::beepsVorbis, ".mkv", 48000, 2048, soundCuts, soundRanges},
        {SplitCase::beepsVorbis, ".webm", 48000, 2048, soundCuts, soundRanges},
        {SplitCase::beepsVorbisWebm, ".webm", 48000, 2048, keyframes, keyframeRanges},
        {SplitCase::beepsVorbisWebm, ".mkv", 48000, 2048, keyframes, keyframeRanges},
    };
    struct Row {
        const Case* file;
        std::vector<std::pair<double, double>> parts;  // in the file's own times
    };
    std::vector<Row> rows;
    for (const auto& file : cases) {
        // Keyframes lie a second apart from the first picture.
        const double first = firstPictureTime(tavtest::splitCaseFile(file.source));
        constexpr double end = std::numeric_limits<double>::infinity();
        for (std::size_t at = 0; at < file.cuts.size(); ++at) {
            const double cut = first + file.cuts[at];
            const auto [from, to] = file.ranges[at];
            rows.push_back({&file, {{-end, cut}, {cut, end}}});
            rows.push_back(
                {&file, {{-end, first + from}, {first + from, first + to}, {first + to, end}}});
        }
    }
    const auto check = [](const Row& row) {
        const fs::path source = tavtest::splitCaseFile(row.file->source);
        std::string trace = source.filename().string();
        for (const auto& [from, to] : row.parts) {
            trace += " " + std::to_string(from) + "-" + std::to_string(to);
        }
        SCOPED_TRACE(trace);
        FFmpegProcessor processor(std::make_shared<FoundationProcessRunner>(), ToolLocations{});
        tavtest::TempDir output;
        JoinRequest join{{}, output / ("joined" + row.file->joinAs)};
        for (const auto& [from, to] : row.parts) {
            const fs::path part =
                output / (std::to_string(join.inputs.size()) + source.extension().string());
            processor.process(
                SplitRequest{source, part, from, std::isinf(to) ? std::nullopt : std::optional(to)},
                {}, {});
            join.inputs.push_back(part);
        }
        processor.process(join, {}, {});
        const long rate = row.file->rate;
        const long lead = row.file->libavLead;
        for (const long offset :
             secondsOffsets(sourceInTime(source), decodedInTime(join.output), rate, lead)) {
            EXPECT_LE(std::abs(offset - lead), rate / 200);
        }
        for (const long offset :
             secondsOffsets(decodedByGStreamer(source, output.path()),
                            decodedByGStreamer(join.output, output.path()), 48000, 0)) {
            EXPECT_LE(std::abs(offset), 240);
        }
        EXPECT_LE(std::abs(std::ssize(tavtest::decodedSamples(join.output)) -
                           std::ssize(tavtest::decodedSamples(source))),
                  row.file->frame);
        const auto pictures = pictureSums(source);
        EXPECT_EQ(pictureSums(join.output), pictures);
        if (!pictures.empty()) {
            EXPECT_LT(longestPictureStep(join.output), 1.5 / 25);
        }
    };
    constexpr std::size_t lanes = 4;
    std::vector<std::future<void>> running;
    for (std::size_t lane = 0; lane < lanes; ++lane) {
        running.push_back(std::async(std::launch::async, [&, lane] {
            for (std::size_t at = lane; at < rows.size(); at += lanes) {
                check(rows[at]);
            }
        }));
    }
    for (auto& lane : running) {
        lane.get();
    }
}

// A chapter that a split cut in two is one chapter again when its parts are joined; every other
// chapter mark stays: where a file's untitled last chapter, to its end, meets the next file's
// untitled first one, and where the cut fell on a mark between two untitled chapters. Matroska
// parts are known by their chapters' IDs, MP4 parts, whose chapters have none, by their mark.
TEST(SplitStreamParts, OnlyTheChapterASplitCutIsOneAgainWhenJoined) {
    tavtest::TempDir output;
    const auto chaptered = [&](const std::string& name, const fs::path& input,
                               const std::string& chapters) {
        const fs::path text = written(output.path(), name + ".txt", ";FFMETADATA1\n" + chapters);
        return tavtest::TestMedia::generate(
            name, {"-i", input.string(), "-i", text.string(), "-map", "0", "-map_chapters", "1",
                   "-c", "copy"});
    };
    const auto chapter = [](long from, long to, const std::string& title) {
        return "[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + std::to_string(from) +
               "\nEND=" + std::to_string(to) + "\n" +
               (title.empty() ? "" : "title=" + title + "\n");
    };
    FFmpegProcessor processor(std::make_shared<FoundationProcessRunner>(), ToolLocations{});
    using Chapters = std::vector<std::pair<std::string, double>>;  // title and start
    struct Row {
        std::string name;
        std::vector<fs::path> inputs;
        Chapters chapters;
    };
    std::vector<Row> rows;
    // Per container: a source with three chapters split at 5 s, or at 4 s on the mark between
    // the first two, and two episodes with two untitled chapters each.
    const struct {
        tavtest::SplitCase beeps;
        std::string extension;
        std::array<std::string, 3> titles;
        std::vector<double> cuts;
    } containers[] = {
        {tavtest::SplitCase::beepsAc3Matroska, ".mkv", {"One", "Two", "Three"}, {5}},
        {tavtest::SplitCase::beepsAac, ".mp4", {"", "", ""}, {5, 4}},
    };
    for (const auto& [beeps, extension, titles, cuts] : containers) {
        const fs::path file = tavtest::splitCaseFile(beeps);
        const fs::path source =
            chaptered("three-chapters" + extension, file,
                      chapter(0, 4000, titles[0]) + chapter(4000, 8000, titles[1]) +
                          chapter(8000, 10000, titles[2]));
        for (const double at : cuts) {
            const double cut = firstPictureTime(source) + at;
            const std::string name =
                extension.substr(1) + "-parts-" + std::to_string(std::lround(at));
            const fs::path one = output / (name + "-1" + extension);
            const fs::path two = output / (name + "-2" + extension);
            processor.process(
                SplitRequest{source, one, -std::numeric_limits<double>::infinity(), cut}, {}, {});
            processor.process(SplitRequest{source, two, cut, std::nullopt}, {}, {});
            rows.push_back({name, {one, two}, {{titles[0], 0}, {titles[1], 4}, {titles[2], 8}}});
        }
        // Its last chapter ends where the file does.
        const fs::path plain = tavtest::TestMedia::generate(
            "episode-plain" + extension,
            {"-i", file.string(), "-t", "5", "-map", "0", "-c", "copy"});
        const auto length = probe(plain, "format=duration");
        const fs::path episode = chaptered(
            "episode" + extension, plain,
            chapter(0, 2000, "") +
                chapter(2000, std::lround(number(length.at("format"), "duration") * 1000), ""));
        rows.push_back({extension.substr(1) + "-episodes",
                        {episode, episode},
                        {{"", 0}, {"", 2}, {"", 5}, {"", 7}}});
    }
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path joined =
            output / (row.name + "-joined" + row.inputs.front().extension().string());
        processor.process(JoinRequest{row.inputs, joined}, {}, {});
        const auto read = probe(joined, "chapter=start_time:chapter_tags=title");
        Chapters chapters;
        for (const auto& each : read.value("chapters", nlohmann::json::array())) {
            chapters.emplace_back(each.value("tags", nlohmann::json::object()).value("title", ""),
                                  std::round(number(each, "start_time")));
        }
        EXPECT_EQ(chapters, row.chapters);
    }
}
