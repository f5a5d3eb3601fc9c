#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace tavrolin {

// A FLAC file copied from part of another keeps the other's STREAMINFO: its total sample count
// (which players take as the length) and the MD5 of all its audio. These functions make the
// header tell the part's own length. Any thread; no state.

// The FLAC frame header at the start of `bytes`: its first sample and its number of samples.
// `fixedBlockSize` turns a fixed-block stream's frame number into a sample. None when `bytes`
// does not start with a header whose checksum holds.
struct FlacFrameSpan {
    std::uint64_t firstSample = 0;
    std::uint32_t samples = 0;
    std::uint8_t rateAndDepth[2] = {};  // the header's sample-rate and sample-size codes
};
std::optional<FlacFrameSpan> readFlacFrameHeader(std::string_view bytes,
                                                 std::uint32_t fixedBlockSize);

// Writes into the FLAC `file`'s STREAMINFO the samples from its first frame to the end of its
// last, and an MD5 of zero (unknown), as the format allows. A file that is not FLAC is left as
// it is. Throws std::runtime_error when a FLAC file's frames cannot be found, and
// std::filesystem::filesystem_error when it cannot be read or written.
void writeFlacPartLength(const std::filesystem::path& file);

// The same for a split's working output `file`, whose failure throws
// MediaProcessingError::processFailed naming the part `output`.
void writeSplitPartLength(const std::filesystem::path& file, const std::filesystem::path& output);

}  // namespace tavrolin
