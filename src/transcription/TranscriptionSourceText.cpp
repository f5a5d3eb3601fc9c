#include "transcription/TranscriptionSourceText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "transcription/TranscriptionWorkspaceSupport.h"

namespace tavrolin {

using Kind = BatchTranscriptionSourceStatus::Kind;

std::string sourceStatusText(const BatchTranscriptionSource& source, bool isCancellingThis) {
    switch (source.status.kind) {
        case Kind::pendingInspection:
            return "Waiting to inspect";
        case Kind::inspecting:
            return "Inspecting media…";
        case Kind::ready:
            return "Ready";
        case Kind::queued:
            return "Waiting in batch";
        case Kind::completed:
            return workspace::plural(static_cast<int>(source.cues.size()), "cue");
        case Kind::failed:
            return source.status.message;
        case Kind::transcribing:
            break;
    }
    if (isCancellingThis) {
        return "Cancelling…";
    }
    if (!source.progress) {
        return "Starting transcription";
    }
    switch (source.progress->stage) {
        case TranscriptionProgress::Stage::preparingAudio:
            return "Extracting audio";
        case TranscriptionProgress::Stage::transcribing:
            return "Transcribing speech";
        case TranscriptionProgress::Stage::preparingLanguageModel:
            break;
    }
    return "Preparing language model";
}

QString sourceStatusSymbol(Kind kind) {
    switch (kind) {
        case Kind::pendingInspection:
        case Kind::inspecting:
            return QStringLiteral("magnifyingglass");
        case Kind::ready:
            return QStringLiteral("waveform");
        case Kind::queued:
            return QStringLiteral("clock");
        case Kind::transcribing:
            return QStringLiteral("waveform.badge.magnifyingglass");
        case Kind::completed:
            return QStringLiteral("checkmark.circle.fill");
        case Kind::failed:
            break;
    }
    return QStringLiteral("exclamationmark.triangle.fill");
}

std::optional<std::string> sourcePercentText(const BatchTranscriptionSource& source) {
    const auto& progress = source.progress;
    if (!progress || progress->stage == TranscriptionProgress::Stage::preparingLanguageModel ||
        !progress->fraction || !std::isfinite(*progress->fraction)) {
        return std::nullopt;
    }
    return std::to_string(static_cast<long long>(std::round(*progress->fraction * 100))) + "%";
}

std::string clockTimeText(double seconds) {
    const long long whole = std::max(0LL, static_cast<long long>(std::trunc(seconds)));
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", whole / 3600, whole % 3600 / 60,
                  whole % 60);
    return text;
}

}  // namespace tavrolin
