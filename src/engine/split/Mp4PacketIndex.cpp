#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "engine/split/H264Timing.h"
#include "engine/split/Mp4Boxes.h"
#include "engine/split/PartPacketIndex.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

// Whatever the reader does not follow exactly ends the reading: the file is then probed.
struct Unfollowed {};

void require(bool condition) {
    if (!condition) {
        throw Unfollowed{};
    }
}

// Times beyond this many ticks are not followed (and cannot overflow in sums).
constexpr std::int64_t kMaxTicks = 1LL << 50;

// The moov box is the only part read: its tables for 9,000 samples are a few hundred KB.
constexpr std::uint64_t kMaxMovie = 256ULL << 20;

// More samples than a day of video at 25 frames a second are not followed (sound stored as
// single samples, or a count no file holds).
constexpr std::size_t kMaxSamples = 2'500'000;

// Bounds-checked big-endian reads within one box's bytes.
class Bytes {
  public:
    Bytes(std::string_view bytes, std::size_t from, std::size_t to)
        : bytes_(bytes), from_(from), to_(to) {}

    std::size_t size() const { return to_ - from_; }
    std::uint64_t u(std::size_t at, std::size_t count) const {
        require(at <= size() && count <= size() - at);
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            value = value << 8 | static_cast<std::uint8_t>(bytes_[from_ + at + i]);
        }
        return value;
    }
    std::int64_t s(std::size_t at, std::size_t count) const {
        const std::uint64_t value = u(at, count);
        const std::uint64_t sign = 1ULL << (8 * count - 1);
        return count == 8
                   ? static_cast<std::int64_t>(value)
                   : static_cast<std::int64_t>(value ^ sign) - static_cast<std::int64_t>(sign);
    }
    std::string_view text(std::size_t at, std::size_t count) const {
        require(at <= size() && count <= size() - at);
        return bytes_.substr(from_ + at, count);
    }
    // Entries of `width` bytes after a header of `header` bytes, the count at `countAt`.
    std::uint64_t entries(std::size_t countAt, std::size_t header, std::size_t width) const {
        const std::uint64_t count = u(countAt, 4);
        require(header <= size() && count <= (size() - header) / width);
        return count;
    }

    std::string_view bytes_;
    std::size_t from_;
    std::size_t to_;
};

// A box's type and payload.
struct Box {
    std::string_view type;  // within the bytes read, which outlive every box
    Bytes payload;
};

std::vector<Box> boxesIn(const Bytes& parent, std::size_t skip = 0) {
    std::vector<Box> boxes;
    for (std::size_t at = skip; at < parent.size();) {
        const Mp4Box box = mp4BoxAt(parent.text(at, std::min<std::size_t>(16, parent.size() - at)),
                                    at, parent.size());
        boxes.push_back({parent.text(at + 4, 4),
                         Bytes(parent.bytes_, parent.from_ + box.payload, parent.from_ + box.end)});
        at = box.end;
    }
    return boxes;
}

std::optional<Bytes> child(const Bytes& parent, std::string_view type) {
    std::optional<Bytes> found;
    for (const auto& box : boxesIn(parent)) {
        if (box.type == type) {
            require(!found);  // two of a kind: the reader cannot tell which counts
            found = box.payload;
        }
    }
    return found;
}

Bytes need(const std::optional<Bytes>& box) {
    require(box.has_value());
    return *box;
}

// The frame length an H.264 stream's sequence header states, in `timescale` ticks: what ffprobe
// shows of a packet the container gives no duration. None when the header states a rate of
// 1,000 frames a second or more (no length shown); throws when it states none or may be
// interlaced.
std::optional<std::int64_t> h264FrameTicks(const Bytes& entry, std::uint32_t timescale) {
    const Bytes avcC = need(child(Bytes(entry.bytes_, entry.from_ + 78, entry.to_), "avcC"));
    require((avcC.u(5, 1) & 0x1F) >= 1);
    const auto timing = h264Timing(avcC.text(8, avcC.u(6, 2)));
    require(timing && timing->framesOnly);
    const std::uint64_t frame = 2ULL * timing->unitsInTick;
    const std::uint64_t scale = timing->timeScale;
    require(frame <= scale * 3600);  // no frame lasts an hour
    if (frame * 1000 <= scale) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(frame / scale * timescale + frame % scale * timescale / scale);
}

