#include "transcription/TranscriptionViewModel.h"

#include <QCoreApplication>
#include <QPointer>
#include <algorithm>

#include <mutex>

#include "model/CancellationError.h"
#include "model/ErrorMessage.h"
#include "model/TextMetrics.h"
#include "queue/JobQueueViewModel.h"
#include "widgets/FilePanels.h"
#include "widgets/GuardedTask.h"

namespace tavrolin {

template <typename Result, typename Work>
TranscriptionViewModel::Outcome<Result> TranscriptionViewModel::capture(Work&& work) {
    Outcome<Result> outcome;
    try {
        outcome.value = work();
    } catch (...) {
        outcome.error = std::current_exception();
    }
    return outcome;
}

TranscriptionViewModel::Panels TranscriptionViewModel::dialogPanels() {
    return {[](const std::string& name, OutputContainer container,
               const std::optional<std::filesystem::path>& folder) {
                return chooseOutputFile("transcribe", name, container, folder);
            },
            [](const std::string& name, SubtitleFileFormat format,
               const std::optional<std::filesystem::path>& folder) {
                return chooseSubtitleExportFile("transcribe", name, format, folder);
            }};
}

TranscriptionViewModel::TranscriptionViewModel(Services services, JobQueueViewModel& queue,
                                               Panels panels, QObject* parent)
    : QObject(parent),
      services_(std::move(services)),
      queue_(queue),
      panels_(std::move(panels)),
      state_(services_.preferences) {
    state_.onResetConversationSummaries = [this] { conversationSummaryTask_.request_stop(); };
    state_.outputClaimed = [this](const std::filesystem::path& output) {
        return queue_.outputClaim(output);
    };
    connect(&queue_, &JobQueueViewModel::changed, this, &TranscriptionViewModel::syncReplacements);
    // The export's readiness and a refusal name the queue's jobs as they are now.
    // A job that ended may have written one of the outputs, or failed to: they are asked about
    // again.
    connect(&queue_, &JobQueueViewModel::claimsChanged, this, [this] {
        state_.followClaims();
        if (auto question = batchOutputQuestion();
            !awaitingOutputCheck_ && !question.files.empty()) {
            outputFolderCheck_.ask(std::move(question), true);
        }
        emit changed();
    });
    state_.outputExists = [this](const std::filesystem::path& output) {
        return outputFolderCheck_.exists(output);
    };
    state_.outputIdentity = [this](const std::filesystem::path& output) {
        return outputFolderCheck_.identity(output);
    };
    connect(&outputFolderCheck_, &OutputFolderChecker::changed, this, [this] {
        if (awaitingOutputCheck_ && outputFolderCheck_.isChecking() &&
            outputFolderCheck_.problem()) {
            state_.errorMessage.reset();
            state_.message = outputFolderCheck_.problem();
        }
        emit changed();
    });
    // Connected before any view, so a view redrawing on the same signal sees the search pending
    // and the outputs' check running.
    connect(this, &TranscriptionViewModel::changed, this,
            &TranscriptionViewModel::refreshBatchSearch);
    connect(this, &TranscriptionViewModel::changed, this,
            &TranscriptionViewModel::followExportOutputs);
    refreshAvailability();
}

TranscriptionViewModel::~TranscriptionViewModel() {
    state_.onResetConversationSummaries = nullptr;
    capabilityTask_.request_stop();
    probeTask_.request_stop();
    transcriptionTask_.request_stop();
    exportTask_.request_stop();
    conversationSummaryTask_.request_stop();
    batchSearchTask_.request_stop();
    // Closing the window must leave no ffmpeg child and no working folder behind.
    services_.transcription->cancel();
}

// ---- Capability ----------------------------------------------------------------------------

void TranscriptionViewModel::refreshAvailability() {
    capabilityTask_.request_stop();
    capabilityTask_ = std::stop_source();
    state_.availability = {TranscriptionWorkspaceAvailability::Kind::checking, {}};
    emit changed();
    const auto task = capabilityTask_;
    runGuardedTask(
        this, pool_, [service = services_.transcription] { return service->checkCapability(); },
        [task](TranscriptionViewModel& self, TranscriptionCapability capability) {
            if (task.stop_requested()) {
                return;
            }
            self.state_.applyCapabilityResult(capability);
            emit self.changed();
        });
}

// ---- Mirrors and plain edits ---------------------------------------------------------------

void TranscriptionViewModel::setSelectedAudioStreamIndex(std::optional<std::int64_t> index) {
    state_.setSelectedAudioStreamIndex(index);
    emit changed();
}

void TranscriptionViewModel::setSelectedLocaleIdentifier(const std::string& identifier) {
    state_.setSelectedLocaleIdentifier(identifier);
    emit changed();
}

void TranscriptionViewModel::setCues(std::vector<SubtitleCue> cues) {
    state_.setCues(std::move(cues));
    emit changed();
}

void TranscriptionViewModel::setChapters(std::vector<ChapterMarker> chapters) {
    state_.setChapters(std::move(chapters));
    emit changed();
}

void TranscriptionViewModel::setMediaOutputContainer(OutputContainer container) {
    state_.setMediaOutputContainer(container);
    emit changed();
}

void TranscriptionViewModel::setRequestedCueID(std::optional<std::int64_t> id) {
    state_.requestedCueID = id;
    emit changed();
}

void TranscriptionViewModel::setTranscriptSearch(const std::string& text) {
    state_.transcriptSearch = text;
    emit changed();
}

void TranscriptionViewModel::setBatchTranscriptSearch(const std::string& text) {
    state_.batchTranscriptSearch = text;
    emit changed();
}

void TranscriptionViewModel::setReplaceOriginalsDuringBatchExport(bool replace) {
    state_.replaceOriginalsDuringBatchExport = replace;
    emit changed();
}

// ---- Sources -------------------------------------------------------------------------------

bool TranscriptionViewModel::addSources(const std::vector<std::filesystem::path>& urls) {
    if (!state_.addSources(urls)) {
        return false;
    }
    startProbeTaskIfNeeded();
    emit changed();
    return true;
}

void TranscriptionViewModel::selectSource(const Uuid& id) {
    state_.selectSource(id);
    emit changed();
}

void TranscriptionViewModel::openSearchResult(const BatchTranscriptSearchResult& result) {
    state_.openSearchResult(result);
    emit changed();
}

void TranscriptionViewModel::removeSource(const Uuid& id) {
    if (state_.isTranscribing) {
        return;
    }
    // The running inspection returns its source to pending and a fresh task takes it up again.
    probeTask_.request_stop();
    state_.removeSource(id);
    startProbeTaskIfNeeded();
    emit changed();
}

void TranscriptionViewModel::applySelectedLanguageToAllSources() {
    state_.applySelectedLanguageToAllSources();
    emit changed();
}

void TranscriptionViewModel::setExportSelection(bool isSelected, const Uuid& id) {
    state_.setExportSelection(isSelected, id);
    emit changed();
}

void TranscriptionViewModel::selectAllExportableSources() {
    state_.selectAllExportableSources();
    emit changed();
}

// ---- Inspection ----------------------------------------------------------------------------

void TranscriptionViewModel::startProbeTaskIfNeeded() {
    if (probeRunning_ || !state_.hasPendingInspection()) {
        return;
    }
    probeRunning_ = true;
    probeTask_ = std::stop_source();
    inspectNext(probeTask_);
}

void TranscriptionViewModel::inspectNext(std::stop_source task) {
    if (task.stop_requested()) {
        endProbeTask();
        return;
    }
    const auto next = state_.beginNextInspection();
    if (!next) {
        endProbeTask();
        return;
    }
    emit changed();
    const Uuid id = next->first;
    const std::filesystem::path url = next->second;
    runGuardedTask(
        this, pool_,
        [probe = services_.probe, url, token = task.get_token()] {
            return capture<SourceInspection>([&] {
                SourceInspection inspection;
                inspection.streams = probe->inspectStreams(url, token);
                inspection.chapters = probe->inspectChapters(url, token);
                inspection.duration = probe->inspectDuration(url, token);
                inspection.identity = fileIdentity(url);
                return inspection;
            });
        },
        [task, id](TranscriptionViewModel& self, Outcome<SourceInspection> outcome) {
            // A stop ends the probe with an ordinary failure; the stop decides, not the error.
            if (task.stop_requested() || (outcome.error && isCancellation(outcome.error))) {
                self.state_.returnToPendingInspection(id);
                self.endProbeTask();
                return;
            }
            if (outcome.error) {
                self.state_.failInspection(id, userMessage(outcome.error));
            } else {
                self.state_.applyInspection(id, *outcome.value);
            }
            emit self.changed();
            self.inspectNext(task);
        });
}

void TranscriptionViewModel::endProbeTask() {
    probeRunning_ = false;
    startProbeTaskIfNeeded();
    emit changed();
}

// ---- Batch run -----------------------------------------------------------------------------

void TranscriptionViewModel::startTranscription(const std::vector<Uuid>& ids) {
    transcriptionTask_.request_stop();
    transcriptionTask_ = std::stop_source();
    state_.startTranscription(ids);
    emit changed();
    const auto run = transcriptionTask_;
    QMetaObject::invokeMethod(
        this, [this, run] { runFrom(run, 0); }, Qt::QueuedConnection);
}

void TranscriptionViewModel::addSelectedSourceToTranscriptionQueue(const Uuid& id) {
    if (state_.addSelectedSourceToTranscriptionQueue(id)) {
        emit changed();
    }
}

void TranscriptionViewModel::transcribeAllReadySources() {
    const auto ids = state_.readySourceIDs();
    if (state_.canTranscribeAllSources() && !ids.empty()) {
        startTranscription(ids);
    }
}

void TranscriptionViewModel::runFrom(std::stop_source run, std::size_t position) {
    if (run != transcriptionTask_) {
        return;  // a newer run took over
    }
    if (run.stop_requested()) {
        state_.noteRunCancelled();
        endRun(true);
        return;
    }
    while (position < state_.transcriptionQueue.size()) {
        const auto step = state_.beginRunPosition(position);
        if (!step) {
            ++position;
            continue;
        }
        emit changed();
        QPointer<TranscriptionViewModel> guard(this);
        const Uuid id = step->sourceID;
        // Reports are coalesced: at most one posted at a time, carrying the latest value.
        struct Latest {
            std::mutex mutex;
            std::optional<TranscriptionProgress> value;
        };
        auto latest = std::make_shared<Latest>();
        auto report = [guard, id, latest](const TranscriptionProgress& value) {
            std::lock_guard lock(latest->mutex);
            const bool isPosted = latest->value.has_value();
            latest->value = value;
            if (isPosted) {
                return;
            }
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, id, latest] {
                    std::optional<TranscriptionProgress> value;
                    {
                        std::lock_guard lock(latest->mutex);
                        value.swap(latest->value);
                    }
                    if (guard && value) {
                        guard->state_.applyTranscriptionProgress(id, *value);
                        emit guard->changed();
                    }
                },
                Qt::QueuedConnection);
        };
        runGuardedTask(
            this, pool_,
            [service = services_.transcription, job = *step, report, token = run.get_token()] {
                return capture<std::vector<TranscriptFragment>>([&] {
                    return service->transcribe(job.url, job.audioStreamIndex, job.localeIdentifier,
                                               job.mediaDuration, report, token);
                });
            },
            [run, id, position](TranscriptionViewModel& self,
                                Outcome<std::vector<TranscriptFragment>> outcome) {
                if (run != self.transcriptionTask_) {
                    return;
                }
                // The stop decides first: a cancelled position never counts as failed.
                if (run.stop_requested() || (outcome.error && isCancellation(outcome.error))) {
                    self.state_.cancelRunPosition(id);
                    self.endRun(true);
                    return;
                }
                if (outcome.error) {
                    self.state_.failRunPosition(id, userMessage(outcome.error));
                } else {
                    self.state_.completeRunPosition(id, *outcome.value);
                }
                emit self.changed();
                self.runFrom(run, position + 1);
            });
        return;
    }
    endRun(false);
}

