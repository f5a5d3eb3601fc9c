#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "engine/PacketCensusReading.h"
#include "probe/PacketCensus.h"
#include "process/ProcessRunning.h"

namespace tavrolin {

// One packet of a written file's checked stream, as the check reads it back.
struct WrittenPacket {
    double time = 0;                                // presentation time in seconds
    std::optional<double> duration = std::nullopt;  // when the file states one
    bool keyframe = false;
    bool discard = false;
};

// What the check reads of a written file: its checked stream's packets in the order the demuxer
// returns them (decoding order), and the format's times.
struct WrittenPackets {
    std::vector<WrittenPacket> packets;
    std::optional<double> start = std::nullopt;     // the format's start_time
    std::optional<double> duration = std::nullopt;  // the format's duration
};

// Checks a prepared replacement before it may take its source's place. Each throws
// MediaProcessingError::processFailed when the replacement does not hold up.

// Its header (`streams`, `duration`, as ffprobe reads them): at least `expectedStreamCount`
// streams, and a duration within max(2 %, 3 s) of the source's.
void checkPreparedHeader(std::size_t streams, std::optional<double> duration,
                         std::size_t expectedStreamCount, double sourceDuration);

// The whole replacement, on the job's thread under `stop`, read in-process in one opening of
// `prepared`: not empty; its header (checkPreparedHeader); and every packet, which a header
// written first (as Matroska writes it) cannot vouch for: each of `streams` must hold as many
// packets in `prepared` as in `source`, whose census `sourceCensus` reads, its last ending where
// the source's does (`holdsEveryPacket`). The packets' error names the source; a file that
// cannot be read fails as its header would.
void verifyPreparedReplacement(const std::filesystem::path& prepared,
                               const std::filesystem::path& source, PacketCensusRead& sourceCensus,
                               const std::vector<CopiedStream>& streams,
                               std::size_t expectedStreamCount, double sourceDuration,
                               std::stop_token stop);

// What a split's part must hold, in its own time, as its plan cut it from the source: it opens on
// a keyframe; after a cut its video starts at 0, shown by every decoder (a part from the
// beginning keeps what its source hides); its video holds the source's packets of its span, as
// many as were counted, the last being the source's frame before `end` and lasting until it (the
// source's next frame, before the leading pictures a cut there loses). Audio alone holds the
// source's packets from `warmUp` before its start to its end cut: they play the span, what the
// header hides aside. A part to the source's end, without an end cut, is measured by its header.
struct SplitPartSpan {
    bool startsAtCut = false;
    std::optional<double> end;
    // Whether `end` is where the video (the audio, without video) ends at an end cut, or where
    // the whole part ends.
    bool endIsVideo = false;
    bool hasVideo = true;
    // When read: the time of the source's last frame before `end`, the part's last. Without
    // it the part's last frame lasts what its own packet says.
    std::optional<double> lastFrame = std::nullopt;
    // How many packets the part's video must hold, when its first video stream is the one
    // ffmpeg's report counts.
    std::optional<std::int64_t> videoPackets = std::nullopt;
    // Where the span starts in the part's time: after 0 only for a part from the beginning of
    // a source that starts a little after 0 (codec delay), which the part keeps.
    double begin = 0;
    // How long the audio the plan reads before the part's start to warm its decoder plays,
    // when its container hides it from playback.
    double warmUp = 0;
    // The source's codec delay when its first timestamp is one (an MP3's): a part from a cut to
    // the source's end may end this much sooner, as its packets end where the source's length
    // counts from 0 or from that delay.
    double sourceDelay = 0;
    // Where the part's time 0 lies in its own timestamps (see splitPartZero).
    double zero = 0;
    // Its video may pack B-frames (MPEG-4 Part 2): placeholders lose their keyframe mark first.
    bool packsPictures = false;
    // Its Matroska header's length is written anew from 0, the warm-up its codec delay hides
    // not counted (see writeSplitPartPlayedLength).
    bool lengthFromZero = false;
    // Where those packets are, as the sentence about a wrong count ends.
    std::string packetsFrom = "its span has in the source";
};

// What the check reads of a written part (`written`, to be published as `output`), in-process:
// the first video stream's packets that are not an attached picture (the first audio stream's
// without video), the first few and, for a span with an end, those from the last keyframe
// before a window at its end on, as ffprobe's -read_intervals reads them; memory holds only
// those. A read that fails or finds the file cut short throws
// MediaProcessingError::outputUnreadable naming `output`'s folder; a stop throws
// CancellationError.
WrittenPackets readWrittenPackets(const std::filesystem::path& written,
                                  const std::filesystem::path& output, const SplitPartSpan& span,
                                  std::stop_token stop);

// What `read` and the video packets ffmpeg reported writing (`written`, when known) show
// against the span: none when the part holds it, else why not, as the end of a sentence
// ("starts 0.042 s after the cut").
std::optional<std::string> splitPartFault(const WrittenPackets& read, const SplitPartSpan& span,
                                          std::optional<std::int64_t> written = std::nullopt);

// Checks a written part before it takes its name, from what readWrittenPackets read of it.
// Throws MediaProcessingError::partMismatch naming `name` when it does not hold its span.
void verifySplitPart(const WrittenPackets& read, const std::string& name, const SplitPartSpan& span,
                     std::optional<std::int64_t> writtenPackets);

// Checks a join's output the same way before it takes its name (`read` as readWrittenPackets
// reads it for a span without an end): it opens on a keyframe, and ffmpeg's report
// (`writtenPackets`, when known) says its first video stream holds `inputPackets`, the sum of its
// files'. Throws MediaProcessingError::processFailed naming `name` when not.
void verifyJoinedOutput(const WrittenPackets& read, const std::string& name,
                        std::int64_t inputPackets, std::optional<std::int64_t> writtenPackets);

}  // namespace tavrolin
