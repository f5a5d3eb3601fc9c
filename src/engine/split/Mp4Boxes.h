#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

namespace tavrolin {

// An MP4 box: its type and where it starts, its payload starts and it ends, in the bytes (or
// file) it was read from.
struct Mp4Box {
    std::string type;
    std::uint64_t payload = 0;
    std::uint64_t end = 0;
    std::uint64_t start = 0;
};

// The box whose header `header` holds (the bytes from its start: 16, or fewer where they end),
// placed at `at` within a parent (or file) that ends at `to`. A size of 1 is read from the
// 64-bit field, a size of 0 runs to `to`. Throws std::runtime_error when the header is cut off
// or the box runs past `to`.
Mp4Box mp4BoxAt(std::string_view header, std::uint64_t at, std::uint64_t to);

// The first box of type `type` among the boxes of `stream` from `from` to `to` (a file's top
// level, or a parent's payload); none when no box there has that type. Throws as mp4BoxAt.
std::optional<Mp4Box> mp4BoxIn(std::fstream& stream, std::uint64_t from, std::uint64_t to,
                               std::string_view type);

}  // namespace tavrolin
