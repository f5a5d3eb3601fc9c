#include "engine/FFmpegProcessor.h"

#include <future>
#include <memory>
#include <string_view>

#include "engine/ChapterMetadataRenderer.h"
#include "engine/FFmpegCommandBuilder.h"
#include "engine/FFmpegInputThreads.h"
#include "engine/FFmpegProgressRelay.h"
#include "engine/FFmpegWriteFailure.h"
#include "engine/FFprobeQueries.h"
#include "engine/FileOperations.h"
#include "engine/InputFingerprints.h"
#include "engine/JobFiles.h"
#include "engine/JoinLayoutCheck.h"
#include "engine/PacketCensusReading.h"
#include "engine/ProcessorJobState.h"
#include "engine/SafeFileReplacement.h"
#include "engine/SubtitleDocumentRenderer.h"
#include "engine/TranscriptExportPreparation.h"
#include "engine/split/FlacPartLength.h"
#include "engine/split/Mp3Reservoir.h"
#include "engine/split/OutputVerification.h"
#include "engine/split/PackedPlaceholderFlags.h"
#include "engine/split/PartChapterUids.h"
#include "engine/split/PresentationTimes.h"
#include "engine/split/SplitPartPreparation.h"
#include "engine/split/SplitPartWarmUp.h"
#include "engine/split/SplitStreamCuts.h"
#include "model/CancellationError.h"
#include "model/ErrorMessage.h"
#include "model/MediaProcessingError.h"
#include "model/OutputContainer.h"
#include "model/Paths.h"
#include "model/TextMetrics.h"
#include "model/Uuid.h"
#include "probe/ProbeText.h"
#include "process/FFmpegVersion.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

// The steps' tools, all stateless.
const FFmpegCommandBuilder kBuilder{};
const ChapterMetadataRenderer kChapterRenderer{};
const SubtitleDocumentRenderer kSubtitleRenderer{};
const SafeFileReplacement kFileReplacement{};

const char* const chapterDurationMessage =
    "Tavrolin could not determine the source duration needed to write chapters.";

// What a transcript export reads of its source beside ffmpeg.
struct TranscriptSource {
    std::optional<double> duration;
    std::vector<CopiedStream> streams;
};

// A source's streams as the header its census read opened gives them; none without one.
std::optional<SourceStreamKinds> streamKindsOf(const std::optional<PacketFormat>& header) {
    if (!header) {
        return std::nullopt;
    }
    SourceStreamKinds kinds;
    for (const auto& stream : header->streams) {
        kinds.emplace_back(stream.index, stream.codecType);
    }
    return kinds;
}

// Every path handed to a tool is absolute.
ProcessingRequest withAbsolutePaths(ProcessingRequest request) {
    std::visit(
        [](auto& payload) {
            using T = std::decay_t<decltype(payload)>;
            if constexpr (std::is_same_v<T, JoinRequest>) {
                for (auto& input : payload.inputs) {
                    input = standardizedPath(input);
                }
            } else {
                payload.input = standardizedPath(payload.input);
            }
            payload.output = standardizedPath(payload.output);
        },
        request.payload);
    return request;
}

}  // namespace

// Makes the running job reachable from cancel() for as long as it runs.
class FFmpegProcessor::CurrentJob {
  public:
    CurrentJob(FFmpegProcessor& processor, std::stop_source& childStop) : processor_(processor) {
        std::lock_guard lock(processor_.cancelMutex_);
        processor_.currentChildStop_ = &childStop;
    }
    ~CurrentJob() {
        std::lock_guard lock(processor_.cancelMutex_);
        processor_.currentChildStop_ = nullptr;
    }
    CurrentJob(const CurrentJob&) = delete;
    CurrentJob& operator=(const CurrentJob&) = delete;

  private:
    FFmpegProcessor& processor_;
};

FFmpegProcessor::FFmpegProcessor(std::shared_ptr<ProcessRunning> runner, ToolLocations locations,
                                 fs::path recordsFolder)
    : runner_(std::move(runner)),
      locations_(std::move(locations)),
      recordsFolder_(std::move(recordsFolder)),
      installed_(runner_, locations_) {}

void FFmpegProcessor::cancel() {
    {
        std::lock_guard lock(cancelMutex_);
        if (currentChildStop_) {
            currentChildStop_->request_stop();
        }
    }
    // Never the runner's cancel(): it would stop whichever run of the shared runner came last.
}

std::optional<double> FFmpegProcessor::expectedDuration(const ProcessingRequest& request,
                                                        const fs::path& ffprobe,
                                                        std::stop_token stop) {
    const fs::path& input = std::visit(
        [](const auto& payload) -> const fs::path& {
            using T = std::decay_t<decltype(payload)>;
            if constexpr (std::is_same_v<T, JoinRequest>) {
                return payload.output;  // not reached
            } else {
                return payload.input;
            }
        },
        request.payload);
    return tavrolin::probeDuration(*runner_, input, ffprobe, stop);
}

