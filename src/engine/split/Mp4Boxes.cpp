#include "engine/split/Mp4Boxes.h"

#include <stdexcept>

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
    return {std::string(header.substr(4, 4)), at + length, at + size};
}

}  // namespace tavrolin
