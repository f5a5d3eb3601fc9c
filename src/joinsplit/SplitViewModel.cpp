#include "joinsplit/SplitViewModel.h"

#include <algorithm>
#include <cmath>

#include "joinsplit/WorkspaceFiles.h"
#include "model/ErrorMessage.h"
#include "preview/PreviewTimeFormat.h"
#include "probe/MediaProbeError.h"
#include "queue/JobQueueViewModel.h"
#include "widgets/FilePanels.h"
#include "widgets/GuardedTask.h"

namespace tavrolin {

namespace fs = std::filesystem;

SplitViewModel::SplitViewModel(JobQueueViewModel& queue,
                               std::shared_ptr<PreviewPreparing> previewService,
                               SplitKeyframeReader keyframeReader, SplitStreamReader streamReader,
                               QObject* parent)
    : QObject(parent),
      queue_(queue),
      previewService_(std::move(previewService)),
      keyframeReader_(std::move(keyframeReader)),
      streamReader_(std::move(streamReader)) {
    folderChooser_ = [](const std::optional<fs::path>& startFolder) {
        return chooseOutputFolder("split", startFolder);
    };
    connect(&outputFolderCheck_, &OutputFolderChecker::changed, this, &SplitViewModel::changed);
    // Connected first, so that a view rendering on the change sees the check running. The names
    // depend on the files, their mode and container, and the folder; asking the same question
    // again does nothing.
    connect(this, &SplitViewModel::changed, this, [this] { followOutputs(false); });
    // The validation names the queue's jobs as they are now, and a job that ended may have
    // written one of the names.
    connect(&queue_, &JobQueueViewModel::claimsChanged, this, [this] {
        if (!sources_.empty()) {
            followOutputs(true);
            emit changed();
        }
    });
}

SplitViewModel::~SplitViewModel() {
    for (auto& [url, task] : keyframeTasks_) {
        task.request_stop();
    }
}

namespace {

struct KeyframeReading {
    std::optional<SplitKeyframes> keyframes;
    std::optional<SplitSourceStreams> streams;
    std::optional<std::string> error;
    bool notMedia = false;
};

}  // namespace

void SplitViewModel::readKeyframes(SplitSourceConfiguration& source) {
    if (!keyframeReader_) {
        return;
    }
    source.isReadingKeyframes = true;
    std::stop_source task;
    keyframeTasks_[source.file] = task;
    runGuardedTask(
        this, workers_,
        [reader = keyframeReader_, streamReader = streamReader_, file = source.file,
         stop = task.get_token()] {
            KeyframeReading reading;
            bool readable = true;
            try {
                requireRegularFile(file);
                reading.keyframes = reader(file, stop);
            } catch (const MediaProbeError& error) {
                reading.error = error.what();
                reading.notMedia = error.errorCase() == MediaProbeError::Case::notMedia ||
                                   error.errorCase() == MediaProbeError::Case::notRegularFile;
                readable = error.errorCase() == MediaProbeError::Case::processFailed;
            } catch (...) {
                reading.error = userMessage(std::current_exception());
                readable = false;
            }
            // A file refused for where it can be cut still shows its length.
            if (streamReader && readable) {
                try {
                    reading.streams = streamReader(file, stop);
                } catch (...) {
                    if (!reading.error) {
                        reading.error = userMessage(std::current_exception());
                    }
                }
            }
            return reading;
        },
        [file = source.file, stop = task.get_token()](SplitViewModel& model,
                                                      KeyframeReading reading) {
            auto* target = model.findSource(file);
            if (stop.stop_requested() || target == nullptr) {
                return;
            }
            model.keyframeTasks_.erase(file);
            target->isReadingKeyframes = false;
            target->keyframes = std::move(reading.keyframes);
            target->streams = std::move(reading.streams);
            target->keyframeError = std::move(reading.error);
            target->isNotMedia = reading.notMedia;
            target->showFileLength();
            emit model.changed();
        });
}

void SplitViewModel::stopReadingKeyframes(const fs::path& url) {
    if (auto found = keyframeTasks_.find(url); found != keyframeTasks_.end()) {
        found->second.request_stop();
        keyframeTasks_.erase(found);
    }
}

bool SplitViewModel::addFiles(const std::vector<fs::path>& urls) {
    const std::vector<fs::path> kept = filesWithExtension(urls);
    if (!hasUserSelectedOutputDirectory_ && sources_.empty() && !kept.empty()) {
        outputDirectory_ = kept.front().parent_path();
    }
    bool added = false;
    for (const auto& url : kept) {
        if (findSource(url) != nullptr) {
            continue;
        }
        readKeyframes(sources_.emplace_back(url));
        if (!selectedFile_) {
            selectedFile_ = url;
        }
        added = true;
    }
    emit changed();
    return added;
}

void SplitViewModel::chooseOutputDirectory() {
    std::optional<fs::path> startFolder = outputDirectory_;
    if (!startFolder && selectedFile_) {
        startFolder = selectedFile_->parent_path();
    }
    if (!folderChooser_) {
        return;
    }
    if (auto chosen = folderChooser_(startFolder)) {
        outputDirectory_ = std::move(chosen);
        hasUserSelectedOutputDirectory_ = true;
        emit changed();
    }
}

void SplitViewModel::removeSource(const fs::path& url) {
    const auto found = std::find_if(sources_.begin(), sources_.end(),
                                    [&](const auto& source) { return source.file == url; });
    if (found == sources_.end()) {
        return;
    }
    const auto index = static_cast<std::size_t>(found - sources_.begin());
    const bool wasSelected = selectedFile_ == url;
    stopReadingKeyframes(url);
    sources_.erase(found);
    if (wasSelected) {
        if (sources_.empty()) {
            selectedFile_.reset();
        } else {
            selectedFile_ = sources_[std::min(index, sources_.size() - 1)].file;
        }
    }
    emit changed();
}

void SplitViewModel::selectFile(const std::optional<fs::path>& url) {
    if (selectedFile_ != url) {
        selectedFile_ = url;
        emit changed();
    }
}

SplitSourceConfiguration* SplitViewModel::findSource(const fs::path& url) {
    const auto found = std::find_if(sources_.begin(), sources_.end(),
                                    [&](const auto& source) { return source.file == url; });
    return found == sources_.end() ? nullptr : &*found;
}

SplitSourceConfiguration* SplitViewModel::selectedSource() {
    return selectedFile_ ? findSource(*selectedFile_) : nullptr;
}

std::optional<SplitSourceConfiguration> SplitViewModel::selectedConfiguration() const {
    if (!selectedFile_) {
        return std::nullopt;
    }
    const auto found = std::find_if(sources_.begin(), sources_.end(), [&](const auto& source) {
        return source.file == selectedFile_;
    });
    return found == sources_.end() ? std::nullopt : std::optional(*found);
}

void SplitViewModel::editSelected(const std::function<void(SplitSourceConfiguration&)>& edit) {
    if (auto* source = selectedSource()) {
        edit(*source);
        emit changed();
    }
}

void SplitViewModel::setOperationMode(SplitOperationMode mode) {
    editSelected([&](auto& source) { source.operationMode = mode; });
}

void SplitViewModel::setStartText(const std::string& text) {
    editSelected([&](auto& source) { source.startText = text; });
}

void SplitViewModel::setEndText(const std::string& text) {
    editSelected([&](auto& source) {
        source.endText = text;
        source.endIsTyped = true;
    });
}

void SplitViewModel::setSplitPointText(const std::string& text) {
    editSelected([&](auto& source) { source.splitPointText = text; });
}

void SplitViewModel::setContainer(std::optional<OutputContainer> container) {
    editSelected([&](auto& source) { source.container = container; });
}

void SplitViewModel::setStartFromPreview(double seconds) {
    editSelected([&](auto& source) {
        source.startText = formatPreviewSeconds(seconds);
        source.operationMode = SplitOperationMode::range;
    });
}

void SplitViewModel::setEndFromPreview(double seconds) {
    editSelected([&](auto& source) {
        source.endText = formatPreviewSeconds(seconds);
        source.endIsTyped = true;
        source.operationMode = SplitOperationMode::range;
    });
}

void SplitViewModel::setSplitPointFromPreview(double seconds) {
    editSelected([&](auto& source) {
        source.splitPointText = formatPreviewSeconds(seconds);
        source.operationMode = SplitOperationMode::atPoint;
    });
}

std::optional<std::string> SplitViewModel::validationMessage() const {
    if (const auto& problem = outputFolderProblem()) {
        return problem;
    }
    // A job queued to the same file, or a file already there, would fail after "Ready".
    return splitWorkspaceValidationMessage(
        sources_, outputDirectory_,
        {[this](const fs::path& output) { return queue_.outputClaim(output); },
         [this](const fs::path& output) { return outputFolderCheck_.exists(output); }});
}

OutputFolderChecker::Question SplitViewModel::outputQuestion() const {
    OutputFolderChecker::Question question{{*outputDirectory_}, {}, std::nullopt};
    for (const auto& source : sources_) {
        for (auto& output : splitOutputs(source, *outputDirectory_)) {
            question.files.push_back(std::move(output));
        }
    }
    return question;
}

// The folder and the outputs' names are asked about off the GUI thread whenever they change;
// `again` asks even when they did not (a job that ended may have written one), unless a check
// runs: its answer is as new, and a submission may wait for it.
void SplitViewModel::followOutputs(bool again) {
    if (again && outputFolderCheck_.isChecking()) {
        return;
    }
    if (outputDirectory_ && !sources_.empty()) {
        outputFolderCheck_.ask(outputQuestion(), again);
    } else {
        outputFolderCheck_.follow(outputDirectory_);
    }
}

int SplitViewModel::outputCount() const {
    return splitOutputCount(sources_);
}

std::vector<ProcessingRequest> SplitViewModel::makeRequests(
    const SplitSourceConfiguration& configuration, const fs::path& folder) const {
    return makeSplitRequests(configuration, folder);
}

void SplitViewModel::submit() {
    if (validationMessage() || !outputDirectory_) {
        return;
    }
    // Asked again right before queueing: the folder or its names may have changed since they
    // were checked. A check still running for them is superseded.
    outputFolderCheck_.ask(outputQuestion(), true,
                           [this](const OutputFolderChecker::Findings& findings) {
                               if (!findings.problem) {
                                   enqueueChecked();
                               }
                           });
    emit changed();
}

void SplitViewModel::enqueueChecked() {
    if (validationMessage() || !outputDirectory_) {
        return;
    }
    std::vector<ProcessingRequest> requests;
    for (const auto& source : sources_) {
        auto made = makeRequests(source, *outputDirectory_);
        requests.insert(requests.end(), made.begin(), made.end());
    }
    // Clear first: the queue may publish changes synchronously.
    for (const auto& source : sources_) {
        stopReadingKeyframes(source.file);
    }
    sources_.clear();
    selectedFile_.reset();
    outputDirectory_.reset();
    hasUserSelectedOutputDirectory_ = false;
    outputFolderCheck_.reset();
    emit changed();
    queue_.enqueue(requests);
    queue_.startWorkerIfNeeded();
}

}  // namespace tavrolin
