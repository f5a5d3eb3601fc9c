#include "process/Utf8Repair.h"

#include <cstddef>
#include <cstdint>
#include <utility>

namespace tavrolin {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed sequence starting at `i`, or 0 when it is ill-formed; then
// `maximalPrefix` holds how many bytes form the maximal ill-formed subsequence (at least 1).
std::size_t sequenceLength(std::string_view bytes, std::size_t i, std::size_t& maximalPrefix) {
    const auto byteAt = [&](std::size_t k) { return static_cast<std::uint8_t>(bytes[k]); };
    const std::uint8_t lead = byteAt(i);
    maximalPrefix = 1;
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) {
            low = 0xA0;
        } else if (lead == 0xED) {
            high = 0x9F;
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;
        }
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= bytes.size()) {
            return 0;
        }
        const std::uint8_t b = byteAt(i + k);
        if (b < low || b > high) {
            return 0;
        }
        low = 0x80;
        high = 0xBF;
        maximalPrefix = k + 1;
    }
    return length;
}

// Offset of the first ill-formed byte, or bytes.size() when there is none.
std::size_t firstIllFormed(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        // ASCII runs dominate tool output; check eight bytes at a time.
        while (i + 8 <= bytes.size()) {
            std::uint64_t word = 0;
            for (std::size_t k = 0; k < 8; ++k) {
                word |= static_cast<std::uint64_t>(static_cast<std::uint8_t>(bytes[i + k]))
                        << (8 * k);
            }
            if ((word & 0x8080808080808080ULL) != 0) {
                break;
            }
            i += 8;
        }
        if (i >= bytes.size()) {
            break;
        }
        std::size_t prefix = 0;
        const std::size_t length = sequenceLength(bytes, i, prefix);
        if (length == 0) {
            return i;
        }
        i += length;
    }
    return bytes.size();
}

std::string repairFrom(std::string_view bytes, std::size_t start) {
    std::string text;
    text.reserve(bytes.size() + 16);
    text.append(bytes.substr(0, start));
    std::size_t i = start;
    while (i < bytes.size()) {
        std::size_t prefix = 0;
        const std::size_t length = sequenceLength(bytes, i, prefix);
        if (length == 0) {
            text.append(kReplacement);
            i += prefix;
        } else {
            text.append(bytes.substr(i, length));
            i += length;
        }
    }
    return text;
}

}  // namespace

std::string repairUtf8(std::string_view bytes) {
    const std::size_t bad = firstIllFormed(bytes);
    if (bad == bytes.size()) {
        return std::string(bytes);
    }
    return repairFrom(bytes, bad);
}

std::string repairUtf8InPlace(std::string&& bytes) {
    const std::size_t bad = firstIllFormed(bytes);
    if (bad == bytes.size()) {
        return std::move(bytes);
    }
    return repairFrom(bytes, bad);
}

}  // namespace tavrolin
