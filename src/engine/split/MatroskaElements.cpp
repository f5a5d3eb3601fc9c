#include "engine/split/MatroskaElements.h"

#include <bit>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

#include "engine/split/PartFileBytes.h"
#include "probe/EbmlNumber.h"

namespace tavrolin {

namespace fs = std::filesystem;

std::pair<std::uint64_t, std::size_t> vint(std::string_view bytes, std::size_t at, bool marker) {
    const auto number =
        at < bytes.size()
            ? readEbmlNumber(
                  {reinterpret_cast<const std::uint8_t*>(bytes.data()) + at, bytes.size() - at},
                  marker)
            : std::nullopt;
    if (!number) {
        throw std::runtime_error("not a Matroska number");
    }
    return *number;
}

std::vector<Element> elementsIn(std::fstream& stream, std::uint64_t from, std::uint64_t to) {
    std::vector<Element> elements;
    while (from < to) {
        const std::string header = readPartBytes(stream, from, 12);
        const auto [id, idLength] = vint(header, 0, true);
        const auto [size, sizeLength] = vint(header, idLength, false);
        Element element{static_cast<std::uint32_t>(id), from, from + idLength + sizeLength, size};
        if (size == (std::uint64_t{1} << (7 * sizeLength)) - 1 || element.end() > to) {
            element.size = to - element.data;  // of unknown size: to its parent's end
        }
        elements.push_back(element);
        from = element.end();
    }
    return elements;
}

std::uint64_t unsignedIn(std::fstream& stream, const Element& element) {
    const std::string bytes =
        readPartBytes(stream, element.data, static_cast<std::size_t>(element.size));
    return bytes.empty() || bytes.size() > 8 ? 0 : [&] {
        std::uint64_t value = 0;
        for (const char byte : bytes) {
            value = value << 8 | static_cast<std::uint8_t>(byte);
        }
        return value;
    }();
}

void writeMatroskaDuration(const fs::path& file, double seconds) {
    std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
    if (!stream) {
        throw fs::filesystem_error("cannot open the part", file,
                                   std::make_error_code(std::errc::io_error));
    }
    const std::uint64_t length = fs::file_size(file);
    for (const auto& top : elementsIn(stream, 0, length)) {
        if (top.id != 0x18538067) {
            continue;  // Segment
        }
        for (const auto& info : elementsIn(stream, top.data, top.end())) {
            if (info.id != 0x1549A966) {
                continue;  // Info
            }
            double scale = 1000000;  // nanoseconds a tick
            std::optional<Element> duration;
            for (const auto& field : elementsIn(stream, info.data, info.end())) {
                if (field.id == 0x2AD7B1) {
                    scale = static_cast<double>(unsignedIn(stream, field));
                } else if (field.id == 0x4489 && field.size == 8) {
                    duration = field;
                }
            }
            if (!duration || scale <= 0) {
                return;
            }
            const auto bits = std::bit_cast<std::uint64_t>(seconds * 1e9 / scale);
            std::string bytes(8, '\0');
            for (std::size_t i = 0; i < 8; ++i) {
                bytes[i] = static_cast<char>(bits >> (8 * (7 - i)) & 0xFF);
            }
            writePartBytes(stream, duration->data, bytes, file);
            refreshCrc(stream, info, file);
            stream.flush();
            return;
        }
    }
}

void refreshCrc(std::fstream& stream, const Element& element, const fs::path& file) {
    const auto children = elementsIn(stream, element.data, element.end());
    if (children.empty() || children.front().id != 0xBF || children.front().size != 4) {
        return;
    }
    const std::uint64_t from = children.front().end();
    const std::string bytes =
        readPartBytes(stream, from, static_cast<std::size_t>(element.end() - from));
    std::uint32_t crc = 0xFFFFFFFF;
    for (const char byte : bytes) {
        crc ^= static_cast<std::uint8_t>(byte);
        for (int bit = 0; bit < 8; ++bit) {
            crc = crc & 1 ? crc >> 1 ^ 0xEDB88320 : crc >> 1;
        }
    }
    crc ^= 0xFFFFFFFF;
    std::string stored(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) {
        stored[i] = static_cast<char>(crc >> (8 * i) & 0xFF);
    }
    writePartBytes(stream, children.front().data, stored, file);
}

}  // namespace tavrolin
