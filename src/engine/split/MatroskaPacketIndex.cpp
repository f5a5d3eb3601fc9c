#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <iterator>
#include <limits>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "engine/split/MatroskaElements.h"
#include "engine/split/MatroskaFrameSamples.h"
#include "engine/split/PartPacketIndex.h"
#include "probe/EbmlNumber.h"

namespace tavrolin {

namespace {

using Bytes = std::span<const std::uint8_t>;

// Element IDs (with their length markers).
constexpr std::uint32_t kEbml = 0x1A45DFA3, kDocType = 0x4282, kSegment = 0x18538067,
                        kInfo = 0x1549A966, kTimestampScale = 0x2AD7B1, kDuration = 0x4489,
                        kTracks = 0x1654AE6B, kTrackEntry = 0xAE, kTrackNumber = 0xD7,
                        kTrackType = 0x83, kCodecId = 0x86, kCodecPrivate = 0x63A2,
                        kCodecDelay = 0x56AA, kDefaultDuration = 0x23E383, kAudio = 0xE1,
                        kSamplingFrequency = 0xB5, kContentEncodings = 0x6D80,
                        kCluster = 0x1F43B675, kTimestamp = 0xE7, kSimpleBlock = 0xA3,
                        kBlockGroup = 0xA0, kBlock = 0xA1, kBlockDuration = 0x9B,
                        kReferenceBlock = 0xFB;

// The whole file mapped read-only: only the pages of the element headers and block heads that
// are read get touched, so a part of hundreds of megabytes reads in a few milliseconds.
class MappedFile {
  public:
    explicit MappedFile(const std::filesystem::path& file) {
        const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0) {
            return;
        }
        struct stat status {};
        if (::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
            size_ = static_cast<std::size_t>(status.st_size);
            void* mapped = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, descriptor, 0);
            data_ = mapped == MAP_FAILED ? nullptr : static_cast<const std::uint8_t*>(mapped);
        }
        ::close(descriptor);
    }
    ~MappedFile() {
        if (data_ != nullptr) {
            ::munmap(const_cast<std::uint8_t*>(data_), size_);
        }
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    Bytes bytes() const { return data_ == nullptr ? Bytes{} : Bytes{data_, size_}; }

  private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// The element whose header starts at `at`, which must end by `end`; none when it is cut off,
// malformed or of unknown size (which ffmpeg writes only when it cannot seek back).
std::optional<Element> elementAt(Bytes file, std::uint64_t at, std::uint64_t end) {
    if (at >= end) {
        return std::nullopt;
    }
    const Bytes rest = file.subspan(at, end - at);
    const auto id = readEbmlNumber(rest, true);
    if (!id || id->second > 4) {
        return std::nullopt;
    }
    const auto size = readEbmlNumber(rest.subspan(id->second), false);
    if (!size || size->first == (std::uint64_t{1} << (7 * size->second)) - 1) {
        return std::nullopt;
    }
    Element element{static_cast<std::uint32_t>(id->first), at, at + id->second + size->second,
                    size->first};
    if (element.size > end - element.data) {
        return std::nullopt;
    }
    return element;
}

// The children of `parent`, each passed to `visit`, which returns false to give up; false when
// one is malformed or the visit gave up.
template <typename Visit>
bool eachChild(Bytes file, const Element& parent, Visit&& visit) {
    for (std::uint64_t at = parent.data; at < parent.end();) {
        const auto child = elementAt(file, at, parent.end());
        if (!child || !visit(*child)) {
            return false;
        }
        at = child->end();
    }
    return true;
}

Bytes dataOf(Bytes file, const Element& element) {
    return file.subspan(element.data, element.size);
}

std::optional<std::uint64_t> unsignedOf(Bytes file, const Element& element) {
    if (element.size > 8) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const std::uint8_t byte : dataOf(file, element)) {
        value = value << 8 | byte;
    }
    return value;
}

std::optional<double> floatOf(Bytes file, const Element& element) {
    const auto bits = unsignedOf(file, element);
    if (!bits || (element.size != 4 && element.size != 8)) {
        return std::nullopt;
    }
    return element.size == 4 ? std::bit_cast<float>(static_cast<std::uint32_t>(*bits))
                             : std::bit_cast<double>(*bits);
}

struct Track {
    std::uint64_t number = 0;
    std::uint64_t type = 0;  // 1 video, 2 audio
    std::string_view codec;
    Bytes codecPrivate;
    std::uint64_t codecDelay = 0;                  // nanoseconds
    std::optional<std::uint64_t> defaultDuration;  // nanoseconds
    double sampleRate = 8000;
    bool encoded = false;
    // The first block's time, and the earliest of the first few, for the file's start.
    std::optional<std::int64_t> first;
    std::int64_t earliest = 0;
    int blocks = 0;
    // The durations of the leading blocks that come before 0, which the demuxer shows without a
    // time: libavformat then times each back from the next.
    std::vector<std::int64_t> untimed;
};

std::optional<Track> trackOf(Bytes file, const Element& entry) {
    Track track;
    const bool read = eachChild(file, entry, [&](const Element& field) {
        std::optional<std::uint64_t> value = 0;
        switch (field.id) {
            case kTrackNumber:
                value = track.number = unsignedOf(file, field).value_or(0);
                break;
            case kTrackType:
                value = unsignedOf(file, field);
                track.type = value.value_or(0);
                break;
            case kCodecId: {
                const Bytes name = dataOf(file, field);
                track.codec = {reinterpret_cast<const char*>(name.data()), name.size()};
                track.codec = track.codec.substr(0, track.codec.find('\0'));
                break;
            }
            case kCodecPrivate:
                track.codecPrivate = dataOf(file, field);
                break;
            case kCodecDelay:
                value = unsignedOf(file, field);
                track.codecDelay = value.value_or(0);
                break;
            case kDefaultDuration:
                value = track.defaultDuration = unsignedOf(file, field);
                break;
            case kContentEncodings:
                track.encoded = true;
                break;
            case kAudio:
                return eachChild(file, field, [&](const Element& audio) {
                    if (audio.id == kSamplingFrequency) {
                        const auto rate = floatOf(file, audio);
                        track.sampleRate = rate.value_or(0);
                        return rate.has_value();
                    }
                    return true;
                });
        }
        return value.has_value();
    });
    return read && track.number != 0 ? std::optional(track) : std::nullopt;
}

// Codecs the demuxer knows: beside one it does not, ffprobe shows other streams' packets and the
// file's start otherwise.
bool knownCodec(const Track& track) {
    static constexpr std::string_view known[] = {"V_MPEG4/ISO/AVC",
                                                 "V_MPEGH/ISO/HEVC",
                                                 "V_VP8",
                                                 "V_VP9",
                                                 "V_AV1",
                                                 "V_MPEG2",
                                                 "V_MPEG4/ISO/ASP",
                                                 "V_MS/VFW/FOURCC",
                                                 "V_THEORA",
                                                 "V_MJPEG",
                                                 "A_AAC",
                                                 "A_AC3",
                                                 "A_EAC3",
                                                 "A_DTS",
                                                 "A_OPUS",
                                                 "A_VORBIS",
                                                 "A_FLAC",
                                                 "A_MPEG/L3",
                                                 "A_MPEG/L2",
                                                 "A_PCM/INT/LIT",
                                                 "A_TRUEHD",
                                                 "S_TEXT/UTF8",
                                                 "S_TEXT/ASS",
                                                 "S_TEXT/SSA",
                                                 "S_TEXT/WEBVTT",
                                                 "S_VOBSUB",
                                                 "S_HDMV/PGS",
                                                 "S_DVBSUB",
                                                 "D_WEBVTT/SUBTITLES",
                                                 "D_WEBVTT/CAPTIONS",
                                                 "D_WEBVTT/DESCRIPTIONS",
                                                 "D_WEBVTT/METADATA"};
    const bool typed = track.type == 1 || track.type == 2 || track.type == 17;
    // The decoders' configurations that ffmpeg always writes.
    const Bytes config = track.codecPrivate;
    if ((track.codec == "V_MPEG4/ISO/AVC" && (config.size() < 7 || config[0] != 1)) ||
        (track.codec == "A_AAC" && config.size() < 2)) {
        return false;
    }
    return typed && std::find(std::begin(known), std::end(known), track.codec) != std::end(known);
}

// Video codecs whose packets ffprobe shows as the blocks state them.
bool followedVideo(std::string_view codec) {
    return codec == "V_MPEG4/ISO/AVC" || codec == "V_VP9";
}

struct Reading {
    Bytes file;
    bool video = false;
    std::optional<double> duration;  // in ticks
    bool scaled = true;              // a tick is a millisecond
    bool tracksRead = false;
    std::vector<Track> tracks;
    Track* read = nullptr;
    std::vector<IndexedPacket> packets;
};

bool readInfo(Reading& reading, const Element& info) {
    return eachChild(reading.file, info, [&](const Element& field) {
        if (field.id == kTimestampScale) {
            reading.scaled = unsignedOf(reading.file, field) == 1000000;
        } else if (field.id == kDuration) {
            reading.duration = floatOf(reading.file, field);
            return reading.duration.has_value();
        }
        return true;
    });
}

bool readTracks(Reading& reading, const Element& list) {
    if (reading.tracksRead) {
        return false;
    }
    reading.tracksRead = true;
    const bool read = eachChild(reading.file, list, [&](const Element& entry) {
        if (entry.id != kTrackEntry) {
            return true;
        }
        const auto track = trackOf(reading.file, entry);
        if (track) {
            reading.tracks.push_back(*track);
        }
        return track.has_value();
    });
    if (!read) {
        return false;
    }
    for (auto& track : reading.tracks) {
        if (track.type == (reading.video ? 1u : 2u)) {
            reading.read = &track;
            break;
        }
    }
    // Times are followed with a codec delay of whole or half ticks (as Opus's), and every
    // stream's codec known.
    const Track* chosen = reading.read;
    return chosen != nullptr && !chosen->encoded &&
           std::all_of(reading.tracks.begin(), reading.tracks.end(),
                       [](const Track& track) {
                           return track.codecDelay % 500000 == 0 && knownCodec(track);
                       }) &&
           (reading.video ? followedVideo(chosen->codec) && chosen->defaultDuration.has_value()
                          : !chosen->defaultDuration.has_value());
}

// A block's duration in ticks: stated by the block or the track, else the codec's frame's.
std::optional<std::int64_t> durationOf(const Track& track, Bytes payload,
                                       std::optional<std::uint64_t> stated) {
    if (stated) {
        return static_cast<std::int64_t>(*stated);
    }
    if (track.type == 1) {
        return track.defaultDuration ? std::optional<std::int64_t>(*track.defaultDuration / 1000000)
                                     : std::nullopt;
    }
    const auto samples =
        track.defaultDuration
            ? std::nullopt
            : matroskaFrameSamples({track.codec, track.codecPrivate, track.sampleRate}, payload);
    if (!samples || track.sampleRate < 1) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(static_cast<double>(*samples) * 1000 / track.sampleRate);
}

// Once the first block at or after 0 gives a time, the untimed ones before it are timed back.
void timeBack(Reading& reading, Track& track, std::int64_t time) {
    const bool read = &track == reading.read;
    std::size_t packet = reading.packets.size() - 1;  // the block that gave the time
    for (auto at = track.untimed.size(); at-- > 0;) {
        time -= track.untimed[at];
        if (read) {
            reading.packets[--packet].time = static_cast<double>(time) / 1000;
        }
    }
    track.first = track.earliest = time;
    track.untimed.clear();
}

// A block's track, time and flags; its packet when it is of the track read.
bool readBlock(Reading& reading, Bytes block, std::int64_t cluster,
               std::optional<std::uint64_t> stated, std::optional<bool> keyframe) {
    const auto number = readEbmlNumber(block, false);
    if (!number || block.size() < number->second + 3) {
        return false;
    }
    const auto head = block.subspan(number->second);
    const std::int64_t raw = cluster + static_cast<std::int16_t>(head[0] << 8 | head[1]);
    const std::uint8_t flags = head[2];
    const auto track = std::find_if(reading.tracks.begin(), reading.tracks.end(),
                                    [&](const Track& t) { return t.number == number->first; });
    if (track == reading.tracks.end()) {
        return false;  // the demuxer skips to the next cluster
    }
    const bool read = &*track == reading.read;
    // Laced frames and frames the decoder must not show are not followed.
    if (read && (flags & 0x0E) != 0) {
        return false;
    }
    std::optional<std::int64_t> duration;
    if (read || (raw < 0 && !track->first)) {
        duration = durationOf(*track, head.subspan(3), stated);
        if (!duration) {
            return false;
        }
    }
    // Ticks are milliseconds here; a delay of half a tick rounds up.
    const std::int64_t time =
        raw - static_cast<std::int64_t>((track->codecDelay + 500000) / 1000000);
    if (read) {
        reading.packets.push_back({static_cast<double>(time) / 1000,
                                   static_cast<double>(*duration) / 1000,
                                   keyframe.value_or((flags & 0x80) != 0), false});
    }
    if (raw < 0) {
        // Only leading audio blocks are timed back.
        if (track->first || track->type != 2) {
            return false;
        }
        track->untimed.push_back(*duration);
    } else if (!track->first) {
        timeBack(reading, *track, time);
        ++track->blocks;
    } else if (track->blocks < 16) {
        track->earliest = std::min(track->earliest, time);
        ++track->blocks;
    }
    return true;
}

bool readBlockGroup(Reading& reading, const Element& group, std::int64_t cluster) {
    std::optional<Element> block;
    std::optional<std::uint64_t> duration;
    bool referenced = false;
    const bool read = eachChild(reading.file, group, [&](const Element& field) {
        if (field.id == kBlock) {
            block = field;
        } else if (field.id == kBlockDuration) {
            duration = unsignedOf(reading.file, field);
            return duration.value_or(0) != 0;
        } else if (field.id == kReferenceBlock) {
            referenced = true;
        }
        return true;
    });
    return read && block &&
           readBlock(reading, dataOf(reading.file, *block), cluster, duration, !referenced);
}

bool readCluster(Reading& reading, const Element& cluster) {
    std::optional<std::int64_t> timestamp;
    return reading.read != nullptr && eachChild(reading.file, cluster, [&](const Element& field) {
               switch (field.id) {
                   case kTimestamp: {
                       const auto value = unsignedOf(reading.file, field);
                       if (!value || *value > std::numeric_limits<std::int32_t>::max()) {
                           return false;
                       }
                       timestamp = static_cast<std::int64_t>(*value);
                       return true;
                   }
                   case kSimpleBlock:
                       return timestamp && readBlock(reading, dataOf(reading.file, field),
                                                     *timestamp, std::nullopt, std::nullopt);
                   case kBlockGroup:
                       return timestamp && readBlockGroup(reading, field, *timestamp);
               }
               return true;
           });
}

// The demuxer reads the seek index, cues, tags, chapters and attachments as it opens a file and
// takes one that does not nest within its sizes as damage.
bool wellFormed(Bytes file, const Element& element, int depth = 0) {
    static constexpr std::uint32_t masters[] = {
        0x114D9B74, 0x4DBB,     0x1C53BB6B,  0xBB,   0xB7,   0x1254C367, 0x7373, 0x63C0,
        0x67C8,     0x1043A770, 0x45B9,      0xB6,   0x80,   0x8F,       0x6944, 0x1941A469,
        0x61A7,     kTracks,    kTrackEntry, 0xE0,   kAudio, 0x55B0,     0x55D0, kContentEncodings,
        0x6240,     0x5034,     0x5035,      0x41E4, kInfo};
    if (std::find(std::begin(masters), std::end(masters), element.id) == std::end(masters)) {
        return true;
    }
    return depth < 16 && eachChild(file, element, [&](const Element& child) {
               return wellFormed(file, child, depth + 1);
           });
}

bool readSegment(Reading& reading, const Element& segment) {
    return eachChild(reading.file, segment, [&](const Element& element) {
        switch (element.id) {
            case kInfo:
                return wellFormed(reading.file, element) && readInfo(reading, element);
            case kTracks:
                return wellFormed(reading.file, element) && readTracks(reading, element);
            case kCluster:
                return readCluster(reading, element);
        }
        return wellFormed(reading.file, element);
    });
}

// An EBML header of a version and document type the demuxer reads.
bool isMatroska(Bytes file, const Element& header) {
    bool named = false;
    return eachChild(file, header,
                     [&](const Element& field) {
                         const auto value = unsignedOf(file, field);
                         switch (field.id) {
                             case kDocType: {
                                 const Bytes name = dataOf(file, field);
                                 const std::string_view type(
                                     reinterpret_cast<const char*>(name.data()), name.size());
                                 named = type == "matroska" || type == "webm";
                                 return true;
                             }
                             case 0x42F7:  // EBMLReadVersion
                                 return value == 1u;
                             case 0x42F2:  // EBMLMaxIDLength
                                 return value == 4u;
                             case 0x42F3:  // EBMLMaxSizeLength
                                 return value && *value >= 1 && *value <= 8;
                             case 0x4285:  // DocTypeReadVersion
                                 return value && *value <= 2;
                         }
                         return true;
                     }) &&
           named;
}

// The file's start: its earliest stream's first time, when each stream's first block is its
// earliest (else the start depends on how far the demuxer looked).
std::optional<double> startOf(const Reading& reading) {
    std::optional<std::int64_t> start;
    for (const auto& track : reading.tracks) {
        if (!track.first) {
            continue;
        }
        if (*track.first != track.earliest) {
            return std::nullopt;
        }
        if (track.type == 1 || track.type == 2) {
            start = std::min(start.value_or(*track.first), *track.first);
        }
    }
    for (const auto& track : reading.tracks) {
        if (track.first && track.type != 1 && track.type != 2 && start && *track.first < *start) {
            return std::nullopt;
        }
    }
    return start ? std::optional(static_cast<double>(*start) / 1000) : std::nullopt;
}

}  // namespace

