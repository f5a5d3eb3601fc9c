#include "transcription/SpeechPauseFinder.h"

#include <vector>

namespace tavrolin {

std::size_t SpeechPauseFinder::quietestCut(std::span<const std::int16_t> samples) const {
    const std::size_t frames = samples.size() / frameSamples;
    if (frameSamples == 0 || windowFrames == 0 || frames < windowFrames) {
        return 0;
    }
    std::vector<double> energy(frames);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        double sum = 0;
        for (std::size_t i = frame * frameSamples; i < (frame + 1) * frameSamples; ++i) {
            sum += static_cast<double>(samples[i]) * samples[i];
        }
        energy[frame] = sum;
    }
    double window = 0;
    for (std::size_t frame = 0; frame < windowFrames; ++frame) {
        window += energy[frame];
    }
    double quietest = window;
    std::size_t quietestStart = 0;
    for (std::size_t start = 1; start + windowFrames <= frames; ++start) {
        window += energy[start + windowFrames - 1] - energy[start - 1];
        if (window < quietest) {
            quietest = window;
            quietestStart = start;
        }
    }
    return (quietestStart + windowFrames / 2) * frameSamples;
}

}  // namespace tavrolin
