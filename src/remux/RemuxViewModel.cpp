#include "remux/RemuxViewModel.h"

#include <pwd.h>

#include <QUrl>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "planning/LanguageModelRemuxIntentParser.h"
#include "planning/LocalServerLanguageModel.h"
#include "queue/JobQueueViewModel.h"
#include "widgets/FilePanels.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

std::string extensionOf(const fs::path& url) {
    std::string extension = url.extension().string();
    if (!extension.empty()) {
        extension.erase(0, 1);
    }
    return extension;
}

std::string asciiLower(std::string text) {
    for (auto& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

const std::vector<MediaStream>* readyStreams(const RemuxSource& source) {
    if (const auto* ready = std::get_if<RemuxSource::Ready>(&source.inspectionState)) {
        return &ready->streams;
    }
    return nullptr;
}

bool isWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string trimmed(const std::string& text) {
    auto start = text.begin();
    auto end = text.end();
    while (start != end && isWhiteSpace(*start)) {
        ++start;
    }
    while (end != start && isWhiteSpace(*(end - 1))) {
        --end;
    }
    return std::string(start, end);
}

// A folder path without a trailing separator (except the root itself).
fs::path standardizedFolder(const fs::path& path) {
    auto normal = path.lexically_normal();
    if (!normal.has_filename() && normal.has_relative_path()) {
        normal = normal.parent_path();
    }
    return normal;
}

std::optional<std::string> homeFolder(const std::string& user) {
    if (user.empty()) {
        if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
            return std::string(home);
        }
        if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir) {
            return std::string(entry->pw_dir);
        }
        return std::nullopt;
    }
    if (const passwd* entry = getpwnam(user.c_str()); entry != nullptr && entry->pw_dir) {
        return std::string(entry->pw_dir);
    }
    return std::nullopt;
}

// "~" and "~user" at the start of a path; anything else unchanged.
std::string expandingTilde(const std::string& text) {
    if (text.empty() || text.front() != '~') {
        return text;
    }
    const auto slash = text.find('/');
    const std::string user =
        text.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    const auto home = homeFolder(user);
    if (!home) {
        return text;
    }
    return *home + (slash == std::string::npos ? std::string{} : text.substr(slash));
}

}  // namespace

RemuxViewModel::RemuxViewModel(JobQueueViewModel& queue, std::shared_ptr<MediaProbing> probeService,
                               QObject* parent)
    : QObject(parent),
      queue_(queue),
      probeService_(probeService),
      intentParser_(std::make_shared<LanguageModelRemuxIntentParser>(
          std::make_shared<LocalServerLanguageModel>(std::nullopt))),
      inspections_(*this, std::move(probeService),
                   [this](std::vector<StreamInspectionTasks::Outcome> outcomes) {
                       finishInspections(std::move(outcomes));
                   }) {
    folderChooser_ = [](const std::optional<fs::path>& startFolder) {
        return chooseOutputFolder("remux", startFolder);
    };
    connect(&outputFolderCheck_, &OutputFolderChecker::changed, this, &RemuxViewModel::changed);
    // A job that claimed an output ended or started: the review names it as it is now. No
    // source shows anything new.
    connect(&queue_, &JobQueueViewModel::claimsChanged, this, [this] {
        if (!sources_.empty()) {
            emitSourcesChanged({});
        }
    });
    // Connected first, so it runs before any view renders.
    connect(this, &RemuxViewModel::changed, this, [this] {
        if (!emittingSourcesChanged_) {
            everythingChanged_ = true;
        }
    });
}

std::optional<std::set<fs::path>> RemuxViewModel::takeChangedSources() {
    std::optional<std::set<fs::path>> changed;
    if (!everythingChanged_) {
        changed = std::move(changedSources_);
    }
    changedSources_.clear();
    everythingChanged_ = false;
    return changed;
}

void RemuxViewModel::emitSourcesChanged(const std::vector<fs::path>& urls) {
    changedSources_.insert(urls.begin(), urls.end());
    emittingSourcesChanged_ = true;
    emit changed();
    emittingSourcesChanged_ = false;
}

// A running draft request is aborted at once; its late result is dropped.
RemuxViewModel::~RemuxViewModel() {
    intentTask_.request_stop();
}

void RemuxViewModel::setOutputDirectoryText(const std::string& text) {
    outputDirectoryText_ = text;
    hasUserSelectedOutputDirectory_ = true;
    followOutputs();
    emit changed();
}

