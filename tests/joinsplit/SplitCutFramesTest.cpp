// Real cuts on clips whose frames show their own index: what the Split workspace says about a
// cut is what ffmpeg writes, frame by frame.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <numeric>
#include <optional>
#include <sstream>
#include <string_view>

#include "engine/FFmpegCommandBuilder.h"
#include "engine/FFmpegProcessor.h"
#include "engine/MillisecondTime.h"
#include "joinsplit/SplitSourceConfiguration.h"
#include "joinsplit/SplitSourceStreams.h"
#include "preview/PreviewTimeFormat.h"
#include "probe/MediaProbeError.h"
#include "process/FoundationProcessRunner.h"
#include "support/IndexedClips.h"
#include "support/SplitCaseMedia.h"
#include "support/TempDir.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

// A command line from its words (none of them a path).
std::vector<std::string> words(const std::string& line, std::vector<std::string> more = {}) {
    std::istringstream in(line);
    std::vector<std::string> all{std::istream_iterator<std::string>(in), {}};
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

// ffprobe's report on `arguments` (a file among them), which must read.
std::string probed(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"ffprobe", "-v", "error"});
    std::string text;
    EXPECT_EQ(tavtest::runTool(arguments, &text), 0);
    return text;
}

std::vector<int> indices(int from, int to) {
    std::vector<int> all(static_cast<std::size_t>(to - from));
    std::iota(all.begin(), all.end(), from);
    return all;
}

// The page's configuration of `file` with its keyframes read; `start` is the split point too.
SplitSourceConfiguration configured(const fs::path& file, SplitOperationMode mode,
                                    const std::string& start, const std::string& end,
                                    std::optional<OutputContainer> container,
                                    const SplitKeyframes& keyframes) {
    SplitSourceConfiguration configuration(file);
    configuration.operationMode = mode;
    configuration.splitPointText = configuration.startText = start;
    configuration.endText = end;
    configuration.container = container;
    configuration.keyframes = keyframes;
    return configuration;
}

// At 25 fps with a tone, which these containers interleave with the video: MPEG-4 Part 2 with
// two B-frames and MP3 in AVI; MPEG-2 with open groups of pictures and AC-3 in a VOB. Many
// of their video packets carry a decoding time only.
const std::vector<tavtest::IndexedClip>& decodingTimedClips() {
    const auto made = [](const std::string& name, const std::string& codecs) {
        return tavtest::TestMedia::generate(
            name, words("-f lavfi -i color=c=black:s=320x48:r=25 -f lavfi -i sine=d=6 -frames:v "
                        "150 -vf " +
                        tavtest::indexPattern() + " -pix_fmt yuv420p -q:v 2 -bf 2 " + codecs));
    };
    static const std::vector<tavtest::IndexedClip> clips = {
        {"mpeg4-avi", made("indexed-mpeg4.avi", "-c:v mpeg4 -g 25 -c:a libmp3lame")},
        {"mpeg2-vob", made("indexed-mpeg2.vob", "-c:v mpeg2video -g 12 -c:a ac3 -f vob")},
    };
    return clips;
}

// Every frame of `file`'s first video stream as libav decodes it, whatever its timestamp (a
// packed stream's last picture has none), written as `format`.
std::string libavFrames(const fs::path& file, const std::string& format) {
    auto arguments = words("ffmpeg -v error -nostdin -i", {file.string()});
    const auto rest = words("-map 0:v:0 -fps_mode passthrough -f " + format + " -");
    arguments.insert(arguments.end(), rest.begin(), rest.end());
    std::string written;
    EXPECT_EQ(tavtest::runTool(arguments, &written), 0);
    return written;
}

// An MD5 of each of those frames.
std::vector<std::string> decodedFrames(const fs::path& file) {
    std::vector<std::string> frames;
    std::istringstream lines(libavFrames(file, "framemd5"));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.front() != '#') {
            frames.push_back(line.substr(line.rfind(',') + 1));
        }
    }
    return frames;
}

// Writes the pictures of `file` as GStreamer decodes them to `raw`, in I420. Only the video is
// selected: a decodebin whose sound pads lie unlinked can stall its queues.
void writeGStreamerPictures(const fs::path& file, const fs::path& raw) {
    // The file's URI: names here hold spaces, quotes and non-ASCII letters.
    std::string uri = "file://";
    for (const unsigned char byte : fs::absolute(file).string()) {
        if (std::isalnum(byte) != 0 || std::string_view("/-._~").find(byte) != std::string::npos) {
            uri += static_cast<char>(byte);
        } else {
            constexpr std::string_view hex = "0123456789ABCDEF";
            uri += {'%', hex[byte >> 4], hex[byte & 15]};
        }
    }
    EXPECT_EQ(tavtest::runTool({"gst-launch-1.0", "-q", "playbin", "uri=" + uri, "flags=video",
                                "audio-sink=fakesink",
                                "video-sink=videoconvert ! video/x-raw,format=I420 ! filesink "
                                "location=" +
                                    raw.string()}),
              0)
        << file;
}

