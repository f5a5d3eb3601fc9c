#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tavrolin {

// Where to end an utterance inside a stretch of 16 kHz audio: the middle of its quietest
// 100 ms, measured in 10 ms frames. Pure; any thread.
struct SpeechPauseFinder {
    std::size_t frameSamples = 160;
    std::size_t windowFrames = 10;

    // A sample offset into `samples` at a frame boundary; the first of equally quiet places.
    // 0 for a stretch shorter than one window.
    std::size_t quietestCut(std::span<const std::int16_t> samples) const;
};

}  // namespace tavrolin
