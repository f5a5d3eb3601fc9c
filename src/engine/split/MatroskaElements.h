#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <utility>
#include <vector>

namespace tavrolin {

// The elements of a written Matroska part, read and rewritten in place after ffmpeg's run.
// Any thread; no state. A file that is not Matroska throws std::runtime_error.

// A Matroska element: its ID (with the length marker), where its header and data start, and its
// data's size.
struct Element {
    std::uint32_t id = 0;
    std::uint64_t start = 0;
    std::uint64_t data = 0;
    std::uint64_t size = 0;
    std::uint64_t end() const { return data + size; }
};

// An EBML variable-length number at `at` of `bytes`: its value (marker kept or dropped) and
// length.
std::pair<std::uint64_t, std::size_t> vint(std::string_view bytes, std::size_t at, bool marker);

// The elements from `from` to `to`; one of unknown size runs to `to`.
std::vector<Element> elementsIn(std::fstream& stream, std::uint64_t from, std::uint64_t to);

// An unsigned integer element's value; 0 when it holds none.
std::uint64_t unsignedIn(std::fstream& stream, const Element& element);

// An element that begins with a CRC-32 of the rest of its data (as ffmpeg writes clusters, cues
// and the track list) gets it anew.
void refreshCrc(std::fstream& stream, const Element& element, const std::filesystem::path& file);

// The length that the segment's header states, made `seconds`; a file whose header holds no
// 8-byte length is left as it is.
void writeMatroskaDuration(const std::filesystem::path& file, double seconds);

}  // namespace tavrolin