// Each picture of `file` as GStreamer decodes it (as most Linux players do), hashed. Each decoder
// is held to its own decode of the source: with the common plugin set GStreamer parses
// MPEG-4 Part 2 itself and shows the last packed picture, which libav drops.
std::vector<std::size_t> gstreamerFrames(const fs::path& file, const fs::path& scratch) {
    const fs::path raw = scratch / (file.filename().string() + ".yuv");
    writeGStreamerPictures(file, raw);
    std::istringstream size(
        probed(words("-select_streams v:0 -show_entries stream=width,height "
                     "-of csv=p=0:s=x",
                     {file.string()})));
    std::size_t width = 0;
    std::size_t height = 0;
    char by = 0;
    size >> width >> by >> height;
    // GStreamer's I420 rows are padded to 4 bytes, its chroma planes cover odd sizes.
    const auto up = [](std::size_t value, std::size_t to) { return (value + to - 1) / to * to; };
    const std::size_t frame =
        up(width, 4) * up(height, 2) + 2 * up(up(width, 2) / 2, 4) * (up(height, 2) / 2);
    std::ifstream in(raw, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    fs::remove(raw);
    EXPECT_GT(frame, 0u);
    EXPECT_EQ(bytes.size() % std::max<std::size_t>(frame, 1), 0u);
    std::vector<std::size_t> frames;
    for (std::size_t at = 0; frame > 0 && at + frame <= bytes.size(); at += frame) {
        frames.push_back(std::hash<std::string_view>{}(std::string_view(bytes).substr(at, frame)));
    }
    return frames;
}

// That GStreamer decodes the pictures of `file` as libav does, for sources GStreamer cannot
// read alone (one picture over sound stops as "not-linked") and no packed stream tells apart.
void expectGStreamerDecodesAsLibav(const fs::path& file, const fs::path& scratch) {
    const fs::path raw = scratch / (file.filename().string() + ".yuv");
    writeGStreamerPictures(file, raw);
    std::ifstream in(raw, std::ios::binary);
    const std::string gstreamer{std::istreambuf_iterator<char>(in), {}};
    const std::string libav = libavFrames(file, "rawvideo -pix_fmt yuv420p");
    EXPECT_FALSE(libav.empty());
    EXPECT_TRUE(gstreamer == libav);
}

// The real tools, and the parts of a configuration written by them.
class SplitCutFrames : public ::testing::Test {
  protected:
    std::vector<SplitRequest> split(const SplitSourceConfiguration& configuration,
                                    const fs::path& folder) {
        std::vector<SplitRequest> parts;
        for (const auto& request : makeSplitRequests(configuration, folder)) {
            processor.process(request, {}, {});
            parts.push_back(*request.as<SplitRequest>());
        }
        return parts;
    }

    const std::shared_ptr<FoundationProcessRunner> runner =
        std::make_shared<FoundationProcessRunner>();
    const SplitKeyframeReader read = makeSplitKeyframeReader();
    FFmpegProcessor processor{runner, ToolLocations{}};
};

}  // namespace

TEST_F(SplitCutFrames, PartsHoldEverySourceFrameOnceFromTheShownCut) {
    const auto& clips = tavtest::indexedClips();
    const auto& untimed = decodingTimedClips();
    // Open groups of pictures: the pictures shown before a cut's keyframe but decoded after it
    // need the group before, so they are in neither part, and the note beside the cut says so;
    // none is ever doubled. AVI and VOB cut by the times their decoder shows, into every
    // container.
    const std::string kDense =
        "-b:v 3M -minrate 3M -maxrate 3M -bufsize 1M -x264-params nal-hrd=cbr";
    const auto own = std::optional<OutputContainer>();
    const struct {
        const tavtest::IndexedClip& clip;
        double rate;
        int frames;
        bool openGroups;
        std::vector<std::optional<OutputContainer>> containers;
    } sources[] = {{clips[0], 25, 150, false, {own, OutputContainer::mkv}},
                   {clips[1], 30000.0 / 1001, 120, false, {own, OutputContainer::mp4}},
                   {clips[3], 30, 90, false, {own, OutputContainer::mkv}},
                   {clips[2], 24, 96, true, {own, OutputContainer::mkv}},
                   {untimed[0], 25, 150, true, {OutputContainer::mkv, OutputContainer::mp4}},
                   {untimed[1], 25, 150, true, {own, OutputContainer::mkv, OutputContainer::mp4}}};
    for (const auto& [clip, rate, count, openGroups, containers] : sources) {
        SCOPED_TRACE(clip.name);
        const SplitKeyframes keyframes = read(clip.file, {});
        ASSERT_GE(keyframes.times.size(), 3u);
        EXPECT_NEAR(keyframes.end * rate, count, 0.01);
        const double frame = 1 / rate;
        const double second = keyframes.times[1];
        const double last = keyframes.times.back();
        const auto frameAt = [&](double seconds) {
            return static_cast<int>(std::lround(seconds * rate));
        };
        // A time anywhere in a group of pictures cuts at its keyframe, so the same real runs
        // carry every cut: a split on the last frame, and a range from one frame after a
        // keyframe, in each container (whose muxers count time in other units).
        struct Cut {
            SplitOperationMode mode;
            double start;  // or the split point
            double end;
            double shownStart;
            double shownEnd;
            bool runs = false;
        };
        const auto atPoint = SplitOperationMode::atPoint;
        const Cut cuts[] = {
            {atPoint, second, 0, second, keyframes.end},
            {atPoint, (second + keyframes.times[2]) / 2, 0, second, keyframes.end},
            {atPoint, second + frame, 0, second, keyframes.end},
            {atPoint, keyframes.end - frame, 0, last, keyframes.end, true},
            {SplitOperationMode::range, second + frame, last + frame, second, last, true}};
        tavtest::TempDir output;
        for (const auto& container : containers) {
            for (const auto& cut : cuts) {
                SCOPED_TRACE(cut.start);
                SCOPED_TRACE(container ? rawValue(*container) : "source's own");
                const auto configuration =
                    configured(clip.file, cut.mode, formatCommandLineSeconds(cut.start),
                               formatCommandLineSeconds(cut.end), container, keyframes);
                const SplitCutPlan plan = planSplitCuts(configuration);
                ASSERT_EQ(plan.error, std::nullopt);
                EXPECT_NEAR(*plan.start, cut.shownStart, 1e-6);
                EXPECT_NEAR(plan.end.value_or(keyframes.end), cut.shownEnd, 1e-6);
                if (!cut.runs) {
                    continue;
                }
                // The cut that ends a part loses the leading pictures of its keyframe.
                const bool whole = cut.mode == atPoint;
                const double ending = whole ? cut.shownStart : cut.shownEnd;
                const int lost = keyframes.lostBefore(ending);
                EXPECT_EQ(lost > 0, openGroups);
                if (lost > 0) {
                    EXPECT_THAT(*(whole ? plan.startNote : plan.endNote),
                                ::testing::EndsWith(" " + std::to_string(lost) +
                                                    (lost == 1 ? " frame" : " frames") +
                                                    " before this keyframe can't be kept "
                                                    "without re-encoding."));
                }
                std::vector<int> frames;
                int lastStart = -1;
                for (const auto& request : split(configuration, output.path())) {
                    const auto part = tavtest::indicesShownIn(request.output);
                    ASSERT_FALSE(part.empty());
                    lastStart = part.front();
                    frames.insert(frames.end(), part.begin(), part.end());
                }
                // Part 2, or the clip, starts on the keyframe shown; part 1 on the first frame. The
                // frames come in order and each once, all of them but the ones the note names.
                EXPECT_EQ(lastStart, frameAt(cut.shownStart));
                const int first = whole ? 0 : frameAt(cut.shownStart);
                std::vector<int> expected;
                for (int frame = first; frame < frameAt(cut.shownEnd); ++frame) {
                    if (frame < frameAt(ending) - lost || frame >= frameAt(ending)) {
                        expected.push_back(frame);
                    }
                }
                EXPECT_EQ(frames, expected);
            }
        }
        // Two parts and a clip per container; nothing else ffmpeg wrote beside them is left.
        EXPECT_EQ(std::distance(fs::directory_iterator(output.path()), fs::directory_iterator()),
                  static_cast<long>(3 * containers.size()));
    }
    // A remux and a join of those sources into Matroska keep every frame once, in order.
    const std::vector<int> once = indices(0, 150);
    std::vector<int> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    tavtest::TempDir output;
    for (const auto& clip : untimed) {
        SCOPED_TRACE(clip.name);
        MediaStream video;
        video.codecName = clip.file.extension() == ".avi" ? "mpeg4" : "mpeg2video";
        MediaStream audio;
        audio.index = 1;
        audio.kind = MediaStreamKind::audio;
        const fs::path remuxed = output / (clip.name + ".mkv");
        processor.process(RemuxRequest{clip.file, remuxed, {video, audio}, {}, {}}, {}, {});
        EXPECT_EQ(tavtest::indicesShownIn(remuxed), once);
        const fs::path joined = output / (clip.name + "-joined.mkv");
        processor.process(JoinRequest{{clip.file, clip.file}, joined}, {}, {});
        EXPECT_EQ(tavtest::indicesShownIn(joined), twice);
    }
    // AVI cannot hold such parts, so the page asks for another container.
    const auto streams = makeSplitStreamReader(runner, ToolLocations{})(untimed[0].file, {});
    EXPECT_THAT(checkSplitStreams(streams, untimed[0].file, std::nullopt).problem,
                ::testing::Optional(::testing::EndsWith("Choose MKV for this file.")));
}

