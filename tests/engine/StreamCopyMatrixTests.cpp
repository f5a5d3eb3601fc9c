#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <thread>

#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "engine/FFmpegProcessor.h"
#include "engine/StreamCopyCompatibility.h"
#include "process/FFmpegVersion.h"
#include "process/FoundationProcessRunner.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

// One stream of a codec family, alone in a small file.
struct Sample {
    std::string name;
    MediaStreamKind kind;
    std::vector<std::string> arguments;  // ffmpeg arguments after the inputs
    std::string extension = "mkv";
};

std::vector<std::string> videoInput() {
    return {"-f", "lavfi", "-i", "testsrc=size=64x36:rate=10:duration=1"};
}
std::vector<std::string> audioInput() {
    return {"-f", "lavfi", "-i", "sine=frequency=440:duration=1:sample_rate=48000"};
}

const std::vector<Sample>& samples() {
    static const std::vector<Sample> list{
        {"h264", MediaStreamKind::video, {"-c:v", "libx264", "-preset", "ultrafast"}},
        {"hevc",
         MediaStreamKind::video,
         {"-c:v", "libx265", "-preset", "ultrafast", "-x265-params", "log-level=error"}},
        {"av1", MediaStreamKind::video, {"-c:v", "librav1e", "-speed", "10"}},
        {"vp8", MediaStreamKind::video, {"-c:v", "libvpx"}},
        {"vp9",
         MediaStreamKind::video,
         {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8"}},
        {"mpeg4", MediaStreamKind::video, {"-c:v", "mpeg4"}},
        {"mpeg2video", MediaStreamKind::video, {"-c:v", "mpeg2video"}},
        {"mjpeg", MediaStreamKind::video, {"-c:v", "mjpeg", "-pix_fmt", "yuvj420p"}},
        {"png", MediaStreamKind::video, {"-c:v", "png"}},
        {"ffv1", MediaStreamKind::video, {"-c:v", "ffv1"}},
        {"prores", MediaStreamKind::video, {"-c:v", "prores_ks"}},
        {"qtrle", MediaStreamKind::video, {"-c:v", "qtrle"}, "mov"},
        {"rawvideo", MediaStreamKind::video, {"-c:v", "rawvideo", "-pix_fmt", "yuv420p"}},
        {"theora", MediaStreamKind::video, {"-c:v", "libtheora"}},
        {"aac", MediaStreamKind::audio, {"-c:a", "aac"}},
        {"ac3", MediaStreamKind::audio, {"-c:a", "ac3"}},
        {"eac3", MediaStreamKind::audio, {"-c:a", "eac3"}},
        {"mp3", MediaStreamKind::audio, {"-c:a", "libmp3lame"}},
        {"mp2", MediaStreamKind::audio, {"-c:a", "mp2"}},
        {"flac", MediaStreamKind::audio, {"-c:a", "flac"}},
        {"opus", MediaStreamKind::audio, {"-c:a", "libopus"}},
        {"vorbis", MediaStreamKind::audio, {"-c:a", "libvorbis"}},
        {"alac", MediaStreamKind::audio, {"-c:a", "alac"}},
        {"truehd", MediaStreamKind::audio, {"-c:a", "truehd", "-strict", "-2"}},
        {"dts", MediaStreamKind::audio, {"-c:a", "dca", "-strict", "-2", "-ac", "2"}},
        {"pcm_s16le", MediaStreamKind::audio, {"-c:a", "pcm_s16le"}},
        {"pcm_s24le", MediaStreamKind::audio, {"-c:a", "pcm_s24le"}},
        {"pcm_u8", MediaStreamKind::audio, {"-c:a", "pcm_u8"}},
        {"pcm_bluray", MediaStreamKind::audio, {"-c:a", "pcm_bluray"}, "m2ts"},
        {"pcm_dvd", MediaStreamKind::audio, {"-c:a", "pcm_dvd"}, "vob"},
        {"pcm_u16le", MediaStreamKind::audio, {"-c:a", "pcm_u16le"}, "nut"},
        {"s302m", MediaStreamKind::audio, {"-c:a", "s302m", "-strict", "-2", "-ac", "2"}, "m2ts"},
        {"gsm", MediaStreamKind::audio, {"-ar", "8000", "-c:a", "libgsm"}, "mov"},
        {"adpcm_ms", MediaStreamKind::audio, {"-c:a", "adpcm_ms"}},
        {"wmav2", MediaStreamKind::audio, {"-c:a", "wmav2"}},
        {"subrip", MediaStreamKind::subtitle, {"-c:s", "subrip"}},
        {"ass", MediaStreamKind::subtitle, {"-c:s", "ass"}},
        {"webvtt", MediaStreamKind::subtitle, {"-c:s", "webvtt"}},
        {"mov_text", MediaStreamKind::subtitle, {"-c:s", "mov_text"}, "mp4"},
    };
    return list;
}

// Pairs the rules refuse although FFmpeg 5.1 writes them: the rules stay on the safe side.
const std::set<std::pair<std::string, std::string>> writtenDespiteTheRules{
    {"theora", "mov"},
    {"gsm", "mov"},
};
// MP4 has one object type for MPEG audio layers 1 to 3: an MP2 stream reads back as "mp3".
const std::map<std::pair<std::string, std::string>, std::string> readsBackAs{
    {{"mp2", "mp4"}, "mp3"},
    {{"mp2", "m4v"}, "mp3"},
};

// The first stream of a file as ffprobe reads it; empty when ffprobe cannot read the file.
nlohmann::json firstStream(const fs::path& file) {
    std::string json;
    if (tavtest::runTool({"ffprobe", "-v", "error", "-show_entries",
                          "stream=codec_name,codec_tag_string", "-of", "json", file.string()},
                         &json) != 0) {
        return nlohmann::json::object();
    }
    const auto document = nlohmann::json::parse(json, nullptr, false);
    if (document.is_discarded() || !document.contains("streams") || document["streams"].empty()) {
        return nlohmann::json::object();
    }
    return document["streams"][0];
}

}  // namespace

// Remuxes one stream of each codec family into each container with the overrides the rules
// decide for the installed FFmpeg, and compares what ffmpeg managed to write with what the
// rules allow: every stream they accept really copies.
TEST(StreamCopyMatrixTest, FFmpegWritesWhatTheRulesAllowForTheInstalledRelease) {
    tavtest::TempDir scratch;
    const fs::path srt = scratch / "cues.srt";
    std::ofstream(srt) << "1\n00:00:00,000 --> 00:00:00,800\nHello there\n\n";

    const auto installed =
        InstalledFFmpeg(std::make_shared<FoundationProcessRunner>(), ToolLocations{}).facts();
    ASSERT_TRUE(installed && installed->release());
    const StreamCopyCompatibility rules(installed->release());
    std::mutex mutex;
    std::set<std::pair<std::string, std::string>> written;
    std::set<std::pair<std::string, std::string>> expected = writtenDespiteTheRules;
    std::atomic<std::size_t> next{0};

    auto work = [&] {
        FFmpegProcessor processor(std::make_shared<FoundationProcessRunner>(), ToolLocations{});
        for (std::size_t i = next++; i < samples().size(); i = next++) {
            const Sample& sample = samples()[i];
            SCOPED_TRACE(sample.name);
            std::vector<std::string> arguments;
            if (sample.kind == MediaStreamKind::video) {
                arguments = videoInput();
            } else if (sample.kind == MediaStreamKind::audio) {
                arguments = audioInput();
            } else {
                arguments = {"-i", srt.string()};
            }
            arguments.insert(arguments.end(), sample.arguments.begin(), sample.arguments.end());
            const fs::path source = tavtest::TestMedia::generate(
                "matrix-" + sample.name + "." + sample.extension, arguments);

            MediaStream stream;
            stream.index = 0;
            stream.kind = sample.kind;
            stream.codecName = firstStream(source).value("codec_name", "");
            ASSERT_EQ(stream.codecName, sample.name);

            for (auto container : allOutputContainers) {
                const std::string extension(rawValue(container));
                const auto decision = rules.copyDecision(stream, container);
                RemuxRequest request;
                request.input = source;
                request.output = scratch / (sample.name + "." + extension);
                request.selectedStreams = {stream};
                request.subtitleCodecOverrides =
                    rules.subtitleCodecOverrides({stream}, container, std::nullopt);
                // Written means ffmpeg succeeded and the stream reads back with the codec the
                // rules named (a converted subtitle carries its new codec).
                bool ok = true;
                try {
                    processor.process(request, {}, {});
                } catch (const std::exception&) {
                    ok = false;
                }
                std::string codec = decision.kind == StreamCopyDecision::Kind::convert
                                        ? decision.codec
                                        : sample.name;
                if (auto alias = readsBackAs.find({sample.name, extension});
                    alias != readsBackAs.end()) {
                    codec = alias->second;
                }
                ok = ok && firstStream(request.output).value("codec_name", "") == codec;
                std::lock_guard lock(mutex);
                if (!decision.isIncompatible()) {
                    expected.insert({sample.name, extension});
                }
                if (ok) {
                    written.insert({sample.name, extension});
                }
            }
        }
    };
    std::vector<std::thread> threads;
    const unsigned count = std::clamp(std::thread::hardware_concurrency(), 1u, 6u);
    for (unsigned i = 0; i < count; ++i) {
        threads.emplace_back(work);
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::vector<std::pair<std::string, std::string>> unexpectedlyWritten, notWritten;
    std::set_difference(written.begin(), written.end(), expected.begin(), expected.end(),
                        std::back_inserter(unexpectedlyWritten));
    std::set_difference(expected.begin(), expected.end(), written.begin(), written.end(),
                        std::back_inserter(notWritten));
    auto describe = [](const std::vector<std::pair<std::string, std::string>>& pairs) {
        std::string text;
        for (const auto& [codec, container] : pairs) {
            text += codec + " in " + container + "; ";
        }
        return text;
    };
    EXPECT_TRUE(unexpectedlyWritten.empty()) << describe(unexpectedlyWritten);
    EXPECT_TRUE(notWritten.empty()) << describe(notWritten);
}

// With the playback target, HEVC in an MP4-family file gets the tag the rules decide.
TEST(StreamCopyMatrixTest, HevcForThePlaybackTargetIsTaggedHvc1) {
    tavtest::TempDir scratch;
    const fs::path source = tavtest::TestMedia::generate(
        "matrix-hevc.mkv", {"-f", "lavfi", "-i", "testsrc=size=64x36:rate=10:duration=1", "-c:v",
                            "libx265", "-preset", "ultrafast", "-x265-params", "log-level=error"});
    MediaStream stream;
    stream.kind = MediaStreamKind::video;
    stream.codecName = "hevc";
    const StreamCopyCompatibility rules;
    FFmpegProcessor processor(std::make_shared<FoundationProcessRunner>(), ToolLocations{});
    for (auto container : {OutputContainer::mp4, OutputContainer::m4v, OutputContainer::mov}) {
        const std::string extension(rawValue(container));
        RemuxRequest request;
        request.input = source;
        request.output = scratch / ("tagged." + extension);
        request.selectedStreams = {stream};
        request.videoCodecTagOverrides =
            rules.videoCodecTagOverrides({stream}, container, PlaybackTarget::iPhone17Pro);
        ASSERT_EQ(request.videoCodecTagOverrides.size(), 1u);
        processor.process(request, {}, {});
        EXPECT_EQ(firstStream(request.output).value("codec_tag_string", ""), "hvc1") << extension;

        // Without the target ffmpeg picks its own tag.
        request.output = scratch / ("untagged." + extension);
        request.videoCodecTagOverrides =
            rules.videoCodecTagOverrides({stream}, container, std::nullopt);
        processor.process(request, {}, {});
        EXPECT_EQ(firstStream(request.output).value("codec_tag_string", ""), "hev1") << extension;
    }
}