void TranscriptionViewModel::endRun(bool wasCancelled) {
    state_.finishTranscriptionBatch(wasCancelled);
    startProbeTaskIfNeeded();
    emit changed();
}

void TranscriptionViewModel::cancelTranscription() {
    if (!state_.cancelTranscription()) {
        return;
    }
    // The run is marked stopped before its child is.
    transcriptionTask_.request_stop();
    services_.transcription->cancel();
    emit changed();
}

void TranscriptionViewModel::clearSelectedTranscript() {
    state_.clearSelectedTranscript();
    emit changed();
}

// ---- Subtitle export and timing ------------------------------------------------------------

void TranscriptionViewModel::exportSubtitles() {
    const auto* selected = state_.selectedSource();
    const auto suggested = state_.subtitleExportSuggestedName();
    if (!selected || !suggested || awaitingOutputCheck_) {
        return;
    }
    const auto destination = panels_.chooseSubtitleExportFile(*suggested, SubtitleFileFormat::srt,
                                                              selected->url.parent_path());
    if (!destination) {
        return;
    }
    afterOutputCheck(
        {{destination->parent_path()}, {}, std::nullopt},
        [this, destination = *destination](const auto&) { exportSubtitlesTo(destination); });
}

void TranscriptionViewModel::exportSubtitlesTo(const std::filesystem::path& destination) {
    exportTask_.request_stop();
    exportTask_ = std::stop_source();
    state_.message.reset();
    state_.errorMessage.reset();
    exportRunning_ = true;
    emit changed();
    const auto task = exportTask_;
    runGuardedTask(
        this, pool_,
        [exporter = services_.exporter, cues = state_.subtitleExportCues(), destination] {
            return capture<bool>([&] {
                exporter->exportFile(cues, SubtitleFileFormat::srt, destination);
                return true;
            });
        },
        [task, name = destination.filename().string()](TranscriptionViewModel& self,
                                                       Outcome<bool> outcome) {
            // An export that reached the exporter completes and reports, as a stop cannot undo it.
            if (outcome.error) {
                self.state_.errorMessage = userMessage(outcome.error);
            } else {
                self.state_.message = "Exported " + name + ".";
            }
            if (task == self.exportTask_) {
                self.exportRunning_ = false;
            }
            emit self.changed();
        });
}