// The sources users met, split where they did: each part holds the source's frames, as libav
// decodes them, once from its cut (less what the page says is lost), and GStreamer shows the
// part after the cut as it shows the source from there. DivX and Xvid pack B-frames and mark the
// placeholder after a packed keyframe as one: the cut is at the I-frame itself (frame 100), shown
// at the time the frame is, and no part keeps the mark. H.264 in AVI without B-frames has no
// presentation times, but its frames are shown in decoding order. The page's times count from
// the first frame shown, in an MP4 whose edit list hides some too.
TEST_F(SplitCutFrames, PartsOfTheSourcesUsersMetHoldTheirFrames) {
    const std::string kDense =
        "-b:v 3M -minrate 3M -maxrate 3M -bufsize 1M -x264-params nal-hrd=cbr";
    const auto own = std::optional<OutputContainer>();
    const auto mkv = OutputContainer::mkv;
    const struct {
        tavtest::SplitCase source;
        const char* point;
        int cutFrame;
        int lost;                     // as the page says
        std::optional<double> shown;  // the cut's time on the page, where a player agrees
        std::vector<std::optional<OutputContainer>> containers;
    } rows[] = {
        // Its own AVI is refused as for any AVI with B-frames (the I-frame shows a frame late).
        {tavtest::SplitCase::packedAvi, "5.1", 100, 1, 4.0, {mkv, OutputContainer::mp4}},
        {tavtest::SplitCase::avi264, "5.1", 125, 0, 5.04, {mkv}},
        {tavtest::SplitCase::trimmedMp4, "5.0", 120, 0, 4.8, {own}},
    };
    tavtest::TempDir output;
    for (const auto& row : rows) {
        const fs::path file = tavtest::splitCaseFile(row.source);
        SCOPED_TRACE(file.filename());
        const auto streams = makeSplitStreamReader(runner, ToolLocations{})(file, {});
        const SplitKeyframes keyframes = read(file, {});
        const auto source = decodedFrames(file);
        ASSERT_GT(source.size(), static_cast<std::size_t>(row.cutFrame));
        const auto heard = gstreamerFrames(file, output.path());
        ASSERT_GT(heard.size(), static_cast<std::size_t>(row.cutFrame));
        for (const auto& container : row.containers) {
            SCOPED_TRACE(container ? rawValue(*container) : "source's own");
            tavtest::TempDir folder;
            auto configuration =
                configured(file, SplitOperationMode::atPoint, row.point, "", container, keyframes);
            configuration.streams = streams;
            ASSERT_EQ(configuration.validationMessage(), std::nullopt);
            const SplitCutPlan plan = planSplitCuts(configuration);
            ASSERT_TRUE(plan.start);
            EXPECT_EQ(keyframes.lostBefore(*plan.start), row.lost);
            if (row.shown) {
                EXPECT_NEAR(*plan.start, *row.shown, 1e-3);
            }
            const auto parts = split(configuration, folder.path());
            ASSERT_EQ(parts.size(), 2u);
            const auto cut = source.begin() + row.cutFrame;
            EXPECT_EQ(decodedFrames(parts[0].output),
                      std::vector<std::string>(source.begin(), cut - row.lost));
            EXPECT_EQ(decodedFrames(parts[1].output), std::vector<std::string>(cut, source.end()));
            EXPECT_EQ(gstreamerFrames(parts[1].output, output.path()),
                      std::vector<std::size_t>(heard.begin() + row.cutFrame, heard.end()));
            // No placeholder is a keyframe a player could seek to (Matroska's reader marks it
            // again from its header, so MP4 tells).
            for (const auto& part : parts) {
                std::istringstream packets(
                    probed({"-select_streams", "v:0", "-show_entries", "packet=size,flags", "-of",
                            "csv=p=0", part.output.string()}));
                for (std::string line;
                     container == OutputContainer::mp4 && std::getline(packets, line);) {
                    EXPECT_FALSE(std::stoi(line) <= 8 && line.find(",K") != std::string::npos);
                }
            }
        }
        // A remux and a join of the AVI sources keep every frame once, in order.
        if (file.extension() != ".avi") {
            continue;
        }
        const fs::path remuxed = output / (file.stem().string() + "-remuxed.mkv");
        processor.process(RemuxRequest{file, remuxed, streams.streams, {}, {}}, {}, {});
        EXPECT_EQ(decodedFrames(remuxed), source);
        const fs::path joined = output / (file.stem().string() + "-joined.mkv");
        processor.process(JoinRequest{{file, file}, joined}, {}, {});
        auto twice = source;
        twice.insert(twice.end(), source.begin(), source.end());
        EXPECT_EQ(decodedFrames(joined), twice);
    }
}

