#include "engine/split/PackedPlaceholderFlags.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/split/MatroskaElements.h"
#include "engine/split/Mp4Boxes.h"
#include "engine/split/PartFileBytes.h"
#include "engine/split/PresentationTimes.h"
#include "model/TextMetrics.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

bool isPlaceholderSize(std::uint64_t bytes) {
    return isPackedPlaceholder("mpeg4", static_cast<std::int64_t>(bytes));
}

std::uint64_t bigEndian(std::string_view bytes, std::size_t at, std::size_t size) {
    if (at + size > bytes.size()) {
        throw std::runtime_error("a box runs past its file");
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    }
    return value;
}

void putBigEndian32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>(value >> (24 - 8 * i) & 0xFF);
    }
}

std::vector<Mp4Box> boxesIn(std::string_view bytes, std::size_t from, std::size_t to) {
    std::vector<Mp4Box> boxes;
    while (from + 8 <= to) {
        boxes.push_back(mp4BoxAt(bytes.substr(from, 16), from, to));
        from = boxes.back().end;
    }
    return boxes;
}

std::optional<Mp4Box> child(std::string_view bytes, const Mp4Box& parent, std::string_view type) {
    for (const auto& box : boxesIn(bytes, parent.payload, parent.end)) {
        if (box.type == type) {
            return box;
        }
    }
    return std::nullopt;
}

// Drops from a video track's sync samples (stss) the samples of placeholder size (stsz).
void clearTrack(std::string& moov, const Mp4Box& trak) {
    const auto mdia = child(moov, trak, "mdia");
    const auto hdlr = mdia ? child(moov, *mdia, "hdlr") : std::nullopt;
    if (!hdlr || moov.substr(hdlr->payload + 8, 4) != "vide") {
        return;
    }
    const auto minf = child(moov, *mdia, "minf");
    const auto stbl = minf ? child(moov, *minf, "stbl") : std::nullopt;
    const auto stsz = stbl ? child(moov, *stbl, "stsz") : std::nullopt;
    const auto stss = stbl ? child(moov, *stbl, "stss") : std::nullopt;
    if (!stsz || !stss || bigEndian(moov, stsz->payload + 4, 4) != 0) {
        return;  // one size for every sample: no placeholder among them
    }
    const std::uint64_t samples = bigEndian(moov, stsz->payload + 8, 4);
    const std::uint64_t syncs = bigEndian(moov, stss->payload + 4, 4);
    std::vector<std::uint32_t> kept;
    for (std::uint64_t at = 0; at < syncs; ++at) {
        const auto sample =
            static_cast<std::uint32_t>(bigEndian(moov, stss->payload + 8 + 4 * at, 4));
        if (sample == 0 || sample > samples ||
            !isPlaceholderSize(bigEndian(moov, stsz->payload + 12 + 4 * (sample - 1), 4))) {
            kept.push_back(sample);
        }
    }
    // The box keeps its size; readers take the count and skip the rest.
    putBigEndian32(moov, stss->payload + 4, static_cast<std::uint32_t>(kept.size()));
    for (std::uint64_t at = 0; at < syncs; ++at) {
        putBigEndian32(moov, stss->payload + 8 + 4 * at, at < kept.size() ? kept[at] : 0);
    }
}

void clearMp4(std::fstream& stream, const fs::path& file) {
    const auto box = mp4BoxIn(stream, 0, fs::file_size(file), "moov");
    if (!box) {
        return;
    }
    std::string moov =
        readPartBytes(stream, box->start, static_cast<std::size_t>(box->end - box->start));
    const Mp4Box whole = boxesIn(moov, 0, moov.size()).front();
    for (const auto& trak : boxesIn(moov, whole.payload, whole.end)) {
        if (trak.type == "trak") {
            clearTrack(moov, trak);
        }
    }
    writePartBytes(stream, box->start, moov, file);
}

// Takes the keyframe flag off a cluster's placeholder blocks of `video` tracks; returns where
// those blocks lie, relative to the cluster's data.
std::set<std::uint64_t> clearCluster(std::fstream& stream, const Element& cluster,
                                     const std::set<std::uint64_t>& video, const fs::path& file) {
    std::set<std::uint64_t> cleared;
    for (const auto& block : elementsIn(stream, cluster.data, cluster.end())) {
        if (block.id != 0xA3) {
            continue;  // SimpleBlock
        }
        const std::string head = readPartBytes(stream, block.data, 12);
        const auto [track, length] = vint(head, 0, false);
        const std::size_t flags = length + 2;
        if (flags >= head.size() || !video.contains(track) || block.size <= flags ||
            !isPlaceholderSize(block.size - flags - 1) ||
            !(static_cast<std::uint8_t>(head[flags]) & 0x80)) {
            continue;
        }
        writePartBytes(
            stream, block.data + flags,
            std::string(1, static_cast<char>(static_cast<std::uint8_t>(head[flags]) & 0x7F)), file);
        cleared.insert(block.start - cluster.data);
    }
    return cleared;
}

