#include "engine/split/FlacPartLength.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

#include "engine/split/PartFileBytes.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kStreamInfoSize = 34;
// How much of the end is searched for the last frame when STREAMINFO names no largest frame.
constexpr std::uint64_t kTailWindow = 1 << 20;

std::uint8_t byteAt(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint8_t>(bytes[at]);
}

std::uint8_t crc8(std::string_view bytes) {
    std::uint8_t crc = 0;
    for (char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint8_t>((crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1);
        }
    }
    return crc;
}

// The frame or sample number: UTF-8's scheme stretched to 36 bits.
std::optional<std::uint64_t> codedNumber(std::string_view bytes, std::size_t& at) {
    if (at >= bytes.size()) {
        return std::nullopt;
    }
    const std::uint8_t lead = byteAt(bytes, at++);
    int more = 0;
    while (more < 8 && (lead & (0x80 >> more)) != 0) {
        ++more;
    }
    if (more == 1 || more == 8) {
        return std::nullopt;
    }
    more = more == 0 ? 0 : more - 1;
    std::uint64_t value = more == 0 ? lead : lead & (0x3F >> more);
    for (int i = 0; i < more; ++i) {
        if (at >= bytes.size() || (byteAt(bytes, at) & 0xC0) != 0x80) {
            return std::nullopt;
        }
        value = (value << 6) | (byteAt(bytes, at++) & 0x3F);
    }
    return value;
}

std::string readAt(std::fstream& stream, std::uint64_t offset, std::uint64_t size) {
    std::string bytes(size, '\0');
    stream.seekg(static_cast<std::streamoff>(offset));
    stream.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(stream.gcount(), 0)));
    stream.clear();
    return bytes;
}

[[noreturn]] void fail(const fs::path& file, const char* what) {
    throw std::runtime_error(file.filename().string() + ": " + what);
}

}  // namespace

std::optional<FlacFrameSpan> readFlacFrameHeader(std::string_view bytes,
                                                 std::uint32_t fixedBlockSize) {
    if (bytes.size() < 6 || byteAt(bytes, 0) != 0xFF || (byteAt(bytes, 1) & 0xFE) != 0xF8) {
        return std::nullopt;
    }
    const bool variable = (byteAt(bytes, 1) & 1) != 0;
    const int sizeCode = byteAt(bytes, 2) >> 4;
    const int rateCode = byteAt(bytes, 2) & 0x0F;
    const int channels = byteAt(bytes, 3) >> 4;
    const int depthCode = (byteAt(bytes, 3) >> 1) & 0x07;
    if (sizeCode == 0 || rateCode == 15 || channels > 10 || depthCode == 3 ||
        (byteAt(bytes, 3) & 1) != 0) {
        return std::nullopt;
    }
    std::size_t at = 4;
    const auto number = codedNumber(bytes, at);
    if (!number) {
        return std::nullopt;
    }
    std::uint32_t samples = 0;
    if (sizeCode == 1) {
        samples = 192;
    } else if (sizeCode <= 5) {
        samples = 576u << (sizeCode - 2);
    } else if (sizeCode >= 8) {
        samples = 256u << (sizeCode - 8);
    } else {
        const std::size_t width = sizeCode == 6 ? 1 : 2;
        if (at + width > bytes.size()) {
            return std::nullopt;
        }
        samples = byteAt(bytes, at) + 1;
        if (width == 2) {
            samples = ((byteAt(bytes, at) << 8) | byteAt(bytes, at + 1)) + 1;
        }
        at += width;
    }
    at += rateCode == 12 ? 1 : rateCode == 13 || rateCode == 14 ? 2 : 0;
    if (at >= bytes.size() || crc8(bytes.substr(0, at)) != byteAt(bytes, at)) {
        return std::nullopt;
    }
    FlacFrameSpan span;
    span.firstSample = variable ? *number : *number * fixedBlockSize;
    span.samples = samples;
    span.rateAndDepth[0] = static_cast<std::uint8_t>(rateCode);
    span.rateAndDepth[1] = static_cast<std::uint8_t>(depthCode);
    return span;
}

