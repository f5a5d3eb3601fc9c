#include "engine/split/Mp3Reservoir.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <vector>

#include "engine/split/SplitStreamCuts.h"

namespace tavrolin {

namespace {

struct Mp3Frame {
    std::size_t length = 0;      // bytes, header included
    std::size_t sideInfoAt = 0;  // after the header and its checksum
    std::size_t sideInfo = 0;
    bool mpeg1 = false;
};

std::uint8_t byteAt(const char* bytes, std::size_t at) {
    return static_cast<std::uint8_t>(bytes[at]);
}

// The layer III frame whose 4-byte header is `header`; none for anything else.
std::optional<Mp3Frame> layer3Frame(const char* header) {
    constexpr std::array<int, 15> mpeg1Rates = {0,   32,  40,  48,  56,  64,  80, 96,
                                                112, 128, 160, 192, 224, 256, 320};
    constexpr std::array<int, 15> mpeg2Rates = {0,  8,  16, 24,  32,  40,  48, 56,
                                                64, 80, 96, 112, 128, 144, 160};
    constexpr std::array<int, 3> sampleRates = {44100, 48000, 32000};
    if (byteAt(header, 0) != 0xFF || (byteAt(header, 1) & 0xE0) != 0xE0) {
        return std::nullopt;
    }
    const int version = (byteAt(header, 1) >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = (byteAt(header, 1) >> 1) & 3;    // 1: layer III
    const int bitRate = byteAt(header, 2) >> 4;
    const int sampleRate = (byteAt(header, 2) >> 2) & 3;
    if (version == 1 || layer != 1 || bitRate == 0 || bitRate == 15 || sampleRate == 3) {
        return std::nullopt;
    }
    Mp3Frame frame;
    frame.mpeg1 = version == 3;
    const int rate = sampleRates[static_cast<std::size_t>(sampleRate)] >> (frame.mpeg1    ? 0
                                                                           : version == 2 ? 1
                                                                                          : 2);
    const int kbps = (frame.mpeg1 ? mpeg1Rates : mpeg2Rates)[static_cast<std::size_t>(bitRate)];
    const int padding = (byteAt(header, 2) >> 1) & 1;
    frame.length = static_cast<std::size_t>((frame.mpeg1 ? 144000 : 72000) * kbps / rate + padding);
    const bool mono = (byteAt(header, 3) >> 6) == 3;
    frame.sideInfoAt = 4 + ((byteAt(header, 1) & 1) == 0 ? 2 : 0);
    frame.sideInfo = frame.mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    if (frame.length < frame.sideInfoAt + frame.sideInfo) {
        return std::nullopt;
    }
    return frame;
}

// How many frames before `frame` (whose main data begins `back` bytes before its side info
// ends) hold that data, given the main data bytes each frame holds.
int framesReached(const std::vector<std::size_t>& mainData, std::size_t frame, std::size_t back) {
    std::size_t held = 0;
    int reached = 0;
    while (held < back && frame > static_cast<std::size_t>(reached)) {
        ++reached;
        held += mainData[frame - static_cast<std::size_t>(reached)];
    }
    return reached;
}

}  // namespace

std::uint64_t mp3FramesStart(std::string_view head) {
    if (head.size() < 10 || head.substr(0, 3) != "ID3") {
        return 0;
    }
    std::uint64_t size = 0;
    for (std::size_t i = 6; i < 10; ++i) {
        size = (size << 7) | (byteAt(head.data(), i) & 0x7F);
    }
    return 10 + size + ((byteAt(head.data(), 5) & 0x10) != 0 ? 10 : 0);
}

std::optional<int> mp3ReservoirWarmUpFrames(const std::filesystem::path& file,
                                            std::int64_t cutFrame) {
    if (cutFrame <= 0) {
        return cutFrame == 0 ? std::optional<int>(0) : std::nullopt;
    }
    std::ifstream stream(file, std::ios::binary);
    char head[10] = {};
    if (!stream.read(head, sizeof head)) {
        return std::nullopt;
    }
    stream.seekg(static_cast<std::streamoff>(mp3FramesStart(std::string_view(head, sizeof head))));
    const auto last = static_cast<std::size_t>(cutFrame);
    std::vector<std::size_t> mainData;
    // main_data_begin of the cut frame and of the two before it, the nearest first
    std::array<std::size_t, 3> begins = {};
    std::vector<char> bytes(2048);
    bool first = true;
    bool mpeg1 = false;
    while (mainData.size() <= last) {
        if (!stream.read(bytes.data(), 4)) {
            return std::nullopt;
        }
        const auto frame = layer3Frame(bytes.data());
        if (!frame ||
            !stream.read(bytes.data() + 4,
                         static_cast<std::streamsize>(std::min(frame->length, bytes.size()) - 4))) {
            return std::nullopt;
        }
        const char* side = bytes.data() + frame->sideInfoAt;
        const std::string_view tag(side + frame->sideInfo, 4);
        if (!first || (tag != "Xing" && tag != "Info")) {
            // 9 bits in MPEG-1, 8 in the others.
            const std::size_t begin =
                frame->mpeg1 ? (std::size_t{byteAt(side, 0)} << 1) | (byteAt(side, 1) >> 7)
                             : std::size_t{byteAt(side, 0)};
            if (last - mainData.size() < begins.size()) {
                begins[last - mainData.size()] = begin;
            }
            mainData.push_back(frame->length - frame->sideInfoAt - frame->sideInfo);
            mpeg1 = frame->mpeg1;
        }
        first = false;
    }
    // The cut frame's first samples come from the synthesis filter's history, the last 15 of
    // the 18 sub-band samples before them, which overlap the transform of the granule before
    // those: both in the frame before the cut when it holds two granules (MPEG-1), the two
    // frames before it when it holds one. Each of these frames needs its main data.
    const std::size_t needed = std::min<std::size_t>(mpeg1 ? 1 : 2, last);
    int frames = 0;
    for (std::size_t back = 0; back <= needed; ++back) {
        frames = std::max(
            frames, framesReached(mainData, last - back, begins[back]) + static_cast<int>(back));
    }
    return frames;
}

int measureMp3WarmUp(SplitSourceLayout& layout, const SplitRequest& split) {
    int frames = kMp3WarmUpFrames;
    // Only an MP3 file's frames lie one after another from its start.
    if (layout.formatName != "mp3" || split.startTime <= layout.start) {
        return frames;
    }
    const double cut = split.startTime - splitCutLead(layout);
    for (auto& stream : layout.streams) {
        if (splitWarmUpInMp3Header(stream, split.output)) {
            stream.mp3WarmUpFrames =
                mp3ReservoirWarmUpFrames(split.input, mp3CutFrame(stream, cut));
            frames = mp3WarmUpFrames(stream);
        }
    }
    return frames;
}

}  // namespace tavrolin
