#pragma once

#include <bit>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "TestMedia.h"

namespace tavtest {

// Hand-written Matroska elements, with four-byte sizes as FFmpeg writes them.
inline std::string ebml(std::string_view id, const std::string& body) {
    const auto size = body.size();
    std::string element(id);
    element += {'\x10', static_cast<char>(size >> 16), static_cast<char>(size >> 8),
                static_cast<char>(size)};
    return element + body;
}

inline std::string ebmlUnsigned(std::string_view id, std::uint64_t value) {
    std::string bytes;
    do {
        bytes.insert(bytes.begin(), static_cast<char>(value & 0xFF));
        value >>= 8;
    } while (value != 0);
    return ebml(id, bytes);
}

struct HandChapter {
    double start = 0;
    double end = 0;
    std::string title;
    bool linksOtherFile = false;  // plays part of another segment
};

// A Chapters element with one edition of `chapters`.
inline std::string chaptersElement(bool ordered, const std::vector<HandChapter>& chapters) {
    std::string edition = ebmlUnsigned("\x45\xBC", 7) + ebmlUnsigned("\x45\xDD", ordered ? 1 : 0);
    std::uint64_t uid = 1;
    for (const auto& chapter : chapters) {
        std::string atom = ebmlUnsigned("\x73\xC4", uid++) +
                           ebmlUnsigned("\x91", static_cast<std::uint64_t>(chapter.start * 1e9)) +
                           ebmlUnsigned("\x92", static_cast<std::uint64_t>(chapter.end * 1e9));
        if (chapter.linksOtherFile) {
            atom += ebml("\x6E\x67", std::string(16, '\x11'));
        }
        atom += ebml("\x80", ebml("\x85", chapter.title) + ebml("\x43\x7C", "eng"));
        edition += ebml("\xB6", atom);
    }
    return ebml(std::string_view("\x10\x43\xA7\x70", 4), ebml("\x45\xB9", edition));
}

// Matroska, 4 s of H.264 at 25 frames a second, whose Chapters element is `chapters`: written
// over the one FFmpeg wrote, the rest filled by a Void element so every offset still holds.
inline std::filesystem::path matroskaWithChapters(const std::string& name,
                                                  const std::string& chapters) {
    const auto folder = TestMedia::shared().folder;
    const std::string longTitle(300, 'x');
    std::ofstream(folder / "long-chapters.txt")
        << ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=2000\ntitle=" << longTitle
        << "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=2000\nEND=4000\ntitle=" << longTitle << "\n";
    const auto base = TestMedia::generate(
        "long-chapters.mkv",
        {"-f", "lavfi", "-i", "testsrc2=size=64x36:rate=25:duration=4", "-i",
         (folder / "long-chapters.txt").string(), "-map", "0", "-map_chapters", "1", "-c:v",
         "libx264", "-preset", "ultrafast", "-g", "25", "-pix_fmt", "yuv420p"});
    std::ifstream in(base, std::ios::binary);
    std::string data{std::istreambuf_iterator<char>(in), {}};
    // The first identifier is the seek head's entry; the second starts the element.
    const std::string id("\x10\x43\xA7\x70", 4);
    const auto at = data.find(id, data.find(id) + 4);
    if (at == std::string::npos) {
        throw std::runtime_error("no Chapters element in " + base.string());
    }
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(data[at + i]); };
    const std::size_t sizeLength = static_cast<std::size_t>(std::countl_zero(byte(4))) + 1;
    std::size_t total = byte(4) & (0xFF >> sizeLength);
    for (std::size_t i = 1; i < sizeLength; ++i) {
        total = (total << 8) | byte(4 + i);
    }
    total += 4 + sizeLength;
    if (chapters.size() + 8 > total) {
        throw std::runtime_error("the hand-written chapters do not fit");
    }
    data.replace(at, total,
                 chapters + ebml("\xEC", std::string(total - chapters.size() - 8, '\0')));
    const auto path = folder / name;
    std::ofstream(path, std::ios::binary) << data;
    return path;
}

}  // namespace tavtest
