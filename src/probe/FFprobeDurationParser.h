#pragma once

#include <optional>
#include <string_view>

namespace tavrolin {

// Reads the document of `ffprobe -show_entries format=duration:stream=duration`.
struct FFprobeDurationParser {
    // The longest positive finite duration of the container and its streams, or nothing.
    // Throws MediaProbeError::invalidResponse.
    std::optional<double> parse(std::string_view standardOutput) const;
};

}  // namespace tavrolin