std::optional<PartPacketIndex> readMatroskaPacketIndex(const std::filesystem::path& file,
                                                       bool video) {
    const MappedFile mapped(file);
    Reading reading;
    reading.file = mapped.bytes();
    reading.video = video;
    const auto header = elementAt(reading.file, 0, reading.file.size());
    if (!header || header->id != kEbml || !isMatroska(reading.file, *header)) {
        return std::nullopt;
    }
    // The segment, of known size or running to the end of the file.
    const Bytes rest = reading.file.subspan(header->end());
    const auto id = readEbmlNumber(rest, true);
    const auto size = id ? readEbmlNumber(rest.subspan(id->second), false) : std::nullopt;
    if (!size || id->first != kSegment) {
        return std::nullopt;
    }
    Element segment{kSegment, header->end(), header->end() + id->second + size->second,
                    size->first};
    if (size->first == (std::uint64_t{1} << (7 * size->second)) - 1) {
        segment.size = reading.file.size() - segment.data;
    }
    if (segment.size > reading.file.size() - segment.data || !readSegment(reading, segment) ||
        !reading.scaled || !reading.duration || !reading.read || !reading.read->first) {
        return std::nullopt;
    }
    const auto start = startOf(reading);
    if (!start) {
        return std::nullopt;
    }
    return PartPacketIndex{std::move(reading.packets), start, *reading.duration / 1000};
}

}  // namespace tavrolin