namespace {

struct Chapter {
    double start;
    double end;
    std::string title;
};

// What ffprobe reads back of a part.
struct PartReport {
    std::vector<std::string> kinds;     // per stream: its type, "picture" for an attached picture
    std::vector<std::int64_t> packets;  // per stream
    std::vector<std::string> pictureNames;  // each picture's file name tag (Matroska's)
    std::vector<Chapter> chapters;
    std::optional<double> audioStart;
    double audioEnd = 0;
    double videoEnd = 0;
};

double number(const nlohmann::json& value) {
    return value.is_string() ? std::stod(value.get<std::string>()) : 0.0;
}

PartReport reportOf(const fs::path& file) {
    const auto json = nlohmann::json::parse(
        probed({"-count_packets", "-show_entries",
                "stream=codec_type,nb_read_packets,start_time:stream_disposition=attached_pic:"
                "stream_tags=filename:chapter=start_time,end_time:chapter_tags=title",
                "-show_entries", "packet=stream_index,pts_time,duration_time", "-of", "json",
                file.string()}));
    PartReport report;
    std::vector<double> starts;
    for (const auto& stream : json.at("streams")) {
        starts.push_back(number(stream.value("start_time", nlohmann::json())));
        const bool picture =
            stream.value("disposition", nlohmann::json::object()).value("attached_pic", 0) == 1;
        report.kinds.push_back(picture ? "picture" : stream.value("codec_type", ""));
        report.packets.push_back(std::stoll(stream.value("nb_read_packets", "0")));
        if (picture) {
            report.pictureNames.push_back(
                stream.value("tags", nlohmann::json::object()).value("filename", ""));
        }
    }
    for (const auto& chapter : json.value("chapters", nlohmann::json::array())) {
        report.chapters.push_back(
            {number(chapter.value("start_time", nlohmann::json())),
             number(chapter.value("end_time", nlohmann::json())),
             chapter.value("tags", nlohmann::json::object()).value("title", "")});
    }
    for (const auto& packet : json.value("packets", nlohmann::json::array())) {
        const auto index = packet.at("stream_index").get<std::size_t>();
        const std::string& kind = report.kinds.at(index);
        const double start = number(packet.value("pts_time", nlohmann::json()));
        const double end = start + number(packet.value("duration_time", nlohmann::json()));
        // Audio read before a cut to warm the decoder, hidden before the stream's start, is
        // not the part's own; what is starts at the stream's start.
        if (kind == "audio" && start < starts[index] - 0.002) {
            --report.packets[index];
        } else if (kind == "audio") {
            const double shown = start - starts[index];
            report.audioStart = std::min(report.audioStart.value_or(shown), shown);
            report.audioEnd = std::max(report.audioEnd, end);
        } else if (kind == "video") {
            report.videoEnd = std::max(report.videoEnd, end);
        }
    }
    return report;
}

}  // namespace

// A 10 s source with three chapters and cover art, split at 5 s in each container that holds
// both: each part keeps the chapters of its span, counted from its start, and the picture; the
// audio timed before the cut stays in part 1, so every packet is in one part.
TEST_F(SplitCutFrames, PartsKeepTheirChaptersCoverArtAndTheAudioBeforeTheCut) {
    tavtest::TempDir scratch;
    const fs::path chapters = scratch / "chapters.ffmetadata";
    std::ofstream(chapters) << ";FFMETADATA1\n"
                            << "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=3000\ntitle=One\n"
                            << "[CHAPTER]\nTIMEBASE=1/1000\nSTART=3000\nEND=7000\ntitle=Two\n"
                            << "[CHAPTER]\nTIMEBASE=1/1000\nSTART=7000\nEND=10000\ntitle=Three\n";
    const fs::path cover = tavtest::TestMedia::generate(
        "cover.png", {"-f", "lavfi", "-i", "color=c=red:s=64x64", "-frames:v", "1"});
    // Inputs: 0 video (30 fps, two B-frames, a keyframe every second), 1 audio, 2 chapters,
    // 3 cover; then the maps and codecs.
    const auto inputs = words(
        "-f lavfi -i testsrc=size=160x120:rate=30:duration=10 -f lavfi -i "
        "sine=frequency=440:sample_rate=48000:duration=10 -f ffmetadata",
        {"-i", chapters.string(), "-i", cover.string(), "-map_metadata", "2", "-map_chapters",
         "2"});
    const std::string h264 =
        " -c:v:0 libx264 -g:v:0 30 -keyint_min:v:0 30 -sc_threshold:v:0 0 "
        "-bf:v:0 2 -x264-params:v:0 b-adapt=0 -c:a aac";
    const std::string picture = " -c:v png -disposition:v attached_pic";
    const auto made = [&](const std::string& name, const std::string& rest,
                          std::vector<std::string> more = {}) {
        auto arguments = inputs;
        const auto added = words(rest, std::move(more));
        arguments.insert(arguments.end(), added.begin(), added.end());
        return tavtest::TestMedia::generate(name, arguments);
    };
    const struct {
        fs::path file;
        double audioFrame;  // seconds
    } sources[] = {
        {made("chapters-cover.mp4",
              "-map 0 -map 1 -map 3" + h264 + " -c:v:1 png -disposition:v:1 attached_pic"),
         1024.0 / 48000},
        {made("chapters-cover.mkv", "-map 0 -map 1" + h264,
              {"-attach", cover.string(), "-metadata:s:t", "mimetype=image/png", "-metadata:s:t",
               "filename=cover.png"}),
         1024.0 / 48000},
        {made("chapters-cover.m4a", "-map 1 -map 3 -c:a aac" + picture), 1024.0 / 48000},
        {made("chapters-cover.mp3", "-map 1 -map 3 -c:a libmp3lame" + picture), 1152.0 / 48000},
    };
    for (const auto& [file, audioFrame] : sources) {
        SCOPED_TRACE(file.filename());
        const PartReport source = reportOf(file);
        const auto configuration =
            configured(file, SplitOperationMode::atPoint, "5", "", std::nullopt, read(file, {}));
        tavtest::TempDir output;
        const auto written = split(configuration, output.path());
        ASSERT_EQ(written.size(), 2u);
        // The cut in the file's own time (Matroska's video starts after the audio's priming).
        const double cut = written[1].startTime;
        EXPECT_NEAR(cut, 5, 0.05);
        const std::vector<PartReport> parts = {reportOf(written[0].output),
                                               reportOf(written[1].output)};
        const std::vector<std::vector<Chapter>> spans = {
            {{0, 3, "One"}, {3, cut, "Two"}}, {{0, 7 - cut, "Two"}, {7 - cut, 10 - cut, "Three"}}};
        for (std::size_t at = 0; at < parts.size(); ++at) {
            SCOPED_TRACE(at == 0 ? "part 1" : "part 2");
            const PartReport& part = parts[at];
            EXPECT_EQ(part.kinds, source.kinds);
            EXPECT_EQ(part.pictureNames, source.pictureNames);
            ASSERT_EQ(part.chapters.size(), spans[at].size());
            for (std::size_t chapter = 0; chapter < spans[at].size(); ++chapter) {
                EXPECT_NEAR(part.chapters[chapter].start, spans[at][chapter].start, 0.002);
                EXPECT_NEAR(part.chapters[chapter].end, spans[at][chapter].end, 0.05);
                EXPECT_EQ(part.chapters[chapter].title, spans[at][chapter].title);
            }
        }
        // Every packet in one part, the picture in both.
        for (std::size_t stream = 0; stream < source.kinds.size(); ++stream) {
            SCOPED_TRACE(source.kinds[stream]);
            if (source.kinds[stream] == "picture") {
                EXPECT_EQ(parts[0].packets[stream], 1);
                EXPECT_EQ(parts[1].packets[stream], 1);
            } else if (source.kinds[stream] != "data") {
                EXPECT_EQ(parts[0].packets[stream] + parts[1].packets[stream],
                          source.packets[stream]);
            }
        }
        // Audio alone: the note beside the cut says where it lands, the end of part 1.
        if (configuration.keyframes->times.empty()) {
            EXPECT_THAT(*planSplitCuts(configuration).startNote,
                        ::testing::StartsWith("Cuts the audio at " +
                                              formatPreviewTimecode(parts[0].audioEnd) + ","));
        }
        // Part 1's audio runs to its cut, part 2's starts there.
        const double partOneEnd = source.videoEnd > 0 ? parts[0].videoEnd : cut;
        EXPECT_NEAR(parts[0].audioEnd, partOneEnd, audioFrame);
        ASSERT_TRUE(parts[1].audioStart.has_value());
        EXPECT_NEAR(*parts[1].audioStart, 0, audioFrame);
    }
}

