#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tavrolin {

// One stream's packets as read from a whole file.
struct StreamPackets {
    std::size_t count = 0;
    // Where the latest packet ends: its pts (its dts when it has none) plus its duration, in
    // seconds; 0 when no packet has a time.
    double end = 0;

    friend bool operator==(const StreamPackets&, const StreamPackets&) = default;
};

// Every stream's packets by stream index. Only a full read of the file gives it, so a file cut
// short anywhere shows it, whatever its header says.
using PacketCensus = std::map<std::int64_t, StreamPackets>;

// ffprobe's arguments for reading every packet of `file` (one CSV line each: stream index,
// pts, dts, duration).
std::vector<std::string> packetCensusArguments(const std::filesystem::path& file);

// Reads that report; lines of another shape are skipped.
PacketCensus parsePacketCensus(std::string_view report);

// A stream of a source and the stream of a copy that holds it, by index.
struct CopiedStream {
    std::int64_t source = 0;
    std::int64_t copy = 0;
};

// Whether `copy` holds every packet of `source` in the streams listed: each copied stream has
// as many packets as its source stream, and its last packet ends within half a second of that
// stream's. Streams not listed (a transcript added, a chapter track) are not compared.
bool holdsEveryPacket(const PacketCensus& source, const PacketCensus& copy,
                      const std::vector<CopiedStream>& streams);

}  // namespace tavrolin
