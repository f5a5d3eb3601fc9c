#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ChapterMetadataRenderer.h"
#include "model/OutputContainer.h"
#include "probe/PacketReading.h"

namespace tavrolin {

// A split's cuts are this much before the times they name: a time printed to the microsecond
// may lie a hair after the keyframe it names, and no two frames are this close.
inline constexpr double kSplitCutMargin = 0.001;

// How a split writes one source stream into a part.
enum class SplitStreamRole {
    video,         // the first video stream: cut in decoding order at its keyframes
    timed,         // audio, subtitles, data and any further video: cut at the cut times
    picture,       // an attached picture (cover art): its one packet goes into every part
    attachment,    // a Matroska attachment (fonts): no packets
    chapterTrack,  // MP4's text track of the chapters: the part's chapters are written anew
    timecode,      // a QuickTime timecode track: the part's is written anew from its start
};

struct StreamTimeBase {
    std::int64_t num = 0;
    std::int64_t den = 0;

    friend bool operator==(const StreamTimeBase&, const StreamTimeBase&) = default;
};

struct SplitStream {
    SplitStream(std::int64_t index, SplitStreamRole role) : index(index), role(role) {}

    std::int64_t index;
    SplitStreamRole role;
    std::string kind;  // ffprobe's codec type: "video", "audio", …
    StreamTimeBase timeBase;
    std::int64_t sampleRate = 0;
    StreamTimeBase frameRate;  // a video's frames a second, as a ratio
    std::string timecode;      // the timecode of its first frame, when it has one ("01:00:00:00")
    std::string codec;         // ffprobe's codec name: "aac", "opus", "png", …
    // For a picture: the Matroska attachment's name and type, when it has them.
    std::string fileName;
    std::string mimeType;
    // For MP3 audio in a part after a cut: how many frames its bit reservoir needs read before
    // the cut (see mp3ReservoirWarmUpFrames); none: not measured.
    std::optional<int> mp3WarmUpFrames = std::nullopt;

    friend bool operator==(const SplitStream&, const SplitStream&) = default;
};

// What a split needs to know of its source besides the cut times. A plain value.
struct SplitSourceLayout {
    std::vector<SplitStream> streams;  // in the source's order
    std::vector<SourceChapter> chapters;
    std::optional<double> duration;
    // For a part that ends at a keyframe: where the first video stream's part ends, the
    // presentation time of the first of that keyframe's leading pictures, or the keyframe's own
    // time. None when the keyframe was not found (no video, or none near the end time).
    std::optional<double> videoEnd;
    std::string formatName;  // ffprobe's name of the source's demuxer ("matroska,webm", …)
    // The source's first timestamp (a recording's may be hours in); cut times count from it.
    double start = 0;
    // The presentation time of the source's last frame before `videoEnd`, the part's last: it
    // lasts until `videoEnd`, however long its own packet says. None when not read.
    std::optional<double> videoLastFrame = std::nullopt;
    // The source's bits a second, as its container states them; 0 when it states none.
    double bitRate = 0;

    friend bool operator==(const SplitSourceLayout&, const SplitSourceLayout&) = default;
};

// Whether a part in `container` (none: a format the menu lacks, such as an MPEG program stream)
// carries a data stream of `codec` as copied: only QuickTime holds data tracks, and a DVD's
// navigation packets (the disc's menus and angles) go into none. The others are left out.
bool splitPartCarriesData(std::string_view codec, std::optional<OutputContainer> container);

// The time a part from the source's beginning counts from, its time 0: the source's first
// timestamp when it lies well away from 0 (a recording hours in, a late edit), else 0, so that
// the few hundredths of a second of codec delay that a muxer writes again (MP3's, for one)
// stay as the source has them.
double splitSourceZero(const SplitSourceLayout& layout);

// How far before a keyframe a cut's input starts: the margin in whole ticks of the first video
// stream's time base, so that the keyframe lands on a tick and at the part's time 0 exactly (at
// 1/2400 the margin alone is 2.4 ticks: ffmpeg rounds the start to 2, and the keyframe would
// fall before the part's start, where libav-based players drop it).
double splitCutLead(const SplitSourceLayout& layout);

// The layout of a source whose reader reports `format` and, with an end time, read `packets`
// around it. The part's video ends at the first keyframe at or after `endTime` (within the
// margin), before its leading pictures; a read that began after `endTime` tells none. `endTime`
// is in the source's own timestamps, negative ones included (a broadcast whose clock rolled
// over).
SplitSourceLayout splitLayoutOf(const PacketFormat& format, const std::vector<ReadPacket>& packets,
                                std::optional<double> endTime);

// Reads `input`'s layout with the packet reader: its header and, with an end time and video,
// the packets from a little before it to several seconds after. Throws as openPacketReader and
// PacketReading::read do.
SplitSourceLayout readSplitSourceLayout(const std::filesystem::path& input,
                                        std::optional<double> endTime, std::stop_token stop);

}  // namespace tavrolin
