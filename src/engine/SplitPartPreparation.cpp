#include "engine/SplitPartPreparation.h"

#include <algorithm>

#include "engine/FFmpegWriteFailure.h"
#include "engine/FFprobeQueries.h"
#include "model/CancellationError.h"
#include "model/MediaProcessingError.h"
#include "probe/ProbeText.h"

namespace tavrolin {

namespace fs = std::filesystem;

SplitSourceLayout probeSplitLayout(ProcessRunning& runner, const SplitRequest& split,
                                   const fs::path& ffprobe, std::stop_token childStop,
                                   const std::stop_token& stop) {
    const ProcessResult result = runBoundedFFprobe(
        runner, ffprobe, splitLayoutProbeArguments(split.input, split.endTime), childStop);
    throwIfStopped(stop);
    const auto layout = result.terminationStatus == 0
                            ? parseSplitLayout(result.standardOutput, split.endTime)
                            : std::nullopt;
    if (!layout) {
        throw MediaProcessingError::processFailed(
            "Tavrolin could not read \u201C" + split.input.filename().string() +
            "\u201D to split it: " +
            toolFailureText(result, "ffprobe", "ffprobe could not inspect this file."));
    }
    return *layout;
}

SplitSourceLayout readSplitLayout(ProcessRunning& runner, const SplitRequest& split,
                                  const std::optional<SourceFileFingerprint>& state,
                                  SplitLayoutCache& cache, const fs::path& ffprobe,
                                  std::stop_token childStop, const std::stop_token& stop) {
    if (state && !split.endTime) {
        if (auto layout = cache.find(split.input, *state)) {
            return *layout;
        }
    }
    auto layout = probeSplitLayout(runner, split, ffprobe, std::move(childStop), stop);
    if (state) {
        cache.keep(split.input, *state, layout);
    }
    return layout;
}

SplitPartSpan splitPartSpan(const SplitRequest& split, const SplitSourceLayout& layout) {
    SplitPartSpan span;
    span.startsAtCut = split.startTime > layout.start;
    if (split.endTime) {
        // Without the end keyframe read, where the video ends is not known well enough.
        if (layout.videoEnd) {
            span.end = *layout.videoEnd - split.startTime;
            span.endIsVideo = true;
        }
    } else if (layout.duration) {
        span.end = layout.start + *layout.duration - split.startTime;
    }
    return span;
}

SplitRequest fitSplitToSource(SplitRequest split, const SplitSourceLayout& layout) {
    // Cut times are the source's own timestamps, its duration a length from its first one.
    const std::optional<double> end =
        layout.duration ? std::optional<double>(layout.start + *layout.duration) : std::nullopt;
    if (end && split.startTime >= *end) {
        throw MediaProcessingError::invalidRequest(
            "The start time must be earlier than the end of the source.");
    }
    if (end && split.endTime && *split.endTime >= *end) {
        split.endTime.reset();  // the end of the source
    }
    split.startTime = std::max(split.startTime, splitSourceZero(layout));
    return split;
}

// ffmpeg's report counts from where it starts reading, a little before the cut.
std::optional<double> splitProgressDuration(const SplitRequest& split,
                                            const SplitSourceLayout& layout) {
    std::optional<double> length;
    if (split.endTime) {
        length = *split.endTime - split.startTime;
    } else if (layout.duration && layout.start + *layout.duration - split.startTime > 0) {
        length = layout.start + *layout.duration - split.startTime;
    }
    return length
               ? std::optional<double>(*length + FFmpegCommandBuilder::splitLeadIn(split, layout))
               : std::nullopt;
}

SplitSideFiles prepareSplitFiles(ProcessRunning& runner, const ChapterMetadataRenderer& chapters,
                                 const SplitRequest& split, const SplitSourceLayout& layout,
                                 JobFiles& files, const fs::path& ffmpeg, std::stop_token childStop,
                                 const std::stop_token& stop) {
    SplitSideFiles side;
    if (auto text = chapters.renderPart(layout.chapters, split.startTime, split.endTime)) {
        side.chapters = files.writeTemporaryInput(chapterFileInput, *text);
    }
    if (FFmpegCommandBuilder::splitAttachesPictures(files.workingOutput)) {
        for (const auto& stream : layout.streams) {
            if (stream.role == SplitStreamRole::picture) {
                side.pictures[stream.index] = files.temporaryPath(attachedPictureInput);
            }
        }
    }
    if (!side.pictures.empty()) {
        const ProcessResult result = runner.run(
            ffmpeg, FFmpegCommandBuilder::splitPictureArguments(split.input, side.pictures), {},
            childStop);
        throwIfStopped(stop);
        const auto writeFailure = ffmpegWriteFailure(result.standardError);
        if (writeFailure == FFmpegWriteFailure::outOfSpace) {
            // The pictures wait in the job's folder under $TMPDIR.
            throw MediaProcessingError::notEnoughSpace(
                side.pictures.begin()->second.parent_path().parent_path(),
                split.output.filename().string());
        }
        if (result.terminationStatus != 0 || writeFailure == FFmpegWriteFailure::failed) {
            throw MediaProcessingError::processFailed(
                "Tavrolin could not copy the cover art of \u201C" +
                split.input.filename().string() + "\u201D: " +
                toolFailureText(result, "FFmpeg", "FFmpeg stopped without an error message."));
        }
    }
    return side;
}

}  // namespace tavrolin
