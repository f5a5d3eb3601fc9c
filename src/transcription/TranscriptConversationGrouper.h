#pragma once

#include <cstdint>
#include <vector>

#include "model/SubtitleCue.h"
#include "model/Transcription.h"

namespace tavrolin {

// Cuts a transcript into conversations: runs of cues without a long silence, bounded in span
// and in number of cues. A conversation takes its first cue's id, so it keeps its identity
// while later cues change. Pure; any thread.
struct TranscriptConversationGrouper {
    double silenceBoundary = 8.0;    // a gap of at least this many seconds separates
    double maximumDuration = 240.0;  // seconds from the first cue's start to the last cue's end
    std::int64_t maximumCueCount = 40;

    // Cues in time order (start, then end; ties keep their order), numbered from 1.
    std::vector<TranscriptConversation> group(const std::vector<SubtitleCue>& cues) const;
};

}  // namespace tavrolin
