// Times the stream-copy rules as the remux workspace uses them on every change of selection:
// lists, override maps and drop reasons over many streams, for every container, with and
// without the playback target, with and without the installed release. Prints nanoseconds per
// stream decision.

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "engine/StreamCopyCompatibility.h"

using namespace tavrolin;
using Clock = std::chrono::steady_clock;

int main() {
    const std::vector<std::pair<MediaStreamKind, std::string>> codecs{
        {MediaStreamKind::video, "h264"},
        {MediaStreamKind::video, "HEVC"},
        {MediaStreamKind::video, "vp9"},
        {MediaStreamKind::video, "prores"},
        {MediaStreamKind::video, "theora"},
        {MediaStreamKind::audio, "aac"},
        {MediaStreamKind::audio, "dts"},
        {MediaStreamKind::audio, "pcm_s16le"},
        {MediaStreamKind::audio, "pcm_u8"},
        {MediaStreamKind::audio, "opus"},
        {MediaStreamKind::subtitle, "subrip"},
        {MediaStreamKind::subtitle, "webvtt"},
        {MediaStreamKind::subtitle, "hdmv_pgs_subtitle"},
    };
    std::vector<MediaStream> streams;
    for (int i = 0; i < 10000; ++i) {
        MediaStream stream;
        stream.index = i;
        stream.kind = codecs[i % codecs.size()].first;
        stream.codecName = codecs[i % codecs.size()].second;
        streams.push_back(stream);
    }

    // The rules alone, and with the refusals of the installed release applied.
    for (const auto installed :
         {std::optional<FFmpegRelease>{}, std::optional{FFmpegRelease{5, 1}}}) {
        const StreamCopyCompatibility rules(installed);
        constexpr int kRounds = 20;
        std::size_t sink = 0;
        std::size_t decisions = 0;
        const auto start = Clock::now();
        for (int round = 0; round < kRounds; ++round) {
            for (auto container : allOutputContainers) {
                for (auto target : {std::optional<PlaybackTarget>{},
                                    std::optional{PlaybackTarget::iPhone17Pro}}) {
                    const auto dropped = rules.unsupportedStreams(streams, container, target);
                    for (const auto& stream : dropped) {
                        sink += rules.issueMessage(stream, container, target).value_or("").size();
                    }
                    sink += rules.supportedStreams(streams, container, target).size();
                    sink += rules.subtitleCodecOverrides(streams, container, target).size();
                    sink += rules.videoCodecTagOverrides(streams, container, target).size();
                    decisions += 3 * streams.size() + dropped.size();
                }
            }
        }
        const double nanoseconds =
            std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        std::printf("stream decisions (%s): %zu, %.1f ns each (checksum %zu)\n",
                    installed ? "installed FFmpeg 5.1" : "rules alone", decisions,
                    nanoseconds / static_cast<double>(decisions), sink);
    }
    return 0;
}