void writeFlacPartLength(const fs::path& file) {
    std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
    if (!stream) {
        throw fs::filesystem_error("cannot open the part", file,
                                   std::make_error_code(std::errc::io_error));
    }
    if (readAt(stream, 0, 4) != "fLaC") {
        return;
    }
    // The metadata blocks, STREAMINFO first, then the frames.
    std::uint64_t offset = 4;
    std::string streamInfo;
    for (bool last = false; !last;) {
        const std::string header = readAt(stream, offset, 4);
        if (header.size() != 4) {
            fail(file, "its metadata ends early");
        }
        last = (byteAt(header, 0) & 0x80) != 0;
        const std::uint64_t size =
            (byteAt(header, 1) << 16) | (byteAt(header, 2) << 8) | byteAt(header, 3);
        if (offset == 4) {
            streamInfo = readAt(stream, offset + 4, kStreamInfoSize);
            if ((byteAt(header, 0) & 0x7F) != 0 || size != kStreamInfoSize ||
                streamInfo.size() != kStreamInfoSize) {
                fail(file, "it has no STREAMINFO");
            }
        }
        offset += 4 + size;
    }
    const std::uint32_t blockSize = (byteAt(streamInfo, 2) << 8) | byteAt(streamInfo, 3);
    const std::uint64_t sourceTotal =
        (static_cast<std::uint64_t>(byteAt(streamInfo, 13) & 0x0F) << 32) |
        (static_cast<std::uint64_t>(byteAt(streamInfo, 14)) << 24) |
        (byteAt(streamInfo, 15) << 16) | (byteAt(streamInfo, 16) << 8) | byteAt(streamInfo, 17);
    const std::uint32_t largestFrame =
        (byteAt(streamInfo, 7) << 16) | (byteAt(streamInfo, 8) << 8) | byteAt(streamInfo, 9);
    const auto first = readFlacFrameHeader(readAt(stream, offset, 16), blockSize);
    if (!first) {
        fail(file, "its first frame is not where its metadata ends");
    }
    // The last frame: the last header in the tail whose checksum holds and that counts on from
    // the first in the same format, within the source's samples.
    stream.seekg(0, std::ios::end);
    const std::uint64_t end = static_cast<std::uint64_t>(stream.tellg());
    const std::uint64_t window = largestFrame > 0 ? largestFrame + 16 : kTailWindow;
    const std::uint64_t tailStart = std::max(offset, end > window ? end - window : 0);
    const std::string tail = readAt(stream, tailStart, end - tailStart);
    std::optional<FlacFrameSpan> last;
    for (std::size_t at = tail.size(); at-- > 0 && !last;) {
        const auto span = readFlacFrameHeader(std::string_view(tail).substr(at), blockSize);
        if (span && span->firstSample >= first->firstSample && span->samples <= blockSize &&
            (sourceTotal == 0 || span->firstSample + span->samples <= sourceTotal) &&
            std::equal(span->rateAndDepth, span->rateAndDepth + 2, first->rateAndDepth)) {
            last = span;
        }
    }
    if (!last) {
        fail(file, "its last frame was not found");
    }
    const std::uint64_t total = last->firstSample + last->samples - first->firstSample;
    // 36 bits from the low half of byte 13; the MD5 after them.
    streamInfo[13] = static_cast<char>((byteAt(streamInfo, 13) & 0xF0) | ((total >> 32) & 0x0F));
    for (int i = 0; i < 4; ++i) {
        streamInfo[14 + i] = static_cast<char>((total >> (24 - 8 * i)) & 0xFF);
    }
    std::fill(streamInfo.begin() + 18, streamInfo.end(), '\0');
    stream.seekp(8);
    stream.write(streamInfo.data(), static_cast<std::streamsize>(streamInfo.size()));
    stream.flush();
    if (!stream) {
        throw fs::filesystem_error("cannot write the part's length", file,
                                   std::make_error_code(std::errc::io_error));
    }
}

void writeSplitPartLength(const fs::path& file, const fs::path& output) {
    rewriteFinishedPart(output, "write the length of", " into its FLAC header",
                        [&] { writeFlacPartLength(file); });
}

}  // namespace tavrolin
