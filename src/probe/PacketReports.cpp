#include "probe/PacketReports.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "probe/PacketReading.h"

namespace tavrolin {

namespace {

// As ffprobe prints seconds ("%f"), in any locale; N/A without a time.
std::string secondsText(const std::optional<double>& seconds) {
    if (!seconds) {
        return "N/A";
    }
    char text[64];
    const auto written =
        std::to_chars(text, text + sizeof text, *seconds, std::chars_format::fixed, 6);
    return std::string(text, written.ptr);
}

const PacketStream* firstOf(const PacketFormat& format, const char* type) {
    const auto found =
        std::find_if(format.streams.begin(), format.streams.end(),
                     [type](const PacketStream& stream) { return stream.codecType == type; });
    return found == format.streams.end() ? nullptr : &*found;
}

// ffprobe ends the line of a packet with side data with a comma and lists the side data (none
// of whose fields are asked for) as an empty line.
const char* lineEnd(const ReadPacket& packet) {
    return packet.sideData ? ",\n\n" : "\n";
}

std::optional<double> durationOf(const ReadPacket& packet, TimeBase base) {
    return packet.duration != 0 ? std::optional<double>(secondsOf(packet.duration, base))
                                : std::nullopt;
}

}  // namespace

std::string firstVideoPacketLines(const std::filesystem::path& file, bool generateTimes,
                                  std::stop_token stop) {
    const auto reader = openPacketReader(file, PacketReadOptions{generateTimes}, stop);
    const PacketFormat& format = reader->format();
    std::string report;
    const PacketStream* video = firstOf(format, "video");
    if (video != nullptr) {
        const TimeBase base = video->timeBase;
        reader->read(
            [&](const ReadPacket& packet) {
                if (packet.stream == video->index) {
                    report += secondsText(secondsOf(packet.pts, base)) + ',' +
                              secondsText(secondsOf(packet.dts, base)) + ',' +
                              secondsText(durationOf(packet, base)) + ',' +
                              std::to_string(packet.size) + ',' + (packet.keyframe ? 'K' : '_') +
                              (packet.discard ? 'D' : '_') + lineEnd(packet);
                }
                return true;
            },
            stop);
        report += video->codecName + ',' + std::to_string(video->videoDelay) + '\n';
    }
    report += secondsText(secondsOfMicroseconds(format.durationMicroseconds)) + '\n';
    return report;
}

std::string firstAudioPacketTimes(const std::filesystem::path& file, std::stop_token stop) {
    const auto reader = openPacketReader(file, {}, stop);
    const PacketStream* audio = firstOf(reader->format(), "audio");
    std::string report;
    if (audio == nullptr) {
        return report;
    }
    reader->read(
        [&](const ReadPacket& packet) {
            if (packet.stream == audio->index) {
                report += secondsText(secondsOf(packet.pts, audio->timeBase)) + lineEnd(packet);
            }
            return true;
        },
        stop);
    return report;
}

nlohmann::json checksummedPackets(const std::filesystem::path& file, std::optional<double> from,
                                  int count, std::stop_token stop) {
    PacketReadOptions options;
    options.checksums = true;
    const auto reader = openPacketReader(file, options, stop);
    const PacketFormat& format = reader->format();
    nlohmann::json report{{"packets", nlohmann::json::array()},
                          {"streams", nlohmann::json::array()}};
    for (const PacketStream& stream : format.streams) {
        report["streams"].push_back(
            {{"index", stream.index},
             {"codec_type", stream.codecType},
             {"disposition", {{"attached_pic", stream.attachedPicture ? 1 : 0}}}});
    }
    if (from) {
        reader->seek(*from);
    }
    auto& packets = report["packets"];
    int read = 0;
    reader->read(
        [&](const ReadPacket& packet) {
            const TimeBase base =
                format.streams.at(static_cast<std::size_t>(packet.stream)).timeBase;
            nlohmann::json line{{"stream_index", packet.stream}};
            if (packet.pts) {
                line["pts_time"] = secondsText(secondsOf(*packet.pts, base));
            }
            if (const auto duration = durationOf(packet, base)) {
                line["duration_time"] = secondsText(duration);
            }
            line["data_hash"] = packet.dataHash;
            packets.push_back(std::move(line));
            return from || ++read < count;
        },
        stop);
    return report;
}

}  // namespace tavrolin
