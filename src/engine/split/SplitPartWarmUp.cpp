#include "engine/split/SplitPartWarmUp.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "engine/split/Mp3Reservoir.h"
#include "engine/split/PartFileBytes.h"
#include "engine/split/SplitStreamCuts.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

// How the encoders that write a LAME extension name themselves at its start (LAME's own, and
// ffmpeg's codec and muxer).
constexpr const char* kLameEncoders[] = {"LAME", "Lavc", "Lavf"};

std::uint8_t byteAt(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint8_t>(bytes[at]);
}

std::fstream openForUpdate(const fs::path& file) {
    std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
    if (!stream) {
        throw fs::filesystem_error("cannot open the part", file,
                                   std::make_error_code(std::errc::io_error));
    }
    return stream;
}

// CRC-16 with the polynomial 0x8005, bits reflected, as the LAME header's own.
std::uint16_t lameCrc(std::string_view bytes) {
    std::uint16_t crc = 0;
    for (char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint16_t>((crc & 1) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1);
        }
    }
    return crc;
}

// Ogg's CRC-32: the polynomial 0x04C11DB7, bits not reflected, starting from 0.
std::uint32_t oggCrc(std::string_view bytes) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t value = i << 24;
            for (int bit = 0; bit < 8; ++bit) {
                value = (value & 0x80000000u) != 0 ? (value << 1) ^ 0x04C11DB7u : value << 1;
            }
            entries[i] = value;
        }
        return entries;
    }();
    std::uint32_t crc = 0;
    for (char c : bytes) {
        crc = (crc << 8) ^ table[((crc >> 24) ^ static_cast<std::uint8_t>(c)) & 0xFF];
    }
    return crc;
}

std::uint64_t littleEndian(std::string_view bytes, std::size_t at, int size) {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = (value << 8) | byteAt(bytes, at + static_cast<std::size_t>(i));
    }
    return value;
}