void TranscriptionViewModel::applySubtitleTimingOffset(double shift) {
    state_.applySubtitleTimingOffset(shift);
    emit changed();
}

void TranscriptionViewModel::applySubtitleTimingOffsetToCompletedSources() {
    state_.applySubtitleTimingOffsetToCompletedSources();
    emit changed();
}

// ---- Chapters ------------------------------------------------------------------------------

void TranscriptionViewModel::addChapterAtCue(const SubtitleCue& cue) {
    state_.addChapterAtCue(cue);
    emit changed();
}

void TranscriptionViewModel::removeChapter(const Uuid& id) {
    state_.removeChapter(id);
    emit changed();
}

// ---- Media export --------------------------------------------------------------------------

void TranscriptionViewModel::afterOutputCheck(
    OutputFolderChecker::Question question,
    std::function<void(const OutputFolderChecker::Findings&)> then) {
    awaitingOutputCheck_ = true;
    outputFolderCheck_.ask(std::move(question), true,
                           [this, then = std::move(then)](const auto& findings) {
                               awaitingOutputCheck_ = false;
                               state_.message.reset();
                               if (findings.problem) {
                                   state_.errorMessage = findings.problem;
                                   emit changed();
                               } else {
                                   then(findings);
                               }
                           });
    emit changed();
}