struct Edit {
    std::int64_t duration = 0;  // in the movie's time scale
    std::int64_t mediaTime = 0;
};

struct Sample {
    std::int64_t dts = 0;
    std::int64_t cts = 0;
    std::int64_t duration = 0;
    bool keyframe = true;
};

struct Track {
    std::string_view handler;
    std::uint32_t timescale = 0;
    std::int64_t mediaDuration = 0;
    std::vector<Edit> edits;
    bool hasCtts = false;
    std::vector<Sample> samples;
    Bytes entry{{}, 0, 0};
    std::string_view codec;
};

std::int64_t rescaled(std::int64_t value, std::int64_t to, std::int64_t from) {
    const long double exact = static_cast<long double>(value) * to / from;
    return static_cast<std::int64_t>(std::llround(exact));
}

std::vector<Edit> editsOf(const Bytes& trak) {
    std::vector<Edit> edits;
    const auto edts = child(trak, "edts");
    if (!edts) {
        return edits;
    }
    const Bytes elst = need(child(*edts, "elst"));
    const bool wide = elst.u(0, 1) == 1;
    const std::size_t width = wide ? 20 : 12;
    const auto count = elst.entries(4, 8, width);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::size_t at = 8 + i * width;
        const std::size_t time = wide ? 8 : 4;
        require(elst.u(at + 2 * time, 4) == 0x10000);  // played at its own rate
        const auto duration = elst.u(at, time);
        require(duration < static_cast<std::uint64_t>(kMaxTicks));
        edits.push_back({static_cast<std::int64_t>(duration), elst.s(at + time, time)});
    }
    return edits;
}

std::vector<std::uint64_t> sampleSizes(const Bytes& stbl, std::uint64_t fileSize) {
    std::vector<std::uint64_t> sizes;
    if (const auto stsz = child(stbl, "stsz")) {
        const std::uint64_t fixed = stsz->u(4, 4);
        const std::uint64_t count = fixed != 0 ? stsz->u(8, 4) : stsz->entries(8, 12, 4);
        require(count <= kMaxSamples && (fixed == 0 || count <= fileSize / fixed));
        for (std::uint64_t i = 0; i < count; ++i) {
            sizes.push_back(fixed != 0 ? fixed : stsz->u(12 + 4 * i, 4));
        }
        return sizes;
    }
    const Bytes stz2 = need(child(stbl, "stz2"));
    const auto field = stz2.u(7, 1);
    require(field == 4 || field == 8 || field == 16);
    const std::uint64_t count = stz2.u(8, 4);
    require(count <= (stz2.size() - 12) * 8 / field);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t bit = i * field;
        const std::uint64_t word = stz2.u(12 + bit / 8, field == 16 ? 2 : 1);
        sizes.push_back(field == 4 ? (word >> (4 - bit % 8)) & 0xF : word);
    }
    return sizes;
}

