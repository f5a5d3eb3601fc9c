#include "probe/FFprobeParser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <set>

#include "probe/MediaProbeError.h"
#include "probe/ProbeJson.h"
#include "probe/ProbeText.h"

namespace tavrolin {

using namespace probejson;

namespace {

// ffprobe writes some integers as JSON strings ("sample_rate": "48000"); anything but plain
// digits there is a document of another shape.
std::optional<std::int64_t> decimalText(const nlohmann::json& object, const char* key) {
    const auto text = optionalString(object, key);
    if (!text) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    const char* end = text->data() + text->size();
    const auto [stop, error] = std::from_chars(text->data(), end, value);
    if (text->empty() || text->front() == '-' || error != std::errc{} || stop != end) {
        throw MediaProbeError::invalidResponse();
    }
    return value;
}

// Degrees clockwise in [0, 360); none for no turn.
std::optional<int> clockwise(double degrees) {
    const long whole = std::lround(std::fmod(degrees, 360.0));
    const int turn = static_cast<int>((whole % 360 + 360) % 360);
    return turn == 0 ? std::nullopt : std::optional(turn);
}

// The display matrix's rotation (counter-clockwise, as ffprobe reports it) wins over the older
// `rotate` tag (clockwise). A value of another shape is no turn rather than a broken document:
// neither is part of what every caller relies on.
std::optional<int> displayRotation(const nlohmann::json& object,
                                   const std::optional<std::string>& rotateTag) {
    if (const auto* sideData = optionalValue(object, "side_data_list");
        sideData != nullptr && sideData->is_array()) {
        for (const auto& entry : *sideData) {
            if (entry.is_object() && entry.contains("rotation") && entry["rotation"].is_number()) {
                return clockwise(-entry["rotation"].get<double>());
            }
        }
    }
    if (rotateTag) {
        int degrees = 0;
        const char* end = rotateTag->data() + rotateTag->size();
        const auto [stop, error] = std::from_chars(rotateTag->data(), end, degrees);
        if (error == std::errc{} && stop == end) {
            return clockwise(degrees);
        }
    }
    return std::nullopt;
}

// What the first packets show of each stream index: how far before its first shown packet the
// earliest one flagged for discard lies (an edit list's trimmed start), and whether one has no
// presentation time. Packets are extra: one of another shape counts for nothing.
struct FirstPackets {
    std::map<std::int64_t, double> hidden;
    std::set<std::int64_t> untimed;
};

FirstPackets firstPackets(const nlohmann::json& document) {
    FirstPackets read;
    const auto* packets = optionalArray(document, "packets");
    if (packets == nullptr) {
        return read;
    }
    for (const auto& packet : *packets) {
        if (!packet.is_object() || !packet.contains("stream_index") ||
            !packet["stream_index"].is_number_integer()) {
            continue;
        }
        const auto index = packet["stream_index"].get<std::int64_t>();
        if (!packet.contains("pts_time")) {
            read.untimed.insert(index);
            continue;
        }
        const auto seconds = parseFiniteNumber(packet.value("pts_time", ""));
        if (packet.value("flags", "").find('D') == std::string::npos || !seconds || *seconds >= 0) {
            continue;
        }
        double& earliest = read.hidden[index];
        earliest = std::max(earliest, -*seconds);
    }
    return read;
}

}  // namespace

std::vector<MediaStream> FFprobeParser::parse(std::string_view standardOutput) const {
    const nlohmann::json document = parseObject(standardOutput);
    std::vector<MediaStream> streams;
    const auto packets = firstPackets(document);
    // Every element is decoded, kept or not, so a malformed data stream still invalidates the
    // whole document.
    for (const auto& element : requiredArray(document, "streams")) {
        const auto& object = asObject(element);
        MediaStream stream;
        stream.index = requiredInteger(object, "index");
        const std::string codecType = requiredString(object, "codec_type");
        stream.codecName = optionalString(object, "codec_name").value_or("unknown");
        stream.codecLongName = optionalString(object, "codec_long_name");
        stream.profile = optionalString(object, "profile");
        stream.level = optionalInteger(object, "level");
        stream.pixelFormat = optionalString(object, "pix_fmt");
        stream.colorTransfer = optionalString(object, "color_transfer");
        stream.colorPrimaries = optionalString(object, "color_primaries");
        stream.colorSpace = optionalString(object, "color_space");
        stream.codecTag = optionalString(object, "codec_tag_string");
        stream.width = optionalInteger(object, "width");
        stream.height = optionalInteger(object, "height");
        stream.channelCount = optionalInteger(object, "channels");
        stream.channelLayout = optionalString(object, "channel_layout");
        stream.sampleRate = decimalText(object, "sample_rate");
        std::optional<std::string> rotateTag;
        if (const auto* tags = optionalObject(object, "tags")) {
            stream.language = optionalString(*tags, "language");
            stream.title = optionalString(*tags, "title");
            rotateTag = optionalString(*tags, "rotate");
        }
        if (codecType == "video") {
            stream.rotation = displayRotation(object, rotateTag);
        }
        if (auto found = packets.hidden.find(stream.index); found != packets.hidden.end()) {
            stream.hiddenStart = found->second;
        }
        stream.lacksPresentationTimes = packets.untimed.contains(stream.index);
        stream.reordersFrames = optionalInteger(object, "has_b_frames").value_or(0) > 0;
        if (const auto* disposition = optionalObject(object, "disposition")) {
            stream.isDefault = optionalInteger(*disposition, "default") == 1;
            stream.isForced = optionalInteger(*disposition, "forced") == 1;
        }
        // Exact, case-sensitive match: data, attachment and anything else is left out.
        if (auto kind = mediaStreamKindFromRaw(codecType)) {
            stream.kind = *kind;
            streams.push_back(std::move(stream));
        }
    }
    if (streams.empty()) {
        throw MediaProbeError::noSupportedStreams();
    }
    std::stable_sort(streams.begin(), streams.end(),
                     [](const MediaStream& a, const MediaStream& b) { return a.index < b.index; });
    return streams;
}

}  // namespace tavrolin
