#pragma once

#include <filesystem>
#include <future>
#include <optional>
#include <stop_token>

#include "engine/FFprobeQueries.h"
#include "probe/PacketCensus.h"

namespace tavrolin {

// A file's header as its reader opened it (what ffprobe's -show_streams -show_format report
// without reading packets), and the census of its packets.
struct FileCensus {
    PacketFormat header;
    PacketCensus census;
};

// readPacketCensus with the file's header, in one opening of the file; none when the file
// cannot be read or the read is stopped.
std::optional<FileCensus> readFileCensusOrNone(const std::filesystem::path& file,
                                               std::stop_token stop);

// readPacketCensus, none when the file cannot be read or the read is stopped.
std::optional<PacketCensus> readPacketCensusOrNone(const std::filesystem::path& file,
                                                   std::stop_token stop);

// The duration a header states, as ffprobe's format=duration gives it: none when it states
// none or not a positive one.
std::optional<double> statedDuration(const PacketFormat& header);

// That read on a thread of its own, begun when made, so that a file's census is read while
// something else runs (the source's beside the ffmpeg run that copies it). `get` waits for it,
// once, on the thread that owns it; `header` only for the file's opening, from any thread. A
// stop of `stop` or the end of the object stops the read within a packet, and the destructor
// waits for it.
class PacketCensusRead {
  public:
    PacketCensusRead(std::filesystem::path file, std::stop_token stop);

    std::optional<PacketCensus> get() { return census_.get(); }
    // None when the file cannot be opened or the read was stopped first.
    std::optional<PacketFormat> header() const { return std::shared_future(header_).get(); }

  private:
    std::promise<std::optional<PacketFormat>> opened_;
    std::shared_future<std::optional<PacketFormat>> header_;
    ReadBeside<std::optional<PacketCensus>> census_;
};

}  // namespace tavrolin
