#pragma once

#include <cstddef>
#include <filesystem>
#include <stop_token>
#include <vector>

#include "probe/PacketCensus.h"
#include "process/ProcessRunning.h"

namespace tavrolin {

// Checks a prepared replacement before it may take its source's place, with ffprobe runs under
// `stop` on the job's thread (the packet check reads the source on a second thread beside it).
// Each throws MediaProcessingError::processFailed when the replacement does not hold up, and
// CancellationError when `stop` is requested during the header check.

// The header: not empty, at least `expectedStreamCount` streams, and a duration within
// max(2 %, 3 s) of the source's.
void verifyPreparedReplacement(ProcessRunning& runner, const std::filesystem::path& prepared,
                               std::size_t expectedStreamCount,
                               const std::filesystem::path& ffprobe, double sourceDuration,
                               std::stop_token stop);

// Every packet, which a header written first (as Matroska writes it) cannot vouch for: ffprobe
// reads both files whole, and each of `streams` must hold in `prepared` as many packets as in
// `source`, its last ending where the source's does (`holdsEveryPacket`). The error names the
// source; a file that cannot be read fails the same way.
void verifyPreparedPackets(ProcessRunning& runner, const std::filesystem::path& prepared,
                           const std::filesystem::path& source,
                           const std::vector<CopiedStream>& streams,
                           const std::filesystem::path& ffprobe, std::stop_token stop);

}  // namespace tavrolin
