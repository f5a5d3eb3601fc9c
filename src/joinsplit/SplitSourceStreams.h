#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "model/MediaStream.h"
#include "model/OutputContainer.h"
#include "process/FFmpegToolchain.h"
#include "process/FFmpegVersion.h"
#include "process/ProcessRunning.h"

namespace tavrolin {

// What a Split source holds that decides which containers its parts can be written in: its
// video, audio and subtitle streams as the probing service reads them, and the tracks a split
// treats apart (cover art, attachments such as fonts, data tracks such as a timecode). A plain
// value; any thread.
struct SplitSourceStreams {
    struct DataTrack {
        std::int64_t index = 0;
        std::string codecTag;  // "tmcd" for a timecode track

        friend bool operator==(const DataTrack&, const DataTrack&) = default;
    };

    std::vector<MediaStream> streams;  // cover art left out
    int pictures = 0;                  // attached pictures (cover art)
    int attachments = 0;
    std::vector<DataTrack> dataTracks;  // MP4's chapter text track left out: parts get new ones
    // The release of the ffmpeg that jobs run, when it gave one: some pairs it refuses.
    std::optional<FFmpegRelease> release;

    friend bool operator==(const SplitSourceStreams&, const SplitSourceStreams&) = default;
};

// ffprobe's arguments for the streams of `file`: the probing service's entries, and whether
// each stream is an attached picture.
std::vector<std::string> splitStreamProbeArguments(const std::filesystem::path& file);

// Reads that JSON report. Throws MediaProbeError as the probing service's parser does.
SplitSourceStreams parseSplitSourceStreams(std::string_view json);

// Reads the streams of a file with one blocking ffprobe run (and, once per ffmpeg executable,
// `ffmpeg -version`); thread-safe. Throws MediaProbeError with a sentence for the user,
// MediaProcessingError::toolNotFound, or CancellationError when `stop` was requested.
using SplitStreamReader =
    std::function<SplitSourceStreams(const std::filesystem::path& file, std::stop_token stop)>;

SplitStreamReader makeSplitStreamReader(std::shared_ptr<ProcessRunning> runner,
                                        ToolLocations locations);

// Whether the parts of `source` can be written in `container` (none: the source's own) by
// copying its streams as a split does, which converts nothing.
struct SplitStreamCheck {
    // Streams the container cannot hold, named with the container to choose; blocks queueing.
    std::optional<std::string> problem;
    // What the parts leave out without failing (fonts outside Matroska, cover art in WebM).
    std::optional<std::string> note;

    friend bool operator==(const SplitStreamCheck&, const SplitStreamCheck&) = default;
};

SplitStreamCheck checkSplitStreams(const SplitSourceStreams& streams,
                                   const std::filesystem::path& source,
                                   std::optional<OutputContainer> container);

}  // namespace tavrolin
