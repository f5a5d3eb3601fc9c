#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <vector>

#include "probe/PacketCensus.h"
#include "process/ProcessRunning.h"

namespace tavrolin {

// Reads `file`'s packet census with ffprobe: every stream's count from one read of the whole file,
// and the ends of `streams` from a listing of the file's last seconds, plus one listing of each
// such stream alone that ends before them (see PacketCensus.h). The runs go side by side on
// threads of their own, joined before it returns, each within the application's bound on
// ffprobe runs and under `stop`. Called on the job's thread (or a thread of its own); none when
// a run fails or is stopped, or its report cannot be read.
std::optional<PacketCensus> readPacketCensus(ProcessRunning& runner,
                                             const std::filesystem::path& file,
                                             const std::vector<std::int64_t>& streams,
                                             const std::filesystem::path& ffprobe,
                                             std::stop_token stop);

}  // namespace tavrolin
