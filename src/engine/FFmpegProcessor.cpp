#include "engine/FFmpegProcessor.h"

#include <stdlib.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <future>
#include <nlohmann/json.hpp>
#include <string_view>
#include <thread>

#include "engine/FFmpegProgressTracker.h"
#include "engine/FFmpegWriteFailure.h"
#include "engine/FileOperations.h"
#include "engine/JoinLayoutCheck.h"
#include "model/CancellationError.h"
#include "model/ErrorMessage.h"
#include "model/MediaProcessingError.h"
#include "model/OutputContainer.h"
#include "model/TextMetrics.h"
#include "model/Uuid.h"
#include "probe/FFprobeService.h"
#include "probe/MediaProbeError.h"
#include "probe/ProbeText.h"
#include "process/ProcessCancellation.h"

namespace tavrolin {

namespace fs = std::filesystem;

using InputFingerprints = std::vector<std::pair<fs::path, std::optional<SourceFileFingerprint>>>;

namespace {

const char* const chapterDurationMessage =
    "Tavrolin could not determine the source duration needed to write chapters.";
const char* const streamsMessage =
    "Tavrolin could not verify the prepared media streams. The original file was not changed.";

void throwIfStopped(const std::stop_token& stop) {
    if (stop.stop_requested()) {
        throw CancellationError();
    }
}

// A whole text that is a finite number, read in any locale; surrounding white space is allowed.
std::optional<double> parseNumber(std::string_view text) {
    const auto value = parsePosixNumber(trimWhitespace(text));
    if (!value || !std::isfinite(*value)) {
        return std::nullopt;
    }
    return value;
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

// What ffmpeg reads, each with its state before the run; none for a file that cannot be read
// now (ffmpeg then says why).
InputFingerprints inputFingerprints(const ProcessingRequest& request) {
    InputFingerprints fingerprints;
    for (const auto& input : request.inputs()) {
        std::optional<SourceFileFingerprint> fingerprint;
        try {
            fingerprint = SourceFileFingerprint::of(input);
        } catch (const std::exception&) {
        }
        fingerprints.emplace_back(input, fingerprint);
    }
    return fingerprints;
}

// A file's state now; a file that is gone says so in its own sentence.
SourceFileFingerprint fingerprintNow(const fs::path& file) {
    if (isFileGone(file)) {
        throw MediaProcessingError::sourceMissing(file);
    }
    return SourceFileFingerprint::of(file);
}

// An input written to while ffmpeg read it gives an output of neither version; one removed
// meanwhile is gone from where the user keeps it.
void throwIfAnyInputChanged(const InputFingerprints& fingerprints) {
    for (const auto& [input, before] : fingerprints) {
        if (!before) {
            continue;
        }
        if (isFileGone(input)) {
            throw MediaProcessingError::sourceMissing(input);
        }
        std::optional<SourceFileFingerprint> now;
        try {
            now = SourceFileFingerprint::of(input);
        } catch (const std::exception&) {
        }
        if (now != before) {
            throw MediaProcessingError::processFailed(
                "\u201C" + input.filename().string() +
                "\u201D changed while Tavrolin was reading it. Nothing was written.");
        }
    }
}

// ffmpeg reads the transcript as SubRip, whose reader takes anything like "<Jerry>" for a tag and
// drops it when it converts the text for MP4 or WebM. WebVTT stores character references, which
// that reader passes through untouched; mov_text is plain text, so an invisible word joiner after
// each "<" keeps it from being read as a tag. Matroska copies the SubRip text as it is.
std::vector<SubtitleCue> transcriptCuesFor(std::vector<SubtitleCue> cues, const fs::path& output) {
    const auto container = containerForFile(output);
    if (!container || *container == OutputContainer::mkv) {
        return cues;
    }
    for (auto& cue : cues) {
        if (*container == OutputContainer::webm) {
            cue.text = escapeWebVTT(cue.text);
            continue;
        }
        std::string text;
        for (char c : cue.text) {
            text += c;
            if (c == '<') {
                text += "\u2060";
            }
        }
        cue.text = std::move(text);
    }
    return cues;
}

}  // namespace

// The files of one job: a private folder for temporary inputs and the working output. Whatever
// is still there when the run ends is removed.
class FFmpegProcessor::Run {
  public:
    Run() = default;
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;
    ~Run() {
        if (!workingOutput.empty()) {
            removeQuietly(workingOutput);
        }
        if (!temporaryFolder_.empty()) {
            std::error_code ignored;
            fs::remove_all(temporaryFolder_, ignored);
        }
    }

