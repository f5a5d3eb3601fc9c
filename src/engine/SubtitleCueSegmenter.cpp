#include "engine/SubtitleCueSegmenter.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "model/TextMetrics.h"

namespace tavrolin {

namespace {

// A sentence-ending cue is closed only once it is long enough to read.
constexpr double sentenceMinimumSpan = 1.2;
// Weight floor, so that a zero-length fragment still counts a little.
constexpr double minimumWeight = 0.001;

struct CleanFragment {
    std::string text;
    double startTime;
    double endTime;
    std::optional<double> confidence;
};

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// The fragments' texts joined with spaces; punctuation attaches to the word before it.
std::string cueText(const std::vector<CleanFragment>& fragments) {
    std::string text;
    for (const auto& fragment : fragments) {
        if (!text.empty()) {
            text.push_back(' ');
        }
        text += fragment.text;
    }
    for (const char* mark : {",", ".", "!", "?", ";", ":"}) {
        replaceAll(text, std::string(" ") + mark, mark);
    }
    return text;
}

bool endsSentence(std::string_view text) {
    // Most texts fail the byte test; the cluster test only confirms the rest.
    if (!text.ends_with('.') && !text.ends_with('!') && !text.ends_with('?') &&
        !text.ends_with("\u2026")) {
        return false;
    }
    const std::string_view last = lastGrapheme(text);
    return last == "." || last == "!" || last == "?" || last == "\u2026";
}

double span(const std::vector<CleanFragment>& cue) {
    return cue.back().endTime - cue.front().startTime;
}

SubtitleCue makeCue(std::int64_t id, const std::vector<CleanFragment>& fragments) {
    SubtitleCue cue;
    cue.id = id;
    cue.startTime = fragments.front().startTime;
    cue.endTime = fragments.back().endTime;
    cue.text = cueText(fragments);
    double weightedSum = 0;
    double totalWeight = 0;
    for (const auto& fragment : fragments) {
        if (fragment.confidence) {
            const double weight = std::max(fragment.endTime - fragment.startTime, minimumWeight);
            weightedSum += *fragment.confidence * weight;
            totalWeight += weight;
        }
    }
    if (totalWeight > 0) {
        cue.confidence = weightedSum / totalWeight;
    }
    return cue;
}

}  // namespace

std::vector<SubtitleCue> SubtitleCueSegmenter::segment(
    const std::vector<TranscriptFragment>& fragments) const {
    std::vector<CleanFragment> usable;
    usable.reserve(fragments.size());
    for (const auto& fragment : fragments) {
        std::string text = collapseWhitespace(fragment.text);
        if (text.empty() || !std::isfinite(fragment.startTime) ||
            !std::isfinite(fragment.endTime) || fragment.startTime < 0 ||
            !(fragment.startTime < fragment.endTime)) {
            continue;
        }
        // A confidence that is not a number would poison the cue's mean; treat it as absent.
        std::optional<double> confidence = fragment.confidence;
        if (confidence && !std::isfinite(*confidence)) {
            confidence.reset();
        }
        usable.push_back({std::move(text), fragment.startTime, fragment.endTime, confidence});
    }
    std::stable_sort(usable.begin(), usable.end(),
                     [](const CleanFragment& a, const CleanFragment& b) {
                         if (a.startTime != b.startTime) {
                             return a.startTime < b.startTime;
                         }
                         return a.endTime < b.endTime;
                     });

    std::vector<std::vector<CleanFragment>> finished;
    std::vector<CleanFragment> open;
    auto close = [&] {
        finished.push_back(std::move(open));
        open.clear();
    };
    for (auto& fragment : usable) {
        if (!open.empty()) {
            const bool tooLate = fragment.startTime - open.back().endTime > maximumGap;
            const bool tooLong = fragment.endTime - open.front().startTime > maximumDuration;
            if (tooLate || tooLong) {
                close();
            } else {
                open.push_back(fragment);
                const std::string candidate = cueText(open);
                open.pop_back();
                // A character is at least one byte, so short texts need no counting.
                const bool tooMany =
                    static_cast<std::int64_t>(candidate.size()) > maximumCharacters &&
                    static_cast<std::int64_t>(graphemeCount(candidate)) > maximumCharacters;
                if (tooMany) {
                    close();
                }
            }
        }
        open.push_back(std::move(fragment));
        if (span(open) >= sentenceMinimumSpan && endsSentence(cueText(open))) {
            close();
        }
    }
    if (!open.empty()) {
        close();
    }

    std::vector<SubtitleCue> cues;
    cues.reserve(finished.size());
    for (std::size_t i = 0; i < finished.size(); ++i) {
        cues.push_back(makeCue(static_cast<std::int64_t>(i + 1), finished[i]));
    }
    return cues;
}

}  // namespace tavrolin