// Output folders with long paths: parts written exactly and nothing hidden left beside them, or,
// where a name would pass the system's limit, a refusal before anything is queued.
TEST_F(SplitCutFrames, LongFolderPathsGetExactPartsOrARefusal) {
    const auto& clip = tavtest::indexedClips()[0];  // 150 frames, keyframes every 50
    const auto configuration = configured(clip.file, SplitOperationMode::atPoint, "2.5", "",
                                          std::nullopt, read(clip.file, {}));
    tavtest::TempDir root;
    for (std::size_t bytes : {1100u, 4000u}) {
        SCOPED_TRACE(bytes);
        fs::path folder = root.path();
        while (folder.string().size() + 1 < bytes) {
            folder /=
                std::string(std::min<std::size_t>(bytes - folder.string().size() - 1, 200), 'd');
        }
        fs::create_directories(folder);
        ASSERT_EQ(splitWorkspaceValidationMessage({configuration}, folder), std::nullopt);
        std::vector<int> frames;
        for (const auto& part : split(configuration, folder)) {
            const auto shown = tavtest::indicesShownIn(part.output);
            frames.insert(frames.end(), shown.begin(), shown.end());
        }
        EXPECT_EQ(frames, indices(0, 150));
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names,
                  (std::vector<std::string>{"indexed-h264-part-1.mp4", "indexed-h264-part-2.mp4"}));
    }
    // A longer name there would pass the limit: refused, named, before anything runs.
    fs::path folder = root.path();
    while (folder.string().size() < 4000) {
        folder /= std::string(200, 'd');
    }
    SplitSourceConfiguration longName = configuration;
    longName.file = clip.file.parent_path() / (std::string(120, 'n') + ".mp4");
    EXPECT_EQ(splitWorkspaceValidationMessage({longName}, folder),
              "Choose an output folder with a shorter path: \u201C" + std::string(120, 'n') +
                  "-part-1.mp4\u201D would pass the system\u2019s limit of 4,096 bytes in this "
                  "one.");
}

namespace {

// How many packets of the first video stream of `file` (cover art aside) ffprobe reads.
std::int64_t videoPacketsIn(const fs::path& file) {
    const std::string text = probed({"-select_streams", "V:0", "-count_packets", "-show_entries",
                                     "stream=nb_read_packets", "-of", "csv=p=0", file.string()});
    return text.empty() ? 0 : std::stoll(text);
}

// Times libav reads in `file`, sorted: each of its first video stream's decoded frames ("v:0",
// "frame"), or each audio packet ("a:0", "packet").
std::vector<double> timesIn(const fs::path& file, const std::string& stream,
                            const std::string& entry) {
    // A program stream leaves out many presentation times (how many depends on how the encoder
    // sliced its pictures, so on the cores that made it): a frame is timed as the decoder shows
    // it, and a packet without a time is none of the times counted.
    const std::string field = entry == "frame" ? "best_effort_timestamp_time" : "pts_time";
    std::istringstream lines(
        probed({"-select_streams", stream, "-show_entries", entry + "=" + field, "-of",
                "default=nw=1:nk=1", file.string()}));
    std::vector<double> times;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line != "N/A") {
            times.push_back(std::stod(line));
        }
    }
    std::sort(times.begin(), times.end());
    return times;
}

// That a source audio packet is timed at `time`, within 2 ms.
void expectSourcePacketAt(const std::vector<double>& sourceAudio, double time) {
    const auto near = std::lower_bound(sourceAudio.begin(), sourceAudio.end(), time - 0.002);
    ASSERT_NE(near, sourceAudio.end());
    EXPECT_NEAR(*near, time, 0.002);
}

}  // namespace

