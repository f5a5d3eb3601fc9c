#include "engine/split/SplitPartPreparation.h"

#include <algorithm>

#include "engine/FFmpegWriteFailure.h"
#include "engine/FFprobeQueries.h"
#include "engine/split/MatroskaElements.h"
#include "engine/split/PartChapterUids.h"
#include "engine/split/PartFileBytes.h"
#include "engine/split/PresentationTimes.h"
#include "engine/split/SplitPartWarmUp.h"
#include "engine/split/SplitStreamCuts.h"
#include "model/CancellationError.h"
#include "model/ErrorMessage.h"
#include "model/MediaProcessingError.h"
#include "model/OutputContainer.h"
#include "probe/PacketReadError.h"
#include "probe/PacketReading.h"
#include "probe/ProbeText.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

// A failed read of the split's source, in a sentence that names it.
template <typename Read>
auto readingSource(const SplitRequest& split, const Read& read) {
    try {
        return read();
    } catch (const PacketReadError& error) {
        throw MediaProcessingError::processFailed(
            "Tavrolin could not read \u201C" + split.input.filename().string() +
            "\u201D in the folder " + quotedName(split.input.parent_path()) + " to split it (" +
            error.reason() +
            "). Check that the file and its folder are still there and working, then try again.");
    }
}

}  // namespace

SplitSourceLayout probeSplitLayout(const SplitRequest& split, std::stop_token stop) {
    return readingSource(
        split, [&] { return readSplitSourceLayout(split.input, split.endTime, std::move(stop)); });
}

namespace {

// Whether the page's read of the source's packets tells where a part's video ends: its end
// keyframe, counted without leading pictures, in a source whose video is timed as the page read
// it.
bool endKeyframeCounted(const SplitRequest& split, const SplitSourceLayout& layout) {
    const auto video = std::find_if(
        layout.streams.begin(), layout.streams.end(),
        [](const SplitStream& stream) { return stream.role == SplitStreamRole::video; });
    return split.frames && split.frames->lostAtEnd == 0 && video != layout.streams.end() &&
           layout.formatName != "avi";
}

}  // namespace

SplitLayoutRead readSplitLayout(const SplitRequest& split,
                                const std::optional<SourceFileFingerprint>& state,
                                SplitLayoutCache& cache, std::stop_token stop) {
    if (auto kept = state ? cache.find(split.input, *state) : std::nullopt) {
        SplitLayoutRead read{std::move(*kept), {}};
        if (split.endTime && endKeyframeCounted(split, read.layout)) {
            // The page read every packet: the end keyframe has no leading pictures, so the
            // video ends at its own time, and the count proves what lies before it.
            read.layout.videoEnd = *split.endTime;
        } else if (split.endTime) {
            read.withEnd = std::make_unique<ReadBeside<SplitSourceLayout>>(
                std::move(stop), [split](std::stop_token readStop) {
                    return probeSplitLayout(split, std::move(readStop));
                });
        }
        return read;
    }
    auto layout = probeSplitLayout(split, std::move(stop));
    if (state) {
        cache.keep(split.input, *state, layout);
    }
    return {std::move(layout), {}};
}

namespace {

// The source's time that is the part's time 0: its cut, or, from the beginning, where its
// command counts the source from.
double partZero(const SplitRequest& split, const SplitSourceLayout& layout) {
    return split.startTime > layout.start ? split.startTime : splitSourceZero(layout);
}

// An MPEG program stream's duration is estimated from its timestamps (here from its audio) and
// may end before its last frames.
bool hasEstimatedDuration(const SplitSourceLayout& layout) {
    return layout.formatName == "mpeg";
}

// How long the audio that the check reads (the first audio stream) plays before the cut, read to
// warm its decoder: from where the command starts it, never before the source's start, and none
// in an MP3 file too near that start for its header to claim it.
double audioWarmUp(const SplitRequest& split, const SplitSourceLayout& layout,
                   const fs::path& output) {
    const auto audio =
        std::find_if(layout.streams.begin(), layout.streams.end(), [](const SplitStream& stream) {
            return stream.kind == "audio" && stream.role == SplitStreamRole::timed;
        });
    if (audio == layout.streams.end()) {
        return 0;
    }
    const double cut = split.startTime - splitCutLead(layout);
    if (splitAudioFromCutFrame(*audio, output)) {
        return 0;  // less than a frame, which the check allows for at each end
    }
    const double from = splitAudioWarmUpStart(*audio, output, cut);
    if (from < layout.start - 1e-6 && splitWarmUpInMp3Header(*audio, output)) {
        return 0;
    }
    return cut - std::max(from, layout.start);
}

}  // namespace