    // A new file in the run's private temporary folder (made with mkdtemp on first use).
    fs::path writeTemporaryInput(const std::string& prefix, const std::string& extension,
                                 std::string_view contents) {
        fs::path file = temporaryPath(prefix, extension);
        writeNewFile(file, contents);
        return file;
    }

    // A new name there, for a tool to write.
    fs::path temporaryPath(const std::string& prefix, const std::string& extension) {
        if (temporaryFolder_.empty()) {
            const char* root = std::getenv("TMPDIR");
            std::string pattern = (root && *root ? std::string(root) : std::string("/tmp"));
            pattern += "/Tavrolin-XXXXXX";
            if (::mkdtemp(pattern.data()) == nullptr) {
                throw fs::filesystem_error("cannot create temporary folder", fs::path(pattern),
                                           std::error_code(errno, std::generic_category()));
            }
            temporaryFolder_ = standardizedPath(pattern);
        }
        return temporaryFolder_ / (prefix + Uuid::random().toString() + "." + extension);
    }

    fs::path workingOutput;

  private:
    fs::path temporaryFolder_;
};

// Progress of one ffmpeg run whose duration may still be being measured: chunks wait until
// the duration is known, then go through a tracker in their order; without a duration they are
// dropped.
class FFmpegProcessor::ProgressRelay {
  public:
    explicit ProgressRelay(ProgressCallback& progress) : progress_(progress) {}

    void start(std::optional<double> duration) {
        std::lock_guard lock(mutex_);
        decided_ = true;
        if (duration) {
            tracker_ = std::make_unique<FFmpegProgressTracker>(*duration, [this](double fraction) {
                if (progress_) {
                    progress_(fraction);
                }
            });
            tracker_->consume(waiting_);
        }
        waiting_.clear();
    }

    void consume(std::string_view chunk) {
        std::lock_guard lock(mutex_);
        if (tracker_) {
            tracker_->consume(chunk);
        } else if (!decided_) {
            waiting_.append(chunk);
            // Only the latest complete lines matter; keep the waiting text small.
            constexpr std::size_t kept = 8192;
            if (waiting_.size() > 4 * kept) {
                auto cut = waiting_.rfind('\n', waiting_.size() - kept);
                waiting_.erase(0, cut == std::string::npos ? 0 : cut + 1);
            }
        }
    }