// Overwrites a cue point that names a cleared block with a Void element of its length.
void voidCues(std::fstream& stream, const Element& cues, std::uint64_t segment,
              const std::map<std::uint64_t, std::set<std::uint64_t>>& cleared,
              const fs::path& file) {
    bool changed = false;
    for (const auto& point : elementsIn(stream, cues.data, cues.end())) {
        if (point.id != 0xBB) {
            continue;  // CuePoint
        }
        bool names = false;
        for (const auto& positions : elementsIn(stream, point.data, point.end())) {
            if (positions.id != 0xB7) {
                continue;  // CueTrackPositions
            }
            std::optional<std::uint64_t> cluster;
            std::optional<std::uint64_t> relative;
            for (const auto& field : elementsIn(stream, positions.data, positions.end())) {
                if (field.id == 0xF1) {
                    cluster = unsignedIn(stream, field);
                } else if (field.id == 0xF0) {
                    relative = unsignedIn(stream, field);
                }
            }
            const auto found = cluster ? cleared.find(segment + *cluster) : cleared.end();
            names =
                names || (relative && found != cleared.end() && found->second.contains(*relative));
        }
        if (names) {
            changed = true;
            const std::uint64_t length = point.end() - point.start;
            const std::size_t sizeLength = length >= 9 ? 8 : static_cast<std::size_t>(length - 1);
            std::string element(static_cast<std::size_t>(length), '\0');
            element[0] = static_cast<char>(0xEC);
            std::uint64_t size = length - 1 - sizeLength;
            for (std::size_t i = sizeLength; i >= 1; --i) {
                element[i] = static_cast<char>(size & 0xFF);
                size >>= 8;
            }
            element[1] = static_cast<char>(static_cast<std::uint8_t>(element[1]) |
                                           (0x80 >> (sizeLength - 1)));
            writePartBytes(stream, point.start, element, file);
        }
    }
    if (changed) {
        refreshCrc(stream, cues, file);
    }
}

void clearMatroska(std::fstream& stream, const fs::path& file) {
    const std::uint64_t length = fs::file_size(file);
    for (const auto& top : elementsIn(stream, 0, length)) {
        if (top.id != 0x18538067) {
            continue;  // Segment
        }
        std::set<std::uint64_t> video;
        std::map<std::uint64_t, std::set<std::uint64_t>> cleared;
        std::vector<Element> cues;
        for (const auto& element : elementsIn(stream, top.data, top.end())) {
            if (element.id == 0x1654AE6B) {  // Tracks
                for (const auto& entry : elementsIn(stream, element.data, element.end())) {
                    if (entry.id != 0xAE) {
                        continue;  // TrackEntry
                    }
                    std::uint64_t number = 0;
                    std::uint64_t type = 0;
                    for (const auto& field : elementsIn(stream, entry.data, entry.end())) {
                        number = field.id == 0xD7 ? unsignedIn(stream, field) : number;
                        type = field.id == 0x83 ? unsignedIn(stream, field) : type;
                    }
                    if (type == 1) {
                        video.insert(number);
                    }
                }
            } else if (element.id == 0x1F43B675) {  // Cluster
                cleared[element.start] = clearCluster(stream, element, video, file);
                if (!cleared[element.start].empty()) {
                    refreshCrc(stream, element, file);
                }
            } else if (element.id == 0x1C53BB6B) {  // Cues
                cues.push_back(element);
            }
        }
        for (const auto& element : cues) {
            voidCues(stream, element, top.data, cleared, file);
        }
    }
}

}  // namespace

void clearPlaceholderKeyframes(const fs::path& file) {
    const std::string extension = lowercased(file.extension().string());
    const bool mp4 = extension == ".mp4" || extension == ".m4v" || extension == ".mov";
    const bool matroska = extension == ".mkv";
    if (!mp4 && !matroska) {
        return;
    }
    std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
    if (!stream) {
        throw fs::filesystem_error("cannot open the part", file,
                                   std::make_error_code(std::errc::io_error));
    }
    if (mp4) {
        clearMp4(stream, file);
    } else {
        clearMatroska(stream, file);
    }
}

void clearSplitPartPlaceholders(const fs::path& file, const fs::path& output) {
    rewriteFinishedPart(output, "mark the keyframes of", "",
                        [&] { clearPlaceholderKeyframes(file); });
}

}  // namespace tavrolin
