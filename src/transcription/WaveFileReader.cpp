#include "transcription/WaveFileReader.h"

#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace tavrolin {

static_assert(std::endian::native == std::endian::little, "WAV samples are read in place");

namespace {

std::uint32_t le32(const unsigned char* bytes) {
    return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

std::uint16_t le16(const unsigned char* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

// The streaming writers' placeholder for a length they could not fill in.
constexpr std::uint32_t unknownLength = 0xFFFFFFFF;
constexpr std::uint16_t pcmFormat = 1;
constexpr std::uint16_t extensibleFormat = 0xFFFE;

}  // namespace

WaveFileReader::WaveFileReader(const std::filesystem::path& file)
    : file_(std::fopen(file.c_str(), "rb")) {
    const std::string name = "\u201C" + file.filename().string() + "\u201D";
    if (!file_) {
        throw std::runtime_error("The audio file " + name + " could not be opened.");
    }
    const auto formatError = [&] {
        return std::runtime_error("The audio file " + name +
                                  " is not 16 kHz mono 16-bit PCM WAV audio.");
    };
    std::array<unsigned char, 12> riff{};
    if (std::fread(riff.data(), 1, riff.size(), file_.get()) != riff.size() ||
        std::memcmp(riff.data(), "RIFF", 4) != 0 || std::memcmp(riff.data() + 8, "WAVE", 4) != 0) {
        throw formatError();
    }
    bool formatSeen = false;
    for (;;) {
        std::array<unsigned char, 8> header{};
        if (std::fread(header.data(), 1, header.size(), file_.get()) != header.size()) {
            throw formatError();
        }
        const std::uint32_t size = le32(header.data() + 4);
        if (std::memcmp(header.data(), "fmt ", 4) == 0) {
            std::array<unsigned char, 40> format{};
            if (size < 16 || size > format.size() ||
                std::fread(format.data(), 1, size, file_.get()) != size) {
                throw formatError();
            }
            const std::uint16_t tag = le16(format.data());
            const bool pcm = tag == pcmFormat || (tag == extensibleFormat && size >= 26 &&
                                                  le16(format.data() + 24) == pcmFormat);
            if (!pcm || le16(format.data() + 2) != 1 || le32(format.data() + 4) != sampleRate ||
                le16(format.data() + 14) != 16) {
                throw formatError();
            }
            formatSeen = true;
            if (size % 2 != 0) {
                std::fseek(file_.get(), 1, SEEK_CUR);
            }
        } else if (std::memcmp(header.data(), "data", 4) == 0) {
            if (!formatSeen) {
                throw formatError();
            }
            if (size == unknownLength) {
                remainingBytes_ = std::numeric_limits<std::uint64_t>::max();
            } else {
                remainingBytes_ = size;
                sampleCount_ = size / 2;
            }
            return;
        } else if (std::fseek(file_.get(), static_cast<long>(size) + (size % 2), SEEK_CUR) != 0) {
            throw formatError();
        }
    }
}

std::size_t WaveFileReader::read(std::int16_t* buffer, std::size_t capacity) {
    const std::uint64_t wanted = std::min<std::uint64_t>(capacity, remainingBytes_ / 2);
    const std::size_t got = std::fread(buffer, sizeof(std::int16_t), wanted, file_.get());
    remainingBytes_ -= got * 2;
    return got;
}

}  // namespace tavrolin