void putLittleEndian(std::string& bytes, std::size_t at, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) {
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

// `a + b` and `a - b`: a position beyond 64 bits is none a part of ours holds.
std::int64_t sum(std::int64_t a, std::int64_t b) {
    std::int64_t total = 0;
    if (__builtin_add_overflow(a, b, &total)) {
        throw std::runtime_error("its audio positions are out of range");
    }
    return total;
}

std::int64_t difference(std::int64_t a, std::int64_t b) {
    std::int64_t total = 0;
    if (__builtin_sub_overflow(a, b, &total)) {
        throw std::runtime_error("its audio positions are out of range");
    }
    return total;
}

// An Opus packet's samples at 48 kHz, from its table-of-contents byte and, for a packet of
// several frames, the count after it.
std::int64_t opusPacketSamples(std::string_view start) {
    if (start.empty()) {
        return 0;
    }
    const std::uint8_t toc = byteAt(start, 0);
    const int config = toc >> 3;
    static constexpr int silk[] = {480, 960, 1920, 2880};
    static constexpr int hybrid[] = {480, 960};
    static constexpr int celt[] = {120, 240, 480, 960};
    const int frame = config < 12   ? silk[config & 3]
                      : config < 16 ? hybrid[config & 1]
                                    : celt[config & 3];
    const int code = toc & 3;
    const int frames = code == 0          ? 1
                       : code < 3         ? 2
                       : start.size() > 1 ? byteAt(start, 1) & 0x3F
                                          : 0;
    return static_cast<std::int64_t>(frame) * frames;
}

struct OggPage {
    std::uint64_t at = 0;
    std::string bytes;  // the whole page
    std::size_t bodyAt = 0;
    std::uint32_t serial = 0;
    std::int64_t granule = 0;
};

std::optional<OggPage> readOggPage(std::fstream& stream, std::uint64_t at) {
    OggPage page;
    page.at = at;
    page.bytes = readPartBytes(stream, at, 27);
    if (page.bytes.size() < 27 || page.bytes.compare(0, 4, "OggS") != 0) {
        return std::nullopt;
    }
    const std::size_t segments = byteAt(page.bytes, 26);
    page.bytes += readPartBytes(stream, at + 27, segments);
    if (page.bytes.size() < 27 + segments) {
        return std::nullopt;
    }
    std::size_t body = 0;
    for (std::size_t i = 0; i < segments; ++i) {
        body += byteAt(page.bytes, 27 + i);
    }
    page.bodyAt = page.bytes.size();
    page.bytes += readPartBytes(stream, at + page.bytes.size(), body);
    if (page.bytes.size() < page.bodyAt + body) {
        return std::nullopt;
    }
    page.serial = static_cast<std::uint32_t>(littleEndian(page.bytes, 14, 4));
    page.granule = static_cast<std::int64_t>(littleEndian(page.bytes, 6, 8));
    return page;
}

// What one Opus stream of an Ogg file holds, read page by page.
struct OpusStream {
    std::uint64_t headPage = 0;
    std::int64_t preSkip = 0;
    int packets = 0;          // completed so far, the two header packets among them
    std::string packetStart;  // the first bytes of the packet that runs on into the next page
    std::vector<std::int64_t> waiting;  // samples of packets read before any position was
    std::optional<std::int64_t> clock;  // the time of the next packet
    std::optional<std::int64_t> first;  // the time of the first packet
    std::optional<std::int64_t> shown;  // the time of the first packet at or after the start
    std::vector<std::uint64_t> dataPages;
};

// Takes in one page of `opus`: its packets' lengths and, once known, their times.
void readOpusPage(OpusStream& opus, const OggPage& page, std::int64_t start) {
    const std::size_t segments = byteAt(page.bytes, 26);
    if (opus.packets >= 2) {
        opus.dataPages.push_back(page.at);
    }
    std::size_t offset = page.bodyAt;
    const bool continued = (byteAt(page.bytes, 5) & 1) != 0;
    std::string head = continued ? opus.packetStart : std::string();
    for (std::size_t i = 0; i < segments; ++i) {
        const std::size_t lacing = byteAt(page.bytes, 27 + i);
        if (head.size() < 2) {
            head += page.bytes.substr(offset, std::min<std::size_t>(lacing, 2 - head.size()));
        }
        offset += lacing;
        if (lacing == 255) {
            continue;
        }
        if (opus.packets++ >= 2) {
            opus.waiting.push_back(opusPacketSamples(head));
        }
        head.clear();
    }
    opus.packetStart = head;
    if (opus.packets <= 2) {
        return;
    }
    if (!opus.clock && page.granule != -1) {
        std::int64_t total = 0;
        for (std::int64_t samples : opus.waiting) {
            total = sum(total, samples);
        }
        // A page's position counts the pre-skip and the samples of every packet ended on it.
        opus.clock = difference(page.granule, sum(opus.preSkip, total));
        opus.first = opus.clock;
    }
    if (!opus.clock) {
        return;
    }
    for (std::int64_t samples : opus.waiting) {
        if (!opus.shown && *opus.clock >= start) {
            opus.shown = opus.clock;
        }
        *opus.clock = sum(*opus.clock, samples);
    }
    opus.waiting.clear();
}

// Writes `page` back with its checksum made anew: its header, or all of it when its body changed.
void rewriteOggPage(std::fstream& stream, OggPage page, bool body, const fs::path& file) {
    putLittleEndian(page.bytes, 22, 0, 4);
    putLittleEndian(page.bytes, 22, oggCrc(page.bytes), 4);
    writePartBytes(stream, page.at,
                   std::string_view(page.bytes).substr(0, body ? page.bytes.size() : page.bodyAt),
                   file);
}

}  // namespace

