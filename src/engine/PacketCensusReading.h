#pragma once

#include <filesystem>
#include <optional>
#include <stop_token>

#include "engine/FFprobeQueries.h"
#include "probe/PacketCensus.h"

namespace tavrolin {

// readPacketCensus, none when the file cannot be read or the read is stopped.
std::optional<PacketCensus> readPacketCensusOrNone(const std::filesystem::path& file,
                                                   std::stop_token stop);

// That read on a thread of its own, begun when made, so that a file's census is read while
// something else runs (the source's beside the ffmpeg run that copies it). `get` waits for it,
// once, on the thread that owns it; a stop of `stop` or the end of the object stops the read
// within a packet, and the destructor waits for it.
class PacketCensusRead {
  public:
    PacketCensusRead(std::filesystem::path file, std::stop_token stop);

    std::optional<PacketCensus> get() { return census_.get(); }

  private:
    ReadBeside<std::optional<PacketCensus>> census_;
};

}  // namespace tavrolin
