#include "joinsplit/JoinViewModel.h"

#include <algorithm>

#include "joinsplit/WorkspaceFiles.h"
#include "model/MediaProcessingError.h"
#include "queue/JobQueueViewModel.h"
#include "widgets/FilePanels.h"

namespace tavrolin {

namespace fs = std::filesystem;

JoinViewModel::JoinViewModel(JobQueueViewModel& queue, std::shared_ptr<MediaProbing> probeService,
                             QObject* parent)
    : QObject(parent),
      queue_(queue),
      inspections_(*this, std::move(probeService),
                   [this](std::vector<StreamInspectionTasks::Outcome> outcomes) {
                       finishInspections(std::move(outcomes));
                   }) {
    outputFileChooser_ = [](const std::string& name, OutputContainer container,
                            const std::optional<fs::path>& startFolder) {
        return chooseOutputFile("join", name, container, startFolder);
    };
    connect(&outputFolderCheck_, &OutputFolderChecker::changed, this, &JoinViewModel::changed);
    connect(&queue_, &JobQueueViewModel::claimsChanged, this, [this] {
        if (claimedChoice_) {
            if (!queue_.claimsOutput(*claimedChoice_)) {
                claimedChoice_.reset();
            }
            emit changed();
        }
    });
}

JoinViewModel::~JoinViewModel() = default;

void JoinViewModel::setContainer(OutputContainer container) {
    if (container_ != container) {
        container_ = container;
        listChanged();
    }
}

std::optional<std::string> JoinViewModel::outputProblem() const {
    if (claimedChoice_) {
        return MediaProcessingError::outputClaimed(claimedChoice_->filename().string(),
                                                   queue_.outputClaim(*claimedChoice_))
            .what();
    }
    return outputProblem_ ? outputProblem_ : outputFolderCheck_.problem();
}

void JoinViewModel::listChanged() {
    outputProblem_.reset();
    claimedChoice_.reset();
    outputFolderCheck_.reset();  // a join waiting for it is dropped
    emit changed();
}

bool JoinViewModel::contains(const fs::path& url) const {
    return std::find(files_.begin(), files_.end(), url) != files_.end();
}

bool JoinViewModel::addFiles(const std::vector<fs::path>& urls) {
    bool added = false;
    for (const auto& url : filesWithExtension(urls)) {
        if (contains(url)) {
            continue;
        }
        files_.push_back(url);
        inspectionStates_[url] = RemuxSource::Loading{};
        inspections_.start(url);
        added = true;
    }
    if (added) {
        listChanged();
    }
    return added;
}

void JoinViewModel::finishInspections(std::vector<StreamInspectionTasks::Outcome> outcomes) {
    for (auto& outcome : outcomes) {
        // A file removed meanwhile gets no entry back.
        if (!contains(outcome.url)) {
            continue;
        }
        if (outcome.errorMessage) {
            inspectionStates_[outcome.url] =
                RemuxSource::Failed{*outcome.errorMessage, outcome.retryMayHelp};
        } else {
            inspectionStates_[outcome.url] = RemuxSource::Ready{std::move(outcome.streams)};
        }
        if (outcome.hasRelease) {
            layoutCheck_ = JoinLayoutCheck(outcome.release);
        }
    }
    emit changed();
}

void JoinViewModel::remove(const fs::path& url) {
    inspections_.stop(url);
    std::erase(files_, url);
    inspectionStates_.erase(url);
    listChanged();
}

void JoinViewModel::move(const fs::path& url, int offset) {
    const auto found = std::find(files_.begin(), files_.end(), url);
    if (found == files_.end()) {
        return;
    }
    const auto from = found - files_.begin();
    const auto to = from + offset;
    if (to < 0 || to >= static_cast<std::ptrdiff_t>(files_.size())) {
        return;
    }
    std::swap(files_[static_cast<std::size_t>(from)], files_[static_cast<std::size_t>(to)]);
    listChanged();
}

std::optional<std::string> JoinViewModel::compatibilityMessage() const {
    return layoutCheck_.compatibilityMessage(files_, inspectionStates_, container_);
}

std::string JoinViewModel::statusText() const {
    return layoutCheck_.statusText(files_, inspectionStates_, container_);
}

bool JoinViewModel::hasBlockingIssue() const {
    return layoutCheck_.hasBlockingIssue(files_, inspectionStates_, container_);
}

void JoinViewModel::chooseOutputAndQueue() {
    if (files_.size() < 2 || compatibilityMessage() || !outputFileChooser_ ||
        isCheckingOutputFolder()) {
        return;
    }
    // Offer a name that is free on the disk and in the queue: "joined.mp4", "joined 2.mp4", …
    // looked for off the GUI thread; the panel opens with the answer.
    const fs::path startFolder = files_.front().parent_path();
    outputProblem_.reset();
    claimedChoice_.reset();
    outputFolderCheck_.ask({{},
                            {},
                            OutputFolderChecker::FreeNameSearch{
                                startFolder, "joined", "." + std::string(rawValue(container_)),
                                queue_.claimedOutputs()}},
                           true, [this, startFolder](const OutputFolderChecker::Findings& found) {
                               if (found.freeName) {
                                   chooseOutput(found.freeName->filename().string(), startFolder);
                               }
                           });
    emit changed();
}

void JoinViewModel::chooseOutput(const std::string& suggestedName, const fs::path& startFolder) {
    const auto output = outputFileChooser_(suggestedName, container_, startFolder);
    if (!output) {
        return;
    }
    if (queue_.claimsOutput(*output)) {
        claimedChoice_ = output;  // named while a job claims it
        outputFolderCheck_.reset();
        emit changed();
        return;
    }
    outputFolderCheck_.ask({{output->parent_path()}, {*output}, std::nullopt}, true,
                           [this, output = *output](const OutputFolderChecker::Findings& found) {
                               if (found.existing.contains(output)) {
                                   refuseOutput("An output named \u201C" +
                                                output.filename().string() +
                                                "\u201D already exists. Choose the output again "
                                                "with another name.");
                               } else if (!found.problem) {
                                   enqueueJoin(output);
                               }
                           });
    emit changed();
}

void JoinViewModel::refuseOutput(std::string problem) {
    outputProblem_ = std::move(problem);
    outputFolderCheck_.reset();
    emit changed();
}

void JoinViewModel::enqueueJoin(const fs::path& output) {
    if (files_.size() < 2 || compatibilityMessage()) {
        return;
    }
    const std::vector<ProcessingRequest> requests{JoinRequest{files_, output}};
    // Clear first: the queue may publish changes synchronously.
    inspections_.stopAll();
    files_.clear();
    inspectionStates_.clear();
    emit changed();
    queue_.enqueue(requests);
    queue_.startWorkerIfNeeded();
}

}  // namespace tavrolin