// Every sample lies within the file: a cut-off file lists fewer packets than its index.
void requireSamplesInFile(const Bytes& stbl, const std::vector<std::uint64_t>& sizes,
                          std::uint64_t fileSize) {
    const Bytes stsc = need(child(stbl, "stsc"));
    const auto stco = child(stbl, "stco");
    const Bytes offsets = stco ? *stco : need(child(stbl, "co64"));
    const std::size_t width = stco ? 4 : 8;
    const auto chunks = offsets.entries(4, 8, width);
    const auto runs = stsc.entries(4, 8, 12);
    std::size_t sample = 0;
    for (std::uint64_t run = 0; run < runs; ++run) {
        const auto first = stsc.u(8 + 12 * run, 4);
        const auto perChunk = stsc.u(12 + 12 * run, 4);
        const auto last = run + 1 < runs ? stsc.u(20 + 12 * run, 4) : chunks + 1;
        require(first >= 1 && last >= first && last <= chunks + 1);
        for (auto chunk = first; chunk < last && sample < sizes.size(); ++chunk) {
            std::uint64_t at = offsets.u(8 + (chunk - 1) * width, width);
            for (std::uint64_t i = 0; i < perChunk && sample < sizes.size(); ++i, ++sample) {
                require(at <= fileSize && sizes[sample] <= fileSize - at);
                at += sizes[sample];
            }
        }
    }
    require(sample == sizes.size());
}

void readTimes(const Bytes& stbl, Track& track) {
    const Bytes stts = need(child(stbl, "stts"));
    const auto runs = stts.entries(4, 8, 8);
    std::size_t at = 0;
    std::int64_t dts = 0;
    for (std::uint64_t run = 0; run < runs; ++run) {
        const auto count = stts.u(8 + 8 * run, 4);
        const auto delta = static_cast<std::int64_t>(stts.u(12 + 8 * run, 4));
        require(count <= track.samples.size() - at);
        for (std::uint64_t i = 0; i < count; ++i, ++at, dts += delta) {
            track.samples[at].dts = track.samples[at].cts = dts;
            track.samples[at].duration = delta;
        }
    }
    require(at == track.samples.size());
    if (const auto ctts = child(stbl, "ctts")) {
        track.hasCtts = true;
        const auto runs = ctts->entries(4, 8, 8);
        at = 0;
        for (std::uint64_t run = 0; run < runs; ++run) {
            const auto count = ctts->u(8 + 8 * run, 4);
            // Read signed whatever the box's version, as the demuxer does.
            const auto offset = ctts->s(12 + 8 * run, 4);
            require(count <= track.samples.size() - at);
            for (std::uint64_t i = 0; i < count; ++i, ++at) {
                track.samples[at].cts += offset;
            }
        }
        require(at == track.samples.size());
    }
    if (const auto stss = child(stbl, "stss")) {
        for (auto& sample : track.samples) {
            sample.keyframe = false;
        }
        const auto count = stss->entries(4, 8, 4);
        for (std::uint64_t i = 0; i < count; ++i) {
            const auto number = stss->u(8 + 4 * i, 4);
            require(number >= 1 && number <= track.samples.size());
            track.samples[number - 1].keyframe = true;
        }
    }
}

Track trackOf(const Bytes& trak, std::uint64_t fileSize) {
    Track track;
    track.edits = editsOf(trak);
    const Bytes mdia = need(child(trak, "mdia"));
    track.handler = need(child(mdia, "hdlr")).text(8, 4);
    const Bytes mdhd = need(child(mdia, "mdhd"));
    const bool wide = mdhd.u(0, 1) == 1;
    track.timescale = static_cast<std::uint32_t>(mdhd.u(wide ? 20 : 12, 4));
    track.mediaDuration = static_cast<std::int64_t>(mdhd.u(wide ? 24 : 16, wide ? 8 : 4));
    require(track.timescale > 0 && track.mediaDuration >= 0 && track.mediaDuration < kMaxTicks);
    const Bytes stbl = need(child(need(child(mdia, "minf")), "stbl"));
    for (const auto& box : boxesIn(stbl)) {
        // Sample groups other than the audio's pre-roll, and dependency tables, mark keyframes.
        require(box.type != "sdtp" && box.type != "stps");
        if (box.type == "sgpd" || box.type == "sbgp") {
            require(box.payload.text(4, 4) == "roll");
        }
    }
    const Bytes stsd = need(child(stbl, "stsd"));
    require(stsd.u(4, 4) == 1);  // one sample description
    const auto entries = boxesIn(stsd, 8);
    require(entries.size() == 1);
    track.codec = entries.front().type;
    track.entry = entries.front().payload;
    const auto sizes = sampleSizes(stbl, fileSize);
    require(!sizes.empty() && sizes.size() <= kMaxSamples);
    track.samples.resize(sizes.size());
    readTimes(stbl, track);
    requireSamplesInFile(stbl, sizes, fileSize);
    return track;
}