void RemuxViewModel::setContainer(std::optional<OutputContainer> container) {
    container_ = container;
    followOutputs();
    emit changed();
}

void RemuxViewModel::setPlaybackTarget(std::optional<PlaybackTarget> target) {
    playbackTarget_ = target;
    if (playbackTarget_ && !container_) {
        container_ = OutputContainer::mp4;
        followOutputs();
    }
    emit changed();
}

void RemuxViewModel::setAppliesIndividualStreamChangesToAllSources(bool applies) {
    appliesIndividualStreamChangesToAllSources_ = applies;
    emit changed();
}

// MARK: Sources and inspection

bool RemuxViewModel::addFiles(const std::vector<fs::path>& urls) {
    std::vector<fs::path> kept;
    for (const auto& url : urls) {
        if (url.is_absolute() && !extensionOf(url).empty()) {
            kept.push_back(url);
        }
    }
    if (!hasUserSelectedOutputDirectory_ && sources_.empty() && !kept.empty()) {
        outputDirectoryText_ = kept.front().parent_path().string();
    }
    bool added = false;
    for (const auto& url : kept) {
        if (findSource(url) != nullptr) {
            continue;
        }
        sources_.push_back(RemuxSource{url, RemuxSource::Loading{}, {}});
        startInspection(url);
        added = true;
    }
    if (added) {
        followOutputs();
        invalidateNaturalLanguageDraft();
    }
    emit changed();
    return added;
}

void RemuxViewModel::startInspection(const fs::path& url) {
    inspections_.start(url);
}

void RemuxViewModel::finishInspections(std::vector<StreamInspectionTasks::Outcome> outcomes) {
    // A new release read changes what every card notes.
    bool releaseChanged = false;
    std::vector<fs::path> inspected;
    for (auto& outcome : outcomes) {
        if (outcome.hasRelease) {
            releaseChanged = releaseChanged || installedRelease_ != outcome.release;
            installedRelease_ = outcome.release;
        }
        RemuxSource* source = findSource(outcome.url);
        if (source == nullptr) {
            continue;
        }
        inspected.push_back(outcome.url);
        if (outcome.errorMessage) {
            source->inspectionState =
                RemuxSource::Failed{*outcome.errorMessage, outcome.retryMayHelp};
        } else {
            source->selectedStreamIndices.clear();
            for (const auto& stream : outcome.streams) {
                source->selectedStreamIndices.insert(stream.index);
            }
            source->inspectionState =
                RemuxSource::Ready{std::move(outcome.streams), outcome.chapterEditions};
        }
    }
    // The running count changed even when every outcome was dropped.
    if (releaseChanged) {
        emit changed();
    } else {
        emitSourcesChanged(inspected);
    }
}

void RemuxViewModel::removeSource(const fs::path& url) {
    inspections_.stop(url);
    if (std::erase_if(sources_, [&](const RemuxSource& source) { return source.url == url; }) > 0) {
        followOutputs();
        invalidateNaturalLanguageDraft();
    }
    emit changed();
}

void RemuxViewModel::retryInspection(const fs::path& url) {
    RemuxSource* source = findSource(url);
    if (source == nullptr) {
        return;
    }
    source->inspectionState = RemuxSource::Loading{};
    source->selectedStreamIndices.clear();
    startInspection(url);
    // The draft's indices were resolved against the streams probed before.
    invalidateNaturalLanguageDraft();
    emitSourcesChanged({url});
}

RemuxSource* RemuxViewModel::findSource(const fs::path& url) {
    const auto found = std::find_if(sources_.begin(), sources_.end(),
                                    [&](const RemuxSource& source) { return source.url == url; });
    return found == sources_.end() ? nullptr : &*found;
}

std::optional<fs::path> RemuxViewModel::outputDirectoryURL() const {
    const std::string text = trimmed(outputDirectoryText_);
    if (text.empty()) {
        return std::nullopt;
    }
    if (asciiLower(text.substr(0, 7)) == "file://") {
        const QUrl url(QString::fromStdString(text));
        if (!url.isValid() || !url.isLocalFile()) {
            return std::nullopt;
        }
        const fs::path path(url.toLocalFile().toStdString());
        if (!path.is_absolute()) {
            return std::nullopt;
        }
        return standardizedFolder(path);
    }
    const std::string expanded = expandingTilde(text);
    if (expanded.empty() || expanded.front() != '/') {
        return std::nullopt;
    }
    return standardizedFolder(fs::path(expanded));
}

