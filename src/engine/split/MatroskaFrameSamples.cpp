#include "engine/split/MatroskaFrameSamples.h"

#include <bit>

namespace tavrolin {

namespace {

using Bytes = std::span<const std::uint8_t>;

// An Opus packet's samples at 48 kHz from its table of contents; none when its frames' lengths do
// not add up, as the parser would reject it.
std::optional<std::uint64_t> opusSamples(Bytes packet) {
    if (packet.empty()) {
        return std::nullopt;
    }
    const int config = packet[0] >> 3;
    static constexpr std::uint64_t silk[] = {480, 960, 1920, 2880};
    static constexpr std::uint64_t celt[] = {120, 240, 480, 960};
    const std::uint64_t frame = config < 12   ? silk[config % 4]
                                : config < 16 ? (config % 2 == 0 ? 480 : 960)
                                              : celt[config % 4];
    std::size_t at = 1;
    // A frame's length: one byte, or two from 252 on.
    const auto length = [&]() -> std::optional<std::size_t> {
        if (at >= packet.size()) {
            return std::nullopt;
        }
        const std::size_t first = packet[at++];
        if (first < 252) {
            return first;
        }
        return at < packet.size() ? std::optional(first + 4 * std::size_t{packet[at++]})
                                  : std::nullopt;
    };
    std::size_t rest = packet.size() - 1;
    std::uint64_t frames = 1;
    switch (packet[0] & 3) {
        case 1:
            frames = 2;
            if (rest % 2 != 0) {
                return std::nullopt;
            }
            break;
        case 2: {
            frames = 2;
            const auto first = length();
            if (!first || *first > packet.size() - at) {
                return std::nullopt;
            }
            break;
        }
        case 3: {
            if (packet.size() < 2) {
                return std::nullopt;
            }
            const std::uint8_t count = packet[at++];
            frames = count & 0x3F;
            std::size_t padding = 0;
            for (bool more = (count & 0x40) != 0; more;) {
                if (at >= packet.size()) {
                    return std::nullopt;
                }
                more = packet[at] == 255;
                padding += more ? 254 : packet[at];
                ++at;
            }
            if (frames == 0 || padding > packet.size() - at) {
                return std::nullopt;
            }
            rest = packet.size() - at - padding;
            if ((count & 0x80) == 0) {
                if (rest % frames != 0) {
                    return std::nullopt;
                }
                break;
            }
            for (std::uint64_t stated = 1; stated < frames; ++stated) {
                const std::size_t before = at;
                const auto each = length();
                if (!each || *each + (at - before) > rest) {
                    return std::nullopt;
                }
                rest -= *each + (at - before);
            }
            break;
        }
    }
    return frame * frames <= 5760 ? std::optional(frame * frames) : std::nullopt;
}

}  // namespace

std::optional<std::uint64_t> matroskaFrameSamples(const MatroskaAudioTrack& track,
                                                  std::span<const std::uint8_t> payload) {
    const auto byte = [&](std::size_t at) { return at < payload.size() ? payload[at] : -1; };
    if (track.codec == "A_OPUS") {
        return track.sampleRate == 48000 ? opusSamples(payload) : std::nullopt;
    }
    if (track.codec == "A_AAC") {
        // Low-complexity AAC of 1,024-sample frames only.
        const Bytes config = track.codecPrivate;
        const bool lc = config.size() >= 2 && config[0] >> 3 == 2 &&
                        ((config[0] & 7) << 1 | config[1] >> 7) != 15 && (config[1] & 4) == 0;
        return lc ? std::optional<std::uint64_t>(1024) : std::nullopt;
    }
    if (track.codec == "A_AC3") {
        return byte(0) == 0x0B && byte(1) == 0x77 ? std::optional<std::uint64_t>(1536)
                                                  : std::nullopt;
    }
    if (track.codec == "A_MPEG/L3") {
        const int version = byte(1) >> 3 & 3;
        if (byte(0) != 0xFF || byte(1) < 0 || (byte(1) & 0xE0) != 0xE0 || version == 1 ||
            (byte(1) >> 1 & 3) != 1 || byte(2) < 0 || (byte(2) >> 2 & 3) == 3) {
            return std::nullopt;
        }
        static constexpr int rates[] = {44100, 48000, 32000};
        const int rate = rates[byte(2) >> 2 & 3] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
        return rate == track.sampleRate ? std::optional<std::uint64_t>(version == 3 ? 1152 : 576)
                                        : std::nullopt;
    }
    if (track.codec == "A_FLAC") {
        if (byte(0) != 0xFF || byte(1) < 0 || (byte(1) & 0xFE) != 0xF8 || byte(2) < 0) {
            return std::nullopt;
        }
        const int code = byte(2) >> 4;
        if (code == 1) {
            return 192;
        }
        if (code >= 2 && code <= 5) {
            return 576u << (code - 2);
        }
        if (code >= 8) {
            return 256u << (code - 8);
        }
        // Stated after the frame's number (UTF-8 coded, 1 to 7 bytes).
        const int lead = byte(4);
        const int length = lead < 0 ? 0 : std::countl_one(static_cast<std::uint8_t>(lead));
        const std::size_t at = 4 + static_cast<std::size_t>(length == 0 ? 1 : length);
        if (code == 0 || lead < 0 || length == 1 || length > 7) {
            return std::nullopt;
        }
        if (code == 6) {
            return byte(at) < 0 ? std::nullopt : std::optional<std::uint64_t>(byte(at) + 1);
        }
        return byte(at + 1) < 0 ? std::nullopt
                                : std::optional<std::uint64_t>((byte(at) << 8 | byte(at + 1)) + 1);
    }
    return std::nullopt;
}

}  // namespace tavrolin
