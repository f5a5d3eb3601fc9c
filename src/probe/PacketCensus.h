#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stop_token>
#include <vector>

#include "probe/PacketReading.h"

namespace tavrolin {

// One stream's packets as read from a whole file.
struct StreamPackets {
    std::size_t count = 0;
    // Where the latest packet ends: its pts (its dts when it has none) plus its duration, in
    // seconds; 0 when no packet has a time.
    double end = 0;

    friend bool operator==(const StreamPackets&, const StreamPackets&) = default;
};

// Every stream's packets by stream index, every stream of the file listed (one without packets
// counts 0). Only a full read of the file gives the counts, so a file cut short anywhere shows
// it, whatever its header says.
using PacketCensus = std::map<std::int64_t, StreamPackets>;

// `packet` (of a stream whose ticks are `base`) counted into `census`.
void countPacket(PacketCensus& census, const ReadPacket& packet, TimeBase base);

// Reads `file`'s census in one in-process read of the whole file, holding one packet at a time.
// Throws PacketReadError when the file cannot be opened or read, ModuleUnavailableError, or
// CancellationError once `stop` is requested. Any thread.
PacketCensus readPacketCensus(const std::filesystem::path& file, std::stop_token stop);
// The same of the file `reader` has open, from its current position on.
PacketCensus readPacketCensus(PacketReading& reader, std::stop_token stop);

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
