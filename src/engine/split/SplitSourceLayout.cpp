#include "engine/split/SplitSourceLayout.h"

#include <algorithm>
#include <cmath>

#include "engine/split/LeadingPictures.h"
#include "engine/split/PresentationTimes.h"

namespace tavrolin {

namespace {

// How far past the end time the layout read takes packets: the end keyframe and its leading
// pictures come first, and a keyframe the request did not name is looked for this far.
constexpr double kEndWindow = 10.0;
// How far before the end time it starts: a transport stream's seek lands after the time asked,
// past the keyframe there, so the read must begin before it and show that it did.
constexpr double kEndLeadIn = 2.0;

StreamTimeBase ratioOf(TimeBase base) {
    return base.num > 0 && base.den > 0 ? StreamTimeBase{base.num, base.den} : StreamTimeBase{};
}

std::string tagOf(const PacketTags& tags, std::string_view key) {
    const auto found =
        std::find_if(tags.begin(), tags.end(), [key](const auto& tag) { return tag.first == key; });
    return found != tags.end() ? found->second : std::string();
}

SplitStreamRole roleOf(const PacketStream& stream, bool videoSeen) {
    if (stream.attachedPicture) {
        return SplitStreamRole::picture;
    }
    if (stream.codecType == "video") {
        return videoSeen ? SplitStreamRole::timed : SplitStreamRole::video;
    }
    if (stream.codecType == "attachment") {
        return SplitStreamRole::attachment;
    }
    if (stream.codecType == "data" && stream.codecTag == "text") {
        return SplitStreamRole::chapterTrack;
    }
    if (stream.codecType == "data" && stream.codecTag == "tmcd") {
        return SplitStreamRole::timecode;
    }
    return SplitStreamRole::timed;
}

struct VideoEnd {
    std::optional<double> end;
    std::optional<double> lastFrame;
};

// `codec` is the video's; `decodingTimes` says its frames are shown when decoded (H.264 in AVI
// without B-frames), whatever times the reader generates for them.
VideoEnd videoEndAt(const std::vector<ReadPacket>& packets, const PacketStream& video,
                    std::string_view codec, bool decodingTimes, double end) {
    std::vector<CodedPicture> pictures;
    for (const auto& packet : packets) {
        const auto time = secondsOf(decodingTimes ? packet.dts : packet.pts, video.timeBase);
        if (packet.stream == video.index && time) {
            pictures.push_back(
                {*time, packet.keyframe && !isPackedPlaceholder(codec, packet.size)});
        }
    }
    // Only a read that began before the end time has seen the keyframe there.
    bool before = false;
    for (std::size_t at = 0; at < pictures.size(); ++at) {
        before = before || pictures[at].time < end - kSplitCutMargin;
        if (before && pictures[at].isKeyframe && pictures[at].time >= end - kSplitCutMargin) {
            VideoEnd found{pictures[at].time, std::nullopt};
            for (const auto& leading : leadingPictures(pictures)) {
                if (leading.keyframe == at) {
                    found.end = leading.earliest;
                }
            }
            for (std::size_t earlier = 0; earlier < at; ++earlier) {
                if (pictures[earlier].time < *found.end) {
                    found.lastFrame = std::max(found.lastFrame.value_or(pictures[earlier].time),
                                               pictures[earlier].time);
                }
            }
            return found;
        }
    }
    return {};
}

}  // namespace

bool splitPartCarriesData(std::string_view codec, std::optional<OutputContainer> container) {
    return container == OutputContainer::mov && codec != "dvd_nav_packet";
}

double splitSourceZero(const SplitSourceLayout& layout) {
    // Longer than any codec's start-up delay (MP3 at 8 kHz: 0.14 s).
    constexpr double kCodecDelay = 0.5;
    return std::abs(layout.start) >= kCodecDelay ? layout.start : 0;
}

double splitCutLead(const SplitSourceLayout& layout) {
    for (const auto& stream : layout.streams) {
        if (stream.role == SplitStreamRole::video && stream.timeBase.den > 0) {
            const double tick =
                static_cast<double>(stream.timeBase.num) / static_cast<double>(stream.timeBase.den);
            // Ticks of a microsecond or less are as fine as the command line's seconds; ticks
            // coarser than twice the margin make it none, the keyframe's own tick.
            return tick > 1e-6 ? std::round(kSplitCutMargin / tick) * tick : kSplitCutMargin;
        }
    }
    return kSplitCutMargin;
}

SplitSourceLayout splitLayoutOf(const PacketFormat& format, const std::vector<ReadPacket>& packets,
                                std::optional<double> endTime) {
    SplitSourceLayout layout;
    const PacketStream* video = nullptr;
    for (const auto& stream : format.streams) {
        const auto role = roleOf(stream, video != nullptr);
        if (role == SplitStreamRole::video) {
            video = &stream;
        }
        SplitStream& read = layout.streams.emplace_back(stream.index, role);
        read.kind = stream.codecType;
        read.timeBase = ratioOf(stream.timeBase);
        read.sampleRate = std::max(stream.sampleRate, 0);
        read.timecode = tagOf(stream.tags, "timecode");
        if (read.kind == "video") {
            read.frameRate = ratioOf(stream.frameRate);
        }
        read.codec = stream.codecName != "none" ? stream.codecName : std::string();
        if (role == SplitStreamRole::picture) {
            read.fileName = tagOf(stream.tags, "filename");
            read.mimeType = tagOf(stream.tags, "mimetype");
        }
    }
    for (const auto& chapter : format.chapters) {
        // A chapter without an end is no chapter to shift.
        if (chapter.start && chapter.end) {
            layout.chapters.push_back({secondsOf(*chapter.start, chapter.timeBase),
                                       secondsOf(*chapter.end, chapter.timeBase), chapter.tags});
        }
    }
    layout.duration = secondsOfMicroseconds(format.durationMicroseconds);
    layout.formatName = format.name;
    layout.start = secondsOfMicroseconds(format.startMicroseconds).value_or(0);
    layout.bitRate = static_cast<double>(format.bitRate);
    if (endTime && video != nullptr) {
        const auto& codec =
            layout.streams[static_cast<std::size_t>(video - format.streams.data())].codec;
        // Generated times follow B-frames; AVI video of another codec passed the page's check
        // only without them.
        const bool decodingTimes = layout.formatName == "avi" && !generatesPresentationTimes(codec);
        const auto found = videoEndAt(packets, *video, codec, decodingTimes, *endTime);
        layout.videoEnd = found.end;
        layout.videoLastFrame = found.lastFrame;
    }
    return layout;
}

SplitSourceLayout readSplitSourceLayout(const std::filesystem::path& input,
                                        std::optional<double> endTime, std::stop_token stop) {
    // Packets without a presentation time get the one their decoder would show (AVI, VOB): the
    // end keyframe may be one of them. Where every packet has one, nothing changes.
    const auto reader = openPacketReader(input, PacketReadOptions{true}, stop);
    const PacketFormat& format = reader->format();
    const bool hasVideo = std::any_of(
        format.streams.begin(), format.streams.end(),
        [](const auto& stream) { return stream.codecType == "video" && !stream.attachedPicture; });
    std::vector<ReadPacket> packets;
    if (endTime && hasVideo) {
        reader->seek(*endTime - kSplitCutMargin - kEndLeadIn);
        // The window counts from the first time read; a packet without one keeps the last.
        std::optional<double> now = secondsOfMicroseconds(format.startMicroseconds);
        std::optional<double> until;
        reader->read(
            [&](const ReadPacket& packet) {
                if (static_cast<std::size_t>(packet.stream) >= format.streams.size()) {
                    return true;  // a stream that began after the header: not the video
                }
                if (packet.pts) {
                    now = secondsOf(*packet.pts, format.streams[packet.stream].timeBase);
                }
                if (!until && now) {
                    until = *now + kEndLeadIn + kEndWindow;
                }
                if (until && now && *now >= *until) {
                    return false;
                }
                packets.push_back(packet);
                return true;
            },
            stop);
    }
    return splitLayoutOf(format, packets, endTime);
}

}  // namespace tavrolin