OutputFolderChecker::Question TranscriptionViewModel::batchOutputQuestion() const {
    OutputFolderChecker::Question question{{}, state_.batchMediaOutputs(), std::nullopt};
    for (const auto& output : question.files) {
        if (std::find(question.folders.begin(), question.folders.end(), output.parent_path()) ==
            question.folders.end()) {
            question.folders.push_back(output.parent_path());
        }
    }
    return question;
}

// The marked sources' outputs are asked about whenever they change, so the batch export's
// readiness can name an existing output without the GUI thread touching the disk.
void TranscriptionViewModel::followExportOutputs() {
    if (awaitingOutputCheck_) {
        return;
    }
    auto question = batchOutputQuestion();
    if (question.files.empty()) {
        outputFolderCheck_.reset();
    } else {
        outputFolderCheck_.ask(std::move(question));
    }
}

void TranscriptionViewModel::exportSelectedMedia() {
    const auto* selected = state_.selectedSource();
    if (!selected || awaitingOutputCheck_) {
        return;
    }
    if (auto blocker = state_.mediaExportBlocker()) {
        state_.errorMessage = blocker;
        emit changed();
        return;
    }
    // The panel offers a name free on the disk and in the queue ("clip-transcribed.mkv",
    // "clip-transcribed 2.mkv", …), looked for off the GUI thread.
    const std::filesystem::path suggested = *state_.mediaExportSuggestedName();
    const std::filesystem::path folder = selected->url.parent_path();
    afterOutputCheck({{},
                      {},
                      OutputFolderChecker::FreeNameSearch{folder, suggested.stem().string(),
                                                          suggested.extension().string(),
                                                          queue_.claimedOutputs()}},
                     [this, id = selected->id, folder](const auto& found) {
                         if (state_.selectedSourceID == id && found.freeName) {
                             exportSelectedMediaTo(id, found.freeName->filename().string(), folder);
                         }
                     });
}

