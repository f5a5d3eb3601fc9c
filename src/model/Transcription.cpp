#include "model/Transcription.h"

#include <bit>
#include <cstring>
#include <random>

#include "model/TextMetrics.h"

namespace tavrolin {

namespace {

constexpr std::size_t previewLimit = 118;
constexpr std::size_t previewKept = 117;

// Seeded once per run: fingerprints are only compared within one run and never stored.
std::uint64_t fingerprintSeed() {
    static const std::uint64_t seed = [] {
        std::random_device device;
        return (static_cast<std::uint64_t>(device()) << 32) ^ device();
    }();
    return seed;
}

// A keyed 64-bit hash: every word is mixed in with a multiply-xorshift finaliser.
class Hasher {
  public:
    explicit Hasher(std::uint64_t seed) : state_(seed ^ 0x9E3779B97F4A7C15ULL) {}

    void add(std::uint64_t word) {
        state_ = mix(state_ ^ mix(word + 0x632BE59BD9B4E019ULL));
        state_ = state_ * 0x9E3779B97F4A7C15ULL + 0x94D049BB133111EBULL;
    }
    void add(double value) {
        if (value == 0) {
            value = 0;  // -0.0 and +0.0 are the same time
        }
        add(std::bit_cast<std::uint64_t>(value));
    }
    void add(std::string_view text) {
        add(static_cast<std::uint64_t>(text.size()));
        for (std::size_t i = 0; i < text.size(); i += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, text.data() + i, std::min<std::size_t>(8, text.size() - i));
            add(word);
        }
    }
    std::uint64_t finish() const { return mix(state_); }

  private:
    static std::uint64_t mix(std::uint64_t x) {
        x ^= x >> 30;
        x *= 0xBF58476D1CE4E5B9ULL;
        x ^= x >> 27;
        x *= 0x94D049BB133111EBULL;
        x ^= x >> 31;
        return x;
    }

    std::uint64_t state_;
};

}  // namespace

std::string TranscriptConversation::previewText() const {
    std::string joined;
    for (const auto& cue : cues) {
        if (!joined.empty()) {
            joined.push_back(' ');
        }
        joined += cue.text;
    }
    std::string preview = collapseWhitespace(joined);
    if (graphemeCount(preview) <= previewLimit) {
        return preview;
    }
    return graphemePrefix(preview, previewKept) + "\u2026";
}

std::uint64_t TranscriptConversation::contentFingerprint() const {
    Hasher hasher{fingerprintSeed()};
    for (const auto& cue : cues) {
        hasher.add(static_cast<std::uint64_t>(cue.id));
        hasher.add(cue.startTime);
        hasher.add(cue.endTime);
        hasher.add(std::string_view{cue.text});
    }
    return hasher.finish();
}

TranscriptionError TranscriptionError::audioExtractionFailed(const std::string& message) {
    return {Case::audioExtractionFailed, message};
}

TranscriptionError TranscriptionError::invalidCues(const std::string& message) {
    return {Case::invalidCues, message};
}

TranscriptionError TranscriptionError::invalidChapters(const std::string& message) {
    return {Case::invalidChapters, message};
}

TranscriptionError TranscriptionError::unsupportedHardware() {
    return {Case::unsupportedHardware, "Audio transcription is not available on this computer."};
}

TranscriptionError TranscriptionError::unsupportedLanguage() {
    return {Case::unsupportedLanguage,
            "The selected language is not supported by the on-device transcriber."};
}

TranscriptionError TranscriptionError::noSpeech() {
    return {Case::noSpeech, "No recognizable speech was found in the selected audio track."};
}

TranscriptionError TranscriptionError::outputExists() {
    return {Case::outputExists, "A file already exists at that location. Choose a new filename."};
}

}  // namespace tavrolin
