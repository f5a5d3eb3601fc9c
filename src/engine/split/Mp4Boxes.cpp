#include "engine/split/Mp4Boxes.h"

#include <stdexcept>

#include "engine/split/PartFileBytes.h"

namespace tavrolin {

namespace {

std::uint64_t bigEndian(std::string_view bytes, std::size_t at, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    }
    return value;
}

}  // namespace

Mp4Box mp4BoxAt(std::string_view header, std::uint64_t at, std::uint64_t to) {
    if (header.size() < 8) {
        throw std::runtime_error("a box header is cut off");
    }
    std::uint64_t size = bigEndian(header, 0, 4);
    std::uint64_t length = 8;
    if (size == 1) {
        if (header.size() < 16) {
            throw std::runtime_error("a box header is cut off");
        }
        size = bigEndian(header, 8, 8);
        length = 16;
    } else if (size == 0) {
        size = to - at;
    }
    if (size < length || at > to || size > to - at) {
        throw std::runtime_error("a box runs past its parent");
    }
    return {std::string(header.substr(4, 4)), at + length, at + size, at};
}

std::optional<Mp4Box> mp4BoxIn(std::fstream& stream, std::uint64_t from, std::uint64_t to,
                               std::string_view type) {
    while (from + 8 <= to) {
        const Mp4Box box = mp4BoxAt(readPartBytes(stream, from, 16), from, to);
        if (box.type == type) {
            return box;
        }
        from = box.end;
    }
    return std::nullopt;
}

}  // namespace tavrolin
