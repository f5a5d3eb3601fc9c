#include "engine/TranscriptExportPreparation.h"

#include "engine/FFprobeQueries.h"
#include "engine/SubtitleDocumentRenderer.h"
#include "model/MediaProcessingError.h"
#include "model/OutputContainer.h"

namespace tavrolin {

namespace fs = std::filesystem;

std::vector<SubtitleCue> transcriptCuesFor(std::vector<SubtitleCue> cues, const fs::path& output) {
    const auto container = containerForFile(output);
    if (!container || *container == OutputContainer::mkv) {
        return cues;
    }
    for (auto& cue : cues) {
        if (*container == OutputContainer::webm) {
            cue.text = escapeWebVTT(cue.text);
            continue;
        }
        std::string text;
        for (char c : cue.text) {
            text += c;
            if (c == '<') {
                text += "\u2060";
            }
        }
        cue.text = std::move(text);
    }
    return cues;
}

std::vector<CopiedStream> exportedStreams(const TranscriptionMediaRequest& transcript,
                                          const std::optional<SourceStreamKinds>& kinds) {
    std::vector<CopiedStream> streams;
    for (const auto& stream : transcript.selectedStreams) {
        streams.push_back({stream.index, transcript.mapsEverySourceStream
                                             ? stream.index
                                             : static_cast<std::int64_t>(streams.size())});
    }
    if (!transcript.mapsEverySourceStream) {
        return streams;
    }
    // With "-map 0" the transcript's subtitle index counts the source's subtitle streams, so
    // the selection must still be exactly those, in order.
    std::vector<std::int64_t> sourceSubtitles;
    std::vector<std::int64_t> selectedSubtitles;
    for (const auto& [index, kind] : kinds.value_or(SourceStreamKinds{})) {
        if (kind == "subtitle") {
            sourceSubtitles.push_back(index);
        }
    }
    for (const auto& stream : transcript.selectedStreams) {
        if (stream.kind == MediaStreamKind::subtitle) {
            selectedSubtitles.push_back(stream.index);
        }
    }
    if (!kinds || sourceSubtitles != selectedSubtitles) {
        throw MediaProcessingError::invalidRequest(
            "The source\u2019s subtitle streams changed. Inspect the source again before "
            "exporting.");
    }
    return streams;
}

std::vector<CopiedStream> exportedStreams(ProcessRunning& runner,
                                          const TranscriptionMediaRequest& transcript,
                                          const fs::path& ffprobe, std::stop_token stop) {
    std::optional<SourceStreamKinds> kinds;
    if (transcript.mapsEverySourceStream) {
        kinds = probeStreamKinds(runner, transcript.input, ffprobe, stop);
        if (stop.stop_requested()) {
            return {};
        }
    }
    return exportedStreams(transcript, kinds);
}

}  // namespace tavrolin
