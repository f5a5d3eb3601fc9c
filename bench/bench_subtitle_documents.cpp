// Times the transcript path after a long transcription: segmenting three hours of word
// fragments into cues, shifting them, rendering SubRip and WebVTT, and previewing every
// conversation. Prints milliseconds per step for the whole transcript.

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/ChapterMetadataRenderer.h"
#include "engine/SubtitleCueSegmenter.h"
#include "engine/SubtitleDocumentRenderer.h"
#include "engine/SubtitleTimingAdjuster.h"
#include "model/Transcription.h"

using namespace tavrolin;
using Clock = std::chrono::steady_clock;

namespace {

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main() {
    const std::vector<std::string> words{"well", "the", "caf\u00E9", "was",  "closed",     ",",
                                         "so",   "we",  "walked",    "home", "\U0001F642", "."};
    std::vector<TranscriptFragment> fragments;
    double time = 0;
    for (int i = 0; time < 3 * 3600; ++i) {
        const double length = 0.18 + (i % 5) * 0.04;
        fragments.push_back({words[i % words.size()], time, time + length, 0.6 + (i % 4) * 0.1});
        time += length + ((i % 37 == 0) ? 1.5 : 0.05);
    }

    auto start = Clock::now();
    const auto cues = SubtitleCueSegmenter{84, 6.0, 1.2}.segment(fragments);
    std::printf("segment %zu fragments into %zu cues: %.1f ms\n", fragments.size(), cues.size(),
                millisecondsSince(start));

    start = Clock::now();
    const auto shifted = SubtitleTimingAdjuster{}.shift(cues, 0.5);
    std::printf("shift: %.1f ms\n", millisecondsSince(start));

    for (auto format : {SubtitleFileFormat::srt, SubtitleFileFormat::webVTT}) {
        start = Clock::now();
        const std::string document = SubtitleDocumentRenderer{}.render(shifted.cues, format);
        std::printf("render %s, %zu bytes: %.1f ms\n", fileExtension(format), document.size(),
                    millisecondsSince(start));
    }

    start = Clock::now();
    std::size_t previewBytes = 0;
    for (std::size_t first = 0; first < cues.size(); first += 40) {
        TranscriptConversation conversation;
        conversation.cues.assign(
            cues.begin() + static_cast<std::ptrdiff_t>(first),
            cues.begin() + static_cast<std::ptrdiff_t>(std::min(first + 40, cues.size())));
        previewBytes += conversation.previewText().size();
        previewBytes += conversation.contentFingerprint() & 1;
    }
    std::printf("preview and fingerprint %zu conversations: %.1f ms (%zu bytes)\n",
                (cues.size() + 39) / 40, millisecondsSince(start), previewBytes);

    std::vector<ChapterMarker> chapters;
    for (int i = 0; i < 1000; ++i) {
        chapters.push_back({Uuid::random(), i * 10.0, "Chapter = " + std::to_string(i)});
    }
    start = Clock::now();
    const std::string metadata = ChapterMetadataRenderer{}.render(chapters, 10001);
    std::printf("render 1000 chapters, %zu bytes: %.1f ms\n", metadata.size(),
                millisecondsSince(start));
    return 0;
}
