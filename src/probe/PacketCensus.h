#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
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

// Every stream's packets by stream index. Only a full read of the file gives the counts, so a
// file cut short anywhere shows it, whatever its header says.
using PacketCensus = std::map<std::int64_t, StreamPackets>;

// A census is read in three kinds of ffprobe runs, since listing every packet costs ffprobe
// about three times what counting them does: one counts every stream's packets in a read of
// the whole file; one lists the packets of the file's last seconds, where each stream's last
// packets lie; and one per stream that ends earlier (a subtitle track whose last cue comes
// before the credits) lists that stream's packets alone.

// What a census needs to know of a file first: where its timeline ends (its start plus its
// duration, when known) and which streams hold no timed packets (attachments, cover art),
// whose packets are counted but have no end to compare.
struct CensusOutline {
    std::optional<double> end;
    std::set<std::int64_t> untimed;

    friend bool operator==(const CensusOutline&, const CensusOutline&) = default;
};

// ffprobe's arguments for that outline as JSON, read from the header.
std::vector<std::string> censusOutlineArguments(const std::filesystem::path& file);

// Reads that report; none when it is not one.
std::optional<CensusOutline> parseCensusOutline(std::string_view json);

// ffprobe's arguments for counting each stream's packets in a read of the whole file, without
// listing them, and for the duration its header gives (CSV lines "stream,index,count" and
// "format,duration").
std::vector<std::string> packetCountArguments(const std::filesystem::path& file);

// Reads that report into a census of counts (every end 0); lines of another shape are skipped.
PacketCensus parsePacketCounts(std::string_view report);

// The duration that report gives, when it gives one.
std::optional<double> parseCountedDuration(std::string_view report);

// Where the listing of a file's last seconds begins: some seconds before the outline's end;
// none (the whole file) when the end is not known.
std::optional<double> censusTailStart(const CensusOutline& outline);

// ffprobe's arguments for listing packets (one CSV line each: stream index, pts, dts, duration):
// of `stream` alone when given, else of every stream; from a read that begins at `from` seconds
// (on the keyframe at or before it) when given, else of the whole file.
std::vector<std::string> packetListArguments(const std::filesystem::path& file,
                                             std::optional<std::int64_t> stream,
                                             std::optional<double> from);

// Reads a listing: where each stream's packets that start at `from` or later end (the latest
// end); a stream with no such packet is absent. Lines of another shape are skipped.
std::map<std::int64_t, double> parsePacketEnds(std::string_view report,
                                               std::optional<double> from = std::nullopt);

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