SplitPartSpan splitPartSpan(const SplitRequest& split, const SplitSourceLayout& layout,
                            const fs::path& output) {
    SplitPartSpan span;
    span.zero = FFmpegCommandBuilder::splitPartZero(output);
    span.startsAtCut = split.startTime > layout.start;
    const double zero = partZero(split, layout);
    span.begin = std::max(split.startTime - zero, 0.0);
    const auto role = [&](SplitStreamRole wanted) {
        return std::find_if(layout.streams.begin(), layout.streams.end(),
                            [wanted](const SplitStream& stream) { return stream.role == wanted; });
    };
    const auto video = role(SplitStreamRole::video);
    span.hasVideo = video != layout.streams.end();
    span.packsPictures = span.hasVideo && isPackedPlaceholder(video->codec, 1);
    if (split.endTime) {
        // Where the video ends is known only with its end keyframe read; audio ends at the cut.
        if (layout.videoEnd) {
            span.end = *layout.videoEnd - zero;
            if (layout.videoLastFrame) {
                span.lastFrame = *layout.videoLastFrame - zero;
            }
        } else if (!span.hasVideo) {
            span.end = *split.endTime - zero;
        }
        span.endIsVideo = span.end.has_value();
    } else if (layout.duration && !hasEstimatedDuration(layout)) {
        span.end = layout.start + *layout.duration - zero;
        if (span.startsAtCut && !span.hasVideo && splitSourceZero(layout) == 0) {
            span.sourceDelay = std::max(layout.start, 0.0);
        }
    }
    if (span.startsAtCut && !span.hasVideo) {
        span.warmUp = audioWarmUp(split, layout, output);
    }
    span.lengthFromZero =
        !FFmpegCommandBuilder::splitWarmCopyStreams(split, layout, output).empty();
    if (split.frames && span.hasVideo) {
        // ffmpeg's report counts the first video stream it writes: a picture mapped before
        // the video (cover art outside Matroska) would be counted instead.
        const auto picture = role(SplitStreamRole::picture);
        const bool pictureFirst = picture < video && picture->kind == "video" &&
                                  !FFmpegCommandBuilder::splitAttachesPictures(output) &&
                                  containerForFile(output) != OutputContainer::webm;
        if (!pictureFirst) {
            span.videoPackets = split.frames->packets;
        }
    }
    return span;
}

SplitPartSpan splitPartReadWindow(const SplitRequest& split, const SplitSourceLayout& layout,
                                  const fs::path& output) {
    auto span = splitPartSpan(split, layout, output);
    if (!span.end && split.endTime && span.hasVideo) {
        // The end keyframe lies at the cut (within the margin), or later when none is there.
        span.end = *split.endTime - partZero(split, layout);
    }
    return span;
}