// A track's single edit, after an optional empty one that delays it.
struct Placement {
    std::int64_t delay = 0;  // in the media's time scale
    std::optional<Edit> edit;
    std::int64_t duration = 0;  // the stream's, in the media's time scale
};

Placement placementOf(const Track& track, std::uint32_t movieScale) {
    Placement placement;
    placement.duration = track.mediaDuration;
    if (track.edits.empty()) {
        return placement;
    }
    std::size_t at = 0;
    std::int64_t total = 0;
    if (track.edits.size() == 2 && track.edits[0].mediaTime == -1) {
        placement.delay = rescaled(track.edits[0].duration, track.timescale, movieScale);
        total = placement.delay;
        at = 1;
    }
    require(track.edits.size() == at + 1 && track.edits[at].mediaTime >= 0 &&
            track.edits[at].mediaTime < kMaxTicks && track.edits[at].duration > 0);
    placement.edit = track.edits[at];
    placement.edit->duration = rescaled(placement.edit->duration, track.timescale, movieScale);
    require(placement.delay >= 0 && placement.delay < kMaxTicks &&
            placement.edit->duration < kMaxTicks);
    total += placement.edit->duration;
    placement.duration = std::min(total, track.mediaDuration);
    return placement;
}

// Where the stream starts, in seconds, as the demuxer reports it.
double startOf(const Track& track, const Placement& placement) {
    if (placement.edit) {
        return static_cast<double>(placement.delay) / track.timescale;
    }
    const auto first = track.samples.front().cts;
    require(std::all_of(track.samples.begin(), track.samples.end(),
                        [&](const Sample& sample) { return sample.cts >= first; }));
    return static_cast<double>(first) / track.timescale;
}

// One entry of the demuxer's index: a sample and whether it is flagged discard.
struct Entry {
    const Sample* sample;
    bool discard;
};

// The samples the demuxer keeps of a track's single edit: from the keyframe before its start
// (for audio, a second before, for the decoder's warm-up) to the first keyframe that reaches
// its end (with reordered frames, the second: trailing frames may still belong to it).
std::vector<Entry> editedEntries(const Track& track, const Edit& edit, bool audio) {
    const auto& samples = track.samples;
    const std::int64_t begin = edit.mediaTime;
    const std::int64_t end = begin + edit.duration;
    const std::int64_t target = audio ? begin - track.timescale : begin;
    std::optional<std::size_t> first;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (samples[i].keyframe && samples[i].cts <= target) {
            first = i;
        }
    }
    require(first || audio);
    std::vector<Entry> entries;
    bool keyframeAfterEnd = false;
    for (std::size_t i = first.value_or(0); i < samples.size(); ++i) {
        const Sample& sample = samples[i];
        const bool before = audio ? sample.cts + sample.duration <= begin : sample.cts < begin;
        entries.push_back({&sample, before || sample.cts >= end});
        if (sample.cts + sample.duration >= end && (sample.keyframe || audio)) {
            if (!track.hasCtts || audio || keyframeAfterEnd) {
                break;
            }
            keyframeAfterEnd = true;
        }
    }
    return entries;
}