std::vector<std::string> FFmpegProcessor::prepareArguments(
    const ProcessingRequest& request, JobFiles& run, const Ran& ran,
    const std::optional<SplitInputs>& split) {
    const std::optional<double>& expected = ran.expected;
    if (const auto* remux = request.as<RemuxRequest>()) {
        return kBuilder.remuxArguments(*remux, run.workingOutput);
    }
    if (const auto* join = request.as<JoinRequest>()) {
        if (join->inputs.size() < 2) {
            throw MediaProcessingError::invalidRequest("Add at least two files to join.");
        }
        auto list = run.writeTemporaryInput(
            concatListInput, FFmpegCommandBuilder::concatListText(join->inputs, ran.joinLengths));
        auto metadata = run.writeTemporaryInput(chapterFileInput, ran.joinMetadata);
        return kBuilder.joinArguments(
            list, run.workingOutput, ran.videoCodec,
            {join->inputs.front(), metadata, ran.joinStreams, ran.joinChapterTracks,
             ran.joinDropsWarmUp, ran.joinCopiesTimestamps});
    }
    if (split) {
        return kBuilder.splitArguments(split->request, split->layout, split->files,
                                       run.workingOutput);
    }
    if (const auto* chapters = request.as<ChapterRequest>()) {
        if (!expected) {
            throw MediaProcessingError::invalidRequest(chapterDurationMessage);
        }
        auto file = run.writeTemporaryInput(chapterFileInput,
                                            kChapterRenderer.render(chapters->chapters, *expected));
        return kBuilder.chapterArguments(*chapters, file, run.workingOutput);
    }
    const auto& export_ = *request.as<TranscriptionMediaRequest>();
    auto subtitles = run.writeTemporaryInput(
        transcriptFileInput,
        kSubtitleRenderer.render(transcriptCuesFor(export_.cues, run.workingOutput),
                                 SubtitleFileFormat::srt));
    std::optional<fs::path> chapterFile;
    if (!export_.chapters.empty()) {
        if (!expected) {
            throw MediaProcessingError::invalidRequest(chapterDurationMessage);
        }
        chapterFile = run.writeTemporaryInput(chapterFileInput,
                                              kChapterRenderer.render(export_.chapters, *expected));
    }
    return kBuilder.transcriptionMediaArguments(export_, subtitles, chapterFile, run.workingOutput);
}

std::vector<std::string> FFmpegProcessor::prepareCommand(const ProcessingRequest& request,
                                                         JobFiles& run, const Ran& ran,
                                                         const std::optional<SplitInputs>& split,
                                                         std::stop_token stop) {
    auto arguments = prepareArguments(request, run, ran, split);
    if (!readsSeveralInputs(arguments)) {
        return arguments;
    }
    const auto facts = installed_.facts(std::move(stop));
    return readingInputsOnMainThread(std::move(arguments), facts ? facts->release() : std::nullopt);
}

void FFmpegProcessor::process(const ProcessingRequest& originalRequest, ProgressCallback progress,
                              std::stop_token callerStop) {
    std::lock_guard serial(processMutex_);
    // Every child of this job runs under `childStop`: the caller's stop and cancel() end them.
    std::stop_source childStop;
    std::stop_callback forwardStop(callerStop, [&childStop] { childStop.request_stop(); });
    CurrentJob current(*this, childStop);
    // Checked after every child: a child ended by either stop reports a cancellation, as the
    // stop is marked before it reaches the child.
    const std::stop_token stop = childStop.get_token();

    const Job job = resolve(originalRequest);
    fs::create_directories(job.output.parent_path());
    JobFiles run(recordsFolder_);
    run.useWorkingOutput(hiddenWorkingOutput(job.target), job.target);
    const Ran ran = runFFmpeg(job, run, progress, childStop, stop);
    checkRun(job, run, ran, stop);
    if (ran.splitSpan) {
        // A copied FLAC header tells the whole source's length; no other part has one.
        if (lowercased(job.output.extension().string()) == ".flac") {
            writeSplitPartLength(run.workingOutput, job.output);
        }
        if (ran.splitSpan->packsPictures) {
            clearSplitPartPlaceholders(run.workingOutput, job.output);
        }
        if (ran.splitSpan->startsAtCut) {
            // The audio read before the cut to warm its decoder is hidden from playback.
            writeSplitPartWarmUp(run.workingOutput, job.output, -ran.splitCutLead,
                                 ran.splitMp3WarmUpFrames);
        }
        if (!ran.splitChapterUids.uids.empty()) {
            writeSplitPartChapterUids(run.workingOutput, job.output, ran.splitChapterUids);
        }
        if (ran.splitSpan->lengthFromZero) {
            writeSplitPartPlayedLength(run.workingOutput, job.output, stop);
        }
        verifySplitPart(
            readWrittenPackets(run.workingOutput, job.output, ran.splitReadWindow, stop),
            job.output.filename().string(), *ran.splitSpan,
            progressFrameCount(ran.result.standardOutput));
    }
    if (ran.joinedPackets) {
        verifyJoinedOutput(readWrittenPackets(run.workingOutput, job.output, SplitPartSpan{}, stop),
                           job.output.filename().string(), *ran.joinedPackets,
                           progressFrameCount(ran.result.standardOutput));
    }
    if (job.replacesInput) {
        verifyReplacement(job, run, ran, childStop.get_token(), stop);
        ReplacementSteps steps;
        steps.beforeSwap = [&run, stop](const fs::path& backup, const fs::path& original) {
            // Flushing the copy may take long; a cancel until the swap keeps the original.
            throwIfStopped(stop);
            run.recordBackup(backup, original);
        };
        kFileReplacement.replace(job.target, run.workingOutput, steps);
    } else {
        publish(job, run, stop);
    }
    // Done is done, also when the length never became known or ffmpeg was too quick to report.
    if (progress) {
        progress(1.0);
    }
}

