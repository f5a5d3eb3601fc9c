#include "probe/PacketCensus.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "probe/ProbeText.h"

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

std::vector<std::string> packetCensusArguments(const std::filesystem::path& file) {
    return {
        "-v",  "error",   "-show_entries", "packet=stream_index,pts_time,dts_time,duration_time",
        "-of", "csv=p=0", file.string()};
}

PacketCensus parsePacketCensus(std::string_view report) {
    PacketCensus census;
    while (!report.empty()) {
        const auto lineEnd = report.find('\n');
        std::string_view line = report.substr(0, lineEnd);
        report.remove_prefix(lineEnd == std::string_view::npos ? report.size() : lineEnd + 1);
        std::string_view fields[4];
        std::size_t count = 0;
        for (; count < 4 && !line.empty(); ++count) {
            const auto comma = line.find(',');
            fields[count] = line.substr(0, comma);
            line.remove_prefix(comma == std::string_view::npos ? line.size() : comma + 1);
        }
        std::int64_t stream = 0;
        const auto [end, error] =
            std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), stream);
        if (count < 3 || error != std::errc{} || end != fields[0].data() + fields[0].size()) {
            continue;
        }
        auto& packets = census[stream];
        ++packets.count;
        auto start = parseFiniteNumber(fields[1]);
        if (!start) {
            start = parseFiniteNumber(fields[2]);
        }
        if (start) {
            packets.end = std::max(packets.end, *start + parseFiniteNumber(fields[3]).value_or(0));
        }
    }
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
