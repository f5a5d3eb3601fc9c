#pragma once

#include <cstdint>

namespace tavrolin {

// Where one conversation is drawn on the vertical timeline, in points.
struct TranscriptConversationPlacement {
    std::int64_t conversationID = 0;
    double markerY = 0;
    double cardTop = 0;
    double cardHeight = 0;

    friend bool operator==(const TranscriptConversationPlacement&,
                           const TranscriptConversationPlacement&) = default;
};

// The timeline's axis ticks and pinch zoom. Pure; any thread.
struct TranscriptTimelineLayout {
    // Seconds between ticks at least 90 points apart, from a ladder of round steps; 60 for an
    // unusable scale, 7200 past the ladder's end.
    double tickInterval(double pointsPerSecond) const;
    // The start zoom times the magnification, clamped to 1...32; an unusable magnification
    // keeps the start zoom.
    double clampedZoom(double magnification, double startZoom) const;
};

}  // namespace tavrolin
