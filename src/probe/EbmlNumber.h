#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

namespace tavrolin {

// One EBML variable-length number (Matroska's element IDs and sizes) at the start of `bytes`:
// its value and length, or none when it is malformed or cut off. An identifier keeps its length
// marker, a size loses it. Pure.
inline std::optional<std::pair<std::uint64_t, std::size_t>> readEbmlNumber(
    std::span<const std::uint8_t> bytes, bool keepMarker) {
    if (bytes.empty() || bytes[0] == 0) {
        return std::nullopt;
    }
    const std::size_t length = static_cast<std::size_t>(std::countl_zero(bytes[0])) + 1;
    if (length > bytes.size()) {
        return std::nullopt;
    }
    std::uint64_t value = keepMarker ? bytes[0] : (bytes[0] & (0xFFu >> length));
    for (std::size_t i = 1; i < length; ++i) {
        value = (value << 8) | bytes[i];
    }
    return std::pair{value, length};
}

}  // namespace tavrolin