void TranscriptionViewModel::exportSelectedMediaTo(const Uuid& id, const std::string& suggestedName,
                                                   const std::filesystem::path& folder) {
    const auto destination =
        panels_.chooseOutputFile(suggestedName, state_.mediaOutputContainer(), folder);
    if (!destination || state_.selectedSourceID != id) {
        emit changed();
        return;
    }
    // Whether the destination exists, or is the source under another name, is asked off the
    // GUI thread with its folder; the request is made from that answer.
    afterOutputCheck(
        {{destination->parent_path()}, state_.mediaExportFiles(*destination), std::nullopt},
        [this, id, destination = *destination](const auto&) {
            if (state_.selectedSourceID != id) {
                return;  // another source was chosen meanwhile
            }
            if (auto request = state_.selectedMediaRequest(destination)) {
                queue_.enqueueNext({ProcessingRequest(*request)});
                state_.noteMediaQueued(1, destination, false);
            }
            emit changed();
        });
}

void TranscriptionViewModel::exportCheckedMediaInBatch() {
    if (awaitingOutputCheck_) {
        return;
    }
    syncReplacements();
    afterOutputCheck(batchOutputQuestion(), [this](const auto&) {
        const auto requests = state_.batchMediaRequests();
        if (requests) {
            for (const auto& request : *requests) {
                if (!request.replacesInput) {
                    continue;
                }
                if (const auto identity = outputFolderCheck_.identity(request.input)) {
                    queuedReplacementInputs_[request.input] = *identity;
                    state_.pendingReplacements.insert(*identity);
                }
            }
            queue_.enqueueNext(std::vector<ProcessingRequest>(requests->begin(), requests->end()));
            state_.noteMediaQueued(requests->size(), {}, true);
        }
        emit changed();
    });
}

void TranscriptionViewModel::syncReplacements() {
    std::set<FileIdentity> pending;
    bool reinspect = false;
    for (const auto& job : queue_.jobs()) {
        const auto* request = job.request.as<TranscriptionMediaRequest>();
        if (!request || !request->replacesInput) {
            continue;
        }
        using Kind = ProcessingJob::Status::Kind;
        if (job.status.kind == Kind::queued || job.status.kind == Kind::running) {
            const auto queued = queuedReplacementInputs_.find(request->input);
            if (queued != queuedReplacementInputs_.end()) {
                pending.insert(queued->second);
            }
        } else if (job.status.kind == Kind::completed &&
                   finishedReplacementJobs_.insert(job.id).second) {
            // Once per finished job. The file now carries the transcript: its streams must be
            // read again.
            const auto queued = queuedReplacementInputs_.find(request->input);
            state_.markForInspection(request->input, queued == queuedReplacementInputs_.end()
                                                         ? std::nullopt
                                                         : std::optional(queued->second));
            noteReplaced(request->input);
            reinspect = true;
        }
    }
    if (pending == state_.pendingReplacements && !reinspect) {
        return;
    }
    state_.pendingReplacements = std::move(pending);
    startProbeTaskIfNeeded();
    emit changed();
}

// Which file the replacement left under the name, read off the GUI thread: a slow mount would
// hold the window, and a hung one a pool's thread for good.
void TranscriptionViewModel::noteReplaced(const std::filesystem::path& input) {
    identityReads_->start([this, input] {
        return [this, identity = fileIdentity(input)] {
            if (identity && state_.completedReplacements.insert(*identity).second) {
                emit changed();
            }
        };
    });
}

// ---- Search across all transcripts ---------------------------------------------------------

std::shared_ptr<const std::vector<BatchTranscriptSearchResult>>
TranscriptionViewModel::noSearchResults() {
    static const auto none = std::make_shared<const std::vector<BatchTranscriptSearchResult>>();
    return none;
}