void RemuxViewModel::chooseOutputDirectory() {
    std::optional<fs::path> startFolder = outputDirectoryURL();
    if (!startFolder && !sources_.empty()) {
        startFolder = sources_.front().url.parent_path();
    }
    if (!folderChooser_) {
        return;
    }
    if (auto chosen = folderChooser_(startFolder)) {
        outputDirectoryText_ = chosen->string();
        hasUserSelectedOutputDirectory_ = true;
        followOutputs();
        emit changed();
    }
}

// MARK: Stream selection

void RemuxViewModel::toggleStream(std::int64_t index, const fs::path& url) {
    const auto position =
        std::find_if(sources_.begin(), sources_.end(),
                     [&](const RemuxSource& source) { return source.url == url; });
    if (position == sources_.end()) {
        return;
    }
    const auto* streams = readyStreams(*position);
    if (streams == nullptr) {
        return;
    }
    const auto stream = std::find_if(streams->begin(), streams->end(),
                                     [&](const MediaStream& s) { return s.index == index; });
    if (stream == streams->end()) {
        return;
    }
    const MediaStream reference = *stream;
    const bool wasSelected = position->selectedStreamIndices.erase(index) > 0;
    if (!wasSelected) {
        position->selectedStreamIndices.insert(index);
    }
    appliedNaturalLanguageSummary_.reset();
    if (!appliesIndividualStreamChangesToAllSources_) {
        propagatedChangeSummary_.reset();
        emitSourcesChanged({url});
    } else {
        propagateStreamChange(reference, !wasSelected,
                              static_cast<std::size_t>(position - sources_.begin()));
        emit changed();
    }
}

void RemuxViewModel::propagateStreamChange(const MediaStream& reference, bool include,
                                           std::size_t position) {
    std::size_t targetCount = 0;
    std::size_t matchedCount = 0;
    for (std::size_t i = 0; i < sources_.size(); ++i) {
        const auto* streams = readyStreams(sources_[i]);
        if (i == position || streams == nullptr) {
            continue;
        }
        ++targetCount;
        if (auto match = semanticMatcher_.matchingStream(reference, *streams)) {
            if (include) {
                sources_[i].selectedStreamIndices.insert(match->index);
            } else {
                sources_[i].selectedStreamIndices.erase(match->index);
            }
            ++matchedCount;
        }
    }
    const std::string description = semanticMatcher_.streamDescription(reference);
    if (matchedCount >= 1) {
        propagatedChangeSummary_ =
            std::string(include ? "Included" : "Removed") + " the matching " + description +
            " in " + std::to_string(matchedCount) + " of " + std::to_string(targetCount) +
            " other " + (targetCount == 1 ? "file" : "files") + ".";
    } else {
        propagatedChangeSummary_ =
            "No confident match for the " + description + " was found in the other files.";
    }
}

void RemuxViewModel::setStreams(MediaStreamKind kind, bool included, const fs::path& url) {
    RemuxSource* source = findSource(url);
    if (source == nullptr) {
        return;
    }
    if (const auto* streams = readyStreams(*source)) {
        for (const auto& stream : *streams) {
            if (stream.kind != kind) {
                continue;
            }
            if (included) {
                source->selectedStreamIndices.insert(stream.index);
            } else {
                source->selectedStreamIndices.erase(stream.index);
            }
        }
    }
    propagatedChangeSummary_.reset();
    appliedNaturalLanguageSummary_.reset();
    emitSourcesChanged({url});
}

// MARK: Review

RemuxReview RemuxViewModel::review() const {
    const auto folder = outputDirectoryURL();
    RemuxReview review(sources_, folder, container_, playbackTarget_, installedRelease_);
    review.setOutputFolderProblem(outputFolderCheck_.problem());
    review.setOutputExists(
        [this](const fs::path& output) { return outputFolderCheck_.exists(output); });
    review.setOutputClaimed([this](const fs::path& output) { return queue_.outputClaim(output); });
    return review;
}

OutputFolderChecker::Question RemuxViewModel::outputQuestion(const fs::path& folder) const {
    return {{folder}, review().outputURLs(folder), std::nullopt};
}

