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
        std::string codecTag;        // "tmcd" for a timecode track
        std::string codecName = {};  // "dvd_nav_packet" for a DVD's navigation stream

        friend bool operator==(const DataTrack&, const DataTrack&) = default;
    };

    std::vector<MediaStream> streams;  // cover art left out
    int pictures = 0;                  // attached pictures (cover art)
    int attachments = 0;
    std::vector<DataTrack> dataTracks;  // MP4's chapter text track left out: parts get new ones
    // The release of the ffmpeg that jobs run, when it gave one: some pairs it refuses.
    std::optional<FFmpegRelease> release;
    // Where each video stream (cover art aside) starts and ends in the file's own time, as its
    // container says; streams that say neither are left out.
    struct Span {
        std::int64_t index = 0;
        double start = 0;
        double end = 0;

        friend bool operator==(const Span&, const Span&) = default;
    };
    std::vector<Span> videoSpans = {};
    // The file's own length and its first timestamp, as its container states them.
    std::optional<double> duration = {};
    double start = 0;

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

// Why no part of `source` can be cut as it plays, whatever the container: its video goes on in
// another stream where the first one ends (a recording across a change of programs or PIDs),
// and a split follows the first video stream only. None when it does not.
std::optional<std::string> splitProgramChangeMessage(const SplitSourceStreams& streams,
                                                     const std::filesystem::path& source);

// The length a page shows for `source`: from `origin` (the first frame's time; none when not
// known) to the end of the file as its container states it; none when it states none.
std::optional<double> splitSourceLength(const SplitSourceStreams& streams,
                                        std::optional<double> origin);

}  // namespace tavrolin
