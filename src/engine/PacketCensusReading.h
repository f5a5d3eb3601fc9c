#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <vector>

#include "engine/FFprobeQueries.h"
#include "engine/split/HeldProbe.h"
#include "probe/PacketCensus.h"
#include "process/ProcessRunning.h"

namespace tavrolin {

// A file's packet census and the duration its header gives, both from the read that counts.
struct FileCensus {
    PacketCensus packets;
    std::optional<double> duration;
};

// Reads `file`'s packet census with ffprobe: every stream's count from one read of the whole file,
// and the ends of `streams` from a listing of the file's last seconds, plus one listing of each
// such stream alone that ends before them (see PacketCensus.h). The runs go side by side on
// threads of their own, joined before it returns, each within the application's bound on
// ffprobe runs and under `stop`; the count is `heldCount`'s when given (a HeldProbe of
// packetCountArguments, started early). Called on the job's thread (or a thread of its own);
// none when a run fails or is stopped, or its report cannot be read.
std::optional<FileCensus> readPacketCensus(ProcessRunning& runner,
                                           const std::filesystem::path& file,
                                           const std::vector<std::int64_t>& streams,
                                           const std::filesystem::path& ffprobe,
                                           std::stop_token stop, HeldProbe* heldCount = nullptr);

// readPacketCensus on a thread of its own, begun when made, so that a file's census is read while
// something else runs (the source's beside the ffmpeg run that copies it). `get` waits for it,
// once, on the thread that owns it; a stop of `stop` or the end of the object stops its runs,
// and the destructor waits for them.
class PacketCensusRead {
  public:
    PacketCensusRead(ProcessRunning& runner, std::filesystem::path file,
                     std::vector<std::int64_t> streams, std::filesystem::path ffprobe,
                     std::stop_token stop);

    std::optional<FileCensus> get() { return census_.get(); }

  private:
    ReadBeside<std::optional<FileCensus>> census_;
};

}  // namespace tavrolin
