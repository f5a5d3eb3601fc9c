// The natural-language draft of the remux workspace: request, outcome, apply and invalidation.
#include "model/CancellationError.h"
#include "model/ErrorMessage.h"
#include "model/TextMetrics.h"
#include "remux/RemuxViewModel.h"
#include "widgets/GuardedTask.h"

namespace tavrolin {

void RemuxViewModel::setIntentParser(std::shared_ptr<RemuxIntentParsing> parser) {
    if (!parser) {
        return;
    }
    intentParser_ = std::move(parser);
    emit changed();
}

void RemuxViewModel::setNaturalLanguageInstruction(const std::string& instruction) {
    naturalLanguageInstruction_ = instruction;
    emit changed();
}

bool RemuxViewModel::canCreateNaturalLanguageDraft() const {
    return intentParser_->availability().isAvailable && !isCreatingNaturalLanguageDraft_ &&
           !trimWhitespace(naturalLanguageInstruction_).empty() && !sources_.empty() &&
           std::all_of(sources_.begin(), sources_.end(), [](const RemuxSource& source) {
               return std::holds_alternative<RemuxSource::Ready>(source.inspectionState);
           });
}

void RemuxViewModel::createNaturalLanguageDraft() {
    if (!canCreateNaturalLanguageDraft()) {
        return;
    }
    intentTask_.request_stop();
    intentTask_ = std::stop_source();
    const std::uint64_t taskID = ++intentTaskID_;
    naturalLanguageError_.reset();
    naturalLanguageDraft_.reset();
    appliedNaturalLanguageSummary_.reset();
    isCreatingNaturalLanguageDraft_ = true;
    auto snapshot = std::make_shared<const DraftSnapshot>(
        DraftSnapshot{std::string(trimWhitespace(naturalLanguageInstruction_)), sources_,
                      container_, playbackTarget_});
    const auto stop = intentTask_.get_token();
    runGuardedTask(
        this, draftPool_,
        [parser = intentParser_, snapshot, stop] {
            DraftOutcome outcome;
            try {
                outcome.plan = parser->parse(snapshot->instruction, stop);
            } catch (const CancellationError&) {
                outcome.wasCancelled = true;
            } catch (...) {
                outcome.errorMessage = userMessage(std::current_exception());
            }
            return outcome;
        },
        [taskID, stop, snapshot](RemuxViewModel& model, DraftOutcome outcome) {
            model.finishNaturalLanguageDraft(taskID, stop, std::move(outcome), *snapshot);
        });
    emit changed();
}

void RemuxViewModel::finishNaturalLanguageDraft(std::uint64_t taskID, const std::stop_token& stop,
                                                DraftOutcome outcome,
                                                const DraftSnapshot& snapshot) {
    // A superseded or invalidated task leaves the newer state alone.
    if (taskID != intentTaskID_ || !isCreatingNaturalLanguageDraft_) {
        return;
    }
    if (stop.stop_requested() || outcome.wasCancelled) {
        isCreatingNaturalLanguageDraft_ = false;
    } else if (outcome.errorMessage) {
        naturalLanguageError_ = std::move(outcome.errorMessage);
        isCreatingNaturalLanguageDraft_ = false;
    } else {
        naturalLanguageDraft_ =
            intentResolver_.resolve(snapshot.instruction, *outcome.plan, snapshot.sources,
                                    snapshot.container, snapshot.playbackTarget);
        isCreatingNaturalLanguageDraft_ = false;
    }
    emit changed();
}

void RemuxViewModel::applyNaturalLanguageDraft() {
    if (!naturalLanguageDraft_) {
        return;
    }
    const RemuxNaturalLanguageDraft draft = std::move(*naturalLanguageDraft_);
    // As with the picker, only a newly chosen target moves "Same as Input" to MP4; a draft that
    // asks for the input's container under a kept target gets it.
    const bool choosesTarget = draft.playbackTarget && draft.playbackTarget != playbackTarget_;
    container_ = draft.container;
    playbackTarget_ = draft.playbackTarget;
    if (choosesTarget && !container_) {
        container_ = OutputContainer::mp4;
    }
    for (auto& source : sources_) {
        if (const auto entry = draft.selectedStreamIndicesBySource.find(source.url);
            entry != draft.selectedStreamIndicesBySource.end()) {
            source.selectedStreamIndices = entry->second;
        }
    }
    const std::size_t count = draft.changes.size();
    appliedNaturalLanguageSummary_ =
        count == 1 ? std::string("Applied 1 draft change. Review the controls before queueing.")
                   : "Applied " + std::to_string(count) +
                         " draft changes. Review the controls before queueing.";
    naturalLanguageDraft_.reset();
    naturalLanguageError_.reset();
    emit changed();
}

void RemuxViewModel::discardNaturalLanguageDraft() {
    naturalLanguageDraft_.reset();
    naturalLanguageError_.reset();
    emit changed();
}

void RemuxViewModel::cancelNaturalLanguageDraft() {
    if (!isCreatingNaturalLanguageDraft_) {
        return;
    }
    // The request stops at once; an answer that still arrives belongs to a finished task.
    intentTask_.request_stop();
    ++intentTaskID_;
    isCreatingNaturalLanguageDraft_ = false;
    emit changed();
}

void RemuxViewModel::invalidateNaturalLanguageDraft() {
    intentTask_.request_stop();
    ++intentTaskID_;
    naturalLanguageDraft_.reset();
    naturalLanguageError_.reset();
    appliedNaturalLanguageSummary_.reset();
    isCreatingNaturalLanguageDraft_ = false;
}

}  // namespace tavrolin
