// The header rewrites that hide a part's warm-up, on hand-made files: what they change, what
// they leave, and the files they refuse.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/split/Mp3Reservoir.h"
#include "engine/split/SplitPartWarmUp.h"
#include "support/TempDir.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

std::string littleEndian(std::uint64_t value, int size) {
    std::string bytes;
    for (int i = 0; i < size; ++i) {
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return bytes;
}

// An Ogg page of one stream holding `body` as one packet.
std::string oggPage(char type, std::uint64_t granule, std::uint32_t sequence,
                    const std::string& body) {
    return "OggS" + std::string(1, '\0') + std::string(1, type) + littleEndian(granule, 8) +
           littleEndian(7, 4) + littleEndian(sequence, 4) + littleEndian(0, 4) +
           std::string(1, '\1') + std::string(1, static_cast<char>(body.size())) + body;
}

// Ogg Opus: its head (pre-skip 312), its tags and `packets` 20 ms packets, each on a page, the
// first at `granule`.
std::string opusFile(std::uint64_t granule, int packets = 1) {
    const std::string head = "OpusHead" + std::string(1, '\1') + std::string(1, '\1') +
                             littleEndian(312, 2) + littleEndian(48000, 4) + littleEndian(0, 3);
    std::string file = oggPage(2, 0, 0, head) + oggPage(0, 0, 1, "OpusTags" + littleEndian(0, 8));
    for (int i = 0; i < packets; ++i) {
        file += oggPage(i + 1 < packets ? 0 : 4, granule + 960 * static_cast<std::uint64_t>(i),
                        static_cast<std::uint32_t>(2 + i), "\xF8\x01\x02");
    }
    return file;
}

// The pre-skip in the head of such a file.
int opusPreSkip(const std::string& file) {
    constexpr std::size_t preSkip = 27 + 1 + 10;
    return static_cast<std::uint8_t>(file[preSkip]) |
           (static_cast<std::uint8_t>(file[preSkip + 1]) << 8);
}

// An MPEG-1 Layer III frame (128 kb/s, 44.1 kHz, stereo: 417 bytes) with an Info header
// whose frames, bytes, TOC and quality fields are all there, then `extension` where a LAME
// extension goes.
std::string mp3File(const std::string& extension) {
    std::string frame = "\xFF\xFB\x90";
    frame += std::string(1, '\0') + std::string(32, '\0') + "Info" + littleEndian(0x0F000000, 4);
    frame += std::string(112, '\x11') + extension;
    frame.resize(417, '\0');
    return frame + frame;  // and the next frame
}

// The LAME extension's encoder delay, in its 12 bits.
int lameDelay(const std::string& file) {
    constexpr std::size_t lame = 4 + 32 + 8 + 112;
    return (static_cast<std::uint8_t>(file[lame + 21]) << 4) |
           (static_cast<std::uint8_t>(file[lame + 22]) >> 4);
}

}  // namespace

// Each rewrite changes only what its header holds: an MP3 part's delay where a LAME extension
// says it is there (bytes after a bare Xing header are audio), an Ogg Opus part's positions
// unless one of them would pass 64 bits, which fails with the file untouched. An Opus part's
// pre-skip hides what lies before its start; a copy's, the whole packets that start before it.
TEST(SplitWarmUpHeaders, RewriteOnlyWhatTheHeaderHolds) {
    const std::string lame = "Lavc59.37" + std::string(27, '\0');
    const auto mp3WarmUp = [](const fs::path& file) { writeMp3WarmUp(file, 2); };
    const struct {
        const char* name;
        std::string bytes;
        std::function<void(const fs::path&)> rewrite;
        bool throws;
        int delay;  // the LAME delay or the Opus pre-skip after the rewrite; -1: the file as it was
    } rows[] = {
        {"LAME extension", mp3File(lame), mp3WarmUp, false, 2 * 1152 - 529},
        {"bare Xing header", mp3File(std::string(36, '\x5A')), mp3WarmUp, false, -1},
        {"Opus near the lowest position", opusFile(0x8000000000000064ULL),
         [](const fs::path& file) { writeOpusWarmUp(file, -0.1); }, true, -1},
        // Two packets from the source's start, the second 20 ms in; a part's audio starts 5 ms in.
        {"Opus part", opusFile(960 + 312, 2),
         [](const fs::path& file) { writeSplitPartWarmUp(file, file, 0.005, 0); }, false, 240},
        {"Opus copy for Matroska", opusFile(960 + 312, 2),
         [](const fs::path& file) { writeOpusWarmUp(file, 0.005); }, false, 960},
    };
    tavtest::TempDir folder;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path file = folder / "part";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << row.bytes;
        if (row.throws) {
            EXPECT_THROW(row.rewrite(file), std::runtime_error);
        } else {
            row.rewrite(file);
        }
        std::ifstream in(file, std::ios::binary);
        const std::string written{std::istreambuf_iterator<char>(in), {}};
        ASSERT_EQ(written.size(), row.bytes.size());
        if (row.delay < 0) {
            EXPECT_EQ(written, row.bytes);
        } else if (written.starts_with("OggS")) {
            EXPECT_EQ(opusPreSkip(written), row.delay);
        } else {
            EXPECT_EQ(lameDelay(written), row.delay);
            EXPECT_EQ(written.substr(417), row.bytes.substr(417));
        }
    }
}