void writeMp3WarmUp(const fs::path& file, int frames) {
    std::fstream stream = openForUpdate(file);
    const std::uint64_t offset = mp3FramesStart(readPartBytes(stream, 0, 10));
    std::string frame = readPartBytes(stream, offset, 400);
    if (frame.size() < 4 || byteAt(frame, 0) != 0xFF || (byteAt(frame, 1) & 0xE0) != 0xE0) {
        return;
    }
    const int version = (byteAt(frame, 1) >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = (byteAt(frame, 1) >> 1) & 3;    // 1: Layer III
    if (version == 1 || layer != 1) {
        return;
    }
    const bool mpeg1 = version == 3;
    const bool mono = (byteAt(frame, 3) >> 6) == 3;
    const std::size_t tag =
        4 + ((byteAt(frame, 1) & 1) == 0 ? 2 : 0) + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
    if (frame.size() < tag + 8 ||
        (frame.compare(tag, 4, "Xing") != 0 && frame.compare(tag, 4, "Info") != 0)) {
        return;
    }
    const std::uint8_t flags = byteAt(frame, tag + 7);
    const std::size_t lame = tag + 8 + ((flags & 1) != 0 ? 4 : 0) + ((flags & 2) != 0 ? 4 : 0) +
                             ((flags & 4) != 0 ? 100 : 0) + ((flags & 8) != 0 ? 4 : 0);
    // The delay lies in the LAME extension, which opens with its encoder's name; after a bare
    // Xing header those bytes are audio.
    if (frame.size() < lame + 36 ||
        !std::any_of(std::begin(kLameEncoders), std::end(kLameEncoders),
                     [&](const char* name) { return frame.compare(lame, 4, name) == 0; })) {
        return;
    }
    const int delay =
        std::clamp(frames * (mpeg1 ? 1152 : 576) - kMp3DecoderDelay, 0, kMp3MostEncoderDelay);
    // 12 bits of delay, then the 12 bits of padding ffmpeg wrote.
    frame[lame + 21] = static_cast<char>((delay >> 4) & 0xFF);
    frame[lame + 22] = static_cast<char>(((delay & 0x0F) << 4) | (byteAt(frame, lame + 22) & 0x0F));
    const std::uint16_t crc = lameCrc(std::string_view(frame).substr(0, lame + 34));
    frame[lame + 34] = static_cast<char>(crc >> 8);
    frame[lame + 35] = static_cast<char>(crc & 0xFF);
    writePartBytes(stream, offset, std::string_view(frame).substr(0, lame + 36), file);
    stream.flush();
}

std::optional<OpusWarmUp> writeOpusWarmUp(const fs::path& file, double start, std::int64_t endTrim,
                                          OpusShownFrom from) {
    std::fstream stream = openForUpdate(file);
    const auto startSamples = static_cast<std::int64_t>(std::ceil(start * kOpusSampleRate - 0.5));
    std::map<std::uint32_t, OpusStream> streams;
    std::uint64_t at = 0;
    while (auto page = readOggPage(stream, at)) {
        at += page->bytes.size();
        const bool beginning = (byteAt(page->bytes, 5) & 2) != 0;
        if (beginning && page->bytes.compare(page->bodyAt, 8, "OpusHead") == 0 &&
            page->bytes.size() >= page->bodyAt + 12) {
            OpusStream& opus = streams[page->serial];
            opus.headPage = page->at;
            opus.preSkip =
                static_cast<std::int64_t>(littleEndian(page->bytes, page->bodyAt + 10, 2));
        }
        if (streams.empty() && !beginning) {
            return std::nullopt;  // no Opus stream: its first page would have come before
        }
        if (auto found = streams.find(page->serial); found != streams.end()) {
            readOpusPage(found->second, *page, startSamples);
        }
    }
    std::optional<OpusWarmUp> warmUp;
    for (const auto& [serial, opus] : streams) {
        if (!opus.shown || !opus.first) {
            continue;
        }
        const std::int64_t shown =
            from == OpusShownFrom::packet ? *opus.shown : std::max(startSamples, *opus.first);
        const std::int64_t preSkip = difference(shown, *opus.first);
        const std::int64_t shift = difference(0, sum(*opus.first, opus.preSkip));
        if (!warmUp) {
            warmUp = OpusWarmUp{static_cast<double>(shown) / kOpusSampleRate,
                                static_cast<double>(preSkip) / kOpusSampleRate};
        }
        if (preSkip > 0xFFFF) {
            throw std::runtime_error("its warm-up is too long for an Opus header");
        }
        if (preSkip == opus.preSkip && shift == 0 && endTrim == 0) {
            continue;
        }
        auto head = readOggPage(stream, opus.headPage);
        putLittleEndian(head->bytes, head->bodyAt + 10, static_cast<std::uint64_t>(preSkip), 2);
        rewriteOggPage(stream, *head, true, file);
        for (std::uint64_t pageAt : opus.dataPages) {
            auto page = readOggPage(stream, pageAt);
            if (!page || page->granule == -1) {
                continue;
            }
            // The last page's position ending short of its packets trims them.
            const std::int64_t trim = pageAt == opus.dataPages.back() ? endTrim : 0;
            putLittleEndian(page->bytes, 6,
                            static_cast<std::uint64_t>(difference(sum(page->granule, shift), trim)),
                            8);
            rewriteOggPage(stream, *page, false, file);
        }
    }
    stream.flush();
    return warmUp;
}

void writeSplitPartWarmUp(const fs::path& file, const fs::path& output, double start,
                          int mp3Frames) {
    rewriteFinishedPart(output, "write the start of", " into its audio header", [&] {
        writeMp3WarmUp(file, mp3Frames);
        writeOpusWarmUp(file, start, 0, OpusShownFrom::start);
    });
}

}  // namespace tavrolin
