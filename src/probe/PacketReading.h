#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace tavrolin {

// A file's streams and packets as libavformat demuxes them, read in-process: the same library
// and calls as `ffprobe -show_packets -show_format`, so the same answers, without a child
// process per read.

// A fraction of a second: a stream's ticks.
struct TimeBase {
    int num = 0;
    int den = 1;
};

// A stream's or chapter's metadata, in the file's order.
using PacketTags = std::vector<std::pair<std::string, std::string>>;

struct PacketStream {
    int index = 0;
    std::string codecType;  // "video", "audio", "subtitle", "data", "attachment"
    std::string codecName;  // "h264", "aac"; "none" when libav knows none
    bool attachedPicture = false;
    TimeBase timeBase;
    int videoDelay = 0;    // frames a decoder holds back to reorder (ffprobe's has_b_frames)
    std::string codecTag;  // the container's four letters for its codec ("avc1", "tmcd")
    int sampleRate = 0;    // audio's; 0 for other streams
    TimeBase frameRate;    // the lowest rate that times every frame (ffprobe's r_frame_rate)
    PacketTags tags;       // "filename", "mimetype", "timecode", …
};

struct PacketChapter {
    TimeBase timeBase;
    std::optional<std::int64_t> start;
    std::optional<std::int64_t> end;
    PacketTags tags;
};

// One demuxed packet; times in its stream's ticks.
struct ReadPacket {
    int stream = 0;
    std::optional<std::int64_t> pts;
    std::optional<std::int64_t> dts;
    std::int64_t duration = 0;  // 0 when the file states none
    std::int64_t size = 0;
    std::optional<std::int64_t> position;  // the byte it starts at, when known
    bool keyframe = false;
    bool discard = false;
    bool sideData = false;  // carries side data (skip samples, a new extradata)
    // Audio samples its skip-samples side data drops from its end (Matroska's DiscardPadding).
    std::int64_t endTrim = 0;
    // "CRC32:<hex>" of its bytes, as ffprobe's -show_data_hash CRC32 writes it, when asked for.
    std::string dataHash;
};

struct PacketFormat {
    std::vector<PacketStream> streams;
    std::vector<PacketChapter> chapters;
    std::string name;                                  // the demuxer's: "matroska,webm", "mpegts"
    std::optional<std::int64_t> startMicroseconds;     // the format's start_time
    std::optional<std::int64_t> durationMicroseconds;  // the format's duration
    std::int64_t bitRate = 0;                          // as the container states it; 0: none
};

// `ticks` of `base` in seconds (0 for a base of 0).
double secondsOf(std::int64_t ticks, TimeBase base);
std::optional<double> secondsOf(const std::optional<std::int64_t>& ticks, TimeBase base);
std::optional<double> secondsOfMicroseconds(const std::optional<std::int64_t>& microseconds);

struct PacketReadOptions {
    // Presentation times generated where the file stores none, as `-fflags +genpts` does (AVI,
    // MPEG-PS).
    bool generateTimes = false;
    // Each packet's checksum (ReadPacket::dataHash).
    bool checksums = false;
};

// How a read ended.
struct PacketReadEnd {
    // The visitor asked for no more.
    bool stoppedEarly = false;
    // What the demuxer found wrong with the file's bytes while reading (a file cut short, a
    // damaged element): its first complaint, else empty. ffprobe shows the packets before it
    // the same way.
    std::string damage;
};

// Return false to stop reading.
using PacketVisitor = std::function<bool(const ReadPacket&)>;

// One opened file. One thread at a time; the file is read with read(2) only (never mapped), so
// a failing folder fails a read rather than the process.
class PacketReading {
  public:
    virtual ~PacketReading() = default;

    virtual const PacketFormat& format() const = 0;

    // Hands each packet from the current position on to `visit`, in the file's order, until it
    // returns false or the file ends; only the packet at hand is held. Throws PacketReadError
    // (readFailed) when reading the file fails, CancellationError once `stop` is requested
    // (checked before each packet).
    virtual PacketReadEnd read(const PacketVisitor& visit, std::stop_token stop) = 0;

    // Moves the reading position to `seconds` of the file's time as ffprobe's -read_intervals
    // does (the keyframe at or before it, for most containers). Throws PacketReadError.
    virtual void seek(double seconds) = 0;
};

// Opens `file` with the packet reader module, loaded on first use, and reads its header
// (ffprobe's probe of its streams included). Throws ModuleUnavailableError when the module is
// missing, PacketReadError when the file cannot be opened or read, CancellationError when
// `stop` is requested meanwhile. Any thread.
std::unique_ptr<PacketReading> openPacketReader(const std::filesystem::path& file,
                                                PacketReadOptions options = {},
                                                std::stop_token stop = {});

// The module's file name and its C entry point, which returns a new reader (or throws).
inline constexpr const char* packetReaderModuleFile = "libtavrolin-packetreader.so";
inline constexpr const char* packetReaderModuleEntry = "tavrolin_open_packet_reader";
using PacketReaderModuleEntry = PacketReading* (*)(const std::filesystem::path& file,
                                                   PacketReadOptions options, std::stop_token stop);

}  // namespace tavrolin