// The folder and the outputs' names are asked about off the GUI thread whenever they change.
void RemuxViewModel::followOutputs() {
    if (const auto folder = outputDirectoryURL()) {
        outputFolderCheck_.ask(outputQuestion(*folder));
    } else {
        outputFolderCheck_.reset();
    }
}

std::optional<OutputContainer> RemuxViewModel::effectiveContainer(const RemuxSource& source) const {
    return review().effectiveContainer(source);
}

std::vector<MediaStream> RemuxViewModel::outputStreams(const RemuxSource& source) const {
    return review().outputStreams(source);
}

std::string RemuxViewModel::outputContainerDescription(const RemuxSource& source) const {
    return review().outputContainerDescription(source);
}

std::optional<std::string> RemuxViewModel::validationMessage() const {
    if (auto result = review().validation()) {
        return result->message;
    }
    return std::nullopt;
}

std::vector<RemuxViewModel::CompatibilityIssue> RemuxViewModel::compatibilityIssues() const {
    return review().compatibilityIssues();
}

std::optional<std::string> RemuxViewModel::compatibilitySummary() const {
    return review().compatibilitySummary();
}

bool RemuxViewModel::isPlaybackTargetStatusBlocking() const {
    return review().isPlaybackTargetStatusBlocking();
}

std::optional<std::string> RemuxViewModel::playbackTargetStatus() const {
    return review().playbackTargetStatus();
}

std::optional<std::string> RemuxViewModel::subtitleConversionNote() const {
    return review().subtitleConversionNote();
}

std::string RemuxViewModel::unsupportedStreamsAlertMessage() const {
    return review().unsupportedStreamsAlertMessage();
}

std::map<std::int64_t, std::string> RemuxViewModel::unsupportedStreamMessages(
    const RemuxSource& source) const {
    return review().unsupportedStreamMessages(source);
}

std::map<std::int64_t, std::string> RemuxViewModel::convertedSubtitleCodecs(
    const RemuxSource& source) const {
    return review().convertedSubtitleCodecs(source);
}

// MARK: Submission

void RemuxViewModel::submit(SubmissionMode mode) {
    if (!outputDirectoryURL() || review().validation()) {
        return;
    }
    // Asked again right before queueing: the folder or its names may have changed since they
    // were checked. A check still running for them is superseded.
    outputFolderCheck_.ask(outputQuestion(*outputDirectoryURL()), true,
                           [this, mode](const OutputFolderChecker::Findings& findings) {
                               if (!findings.problem) {
                                   submitChecked(mode);
                               }
                           });
    emit changed();
}

void RemuxViewModel::submitChecked(SubmissionMode mode) {
    const auto folder = outputDirectoryURL();
    if (!folder || review().validation()) {
        return;
    }
    if (review().needsConfirmation()) {
        pendingSubmission_ = mode;
        isShowingCompatibilityConfirmation_ = true;
        emit changed();
        return;
    }
    enqueueRequests(*folder, mode);
}

void RemuxViewModel::cancelCompatibilityConfirmation() {
    pendingSubmission_.reset();
    isShowingCompatibilityConfirmation_ = false;
    emit changed();
}

void RemuxViewModel::confirmDroppingUnsupportedStreams() {
    isShowingCompatibilityConfirmation_ = false;
    const auto folder = outputDirectoryURL();
    if (!folder || review().validation() || !pendingSubmission_) {
        emit changed();
        return;
    }
    const auto mode = *pendingSubmission_;
    pendingSubmission_.reset();
    enqueueRequests(*folder, mode);
}

void RemuxViewModel::enqueueRequests(const fs::path& outputFolder, SubmissionMode mode) {
    std::vector<ProcessingRequest> requests;
    requests.reserve(sources_.size());
    for (const auto& source : sources_) {
        requests.push_back(makeRemuxRequest(source, outputFolder));
    }
    // Clear first: the queue may publish changes synchronously.
    inspections_.stopAll();
    sources_.clear();
    outputDirectoryText_.clear();
    hasUserSelectedOutputDirectory_ = false;
    outputFolderCheck_.reset();
    invalidateNaturalLanguageDraft();
    emit changed();
    if (mode == SubmissionMode::queue) {
        queue_.enqueue(requests);
    } else {
        queue_.enqueueNext(requests);
    }
}

ProcessingRequest RemuxViewModel::makeRemuxRequest(const RemuxSource& source,
                                                   const fs::path& outputFolder) const {
    return review().makeRemuxRequest(source, outputFolder);
}

}  // namespace tavrolin
