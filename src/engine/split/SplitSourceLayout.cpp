#include "engine/split/SplitSourceLayout.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

#include "engine/MillisecondTime.h"
#include "engine/split/LeadingPictures.h"
#include "engine/split/PresentationTimes.h"
#include "probe/ProbeJson.h"
#include "probe/ProbeText.h"

namespace tavrolin {

namespace {

// How far past the end time ffprobe reads packets: the end keyframe and its leading pictures
// come first, and a keyframe the request did not name is looked for this far.
constexpr double kEndWindow = 10.0;
// How far before the end time it starts: a transport stream's seek lands after the time asked,
// past the keyframe there, so the read must begin before it and show that it did.
constexpr double kEndLeadIn = 2.0;

// "1/12800"; zero when not a positive ratio.
StreamTimeBase timeBaseOf(std::string_view text) {
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos) {
        return {};
    }
    const auto whole = [](std::string_view digits) -> std::int64_t {
        std::int64_t value = 0;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value);
        return error == std::errc{} && end == digits.data() + digits.size() && value > 0 ? value
                                                                                         : 0;
    };
    const StreamTimeBase read{whole(text.substr(0, slash)), whole(text.substr(slash + 1))};
    return read.num > 0 && read.den > 0 ? read : StreamTimeBase{};
}

SplitStreamRole roleOf(const nlohmann::json& stream, bool videoSeen) {
    const std::string kind = stream.value("codec_type", std::string());
    const auto disposition = stream.find("disposition");
    if (disposition != stream.end() && disposition->value("attached_pic", 0) != 0) {
        return SplitStreamRole::picture;
    }
    if (kind == "video") {
        return videoSeen ? SplitStreamRole::timed : SplitStreamRole::video;
    }
    if (kind == "attachment") {
        return SplitStreamRole::attachment;
    }
    if (kind == "data" && stream.value("codec_tag_string", std::string()) == "text") {
        return SplitStreamRole::chapterTrack;
    }
    if (kind == "data" && stream.value("codec_tag_string", std::string()) == "tmcd") {
        return SplitStreamRole::timecode;
    }
    return SplitStreamRole::timed;
}

struct VideoEnd {
    std::optional<double> end;
    std::optional<double> lastFrame;
};

// `codec` is the video's; `decodingTimes` says its frames are shown when decoded (H.264 in AVI
// without B-frames), whatever times ffprobe generates for them.
VideoEnd videoEndAt(const nlohmann::json& packets, std::int64_t video, std::string_view codec,
                    bool decodingTimes, double end) {
    std::vector<CodedPicture> pictures;
    for (const auto& packet : packets) {
        const auto time = probejson::secondsIn(packet, decodingTimes ? "dts_time" : "pts_time");
        if (packet.value("stream_index", std::int64_t{-1}) == video && time) {
            const auto size = parsePosixNumber(packet.value("size", std::string()));
            pictures.push_back(
                {*time,
                 packet.value("flags", std::string()).find('K') != std::string::npos &&
                     !isPackedPlaceholder(codec, static_cast<std::int64_t>(size.value_or(0)))});
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

std::vector<std::string> splitLayoutProbeArguments(const std::filesystem::path& input,
                                                   std::optional<double> endTime) {
    std::string entries =
        "stream=index,codec_name,codec_type,codec_tag_string,time_base,sample_rate,r_frame_rate:"
        "stream_disposition=attached_pic:"
        "stream_tags=filename,mimetype,timecode:"
        "chapter=start_time,end_time:chapter_tags:format=start_time,duration,format_name,bit_rate";
    // Packets without a presentation time get the one their decoder would show (AVI, VOB): the
    // end keyframe may be one of them. Where every packet has one, nothing changes.
    std::vector<std::string> arguments = {"-v", "error", "-fflags", "+genpts"};
    if (endTime) {
        entries += ":packet=stream_index,pts_time,dts_time,size,flags";
        arguments.insert(
            arguments.end(),
            {"-read_intervals", formatCommandLineSeconds(*endTime - kSplitCutMargin - kEndLeadIn) +
                                    "%+" + formatCommandLineSeconds(kEndLeadIn + kEndWindow)});
    }
    arguments.insert(arguments.end(), {"-show_entries", entries, "-of", "json", input.string()});
    return arguments;
}

std::optional<SplitSourceLayout> parseSplitLayout(std::string_view json,
                                                  std::optional<double> endTime) {
    SplitSourceLayout layout;
    try {
        const auto report = nlohmann::json::parse(json);
        std::optional<std::int64_t> video;
        for (const auto& stream : report.at("streams")) {
            const auto index = stream.at("index").get<std::int64_t>();
            const auto role = roleOf(stream, video.has_value());
            if (role == SplitStreamRole::video) {
                video = index;
            }
            SplitStream& read = layout.streams.emplace_back(index, role);
            read.kind = stream.value("codec_type", std::string());
            read.timeBase = timeBaseOf(stream.value("time_base", std::string()));
            const auto rate = parsePosixNumber(stream.value("sample_rate", std::string()));
            if (rate && *rate >= 1 && *rate < 1e9) {
                read.sampleRate = static_cast<std::int64_t>(*rate);
            }
            const auto tags = stream.value("tags", nlohmann::json::object());
            read.timecode = tags.value("timecode", std::string());
            if (read.kind == "video") {
                read.frameRate = timeBaseOf(stream.value("r_frame_rate", std::string()));
            }
            read.codec = stream.value("codec_name", std::string());
            if (role == SplitStreamRole::picture) {
                read.fileName = tags.value("filename", std::string());
                read.mimeType = tags.value("mimetype", std::string());
            }
        }
        for (const auto& chapter : report.value("chapters", nlohmann::json::array())) {
            const auto start = probejson::secondsIn(chapter, "start_time");
            const auto end = probejson::secondsIn(chapter, "end_time");
            if (!start || !end) {
                continue;
            }
            SourceChapter read{*start, *end, {}};
            const auto tags = chapter.value("tags", nlohmann::json::object());
            for (const auto& [key, value] : tags.items()) {
                if (value.is_string()) {
                    read.tags.emplace_back(key, value.get<std::string>());
                }
            }
            layout.chapters.push_back(std::move(read));
        }
        if (const auto format = report.find("format"); format != report.end()) {
            layout.duration = probejson::secondsIn(*format, "duration");
            layout.formatName = format->value("format_name", std::string());
            layout.start = probejson::secondsIn(*format, "start_time").value_or(0);
            layout.bitRate = probejson::secondsIn(*format, "bit_rate").value_or(0);
        }
        if (endTime && video) {
            const auto& codec =
                std::find_if(layout.streams.begin(), layout.streams.end(),
                             [&](const SplitStream& stream) { return stream.index == *video; })
                    ->codec;
            // Generated times follow B-frames; AVI video of another codec passed the page's check
            // only without them.
            const bool decodingTimes =
                layout.formatName == "avi" && !generatesPresentationTimes(codec);
            const auto found = videoEndAt(report.value("packets", nlohmann::json::array()), *video,
                                          codec, decodingTimes, *endTime);
            layout.videoEnd = found.end;
            layout.videoLastFrame = found.lastFrame;
        }
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
    return layout;
}

}  // namespace tavrolin