namespace {

// Layer III frames without checksums: MPEG-1 stereo at 128 kb/s and 44.1 kHz (417 bytes, 381 of
// main data), MPEG-2 mono at 32 kb/s and 22.05 kHz (104 bytes, 91 of main data), each frame's
// main data beginning the given bytes before it; "Info" makes the first a Xing/Info frame.
std::string layer3(bool mpeg1, const std::vector<int>& begins, bool info = false) {
    std::string file;
    for (int begin : begins) {
        std::string frame =
            mpeg1 ? std::string("\xFF\xFB\x90\x00", 4) : std::string("\xFF\xF3\x40\xC0", 4);
        std::string side(mpeg1 ? 32 : 9, '\0');
        side[0] = static_cast<char>(mpeg1 ? begin >> 1 : begin);
        side[1] = static_cast<char>(mpeg1 ? (begin & 1) << 7 : 0);
        frame += side + (info && file.empty() ? "Info" : "");
        frame.resize(mpeg1 ? 417 : 104, '\x55');
        file += frame;
    }
    return file;
}

}  // namespace

// A part carries the frames its first one rests on: the one before it (two in MPEG-2, whose
// frames hold one granule), and those their and its own reservoirs reach into; none counted in
// a file whose frames cannot be read up to the cut.
TEST(SplitWarmUpHeaders, Mp3WarmUpIsTheFramesTheCutFrameRestsOn) {
    const std::string id3 = std::string("ID3\x04\0\0\0\0\0\x0A", 10) + std::string(10, '\0');
    const struct {
        const char* name;
        std::string bytes;
        std::int64_t cut;
        std::optional<int> frames;
    } rows[] = {
        {"MPEG-1, nothing reaching back", layer3(true, {0, 0, 0, 0, 0, 0}), 5, 1},
        {"MPEG-1, the frame before reaching two back", layer3(true, {0, 0, 0, 0, 400, 0}), 5, 3},
        {"MPEG-1, the cut frame reaching two back", layer3(true, {0, 0, 0, 0, 0, 500}), 5, 2},
        {"MPEG-2, nothing reaching back", layer3(false, {0, 0, 0, 0, 0, 0}), 5, 2},
        {"MPEG-2, two before reaching three back", layer3(false, {0, 0, 0, 200, 0, 0}), 5, 5},
        {"behind a tag and an Info frame", id3 + layer3(false, {0, 0, 0, 0, 200, 0, 0}, true), 5,
         5},
        {"near the start", layer3(false, {0, 255, 0}), 1, 1},
        {"the first frame", layer3(false, {0, 0}), 0, 0},
        {"ending before the cut", layer3(true, {0, 0, 0, 0}), 5, std::nullopt},
        {"a broken frame", layer3(true, {0, 0}) + std::string(417, '\x55') + layer3(true, {0, 0}),
         3, std::nullopt},
    };
    tavtest::TempDir folder;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path file = folder / "source.mp3";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << row.bytes;
        EXPECT_EQ(mp3ReservoirWarmUpFrames(file, row.cut), row.frames);
    }
}
