#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "engine/PacketCensusReading.h"
#include "probe/PacketCensus.h"
#include "process/ProcessRunning.h"

namespace tavrolin {

// Checks a prepared replacement before it may take its source's place, with ffprobe runs under
// `stop` on the job's thread (the source's packets are read on threads of their own).
// Each throws MediaProcessingError::processFailed when the replacement does not hold up, and
// CancellationError when `stop` is requested during the header check.

// The header: not empty, at least `expectedStreamCount` streams, and a duration within
// max(2 %, 3 s) of the source's.
void verifyPreparedReplacement(ProcessRunning& runner, const std::filesystem::path& prepared,
                               std::size_t expectedStreamCount,
                               const std::filesystem::path& ffprobe, double sourceDuration,
                               std::stop_token stop);

// Every packet, which a header written first (as Matroska writes it) cannot vouch for: ffprobe
// counts the packets of `prepared` in a read of the whole file (`readPacketCensus`), and each of
// `streams` must hold there as many packets as in `source`, whose census `sourceCensus` reads,
// its last ending where the source's does (`holdsEveryPacket`). The error names the source; a
// file that cannot be read fails the same way.
void verifyPreparedPackets(ProcessRunning& runner, const std::filesystem::path& prepared,
                           const std::filesystem::path& source, PacketCensusRead& sourceCensus,
                           const std::vector<CopiedStream>& streams,
                           const std::filesystem::path& ffprobe, std::stop_token stop);

// What a split's part must hold, in its own time: it opens on a keyframe; after a cut its video
// starts at 0, shown by every decoder (a part from the beginning keeps what its source hides);
// and it ends at `end` within one frame, when that is known.
struct SplitPartSpan {
    bool startsAtCut = false;
    std::optional<double> end;
    // Whether `end` is where the video ends (an end cut) or where the whole part ends.
    bool endIsVideo = false;
};

// ffprobe's arguments for what the check reads of a written part: the format's times and the
// first video stream's packets at its beginning and near `end`.
std::vector<std::string> splitPartProbeArguments(const std::filesystem::path& part,
                                                 const SplitPartSpan& span);

// Reads that report against the span: none when the part holds it, else why not, as the end of
// a sentence ("starts 0.042 s after the cut"). A part without video is checked for its format.
std::optional<std::string> splitPartFault(std::string_view json, const SplitPartSpan& span);

// Checks a written part before it takes its name; throws MediaProcessingError::partMismatch
// naming `name` when it does not hold its span or cannot be read, CancellationError on a stop.
void verifySplitPart(ProcessRunning& runner, const std::filesystem::path& written,
                     const std::string& name, const SplitPartSpan& span,
                     const std::filesystem::path& ffprobe, std::stop_token stop);

}  // namespace tavrolin