// Right parts a check once refused, split through the page's rules at a point and to a range:
// video 21 ms after its audio (an MP4 copied from Matroska with AAC), a variable frame rate
// (50 fps, then 10 fps, no packet durations stored), video a second after its audio, audio
// alone. Every part is kept holding the video packets the page counted for it, and the two
// parts of a split hold every packet of the source but the ones the page says are lost.
TEST_F(SplitCutFrames, RightPartsAreKeptWithTheFramesThePageCounted) {
    using tavtest::TestMedia;
    const fs::path tone = TestMedia::generate(
        "tone-only.m4a", words("-f lavfi -i sine=sample_rate=44100:duration=10 -c:a aac"));
    const fs::path picture = TestMedia::generate(
        "video-only.mp4",
        words("-f lavfi -i testsrc=size=160x120:rate=25:duration=9 -c:v libx264 -g 25"));
    const fs::path matroska = TestMedia::generate(
        "after-audio.mkv", words("-f lavfi -i testsrc=size=160x120:rate=25:duration=12 -f lavfi "
                                 "-i sine=sample_rate=48000:duration=12 -c:v libx264 -g 25 -bf 2 "
                                 "-c:a aac"));
    const struct {
        fs::path file;
        const char* point;
        const char* start;
        const char* end;
    } sources[] = {
        {TestMedia::generate("after-audio.mp4", {"-i", matroska.string(), "-c", "copy"}), "5",
         "2.5", "9"},
        {TestMedia::generate(
             "variable-rate.mkv",
             words("-f lavfi -i testsrc=size=160x120:rate=50:duration=7 -f lavfi -i "
                   "testsrc=size=160x120:rate=10:duration=6 -filter_complex "
                   "[0:v][1:v]concat=n=2:v=1:a=0 -fps_mode vfr -c:v libx264 -bf 0 "
                   "-force_key_frames expr:gte(t,n_forced*0.5)")),
         "8.2", "5.5", "9"},
        {TestMedia::generate("late-video.mp4",
                             {"-i", tone.string(), "-itsoffset", "1", "-i", picture.string(),
                              "-map", "1", "-map", "0", "-c", "copy"}),
         "4", "0", "3"},
        {tone, "4.37", "1", "6.5"},
    };
    for (const auto& [file, point, start, end] : sources) {
        SCOPED_TRACE(file.filename());
        const SplitKeyframes keyframes = read(file, {});
        const bool video = !keyframes.times.empty();
        for (const auto mode : {SplitOperationMode::atPoint, SplitOperationMode::range}) {
            const bool atPoint = mode == SplitOperationMode::atPoint;
            tavtest::TempDir output;
            std::int64_t packets = 0;
            for (const auto& part : split(
                     configured(file, mode, atPoint ? point : start, end, std::nullopt, keyframes),
                     output.path())) {
                SCOPED_TRACE(part.output.filename());
                ASSERT_EQ(part.frames.has_value(), video);
                if (video) {
                    EXPECT_EQ(videoPacketsIn(part.output), part.frames->packets);
                    packets += part.frames->packets + part.frames->lostAtEnd;
                }
            }
            if (atPoint && video) {
                EXPECT_EQ(packets, videoPacketsIn(file));
            }
        }
    }
}

namespace {

// Where `part` fits `source` best within `search` samples of `at`, and the RMS of the
// difference there against the source's.
std::pair<long, double> placed(const std::vector<std::int16_t>& source,
                               const std::vector<std::int16_t>& part, long at, long search) {
    std::pair<long, double> best{at, 1.0};
    for (long offset = std::max(at - search, 0L); offset <= at + search; ++offset) {
        double difference = 0;
        double power = 0;
        for (std::size_t i = 0; i < part.size() && offset + i < source.size(); ++i) {
            const double d = static_cast<double>(part[i]) - source[offset + i];
            difference += d * d;
            power += static_cast<double>(source[offset + i]) * source[offset + i];
            if (i == 4096 && difference > power * 1e-4) {
                break;  // no fit here
            }
        }
        const double error = std::sqrt(difference / std::max(power, 1.0));
        if (error < best.second) {
            best = {offset, error};
        }
    }
    return best;
}

}  // namespace

