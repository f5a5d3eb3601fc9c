#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/InputFingerprints.h"
#include "engine/JobFiles.h"
#include "engine/PacketCensusReading.h"
#include "engine/split/OutputVerification.h"
#include "engine/split/SplitPartPreparation.h"
#include "engine/split/SplitStreamCuts.h"
#include "model/MediaProcessingError.h"
#include "model/ProcessingRequest.h"
#include "process/FFmpegToolchain.h"

// FFmpegProcessor's record of a job and of its run, shared by its files.

namespace tavrolin {

// What one request comes to before anything runs: the tools, the request with absolute paths
// and the state of every file it reads.
struct ProcessorJob {
    ProcessorJob(FFmpegToolchain tools, ProcessingRequest absoluteRequest)
        : toolchain(std::move(tools)),
          request(std::move(absoluteRequest)),
          output(request.output()),
          replacesInput(transcript() && transcript()->replacesInput),
          target(output) {}

    FFmpegToolchain toolchain;
    ProcessingRequest request;
    std::filesystem::path output;
    bool replacesInput;
    // The file the working output sits beside: for a replacement, the real file behind a link.
    std::filesystem::path target;
    std::optional<SourceFileFingerprint> targetFingerprint;
    InputFingerprints inputs;

    const TranscriptionMediaRequest* transcript() const {
        return request.as<TranscriptionMediaRequest>();
    }
    const SplitRequest* split() const { return request.as<SplitRequest>(); }

    // The sentence for a write that ran out of room, naming the folder written to.
    MediaProcessingError notEnoughSpace() const {
        return MediaProcessingError::notEnoughSpace(target.parent_path(),
                                                    output.filename().string());
    }
};

// What one ffmpeg run left: its result and what was measured beside it.
struct ProcessorRun {
    ProcessResult result;
    // The input's probed duration (a join's summed durations), when known.
    std::optional<double> expected;
    // For a transcript export: where the output holds each selected source stream.
    std::vector<CopiedStream> exportedStreams;
    // For a replacement: the source's packets, read while ffmpeg copies it.
    std::unique_ptr<PacketCensusRead> sourceCensus;
    // For a split: what its part must hold, and how far before its time 0 its audio starts.
    std::optional<SplitPartSpan> splitSpan;
    double splitCutLead = 0;
    int splitMp3WarmUpFrames = kMp3WarmUpFrames;
    // The IDs its chapters get after the run (Matroska), or the mark of the chapters it cuts
    // (the MP4 family).
    PartChapterIds splitChapterUids;
    // What the part's check reads of it, fixed before the run (see splitPartReadWindow).
    SplitPartSpan splitReadWindow;
    // For a join: its inputs' video codec, which tells how their packets are timed, and their
    // video packets together, counted beside the run.
    std::string videoCodec;
    std::optional<std::int64_t> joinedPackets;
    // Each input's video packets where its inspection's header told them (else counted).
    std::vector<std::optional<std::int64_t>> joinHeaderCounts;
    // The first file's streams, whose flags the output keeps, and the FFMETADATA text of the
    // joined file's tags and chapters.
    std::vector<MediaStream> joinStreams;
    std::vector<std::int64_t> joinChapterTracks;
    std::string joinMetadata;
    // Each input's length where the concat reader's own would replay a warm-up, and whether the
    // warm-ups are dropped (see JoinWarmUp.h).
    std::vector<std::optional<double>> joinLengths;
    bool joinDropsWarmUp = false;
    bool joinCopiesTimestamps = false;
};

}  // namespace tavrolin
