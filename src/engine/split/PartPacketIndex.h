#pragma once

#include <filesystem>
#include <optional>
#include <vector>

namespace tavrolin {

// A written file's packets as ffprobe would show them, read from the file's own index instead:
// a part's check then costs no ffprobe run (most of whose time is loading its libraries). Any
// thread; no state. A file these readers do not fully understand reads as none, and its check
// falls back to ffprobe.

// One packet of the read stream.
struct IndexedPacket {
    double time = 0;                                // presentation time in seconds (pts_time)
    std::optional<double> duration = std::nullopt;  // duration_time, when the file states one
    bool keyframe = false;                          // ffprobe's flag K
    bool discard = false;                           // ffprobe's flag D
};

struct PartPacketIndex {
    // The stream's packets in the order a demuxer returns them (decoding order).
    std::vector<IndexedPacket> packets;
    std::optional<double> start = std::nullopt;     // the format's start_time
    std::optional<double> duration = std::nullopt;  // the format's duration
};

// With `video`, the first video stream that is not an attached picture (no packets when there
// is none), else the first audio stream, of an MP4, MOV, M4V or M4A file written by ffmpeg; none
// when the file is not one or holds what the reader does not follow (fragments, several edits it
// cannot place).
std::optional<PartPacketIndex> readMp4PacketIndex(const std::filesystem::path& file, bool video);

// The same of a Matroska or WebM file.
std::optional<PartPacketIndex> readMatroskaPacketIndex(const std::filesystem::path& file,
                                                       bool video);

// Whether a file named `named` has a container whose own index readPartIndex reads.
bool readsPartIndex(const std::filesystem::path& named);

// The packets of `file`'s first video stream (`video`), else its first audio stream, read from
// its own index when its container (by `named`'s extension) is one read so; else none.
std::optional<PartPacketIndex> readPartIndex(const std::filesystem::path& file,
                                             const std::filesystem::path& named, bool video);

}  // namespace tavrolin