// The cases users met, queued as the page queues them: every part is kept and holds the frames
// of its span once, in the source's times from its first at 0, its sound where the source's is;
// an MP3 clip plays the source's samples for as long as the range. A variable rate's last frame
// before a keyframe lasts longer than any other; a broadcast's clock rolls over before the cut
// and its keyframe there has two leading pictures. An MPEG program stream's part plays whole in
// GStreamer; FLAC goes into MP4 as ffmpeg 5.1 writes it when asked; one picture over sound is
// in every part, which is cut as the sound is. A clock that jumps (a
// chained Ogg, a capture that skipped) is refused before anything is queued, and the remux the
// sentence asks for splits right.
TEST_F(SplitCutFrames, NamedCasesComeOutWholeThroughThePage) {
    using tavtest::SplitCase;
    const std::string kDense =
        "-b:v 3M -minrate 3M -maxrate 3M -bufsize 1M -x264-params nal-hrd=cbr";
    const auto own = std::optional<OutputContainer>();
    const auto range = SplitOperationMode::range;
    const auto atPoint = SplitOperationMode::atPoint;
    const struct {
        SplitCase source;
        SplitOperationMode mode;
        const char* start;  // or the split point
        const char* end;
        std::optional<OutputContainer> container;
        std::vector<std::pair<int, int>> parts;  // each one's first frame shown, and its count
        bool gstreamer = false;                  // GStreamer shows each part's pictures too
        // Refused on the page with this in its sentence; where its remedy is a remux into MKV,
        // the remuxed file is split.
        const char* refusal = nullptr;
        bool remuxed = false;
        const char* length = nullptr;  // the End the page shows before any is typed
        double sound = 0;              // seconds of the source's sound each part plays
    } rows[] = {
        {SplitCase::vfr, range, "5.5", "9.0", own, {{120, 80}}},
        {SplitCase::broadcast, atPoint, "20", "", own, {{0, 490}, {492, 1008}}},
        {SplitCase::broadcast, atPoint, "20", "", OutputContainer::mkv, {{0, 490}, {492, 1008}}},
        {SplitCase::broadcast, range, "0", "20", own, {{0, 490}}},
        {SplitCase::mpeg1Program, range, "3.1", "6.1", own, {{72, 70}}, true},
        {SplitCase::flacMp4, atPoint, "5.1", "", own, {{0, 125}, {125, 125}}},
        {SplitCase::onePicture, range, "0", "3.1", own, {{0, 1}}, true},
        {SplitCase::onePicture, range, "3.1", "6.1", own, {{0, 1}}, true},
        {SplitCase::clockJump,
         range,
         "3.1",
         "6.1",
         own,
         {{75, 75}},
         false,
         "jumps 85 s ahead",
         true},
        {SplitCase::chainedOgg,
         atPoint,
         "7.5",
         "",
         own,
         {{0, 0}, {0, 0}},
         false,
         "jumps 6 s back",
         true},
        // The files people have. A DVD's navigation stream is left out of its parts.
        {SplitCase::dvdTitle, range, "7.3", "13.7", own, {{180, 150}}, true, nullptr, false, "20"},
        {SplitCase::dvdTitle, atPoint, "10.1", "", own, {{0, 240}, {240, 260}}, true},
        {SplitCase::dvdTitle, atPoint, "10.1", "", OutputContainer::mkv, {{0, 240}, {240, 260}}},
        {SplitCase::mkvmergeOpus,
         range,
         "7.3",
         "13.7",
         own,
         {{0, 0}},
         false,
         nullptr,
         false,
         nullptr,
         6.4},
        {SplitCase::programChange,
         range,
         "3.1",
         "6.1",
         own,
         {},
         false,
         "goes on in another stream (stream 2) 5 s in"},
        {SplitCase::editedMp4, range, "3.1", "6.1", own, {}, false, "plays pieces of its video"},
        {SplitCase::aviMp3,
         range,
         "0",
         "",
         own,
         {},
         false,
         "no presentation times",
         false,
         "12.096"},
    };
    for (const auto& row : rows) {
        fs::path file = tavtest::splitCaseFile(row.source);
        SCOPED_TRACE(file.filename().string() + " " + row.start + "-" + row.end);
        tavtest::TempDir output;
        // As the page reads it: where it can be cut, then its streams, also when refused.
        SplitSourceConfiguration configuration(file);
        try {
            configuration =
                configured(file, row.mode, row.start, row.end, row.container, read(file, {}));
        } catch (const MediaProbeError& error) {
            configuration.keyframeError = error.what();
        }
        configuration.streams = makeSplitStreamReader(runner, ToolLocations{})(file, {});
        if (row.length) {
            auto shown = configuration;
            shown.showFileLength();
            EXPECT_EQ(shown.endText, row.length);
        }
        if (row.refusal) {
            const auto said = configuration.validationMessage();
            ASSERT_THAT(said, ::testing::Optional(::testing::HasSubstr(row.refusal)));
            if (!row.remuxed) {
                continue;
            }
            EXPECT_THAT(*said, ::testing::EndsWith("Remux it first, which runs its clock on over "
                                                   "the jump, and split the remuxed file."));
            const fs::path remuxed = output / (file.stem().string() + "-remuxed.mkv");
            processor.process(RemuxRequest{file, remuxed, configuration.streams->streams, {}, {}},
                              {}, {});
            file = remuxed;
            configuration =
                configured(file, row.mode, row.start, row.end, row.container, read(file, {}));
            configuration.streams = makeSplitStreamReader(runner, ToolLocations{})(file, {});
        }
        const auto sourceFrames = timesIn(file, "v:0", "frame");
        const auto sourceAudio = timesIn(file, "a:0", "packet");
        ASSERT_EQ(configuration.validationMessage(), std::nullopt);
        const auto parts = split(configuration, output.path());
        ASSERT_EQ(parts.size(), row.parts.size());
        for (std::size_t at = 0; at < parts.size(); ++at) {
            SCOPED_TRACE(parts[at].output.filename());
            const auto [first, count] = row.parts[at];
            const auto frames = timesIn(parts[at].output, "v:0", "frame");
            const auto audio = timesIn(parts[at].output, "a:0", "packet");
            ASSERT_EQ(frames.size(), static_cast<std::size_t>(count));
            ASSERT_FALSE(audio.empty());
            // Audio alone, or under one picture, starts where the part does.
            const double shift =
                count <= 1 ? std::max(parts[at].startTime, 0.0)
                           : sourceFrames.at(static_cast<std::size_t>(first)) - frames.front();
            if (first > 0) {
                EXPECT_NEAR(frames.front(), FFmpegCommandBuilder::splitPartZero(parts[at].output),
                            0.001);
            }
            for (std::size_t frame = 0; count > 1 && frame < frames.size(); ++frame) {
                ASSERT_NEAR(frames[frame] + shift,
                            sourceFrames[static_cast<std::size_t>(first) + frame], 0.002)
                    << frame;
            }
            expectSourcePacketAt(sourceAudio, audio.front() + shift);
            if (row.sound > 0) {
                const auto samples = tavtest::decodedSamples(parts[at].output);
                EXPECT_NEAR(static_cast<double>(samples.size()) / 48000, row.sound, 0.02);
            }
            if (row.gstreamer) {
                expectGStreamerDecodesAsLibav(parts[at].output, output.path());
            }
        }
    }
}

// MP3 cut as the page cuts audio alone, on the first frame at or after each time asked, as the
// note beside the start says: a clip from the middle of a song and one to its end, and half an
// hour of 32 kb/s MP3 (a user's three hours, made the same way, take longer to make than a test
// run affords) in three ranges and at a point. Each part is the source's samples from that frame
// to the one its end lands on, or to the source's end exactly (its last frame and end trimming),
// past its first frames (four frames of warm-up do not make them exact at 32 kb/s).
TEST_F(SplitCutFrames, Mp3PartsAreTheSourcesSamplesFromWhereThePageSays) {
    using tavtest::SplitCase;
    const auto range = SplitOperationMode::range;
    const struct {
        SplitCase source;
        long rate;
        long frame;  // samples
        SplitOperationMode mode;
        const char* start;  // or the split point
        const char* end;    // none: the source's end
    } rows[] = {
        {SplitCase::mp3, 44100, 1152, range, "2.5", "7.5"},
        {SplitCase::mp3, 44100, 1152, range, "7.5", ""},
        {SplitCase::mp3HalfHour, 22050, 576, range, "0", "600"},
        {SplitCase::mp3HalfHour, 22050, 576, range, "600", "1200"},
        {SplitCase::mp3HalfHour, 22050, 576, range, "1200", ""},
        {SplitCase::mp3HalfHour, 22050, 576, SplitOperationMode::atPoint, "900.5", ""},
    };
    for (const auto& row : rows) {
        const fs::path file = tavtest::splitCaseFile(row.source);
        SCOPED_TRACE(file.filename().string() + " " + row.start + "-" + row.end);
        const SplitKeyframes frames = read(file, {});
        const auto whole = tavtest::decodedSamples(file);
        const double sourceStart = std::stod(
            probed({"-show_entries", "format=start_time", "-of", "csv=p=0", file.string()}));
        // The frame a cut at `time` (the source's own) lands on, and where it is in the
        // source's samples (none: their end).
        const auto landsAt = [&](double time) -> std::optional<double> {
            const auto frame = std::lower_bound(frames.audioFrames.begin(),
                                                frames.audioFrames.end(), time - 0.001);
            return frame == frames.audioFrames.end() ? std::nullopt : std::optional(*frame);
        };
        const auto sampleAt = [&](std::optional<double> time) {
            return time ? std::lround((*time - sourceStart) * static_cast<double>(row.rate))
                        : static_cast<long>(whole.size());
        };
        const std::string end = *row.end ? row.end : formatCommandLineSeconds(frames.end);
        const auto configuration = configured(file, row.mode, row.start, end, {}, frames);
        const auto note = planSplitCuts(configuration).startNote;
        tavtest::TempDir output;
        for (const auto& part : split(configuration, output.path())) {
            SCOPED_TRACE(part.output.filename());
            const auto samples = tavtest::decodedSamples(part.output);
            long from = 0;
            if (part.startTime > frames.origin) {
                from = sampleAt(landsAt(part.startTime));
                EXPECT_THAT(*note,
                            ::testing::StartsWith("Cuts the audio at " +
                                                  formatPreviewTimecode(*landsAt(part.startTime))));
            }
            const long to = sampleAt(part.endTime ? landsAt(*part.endTime) : std::nullopt);
            ASSERT_FALSE(samples.empty());
            const auto [offset, error] = placed(whole, samples, from, 2 * row.frame);
            EXPECT_NEAR(offset, from, 2);
            EXPECT_LT(error, 0.001);
            // A part to the source's end holds its last frame and its end trimming.
            EXPECT_NEAR(offset + std::ssize(samples), to, part.endTime ? row.frame : 0);
        }
    }
}