// Whether an mp4a entry holds AAC-LC in frames of 1,024 samples: the object type and frame
// length its esds box's decoder configuration states (in MOV, within a wave box).
bool isPlainAac(const Bytes& entry) {
    const auto at = entry.text(0, entry.size()).find("esds");
    require(at != std::string_view::npos);
    const Bytes esds(entry.bytes_, entry.from_ + at + 4, entry.to_);
    std::size_t p = 4;
    const auto descriptor = [&](std::uint64_t tag) {
        require(esds.u(p++, 1) == tag);
        for (int i = 0; i < 4 && (esds.u(p++, 1) & 0x80) != 0; ++i) {
        }
    };
    descriptor(3);
    const auto flags = esds.u(p + 2, 1);
    p += 3 + ((flags & 0x80) != 0 ? 2 : 0);
    p += (flags & 0x40) != 0 ? 1 + esds.u(p, 1) : 0;
    p += (flags & 0x20) != 0 ? 2 : 0;
    descriptor(4);
    if (esds.u(p, 1) != 0x40) {
        return false;  // not AAC
    }
    p += 13;
    descriptor(5);
    const auto config = esds.u(p, 2);
    return config >> 11 == 2 && (config >> 7 & 0xF) != 15 && (config >> 2 & 1) == 0;
}

// What ffprobe shows of a packet the demuxer gave no length: the codec's own frame length.
std::optional<double> guessedDuration(const Track& track) {
    if (track.codec == "mp4a") {
        require(isPlainAac(track.entry) && track.entry.u(24, 2) == track.timescale);
        return 1024.0 / track.timescale;
    }
    require(track.codec == "avc1" || track.codec == "avc3");
    const auto ticks = h264FrameTicks(track.entry, track.timescale);
    if (!ticks || *ticks <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(*ticks) / track.timescale;
}

// An AC-3 frame always holds 1,536 samples, and ffprobe shows each packet that long, the
// last one too, whatever the track's edit leaves of it.
double ac3FrameLength(const Track& track) {
    require(track.entry.u(24, 2) == track.timescale);
    return 1536.0 / track.timescale;
}

// The codecs whose packets have been matched against ffprobe's, in the forms ffmpeg writes.
bool followed(const Track& track) {
    constexpr std::string_view video[] = {"avc1", "avc3", "vp09"};
    constexpr std::string_view audio[] = {"mp4a", "ac-3", "Opus", "fLaC"};
    const auto known = [&](const auto& codecs) {
        return std::find(std::begin(codecs), std::end(codecs), track.codec) != std::end(codecs);
    };
    return track.handler == "vide" ? known(video) : known(audio);
}

// The samples ffprobe lists, and the media time that its times count from.
std::pair<std::vector<Entry>, std::int64_t> listedEntries(const Track& track,
                                                          const Placement& placement) {
    const bool audio = track.handler == "soun";
    std::vector<Entry> entries;
    std::int64_t zero = 0;
    if (placement.edit) {
        entries = editedEntries(track, *placement.edit, audio);
        zero = placement.edit->mediaTime;
        if (!audio) {
            // The earliest frame shown is the video's time 0, wherever in it the edit begins.
            std::optional<std::int64_t> shown;
            for (const auto& entry : entries) {
                if (!entry.discard && (!shown || entry.sample->cts < *shown)) {
                    shown = entry.sample->cts;
                }
            }
            require(shown.has_value());
            zero = *shown;
        }
    } else {
        for (const auto& sample : track.samples) {
            entries.push_back({&sample, false});
        }
    }
    if (track.codec == "ac-3") {
        // ffprobe's AC-3 packets come out of its parser, each with the next one's flags.
        for (std::size_t i = 0; i < entries.size(); ++i) {
            entries[i].discard = i + 1 < entries.size() && entries[i + 1].discard;
        }
    }
    return {entries, zero};
}

std::vector<IndexedPacket> packetsOf(const Track& track, const Placement& placement) {
    require(followed(track));
    const auto [entries, zero] = listedEntries(track, placement);
    const std::int64_t shift = placement.delay - zero;
    std::optional<std::optional<double>> guess;
    const auto guessed = [&] {
        if (!guess) {
            guess = guessedDuration(track);
        }
        return *guess;
    };
    std::vector<IndexedPacket> packets;
    packets.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Sample& sample = *entries[i].sample;
        IndexedPacket packet;
        packet.time = static_cast<double>(sample.cts + shift) / track.timescale;
        packet.keyframe = sample.keyframe;
        packet.discard = entries[i].discard;
        if (track.hasCtts) {
            packet.duration = guessed();
        } else if (track.codec == "ac-3") {
            packet.duration = ac3FrameLength(track);
        } else {
            // Up to the next packet's decoding time; the last up to the stream's length, which
            // leaves out any delay though its times include it.
            const std::int64_t next =
                i + 1 < entries.size() ? entries[i + 1].sample->dts + shift : placement.duration;
            const std::int64_t length = next - (sample.dts + shift);
            packet.duration =
                length > 0 ? std::optional<double>(static_cast<double>(length) / track.timescale)
                           : guessed();
        }
        packets.push_back(packet);
    }
    return packets;
}