  private:
    ProgressCallback& progress_;
    std::mutex mutex_;
    bool decided_ = false;
    std::string waiting_;
    std::unique_ptr<FFmpegProgressTracker> tracker_;
};

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

FFmpegProcessor::FFmpegProcessor(std::shared_ptr<ProcessRunning> runner, ToolLocations locations)
    : runner_(std::move(runner)), locations_(std::move(locations)) {}

void FFmpegProcessor::cancel() {
    {
        std::lock_guard lock(cancelMutex_);
        if (currentChildStop_) {
            currentChildStop_->request_stop();
        }
    }
    runner_->cancel();
}

fs::path FFmpegProcessor::makeReplacementOutputURL(const fs::path& output) {
    return hiddenSiblingName(output, workingMarker, Uuid::random());
}

std::string FFmpegProcessor::concatListText(const std::vector<fs::path>& inputs) {
    std::string text;
    for (const auto& input : inputs) {
        if (!text.empty()) {
            text += '\n';
        }
        text += "file '";
        for (char c : input.string()) {
            if (c == '\'') {
                text += "'\\''";
            } else {
                text += c;
            }
        }
        text += '\'';
    }
    return text;
}

std::string FFmpegProcessor::failureMessage(const ProcessResult& result,
                                            const fs::path& workingOutput, const fs::path& output) {
    std::string text =
        toolFailureText(result, "FFmpeg", "FFmpeg stopped without an error message.");
    if (workingOutput.empty() || output.empty()) {
        return text;
    }
    const auto replaceAll = [&text](const std::string& from, const std::string& to) {
        for (auto at = text.find(from); at != std::string::npos;
             at = text.find(from, at + to.size())) {
            text.replace(at, from.size(), to);
        }
    };
    replaceAll(workingOutput.string(), output.string());
    replaceAll(workingOutput.filename().string(), output.filename().string());
    return text;
}

ProcessResult FFmpegProcessor::runFFprobe(const fs::path& ffprobe,
                                          const std::vector<std::string>& arguments,
                                          std::stop_token stop) {
    try {
        return withProbeSlot(*runner_, ffprobe, arguments, stop);
    } catch (const CancellationError&) {
        // As the runner answers a run that was stopped before it started.
        return ProcessResult{128 + SIGTERM, {}, {}};
    }
}

std::optional<double> FFmpegProcessor::probeDuration(const fs::path& file, const fs::path& ffprobe,
                                                     std::stop_token stop) {
    try {
        auto result =
            runFFprobe(ffprobe,
                       {"-v", "error", "-show_entries", "format=duration", "-of",
                        "default=noprint_wrappers=1:nokey=1", standardizedPath(file).string()},
                       stop);
        if (result.terminationStatus != 0) {
            return std::nullopt;
        }
        auto duration = parseNumber(result.standardOutput);
        if (duration && *duration > 0) {
            return duration;
        }
    } catch (const std::exception&) {
    }
    return std::nullopt;
}

std::optional<std::vector<std::pair<std::int64_t, std::string>>> FFmpegProcessor::probeStreamKinds(
    const fs::path& file, const fs::path& ffprobe, std::stop_token stop) {
    try {
        auto result = runFFprobe(ffprobe,
                                 {"-v", "error", "-show_entries", "stream=index,codec_type", "-of",
                                  "json", file.string()},
                                 stop);
        if (result.terminationStatus != 0) {
            return std::nullopt;
        }
        std::vector<std::pair<std::int64_t, std::string>> kinds;
        auto json = nlohmann::json::parse(result.standardOutput);
        for (const auto& stream : json.at("streams")) {
            kinds.emplace_back(stream.at("index").get<std::int64_t>(),
                               stream.value("codec_type", std::string()));
        }
        return kinds;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void FFmpegProcessor::verifyPreparedReplacement(const fs::path& prepared,
                                                std::size_t expectedStreamCount,
                                                const fs::path& ffprobe, double sourceDuration,
                                                std::stop_token stop) {
    std::error_code sizeError;
    auto size = fs::file_size(prepared, sizeError);
    if (sizeError || size < 1) {
        throw MediaProcessingError::processFailed(
            "The prepared replacement is empty. The original file was not changed.");
    }
    auto result = runFFprobe(ffprobe,
                             {"-v", "error", "-show_entries", "format=duration:stream=index", "-of",
                              "json", standardizedPath(prepared).string()},
                             stop);
    throwIfStopped(stop);
    if (result.terminationStatus != 0) {
        throw MediaProcessingError::processFailed(streamsMessage);
    }
    std::optional<double> duration;
    try {
        auto json = nlohmann::json::parse(result.standardOutput);
        std::size_t streamCount = 0;
        for (const auto& stream : json.at("streams")) {
            stream.at("index").get<std::int64_t>();
            ++streamCount;
        }
        if (streamCount < expectedStreamCount || !json.contains("format")) {
            throw MediaProcessingError::processFailed(streamsMessage);
        }
        const auto& format = json.at("format");
        if (format.contains("duration")) {
            duration = parseNumber(format.at("duration").get<std::string>());
        }
    } catch (const nlohmann::json::exception&) {
        throw MediaProcessingError::processFailed(streamsMessage);
    }
    if (!duration || !(*duration > 0)) {
        throw MediaProcessingError::processFailed(streamsMessage);
    }
    const double tolerance = std::max(sourceDuration * 0.02, 3.0);
    if (std::abs(*duration - sourceDuration) > tolerance) {
        throw MediaProcessingError::processFailed(
            "The prepared file duration does not match the source. The original file was not "
            "changed.");
    }
}

void FFmpegProcessor::verifyPreparedPackets(const fs::path& prepared, const fs::path& source,
                                            const std::vector<CopiedStream>& streams,
                                            const fs::path& ffprobe, std::stop_token stop) {
    // Both files are read whole, side by side.
    auto census = [this, &ffprobe, stop](const fs::path& file) -> std::optional<PacketCensus> {
        const auto result = runFFprobe(ffprobe, packetCensusArguments(file), stop);
        if (result.terminationStatus != 0) {
            return std::nullopt;
        }
        return parsePacketCensus(result.standardOutput);
    };
    auto original = std::async(std::launch::async, census, standardizedPath(source));
    const auto copy = census(standardizedPath(prepared));
    const auto sourceCensus = original.get();
    if (!copy || !sourceCensus || !holdsEveryPacket(*sourceCensus, *copy, streams)) {
        throw MediaProcessingError::processFailed(
            "Tavrolin left \u201C" + source.filename().string() +
            "\u201D unchanged because its prepared copy is incomplete; try the export again.");
    }
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
    return probeDuration(input, ffprobe, stop);
}

// ffmpeg's report counts from where it starts reading, a little before the cut.
std::optional<double> FFmpegProcessor::splitProgressDuration(const SplitRequest& split,
                                                             std::optional<double> sourceDuration) {
    std::optional<double> length;
    if (split.endTime) {
        length = *split.endTime - split.startTime;
    } else if (sourceDuration && *sourceDuration - split.startTime > 0) {
        length = *sourceDuration - split.startTime;
    }
    return length ? std::optional<double>(*length + FFmpegCommandBuilder::splitLeadIn(split))
                  : std::nullopt;
}

std::optional<double> FFmpegProcessor::checkJoinInputs(const JoinRequest& join,
                                                       const fs::path& ffprobe,
                                                       std::stop_token stop) {
    const auto container = containerForFile(join.output);
    FFprobeService probe(runner_, locations_, ffprobe);
    JoinInspectionStates states;
    std::optional<double> total = 0.0;
    for (const auto& input : join.inputs) {
        try {
            states[input] = RemuxSource::Ready{probe.inspectStreams(input, stop)};
        } catch (const MediaProbeError& error) {
            states[input] = RemuxSource::Failed{error.what()};
        }
        if (stop.stop_requested()) {
            // Cancelled: the run that follows ends at once and says so; no verdict from a
            // probe that was cut short.
            return std::nullopt;
        }
        const auto duration = probeDuration(input, ffprobe, stop);
        total = duration && total ? std::optional<double>(*total + *duration) : std::nullopt;
    }
    if (container && join.inputs.size() >= 2) {
        if (auto message = JoinLayoutCheck().blockingMessage(join.inputs, states, *container)) {
            throw MediaProcessingError::invalidRequest(*message);
        }
    }
    return total && *total > 0 ? total : std::nullopt;
}

SplitSourceLayout FFmpegProcessor::probeSplitLayout(const SplitRequest& split,
                                                    const fs::path& ffprobe,
                                                    std::stop_token childStop,
                                                    const std::stop_token& stop) {
    const ProcessResult result =
        runFFprobe(ffprobe, splitLayoutProbeArguments(split.input, split.endTime), childStop);
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

SplitSideFiles FFmpegProcessor::prepareSplitFiles(const SplitRequest& split,
                                                  const SplitSourceLayout& layout, Run& run,
                                                  const fs::path& ffmpeg, std::stop_token childStop,
                                                  const std::stop_token& stop) {
    SplitSideFiles files;
    if (auto chapters =
            chapterRenderer_.renderPart(layout.chapters, split.startTime, split.endTime)) {
        files.chapters = run.writeTemporaryInput("Tavrolin-Chapters-", "ffmetadata", *chapters);
    }
    if (FFmpegCommandBuilder::splitAttachesPictures(run.workingOutput)) {
        for (const auto& stream : layout.streams) {
            if (stream.role == SplitStreamRole::picture) {
                files.pictures[stream.index] = run.temporaryPath("Tavrolin-Picture-", "picture");
            }
        }
    }
    if (!files.pictures.empty()) {
        const ProcessResult result = runner_->run(
            ffmpeg, FFmpegCommandBuilder::splitPictureArguments(split.input, files.pictures), {},
            childStop);
        throwIfStopped(stop);
        const auto writeFailure = ffmpegWriteFailure(result.standardError);
        if (writeFailure == FFmpegWriteFailure::outOfSpace) {
            // The pictures wait in the run's folder under $TMPDIR.
            throw MediaProcessingError::notEnoughSpace(
                files.pictures.begin()->second.parent_path().parent_path(),
                split.output.filename().string());
        }
        if (result.terminationStatus != 0 || writeFailure == FFmpegWriteFailure::failed) {
            throw MediaProcessingError::processFailed(
                "Tavrolin could not copy the cover art of \u201C" +
                split.input.filename().string() + "\u201D: " +
                toolFailureText(result, "FFmpeg", "FFmpeg stopped without an error message."));
        }
    }
    return files;
}

std::vector<std::string> FFmpegProcessor::prepareArguments(
    const ProcessingRequest& request, Run& run, std::optional<double> expected,
    const std::optional<SplitInputs>& split) {
    if (const auto* remux = request.as<RemuxRequest>()) {
        return builder_.remuxArguments(*remux, run.workingOutput);
    }
    if (const auto* join = request.as<JoinRequest>()) {
        if (join->inputs.size() < 2) {
            throw MediaProcessingError::invalidRequest("Add at least two files to join.");
        }
        auto list =
            run.writeTemporaryInput("Tavrolin-Concat-", "txt", concatListText(join->inputs));
        return builder_.joinArguments(list, run.workingOutput);
    }
    if (split) {
        return builder_.splitArguments(split->request, split->layout, split->files,
                                       run.workingOutput);
    }
    if (const auto* chapters = request.as<ChapterRequest>()) {
        if (!expected) {
            throw MediaProcessingError::invalidRequest(chapterDurationMessage);
        }
        auto file = run.writeTemporaryInput("Tavrolin-Chapters-", "ffmetadata",
                                            chapterRenderer_.render(chapters->chapters, *expected));
        return builder_.chapterArguments(*chapters, file, run.workingOutput);
    }
    const auto& export_ = *request.as<TranscriptionMediaRequest>();
    auto subtitles = run.writeTemporaryInput(
        "Tavrolin-Transcript-", "srt",
        subtitleRenderer_.render(transcriptCuesFor(export_.cues, run.workingOutput),
                                 SubtitleFileFormat::srt));
    std::optional<fs::path> chapterFile;
    if (!export_.chapters.empty()) {
        if (!expected) {
            throw MediaProcessingError::invalidRequest(chapterDurationMessage);
        }
        chapterFile = run.writeTemporaryInput("Tavrolin-Chapters-", "ffmetadata",
                                              chapterRenderer_.render(export_.chapters, *expected));
    }
    return builder_.transcriptionMediaArguments(export_, subtitles, chapterFile, run.workingOutput);
}

// What one request comes to before anything runs: the tools, the request with absolute paths
// and the state of every file it reads.
struct FFmpegProcessor::Job {
    Job(FFmpegToolchain tools, ProcessingRequest absoluteRequest)
        : toolchain(std::move(tools)),
          request(std::move(absoluteRequest)),
          output(request.output()),
          replacesInput(transcript() && transcript()->replacesInput),
          target(output) {}

    FFmpegToolchain toolchain;
    ProcessingRequest request;
    fs::path output;
    bool replacesInput;
    // The file the working output sits beside: for a replacement, the real file behind a link.
    fs::path target;
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
struct FFmpegProcessor::Ran {
    ProcessResult result;
    // The input's probed duration (a join's summed durations), when known.
    std::optional<double> expected;
    // For a transcript export: where the output holds each selected source stream.
    std::vector<CopiedStream> exportedStreams;
};

void FFmpegProcessor::process(const ProcessingRequest& originalRequest, ProgressCallback progress,
                              std::stop_token stop) {
    std::lock_guard serial(processMutex_);
    // Every child of this job runs under `childStop`: the job's own stop and cancel() end them.
    std::stop_source childStop;
    std::stop_callback forwardStop(stop, [&childStop] { childStop.request_stop(); });
    CurrentJob current(*this, childStop);

    const Job job = resolve(originalRequest);
    fs::create_directories(job.output.parent_path());
    Run run;
    run.workingOutput = makeReplacementOutputURL(job.target);
    const Ran ran = runFFmpeg(job, run, progress, childStop, stop);
    checkRun(job, run, ran, stop);
    if (job.replacesInput) {
        verifyReplacement(job, run, ran, childStop.get_token(), stop);
        fileReplacement_.replace(job.target, run.workingOutput);
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
        for (const auto& input : join->inputs) {
            if (input.string().find_first_of("\n\r") != std::string::npos) {
                throw MediaProcessingError::invalidRequest(
                    "\u201C" + input.filename().string() +
                    "\u201D cannot be joined because its name contains a line break.");
            }
        }
    }
    // Removed or renamed since it was queued: ffmpeg would only say "No such file".
    for (const auto& input : job.request.inputs()) {
        if (isFileGone(input)) {
            throw MediaProcessingError::sourceMissing(input);
        }
    }
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

FFmpegProcessor::Ran FFmpegProcessor::runFFmpeg(const Job& job, Run& run,
                                                ProgressCallback& progress,
                                                std::stop_source& childStop, std::stop_token stop) {
    const ProcessingRequest& request = job.request;
    const auto* split = job.split();
    const auto* transcript = job.transcript();
    ProgressRelay relay(progress);
    Ran ran;

    // A remux needs the source's duration only for progress, so ffprobe measures it while
    // ffmpeg already runs; chapters and transcripts need it before the arguments can be built,
    // a join probes its inputs anyway to check them, and a split reads the source's layout,
    // duration included, to build its command.
    const bool probesAlongside = request.as<RemuxRequest>() != nullptr;
    std::optional<SplitInputs> splitInputs;
    std::jthread durationProbe;
    std::optional<std::stop_callback<std::function<void()>>> stopDurationProbe;
    std::future<std::optional<double>> probedExpectation;
    if (probesAlongside) {
        std::packaged_task<std::optional<double>(std::stop_token)> task(
            [this, &request, &job, &relay](std::stop_token probeStop) {
                auto duration = expectedDuration(request, job.toolchain.ffprobe, probeStop);
                relay.start(duration);
                return duration;
            });
        probedExpectation = task.get_future();
        durationProbe = std::jthread(std::move(task));
        stopDurationProbe.emplace(childStop.get_token(), std::function<void()>([&durationProbe] {
                                      durationProbe.request_stop();
                                  }));
    } else if (const auto* join = request.as<JoinRequest>()) {
        ran.expected = checkJoinInputs(*join, job.toolchain.ffprobe, childStop.get_token());
        throwIfStopped(stop);
        relay.start(ran.expected);
    } else if (split) {
        SplitRequest cut = *split;
        auto layout = probeSplitLayout(cut, job.toolchain.ffprobe, childStop.get_token(), stop);
        if (layout.duration && cut.startTime >= *layout.duration) {
            throw MediaProcessingError::invalidRequest(
                "The start time must be earlier than the end of the source.");
        }
        if (layout.duration && cut.endTime && *cut.endTime >= *layout.duration) {
            cut.endTime.reset();  // the end of the source
        }
        relay.start(splitProgressDuration(cut, layout.duration));
        auto files =
            prepareSplitFiles(cut, layout, run, job.toolchain.ffmpeg, childStop.get_token(), stop);
        splitInputs = SplitInputs{std::move(cut), std::move(layout), std::move(files)};
    } else {
        ran.expected = expectedDuration(request, job.toolchain.ffprobe, childStop.get_token());
        throwIfStopped(stop);
        relay.start(ran.expected);
    }

    if (transcript) {
        ran.exportedStreams =
            exportedStreams(*transcript, job.toolchain.ffprobe, childStop.get_token());
        throwIfStopped(stop);
    }

    const auto arguments = prepareArguments(request, run, ran.expected, splitInputs);

    throwIfStopped(stop);
    ran.result = runner_->run(
        job.toolchain.ffmpeg, arguments, [&relay](std::string_view chunk) { relay.consume(chunk); },
        childStop.get_token());
    if (probesAlongside) {
        // The duration only feeds progress, and ffmpeg is done: a probe still waiting for an
        // ffprobe slot behind other inspections must not hold the job.
        durationProbe.request_stop();
        ran.expected = probedExpectation.get();
    }
    return ran;
}

std::vector<CopiedStream> FFmpegProcessor::exportedStreams(
    const TranscriptionMediaRequest& transcript, const fs::path& ffprobe, std::stop_token stop) {
    std::vector<CopiedStream> streams;
    for (const auto& stream : transcript.selectedStreams) {
        streams.push_back({stream.index, transcript.mapsEverySourceStream
                                             ? stream.index
                                             : static_cast<std::int64_t>(streams.size())});
    }
    if (!transcript.mapsEverySourceStream) {
        return streams;
    }
    // With "-map 0" the transcript's subtitle index counts the source's subtitle streams, so
    // the selection must still be exactly those, in order.
    auto kinds = probeStreamKinds(transcript.input, ffprobe, stop);
    if (stop.stop_requested()) {
        return {};
    }
    std::vector<std::int64_t> sourceSubtitles;
    std::vector<std::int64_t> selectedSubtitles;
    for (const auto& [index, kind] : kinds.value_or(decltype(kinds)::value_type{})) {
        if (kind == "subtitle") {
            sourceSubtitles.push_back(index);
        }
    }
    for (const auto& stream : transcript.selectedStreams) {
        if (stream.kind == MediaStreamKind::subtitle) {
            selectedSubtitles.push_back(stream.index);
        }
    }
    if (!kinds || sourceSubtitles != selectedSubtitles) {
        throw MediaProcessingError::invalidRequest(
            "The source\u2019s subtitle streams changed. Inspect the source again before "
            "exporting.");
    }
    return streams;
}

void FFmpegProcessor::checkRun(const Job& job, const Run& run, const Ran& ran,
                               std::stop_token stop) const {
    throwIfStopped(stop);
    // A source cut short mid-run may also make ffmpeg fail; the change is the cause then. A
    // replacement compares its source once more after verification, with its own message.
    if (!job.replacesInput) {
        throwIfAnyInputChanged(job.inputs);
    }
    // Exit status 0 is not enough: a write that fails at the trailer or the close is only in
    // the text.
    const auto writeFailure = ffmpegWriteFailure(ran.result.standardError);
    if (writeFailure == FFmpegWriteFailure::outOfSpace) {
        throw job.notEnoughSpace();
    }
    if (ran.result.terminationStatus != 0 || writeFailure == FFmpegWriteFailure::failed) {
        throw MediaProcessingError::processFailed(
            failureMessage(ran.result, run.workingOutput, job.target));
    }
}

void FFmpegProcessor::verifyReplacement(const Job& job, const Run& run, const Ran& ran,
                                        std::stop_token childStop, std::stop_token stop) {
    if (!ran.expected) {
        throw MediaProcessingError::invalidRequest(
            "Tavrolin could not verify the source duration, so it did not replace the "
            "original file.");
    }
    verifyPreparedReplacement(run.workingOutput, job.transcript()->selectedStreams.size() + 1,
                              job.toolchain.ffprobe, *ran.expected, childStop);
    throwIfStopped(stop);
    verifyPreparedPackets(run.workingOutput, job.target, ran.exportedStreams, job.toolchain.ffprobe,
                          childStop);
    throwIfStopped(stop);
    if (fingerprintNow(job.target) != *job.targetFingerprint) {
        throw MediaProcessingError::processFailed(
            "The source changed while Tavrolin was preparing its replacement. The original "
            "file was not changed.");
    }
    throwIfStopped(stop);
}

void FFmpegProcessor::publish(const Job& job, const Run& run, std::stop_token stop) const {
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
        // Named after the output the user chose, not the hidden working file.
        throw fs::filesystem_error("cannot move the finished output into place", job.output,
                                   error.code());
    }
}

}  // namespace tavrolin
