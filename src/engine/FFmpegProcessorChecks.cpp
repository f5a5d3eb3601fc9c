#include "engine/FFmpegProcessor.h"

#include <fcntl.h>
#include <unistd.h>

#include <future>
#include <memory>

#include "engine/ChapterMetadataRenderer.h"
#include "engine/FFmpegWriteFailure.h"
#include "engine/FileOperations.h"
#include "engine/JoinLayoutCheck.h"
#include "engine/JoinMetadata.h"
#include "engine/JoinWarmUp.h"
#include "engine/ProcessorJobState.h"
#include "engine/SafeFileReplacement.h"
#include "engine/split/PresentationTimes.h"
#include "model/CancellationError.h"
#include "model/MediaProcessingError.h"
#include "model/OutputContainer.h"
#include "probe/FFprobeService.h"
#include "probe/MediaProbeError.h"

// The processor's checks around its ffmpeg run: a join's inputs before it, a run's outcome, a
// replacement's proof and the move of a finished output into place.

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

const ChapterMetadataRenderer kChapterRenderer{};

// Starts writing `file`'s data to disk; whoever needs it there flushes it again.
void flushData(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fdatasync(fd);
        ::close(fd);
    }
}

}  // namespace

void FFmpegProcessor::checkJoinInputs(const JoinRequest& join, const fs::path& ffprobe,
                                      std::stop_token stop, Ran& ran) {
    const auto container = joinContainerForFile(join.output);
    FFprobeService probe(runner_, locations_, ffprobe);
    // One read a file, all side by side: ffmpeg waits for the slowest, not for their sum.
    struct FileRead {
        JoinInspectionState state;
        JoinedFileFacts facts;
        std::string json;
    };
    std::vector<std::unique_ptr<ReadBeside<FileRead>>> reads;
    for (const auto& input : join.inputs) {
        reads.push_back(std::make_unique<ReadBeside<FileRead>>(
            stop, [&probe, &input](std::stop_token token) -> FileRead {
                try {
                    auto report = probe.inspectStreamsWith(
                        input, joinedFileEntries + ":" + joinStartEntries, token);
                    return {RemuxSource::Ready{std::move(report.streams)},
                            parseJoinedFileFacts(report.json, input).value_or(JoinedFileFacts{}),
                            std::move(report.json)};
                } catch (const MediaProbeError& error) {
                    return {RemuxSource::Failed{error.what()}, {}, {}};
                }
            }));
    }
    JoinInspectionStates states;
    std::vector<JoinedFileFacts> facts;
    std::vector<JoinInputTiming> timings;
    for (std::size_t i = 0; i < join.inputs.size(); ++i) {
        auto read = reads[i]->get();
        states[join.inputs[i]] = std::move(read.state);
        facts.push_back(std::move(read.facts));
        timings.push_back(readJoinStart(read.json, facts.back().start, facts.back().duration));
        ran.joinHeaderCounts.push_back(facts.back().videoSamples);
    }
    // A file's end and first packets only where the placing of the next one needs them, all
    // side by side.
    std::vector<std::unique_ptr<ReadBeside<JoinInputTiming>>> ends(timings.size());
    for (std::size_t i = 0; i < timings.size(); ++i) {
        const bool end = joinNeedsEnd(timings, i);
        const bool head = joinNeedsHead(timings, i);
        if (end || head) {
            ends[i] = std::make_unique<ReadBeside<JoinInputTiming>>(
                stop, [&join, i, end, head, timing = timings[i]](std::stop_token token) {
                    auto read = timing;
                    if (head) {
                        readJoinHead(join.inputs[i], token, read);
                    }
                    if (end) {
                        readJoinEnd(join.inputs[i], token, read);
                    }
                    return read;
                });
        }
    }
    for (std::size_t i = 0; i < timings.size(); ++i) {
        if (ends[i]) {
            timings[i] = ends[i]->get();
        }
    }
    ran.joinLengths = joinInputLengths(timings);
    ran.joinDropsWarmUp = joinDropsWarmUp(timings);
    ran.joinCopiesTimestamps = !timings.empty() && timings.front().hidesAudio;
    std::optional<double> total = 0.0;
    for (std::size_t i = 0; i < facts.size(); ++i) {
        // The chapters follow the files where they are placed.
        if (ran.joinLengths[i]) {
            facts[i].duration = ran.joinLengths[i];
        }
        const auto& duration = facts[i].duration;
        total = duration && total ? std::optional<double>(*total + *duration) : std::nullopt;
    }
    if (stop.stop_requested()) {
        // Cancelled: the run that follows ends at once and says so; no verdict from a probe
        // that was cut short.
        return;
    }
    if (container && join.inputs.size() >= 2) {
        // What the running release refuses, as the page judged it.
        const auto installed = installed_.facts(stop);
        const JoinLayoutCheck check(installed ? installed->release() : std::nullopt);
        if (auto message = check.blockingMessage(join.inputs, states, *container)) {
            throw MediaProcessingError::invalidRequest(*message);
        }
    }
    ran.expected = total && *total > 0 ? total : std::nullopt;
    // The inputs hold the same streams (else the check above refused them).
    if (const auto* first = std::get_if<RemuxSource::Ready>(&states[join.inputs.front()])) {
        ran.videoCodec = firstVideoCodec(first->streams);
        ran.joinStreams = first->streams;
    }
    if (!facts.empty()) {
        ran.joinChapterTracks = facts.front().chapterTracks;
        ran.joinMetadata =
            kChapterRenderer.renderFile(facts.front().tags, joinedChapters(join.inputs, facts));
    }
}