void TranscriptionViewModel::retireBatchSearchResults(
    std::shared_ptr<const std::vector<BatchTranscriptSearchResult>> results) {
    if (results && results != batchSearchResults_ && !results->empty()) {
        pool_.start([results = std::move(results)] {});
    }
}

void TranscriptionViewModel::refreshBatchSearch() {
    // Kept current while a search is possible, so a query copies no transcript on the GUI thread:
    // each change copies only the sources whose cues changed.
    if (state_.sources.size() >= 2 && batchSearchSnapshot_.cueRevision != state_.cueRevision) {
        batchSearchSnapshot_ = state_.transcriptSearchSnapshot(batchSearchSnapshot_);
    }
    if (!state_.isSearchingAllTranscripts()) {
        if (batchSearchKey_) {
            batchSearchTask_.request_stop();
            batchSearchKey_.reset();
            batchSearchResults_ = noSearchResults();
            batchSearchPending_ = false;
        }
        return;
    }
    auto key =
        std::pair(std::string(trimWhitespace(state_.batchTranscriptSearch)), state_.cueRevision);
    if (key == batchSearchKey_) {
        return;
    }
    batchSearchTask_.request_stop();
    batchSearchTask_ = std::stop_source();
    batchSearchKey_ = key;
    batchSearchPending_ = true;
    struct Outcome {
        std::shared_ptr<const std::vector<BatchTranscriptSearchResult>> results;
        TranscriptSearchSnapshot searched;
    };
    const auto task = batchSearchTask_;
    runGuardedTask(
        this, pool_,
        [snapshot = batchSearchSnapshot_, query = std::move(key.first),
         token = task.get_token()]() mutable {
            auto results = std::make_shared<const std::vector<BatchTranscriptSearchResult>>(
                searchTranscripts(snapshot, query, token));
            return Outcome{std::move(results), std::move(snapshot)};
        },
        [task](TranscriptionViewModel& self, Outcome outcome) {
            // Folded texts stay good for unchanged cues, even from a search that lost the race.
            self.batchSearchSnapshot_.adoptFoldedTexts(outcome.searched);
            if (task != self.batchSearchTask_ || task.stop_requested()) {
                return;
            }
            self.batchSearchResults_ = std::move(outcome.results);
            self.batchSearchPending_ = false;
            emit self.changed();
        });
}

// ---- Conversation summaries ----------------------------------------------------------------

void TranscriptionViewModel::summarizeConversations(bool force) {
    auto pending = state_.beginConversationSummaries(force, services_.summarizer->availability());
    if (pending.empty()) {
        emit changed();
        return;
    }
    conversationSummaryTask_.request_stop();
    conversationSummaryTask_ = std::stop_source();
    emit changed();
    summarizeNext(conversationSummaryTask_, std::move(pending), 0, 0, 0);
}

void TranscriptionViewModel::summarizeNext(std::stop_source run,
                                           std::vector<TranscriptConversation> pending,
                                           std::size_t position, int summarized, int fallbacks) {
    if (position >= pending.size()) {
        state_.finishConversationSummaries(summarized, fallbacks, false);
        emit changed();
        return;
    }
    const auto conversation = pending[position];
    runGuardedTask(
        this, pool_,
        [summarizer = services_.summarizer, conversation, token = run.get_token()] {
            return capture<std::string>([&] { return summarizer->summarize(conversation, token); });
        },
        [run, pending = std::move(pending), position, summarized, fallbacks](
            TranscriptionViewModel& self, Outcome<std::string> outcome) mutable {
            if (run.stop_requested() || (outcome.error && isCancellation(outcome.error))) {
                // Only the current run owns the running flag; a superseded one leaves it.
                if (run == self.conversationSummaryTask_) {
                    self.state_.finishConversationSummaries(summarized, fallbacks, true);
                    emit self.changed();
                }
                return;
            }
            if (outcome.error) {
                self.state_.failConversationSummary(pending[position], userMessage(outcome.error));
                ++fallbacks;
            } else if (self.state_.applyConversationSummary(pending[position], *outcome.value)) {
                ++summarized;
            }
            self.summarizeNext(run, std::move(pending), position + 1, summarized, fallbacks);
        });
}

}  // namespace tavrolin
