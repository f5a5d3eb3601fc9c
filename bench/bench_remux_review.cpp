// Times one refresh of the Remux workspace's status area over 300 ready sources of five streams
// each, as the view asks for it: validation (which checks every output name on disk), playback
// status, summary, subtitle note and the alert text. Prints the median milliseconds per refresh.

#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "planning/RemuxReview.h"

using namespace tavrolin;
using benchsupport::Clock;

int main() {
    benchsupport::Folder folder;
    std::vector<RemuxSource> sources;
    for (int i = 0; i < 300; ++i) {
        std::vector<MediaStream> streams;
        const std::pair<MediaStreamKind, const char*> codecs[] = {
            {MediaStreamKind::video, "hevc"},
            {MediaStreamKind::audio, "eac3"},
            {MediaStreamKind::audio, "flac"},
            {MediaStreamKind::subtitle, "subrip"},
            {MediaStreamKind::subtitle, "hdmv_pgs_subtitle"}};
        for (int s = 0; s < 5; ++s) {
            MediaStream stream;
            stream.index = s;
            stream.kind = codecs[s].first;
            stream.codecName = codecs[s].second;
            streams.push_back(stream);
        }
        RemuxSource source{folder.path / ("episode-" + std::to_string(i) + ".mkv"),
                           RemuxSource::Ready{streams},
                           {0, 1, 2, 3, 4}};
        sources.push_back(std::move(source));
    }
    std::vector<double> milliseconds;
    std::size_t sink = 0;
    for (int round = 0; round < 50; ++round) {
        const auto start = Clock::now();
        const RemuxReview review(sources, folder.path, OutputContainer::mp4,
                                 PlaybackTarget::iPhone17Pro, FFmpegRelease{5, 1});
        sink += review.validation() ? 1 : 0;
        sink += review.playbackTargetStatus().value_or("").size();
        sink += review.isPlaybackTargetStatusBlocking() ? 1 : 0;
        sink += review.compatibilitySummary().value_or("").size();
        sink += review.subtitleConversionNote().value_or("").size();
        sink += review.unsupportedStreamsAlertMessage().size();
        milliseconds.push_back(benchsupport::seconds(Clock::now() - start) * 1000);
    }
    std::printf("status area of 300 sources: median %.2f ms per refresh (checksum %zu)\n",
                benchsupport::median(milliseconds), sink);
    return 0;
}