// A recording an hour in, one whose 33-bit clock rolls over 4.3 s in (libav reads it from
// -4.34 s), MP4/MOV whose video counts time at 1/2500, 1/2400 or 1/600 with B-frames, and a
// fragmented MP4 whose video starts 80 ms after its first (priming) audio packet,
// split at a point, to a range and to a range from 0 through the page's rules into several
// containers: every part's frames are decoded by libav, exactly the span's, the first at the
// cut and at time 0, and its sound sits where the source's does, within 2 ms.
TEST_F(SplitCutFrames, LateStartsAndCoarseTimeBasesGiveExactPartsFromZero) {
    const auto source = [](const std::string& name, const std::string& rate,
                           const std::string& more) {
        return tavtest::TestMedia::generate(
            name, words("-f lavfi -i testsrc=size=160x120:rate=" + rate +
                        ":duration=10 -f lavfi -i sine=sample_rate=48000:duration=10 -c:v "
                        "libx264 -g " +
                        rate + " -keyint_min " + rate + " -sc_threshold 0 -bf 2 -c:a aac " + more));
    };
    const std::string kDense =
        "-b:v 3M -minrate 3M -maxrate 3M -bufsize 1M -x264-params nal-hrd=cbr";
    const auto own = std::optional<OutputContainer>();
    const auto mkv = OutputContainer::mkv;
    const auto mp4 = OutputContainer::mp4;
    const struct {
        fs::path file;
        double rate;
        std::vector<std::optional<OutputContainer>> containers;
    } sources[] = {
        {source("late.ts", "25", "-output_ts_offset 3600"), 25, {own, mkv, mp4}},
        {source("rollover.ts", "25", "-output_ts_offset 95438"), 25, {own, mkv, mp4}},
        {source("coarse-2500.mp4", "25", "-video_track_timescale 2500"), 25, {own, mkv}},
        {source("coarse-2400.mov", "24", "-video_track_timescale 2400"), 24, {own, mp4}},
        {source("coarse-600.mp4", "24", "-video_track_timescale 600"), 24, {own}},
        {source("fragmented.mp4", "25", "-movflags frag_keyframe+empty_moov"), 25, {own, mkv}},
        // Rates at which the video is read a second time rather than filtered.
        {source("dense.mp4", "25", kDense), 25, {own, mkv}},
        {source("dense.mkv", "25", kDense), 25, {own}},
    };
    // Spans in seconds from the first frame: the cuts fall on the keyframes before.
    const struct {
        SplitOperationMode mode;
        const char* start;  // or the split point
        const char* end;
        std::vector<std::pair<double, double>> spans;
    } cuts[] = {{SplitOperationMode::atPoint, "4.2", "", {{0, 4}, {4, 10}}},
                {SplitOperationMode::range, "2.5", "7.5", {{2, 7}}},
                {SplitOperationMode::range, "0", "3.5", {{0, 3}}}};
    for (const auto& [file, rate, containers] : sources) {
        SCOPED_TRACE(file.filename());
        const SplitKeyframes keyframes = read(file, {});
        const auto sourceFrames = timesIn(file, "v:0", "frame");
        ASSERT_EQ(sourceFrames.size(), static_cast<std::size_t>(10 * rate));
        const auto sourceAudio = timesIn(file, "a:0", "packet");
        // How much later than its sound the source's picture starts (a fragmented MP4's 80 ms).
        const double videoLate = std::max(sourceFrames.front() - sourceAudio.front(), 0.0);
        for (const auto& container : containers) {
            SCOPED_TRACE(container ? rawValue(*container) : "source's own");
            for (const auto& [mode, start, end, spans] : cuts) {
                tavtest::TempDir output;
                const auto parts =
                    split(configured(file, mode, start, end, container, keyframes), output.path());
                ASSERT_EQ(parts.size(), spans.size());
                for (std::size_t at = 0; at < parts.size(); ++at) {
                    SCOPED_TRACE(parts[at].output.filename());
                    const auto frames = timesIn(parts[at].output, "v:0", "frame");
                    const auto audio = timesIn(parts[at].output, "a:0", "packet");
                    const auto [from, to] = spans[at];
                    ASSERT_EQ(frames.size(), static_cast<std::size_t>((to - from) * rate));
                    ASSERT_FALSE(audio.empty());
                    // The first frame shown is the cut's, at 0; a part from the beginning
                    // starts where the source's sound starts, an hour in or not.
                    EXPECT_GE(frames.front(), -0.0005);
                    EXPECT_LT(frames.front(), from > 0 ? 0.001 : videoLate + 1 / rate);
                    EXPECT_NEAR(frames.back() - frames.front(), to - from - 1 / rate, 0.002);
                    // The part's first sound is a source packet timed as far from its frame.
                    expectSourcePacketAt(sourceAudio,
                                         keyframes.origin + from + audio.front() - frames.front());
                }
            }
        }
    }
}
