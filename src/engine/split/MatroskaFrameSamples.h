#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tavrolin {

// What sizes an audio track's frames in a Matroska file.
struct MatroskaAudioTrack {
    std::string_view codec;
    std::span<const std::uint8_t> codecPrivate;
    double sampleRate = 0;
};

// One frame's samples as ffprobe's parsers count them, from its payload; none for a codec or a
// frame these rules do not size (Vorbis, whose frames its setup header sizes, among them). Pure.
std::optional<std::uint64_t> matroskaFrameSamples(const MatroskaAudioTrack& track,
                                                  std::span<const std::uint8_t> payload);

}  // namespace tavrolin