std::string readAt(std::ifstream& in, std::uint64_t offset, std::size_t size) {
    std::string bytes(size, '\0');
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    in.clear();
    return bytes;
}

// The movie box, after a file-type box; none of a fragmented file.
std::string movieOf(const fs::path& file, std::uint64_t fileSize) {
    std::ifstream in(file, std::ios::binary);
    require(in.good());
    std::optional<std::pair<std::uint64_t, std::uint64_t>> moov;
    for (std::uint64_t at = 0; at < fileSize;) {
        const Mp4Box box = mp4BoxAt(readAt(in, at, 16), at, fileSize);
        require(at != 0 || box.type == "ftyp");
        require(box.type != "moof" && box.type != "mfra" && (box.type != "moov" || !moov));
        if (box.type == "moov") {
            moov = {box.payload, box.end - box.payload};
        }
        at = box.end;
    }
    require(moov && moov->second <= kMaxMovie);
    std::string bytes = readAt(in, moov->first, moov->second);
    require(bytes.size() == moov->second);
    return bytes;
}

std::optional<PartPacketIndex> readIndex(const fs::path& file, bool video) {
    const std::uint64_t fileSize = fs::file_size(file);
    const std::string movie = movieOf(file, fileSize);
    const Bytes moov(movie, 0, movie.size());
    require(!child(moov, "mvex"));
    const Bytes mvhd = need(child(moov, "mvhd"));
    const bool wide = mvhd.u(0, 1) == 1;
    const auto movieScale = static_cast<std::uint32_t>(mvhd.u(wide ? 20 : 12, 4));
    const auto movieDuration = static_cast<std::int64_t>(mvhd.u(wide ? 24 : 16, wide ? 8 : 4));
    require(movieScale > 0 && movieDuration > 0 && movieDuration < kMaxTicks);
    std::optional<double> start;
    std::optional<PartPacketIndex> index;
    for (const auto& box : boxesIn(moov)) {
        if (box.type != "trak") {
            continue;
        }
        const Track track = trackOf(box.payload, fileSize);
        const Placement placement = placementOf(track, movieScale);
        const double trackStart = startOf(track, placement);
        start = std::min(start.value_or(trackStart), trackStart);
        if (!index && track.handler == (video ? "vide" : "soun")) {
            index = PartPacketIndex{packetsOf(track, placement)};
        }
    }
    require(index.has_value() && start.has_value());
    // A cover picture counts as a stream starting at 0.
    const auto udta = child(moov, "udta");
    const auto meta = udta ? child(*udta, "meta") : std::nullopt;
    require(!meta || *start <= 0 || meta->text(0, meta->size()).find("covr") == std::string::npos);
    index->start = std::round(*start * 1e6) / 1e6;
    index->duration = static_cast<double>(rescaled(movieDuration, 1000000, movieScale)) / 1e6;
    return index;
}

}  // namespace

std::optional<PartPacketIndex> readMp4PacketIndex(const fs::path& file, bool video) {
    try {
        return readIndex(file, video);
    } catch (const Unfollowed&) {
        return std::nullopt;
    } catch (const std::exception&) {  // unreadable, or out of memory
        return std::nullopt;
    }
}

}  // namespace tavrolin