FFmpegProcessor::Job FFmpegProcessor::resolve(const ProcessingRequest& originalRequest) const {
    Job job(FFmpegToolchain::resolve(locations_), withAbsolutePaths(originalRequest));
    if (const auto* join = job.request.as<JoinRequest>()) {
        // A line break cannot be written into the concat list.
        if (auto problem = JoinLayoutCheck::firstPathProblem(join->inputs)) {
            throw MediaProcessingError::invalidRequest(*problem);
        }
    }
    throwIfAnyInputUnreadable(job.request);
    if (!job.replacesInput && nameExists(job.output)) {
        throw MediaProcessingError::outputExists(job.output.filename().string());
    }
    if (job.replacesInput) {
        if (job.transcript()->input != job.transcript()->output) {
            throw MediaProcessingError::invalidRequest(
                "Only a transcript export can replace its own source file.");
        }
        job.target = resolvedFilePath(job.output);
        job.targetFingerprint = SourceFileFingerprint::of(job.target);
    }
    job.inputs = inputFingerprints(job.request);
    return job;
}

FFmpegProcessor::Ran FFmpegProcessor::runFFmpeg(const Job& job, JobFiles& run,
                                                ProgressCallback& progress,
                                                std::stop_source& childStop, std::stop_token stop) {
    const ProcessingRequest& request = job.request;
    const auto* split = job.split();
    const auto* transcript = job.transcript();
    FFmpegProgressRelay relay(progress);
    Ran ran;

    // A remux needs the source's duration only for progress, so ffprobe measures it while
    // ffmpeg already runs; a transcript export needs it and the source's streams only for its
    // check after the run, unless chapters need it before the arguments can be built; a join
    // probes its inputs anyway to check them, and a split reads the source's layout, duration
    // included, to build its command.
    const bool probesAlongside = request.as<RemuxRequest>() != nullptr;
    const bool transcriptAlongside = transcript && transcript->chapters.empty();
    std::optional<ReadBeside<TranscriptSource>> transcriptSource;
    std::optional<SplitInputs> splitInputs;
    std::unique_ptr<ReadBeside<SplitSourceLayout>> splitLayoutWithEnd;
    std::optional<ReadBeside<std::optional<double>>> durationProbe;
    std::optional<ReadBeside<std::optional<FFmpegBuildFacts>>> release;
    if (job.replacesInput) {
        // Begun first: its opening of the source tells the export its duration and streams.
        startReplacementReads(job, childStop.get_token(), ran);
    }
    const PacketCensusRead* sourceCensus = ran.sourceCensus.get();
    if (probesAlongside) {
        durationProbe.emplace(
            childStop.get_token(), [this, &request, &job, &relay](std::stop_token probeStop) {
                auto duration = expectedDuration(request, job.toolchain.ffprobe, probeStop);
                relay.start(duration);
                return duration;
            });
    } else if (const auto* join = request.as<JoinRequest>()) {
        checkJoinInputs(*join, job.toolchain.ffprobe, childStop.get_token(), ran);
        throwIfStopped(stop);
        relay.start(ran.expected);
    } else if (split) {
        if (split->endTime) {
            // A part with an end most often reads its video from a second input, read as the
            // release asks: its ffmpeg is asked beside the layout's read, once a processor.
            release.emplace(childStop.get_token(), [this](std::stop_token token) {
                return installed_.facts(std::move(token));
            });
        }
        auto read =
            readSplitLayout(*split, job.inputs.at(0).second, splitLayouts_, childStop.get_token());
        splitLayoutWithEnd = std::move(read.withEnd);
        auto& layout = read.layout;
        SplitRequest cut = fitSplitToSource(*split, layout);
        ran.splitMp3WarmUpFrames = measureMp3WarmUp(layout, cut);
        relay.start(splitProgressDuration(cut, layout));
        ran.splitSpan = splitPartSpan(cut, layout, run.workingOutput);
        ran.splitCutLead = splitCutLead(layout);
        ran.splitChapterUids = splitPartChapterUids(cut, layout);
        auto files = prepareSplitFiles(*runner_, kChapterRenderer, cut, layout, run, job.toolchain,
                                       childStop.get_token(), stop);
        ran.splitReadWindow = splitPartReadWindow(cut, layout, run.workingOutput);
        splitInputs = SplitInputs{std::move(cut), std::move(layout), std::move(files)};
    } else if (transcriptAlongside) {
        transcriptSource.emplace(childStop.get_token(), [this, &job, &relay, transcript,
                                                         sourceCensus](std::stop_token token) {
            if (sourceCensus) {
                const auto header = sourceCensus->header();
                if (token.stop_requested()) {
                    return TranscriptSource{};
                }
                TranscriptSource read{header ? statedDuration(*header) : std::nullopt, {}};
                relay.start(read.duration);
                read.streams = exportedStreams(*transcript, streamKindsOf(header));
                return read;
            }
            TranscriptSource read{expectedDuration(job.request, job.toolchain.ffprobe, token), {}};
            relay.start(read.duration);
            read.streams = exportedStreams(*runner_, *transcript, job.toolchain.ffprobe, token);
            return read;
        });
    } else if (sourceCensus) {
        const auto header = sourceCensus->header();
        throwIfStopped(stop);
        ran.expected = header ? statedDuration(*header) : std::nullopt;
        relay.start(ran.expected);
        ran.exportedStreams = exportedStreams(*transcript, streamKindsOf(header));
    } else {
        ran.expected = expectedDuration(request, job.toolchain.ffprobe, childStop.get_token());
        throwIfStopped(stop);
        relay.start(ran.expected);
    }

    if (transcript && !transcriptAlongside && !sourceCensus) {
        ran.exportedStreams =
            exportedStreams(*runner_, *transcript, job.toolchain.ffprobe, childStop.get_token());
        throwIfStopped(stop);
    }

    const auto arguments = prepareCommand(request, run, ran, splitInputs, childStop.get_token());

    throwIfStopped(stop);
    std::optional<ReadBeside<std::optional<std::int64_t>>> joinedPackets;
    if (const auto* join = request.as<JoinRequest>()) {
        joinedPackets.emplace(childStop.get_token(), [join, &ran](std::stop_token count) {
            return countVideoPackets(join->inputs, ran.joinHeaderCounts, count);
        });
    }
    ran.result = runner_->run(
        job.toolchain.ffmpeg, arguments, [&relay](std::string_view chunk) { relay.consume(chunk); },
        childStop.get_token());
    if (splitLayoutWithEnd && ran.result.terminationStatus == 0) {
        // The part's end, read beside the run: a keyframe with leading pictures ends the part
        // before them, and the part is written again. A failed run stops the read unread.
        const SplitSourceLayout measured = std::move(splitInputs->layout);
        splitInputs->layout = splitLayoutWithEnd->get();
        // The start cut is unchanged, so the warm-up measured for it still holds.
        for (auto& stream : splitInputs->layout.streams) {
            for (const auto& was : measured.streams) {
                if (was.index == stream.index) {
                    stream.mp3WarmUpFrames = was.mp3WarmUpFrames;
                }
            }
        }
        ran.splitSpan = splitPartSpan(splitInputs->request, splitInputs->layout, run.workingOutput);
        const auto confirmed =
            prepareCommand(request, run, ran, splitInputs, childStop.get_token());
        if (confirmed != arguments) {
            fs::remove(run.workingOutput);
            ran.result = runner_->run(
                job.toolchain.ffmpeg, confirmed,
                [&relay](std::string_view chunk) { relay.consume(chunk); }, childStop.get_token());
        }
    }
    if (joinedPackets) {
        // A failed run has nothing to check.
        ran.joinedPackets = joinedPackets->get(ran.result.terminationStatus != 0);
    }
    if (durationProbe) {
        // The duration only feeds progress, and ffmpeg is done.
        ran.expected = durationProbe->get(true);
    }
    if (transcriptSource) {
        auto read = transcriptSource->get();
        throwIfStopped(stop);
        ran.expected = read.duration;
        ran.exportedStreams = std::move(read.streams);
    }
    return ran;
}

}  // namespace tavrolin