SplitRequest fitSplitToSource(SplitRequest split, const SplitSourceLayout& layout) {
    // Cut times are the source's own timestamps, its duration a length from its first one. An
    // estimated one may end before the last frames, which the page's read of them knows.
    const std::optional<double> end = layout.duration && !hasEstimatedDuration(layout)
                                          ? std::optional<double>(layout.start + *layout.duration)
                                          : std::nullopt;
    if (end && split.startTime >= *end) {
        throw MediaProcessingError::invalidRequest(
            "The start time must be earlier than the end of the source.");
    }
    if (end && split.endTime && *split.endTime >= *end) {
        split.endTime.reset();  // the end of the source
    }
    split.startTime = std::max(split.startTime, layout.start);
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

namespace {

// The samples the source trims off the end of stream `stream` (Matroska's discard padding on
// its last block), which the Ogg copy of ffmpeg 5.1 does not keep.
std::int64_t sourceEndTrim(const SplitRequest& split, const SplitSourceLayout& layout,
                           std::int64_t stream, const std::stop_token& stop) {
    constexpr double kEndRead = 2.0;
    return readingSource(split, [&] {
        const auto reader = openPacketReader(split.input, {}, stop);
        reader->seek(std::max(layout.start + layout.duration.value_or(0) - kEndRead, 0.0));
        std::int64_t trim = 0;
        reader->read(
            [&](const ReadPacket& packet) {
                trim = packet.stream == stream ? packet.endTrim : trim;
                return true;
            },
            stop);
        return trim;
    });
}

// Cuts an audio stream of the part into an Ogg file of its own whose pre-skip hides its warm-up;
// a part that ends where the source does trims its end as the source does.
SplitWarmCopy copyWarmAudio(ProcessRunning& runner, const SplitRequest& split,
                            const SplitSourceLayout& layout, std::int64_t stream, JobFiles& files,
                            const FFmpegToolchain& tools, const std::stop_token& childStop,
                            const std::stop_token& stop) {
    const fs::path& ffmpeg = tools.ffmpeg;
    SplitWarmCopy copy{files.temporaryPath(warmAudioInput), 0, 0};
    const ProcessResult result =
        runner.run(ffmpeg,
                   FFmpegCommandBuilder::splitWarmCopyArguments(split, layout, files.workingOutput,
                                                                stream, copy.file),
                   {}, childStop);
    throwIfStopped(stop);
    const auto writeFailure = ffmpegWriteFailure(result.standardError);
    if (writeFailure == FFmpegWriteFailure::outOfSpace) {
        throw MediaProcessingError::notEnoughSpace(copy.file.parent_path().parent_path(),
                                                   split.output.filename().string());
    }
    std::optional<OpusWarmUp> warmUp;
    if (result.terminationStatus == 0 && writeFailure != FFmpegWriteFailure::failed) {
        const std::int64_t endTrim =
            split.endTime ? 0 : sourceEndTrim(split, layout, stream, childStop);
        warmUp = writeOpusWarmUp(copy.file, -splitCutLead(layout), endTrim);
    }
    if (!warmUp) {
        throw MediaProcessingError::processFailed(
            "Tavrolin could not copy the audio of \u201C" + split.input.filename().string() +
            "\u201D: " +
            toolFailureText(result, "FFmpeg",
                            "FFmpeg wrote no audio for the part that could be read back.") +
            " Try the split again, or choose another output format.");
    }
    copy.shownAt = warmUp->shownAt;
    copy.codecDelay = warmUp->preSkip;
    return copy;
}

}  // namespace

void writeSplitPartPlayedLength(const fs::path& file, const fs::path& output,
                                const std::stop_token& stop) {
    constexpr double kEndRead = 3.0;
    std::optional<double> end;
    try {
        const auto reader = openPacketReader(file, {}, stop);
        const PacketFormat& format = reader->format();
        const auto stated = secondsOfMicroseconds(format.durationMicroseconds);
        if (!stated || *stated <= 0) {
            return;
        }
        reader->seek(std::max(*stated - kEndRead, 0.0));
        reader->read(
            [&](const ReadPacket& packet) {
                if (packet.pts && static_cast<std::size_t>(packet.stream) < format.streams.size()) {
                    // Its end as the reader plays it: after the codec delay, before any padding.
                    const double packetEnd = secondsOf(*packet.pts + packet.duration,
                                                       format.streams[packet.stream].timeBase) -
                                             static_cast<double>(packet.endTrim) / kOpusSampleRate;
                    end = std::max(end.value_or(packetEnd), packetEnd);
                }
                return true;
            },
            stop);
    } catch (const PacketReadError& error) {
        throw MediaProcessingError::outputUnreadable(output.parent_path(),
                                                     output.filename().string(), error.reason());
    }
    if (!end || *end <= 0) {
        return;
    }
    rewriteFinishedPart(output, "write the length of", " into its header",
                        [&] { writeMatroskaDuration(file, *end); });
}

PartChapterIds splitPartChapterUids(const SplitRequest& split, const SplitSourceLayout& layout) {
    return partChapterUids(layout.chapters, partZero(split, layout), split.endTime);
}

SplitSideFiles prepareSplitFiles(ProcessRunning& runner, const ChapterMetadataRenderer& chapters,
                                 const SplitRequest& split, const SplitSourceLayout& layout,
                                 JobFiles& files, const FFmpegToolchain& tools,
                                 std::stop_token childStop, const std::stop_token& stop) {
    SplitSideFiles side;
    if (auto text = chapters.renderPart(layout.chapters, partZero(split, layout), split.endTime)) {
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
            tools.ffmpeg, FFmpegCommandBuilder::splitPictureArguments(split.input, side.pictures),
            {}, childStop);
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
    for (std::int64_t index :
         FFmpegCommandBuilder::splitWarmCopyStreams(split, layout, files.workingOutput)) {
        side.warmCopies[index] =
            copyWarmAudio(runner, split, layout, index, files, tools, childStop, stop);
    }
    return side;
}

}  // namespace tavrolin
