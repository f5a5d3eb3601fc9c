#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

#include "engine/ChapterMetadataRenderer.h"
#include "engine/FFmpegCommandBuilder.h"
#include "engine/FFprobeQueries.h"
#include "engine/JobFiles.h"
#include "engine/SafeFileReplacement.h"
#include "engine/split/OutputVerification.h"
#include "engine/split/PartChapterUids.h"
#include "engine/split/SplitLayoutCache.h"
#include "engine/split/SplitSourceLayout.h"
#include "model/ProcessingRequest.h"
#include "process/FFmpegToolchain.h"
#include "process/ProcessRunning.h"

namespace tavrolin {

// What a split needs before its ffmpeg run: the source's layout, the cut fitted to the source,
// and the side files its command reads. Runs its tools on the job's thread under `childStop`;
// each step ends with CancellationError once `stop` is requested.

// A split's request as it runs (an end at or past the source's end made none), the source's
// layout and the side files of its command.
struct SplitInputs {
    SplitRequest request;
    SplitSourceLayout layout;
    SplitSideFiles files;
};

// The streams, chapters and duration of a split's source, and where its video ends, read with
// the packet reader under `stop` (CancellationError once it is requested, within a packet);
// throws MediaProcessingError::processFailed naming the source when it cannot be read.
SplitSourceLayout probeSplitLayout(const SplitRequest& split, std::stop_token stop);

// A split source's layout for one part: what its command is made from now and, for a part with
// an end cut whose source's layout was kept, the read of where its video ends, begun beside the
// part's ffmpeg run under the job's child stop (its owner's end stops and waits for it).
struct SplitLayoutRead {
    SplitSourceLayout layout;
    // When set: the layout with the part's end read (throwing as probeSplitLayout does). The
    // run made from `layout` stands when the command made from it is the same; it differs only
    // when the end keyframe has leading pictures, which `layout` assumes it has not.
    std::unique_ptr<ReadBeside<SplitSourceLayout>> withEnd;
};

// The layout from `cache` when its source is as it was (`state`), with the part's end read
// beside it under `stop` unless the request's count of the source's packets already tells it;
// else read with probeSplitLayout and kept there.
SplitLayoutRead readSplitLayout(const SplitRequest& split,
                                const std::optional<SourceFileFingerprint>& state,
                                SplitLayoutCache& cache, std::stop_token stop);

// The split as it runs, in the source's own timestamps: a start at or past the source's end
// throws MediaProcessingError::invalidRequest; an end at or past it becomes the end of the
// source, a start before its first timestamp (whatever its sign) that timestamp.
SplitRequest fitSplitToSource(SplitRequest split, const SplitSourceLayout& layout);

// What a fitted split's progress counts to, given its source's layout.
std::optional<double> splitProgressDuration(const SplitRequest& split,
                                            const SplitSourceLayout& layout);

// What the part of a fitted split written to `output` must hold, in its own time (see
// verifySplitPart).
SplitPartSpan splitPartSpan(const SplitRequest& split, const SplitSourceLayout& layout,
                            const std::filesystem::path& output);

// What the check reads of that part (see readWrittenPackets), fixed before its run: where an end
// cut's video ends may still be read beside the run, and its end is then read from a few seconds
// before the cut instead.
SplitPartSpan splitPartReadWindow(const SplitRequest& split, const SplitSourceLayout& layout,
                                  const std::filesystem::path& output);

// A Matroska part whose audio hides its warm-up in the codec delay states a length that counts
// it: `file`'s header is made to state what plays, read from its last packets. A part that
// cannot be read throws MediaProcessingError::outputUnreadable, a header that cannot be written
// processFailed, naming the part `output`.
void writeSplitPartPlayedLength(const std::filesystem::path& file,
                                const std::filesystem::path& output, const std::stop_token& stop);

// The IDs the part's chapters carry and the chapters it cuts (see PartChapterUids.h).
PartChapterIds splitPartChapterUids(const SplitRequest& split, const SplitSourceLayout& layout);

// What a split's command reads besides its source, written into the job's folder: its chapters
// and, for Matroska, its pictures (saved by a short ffmpeg run). A picture run that fails throws
// MediaProcessingError::notEnoughSpace or processFailed.
SplitSideFiles prepareSplitFiles(ProcessRunning& runner, const ChapterMetadataRenderer& chapters,
                                 const SplitRequest& split, const SplitSourceLayout& layout,
                                 JobFiles& files, const FFmpegToolchain& tools,
                                 std::stop_token childStop, const std::stop_token& stop);

}  // namespace tavrolin
