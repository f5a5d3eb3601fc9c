#include "probe/PacketCensus.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tavrolin {

namespace {

// How far apart two copies of a stream may end: muxers round the last packet's duration
// differently (MP4 derives it from the next sample, Matroska stores it).
constexpr double endTolerance = 0.5;

StreamPackets packetsOf(const PacketCensus& census, std::int64_t stream) {
    const auto found = census.find(stream);
    return found == census.end() ? StreamPackets{} : found->second;
}

}  // namespace

void countPacket(PacketCensus& census, const ReadPacket& packet, TimeBase base) {
    StreamPackets& stream = census[packet.stream];
    ++stream.count;
    const auto start = packet.pts ? packet.pts : packet.dts;
    if (start) {
        stream.end = std::max(stream.end, secondsOf(*start + packet.duration, base));
    }
}

PacketCensus readPacketCensus(const std::filesystem::path& file, std::stop_token stop) {
    const auto reader = openPacketReader(file, {}, stop);
    return readPacketCensus(*reader, std::move(stop));
}

PacketCensus readPacketCensus(PacketReading& reader, std::stop_token stop) {
    const PacketFormat& format = reader.format();
    PacketCensus census;
    for (const PacketStream& stream : format.streams) {
        census[stream.index];
    }
    // Damage the demuxer reads past counts as ffprobe counted it: a copy cut short holds fewer
    // packets than its source.
    reader.read(
        [&](const ReadPacket& packet) {
            countPacket(census, packet,
                        format.streams.at(static_cast<std::size_t>(packet.stream)).timeBase);
            return true;
        },
        stop);
    return census;
}

bool holdsEveryPacket(const PacketCensus& source, const PacketCensus& copy,
                      const std::vector<CopiedStream>& streams) {
    return std::all_of(streams.begin(), streams.end(), [&](const CopiedStream& stream) {
        const auto original = packetsOf(source, stream.source);
        const auto copied = packetsOf(copy, stream.copy);
        return copied.count == original.count &&
               std::abs(copied.end - original.end) <= endTolerance;
    });
}

}  // namespace tavrolin