void FFmpegProcessor::startReplacementReads(const Job& job, std::stop_token childStop, Ran& ran) {
    ran.sourceCensus = std::make_unique<PacketCensusRead>(job.target, childStop);
}

void FFmpegProcessor::checkRun(const Job& job, const JobFiles& run, const Ran& ran,
                               std::stop_token stop) const {
    throwIfStopped(stop);
    // A source cut short mid-run may also make ffmpeg fail; the change is the cause then. A
    // replacement compares its source once more after verification, with its own message.
    if (!job.replacesInput) {
        throwIfAnyInputChanged(job.inputs);
    }
    // A folder removed under ffmpeg makes it fail on the hidden file, or lets it finish a file
    // no name leads to.
    throwIfWorkingOutputGone(run.workingOutput, job.output, false);
    // Exit status 0 is not enough: a write that fails at the trailer or the close is only in
    // the text.
    const auto writeFailure = ffmpegWriteFailure(ran.result.standardError);
    if (writeFailure == FFmpegWriteFailure::outOfSpace) {
        throw job.notEnoughSpace();
    }
    if (ran.result.terminationStatus != 0 || writeFailure == FFmpegWriteFailure::failed) {
        throw MediaProcessingError::processFailed(
            ffmpegFailureSentence(ran.result, run.workingOutput, job.target));
    }
    throwIfWorkingOutputGone(run.workingOutput, job.output, true);
}

void FFmpegProcessor::verifyReplacement(const Job& job, const JobFiles& run, const Ran& ran,
                                        std::stop_token childStop, std::stop_token stop) {
    if (!ran.expected) {
        throw MediaProcessingError::invalidRequest(
            "Tavrolin could not verify the source duration, so it did not replace the "
            "original file.");
    }
    // The copy goes to disk while it is read: the swap flushes it again and finds little left.
    auto flushed = std::async(std::launch::async, [file = run.workingOutput] { flushData(file); });
    tavrolin::verifyPreparedReplacement(
        run.workingOutput, job.target, *ran.sourceCensus, ran.exportedStreams,
        job.transcript()->selectedStreams.size() + 1, *ran.expected, childStop);
    throwIfStopped(stop);
    flushed.wait();
    if (fingerprintNow(job.target) != *job.targetFingerprint) {
        throw MediaProcessingError::processFailed(
            "The source changed while Tavrolin was preparing its replacement. The original "
            "file was not changed.");
    }
    throwIfStopped(stop);
}

void FFmpegProcessor::publish(const Job& job, const JobFiles& run, std::stop_token stop) const {
    const fs::path& written = run.workingOutput;
    throwIfStopped(stop);
    throwIfAnyInputChanged(job.inputs);  // right before the output appears
    try {
        moveNoReplace(written, job.output);
    } catch (const fs::filesystem_error& error) {
        if (error.code() == std::errc::file_exists) {
            // Someone else wrote the output meanwhile; theirs stays.
            throw MediaProcessingError::outputExists(job.output.filename().string());
        }
        if (isOutOfSpace(error.code().value())) {
            throw job.notEnoughSpace();
        }
        throwIfWorkingOutputGone(written, job.output, true);
        // Named after the output the user chose, not the hidden working file.
        throw MediaProcessingError::processFailed(
            outputWriteFailureSentence(job.output, error.code().value()));
    }
}

}  // namespace tavrolin
