#include "engine/SubtitleDocumentRenderer.h"

#include <cmath>
#include <cstdint>
#include <string_view>

#include "engine/MillisecondTime.h"
#include "model/TextMetrics.h"
#include "model/Transcription.h"

namespace tavrolin {

namespace {

void validate(const std::vector<SubtitleCue>& cues) {
    if (cues.empty()) {
        throw TranscriptionError::noSpeech();
    }
    double previousEnd = 0;
    for (const auto& cue : cues) {
        // Compared as written: a cue shorter than a millisecond would read "00:00:00,000 -->
        // 00:00:00,000". A time that has no 64-bit millisecond value cannot be written at all.
        const auto start = wholeMilliseconds(cue.startTime);
        const auto end = wholeMilliseconds(cue.endTime);
        if (!std::isfinite(cue.startTime) || cue.startTime < 0 || !start || !end ||
            *start >= *end) {
            throw TranscriptionError::invalidCues(
                "Every subtitle cue needs a valid start and end time.");
        }
        if (cue.startTime < previousEnd) {
            throw TranscriptionError::invalidCues(
                "Subtitle cue times cannot overlap or run out of order.");
        }
        if (trimWhitespace(withoutNulBytes(cue.text)).empty()) {
            throw TranscriptionError::invalidCues("Subtitle cue text cannot be empty.");
        }
        previousEnd = cue.endTime;
    }
}

std::string stamp(double seconds, char separator) {
    // Validated times always have a millisecond value.
    return clockStamp(wholeMilliseconds(seconds).value_or(0), separator);
}

// Every kind of line break becomes a line feed, and lines holding nothing visible are dropped:
// an empty line inside a cue would end the cue for every reader of these formats. NUL bytes go
// first (readers end the text there), so that the bytes they joined meet the line-break rule.
std::string cueLines(std::string_view original) {
    const std::string text = withoutNulBytes(original);
    std::string unified;
    unified.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            unified += '\n';
        } else if (c == '\v' || c == '\f') {
            unified += '\n';
        } else if (text.compare(i, 2, "\u0085") == 0) {
            unified += '\n';
            i += 1;
        } else if (text.compare(i, 3, "\u2028") == 0 || text.compare(i, 3, "\u2029") == 0) {
            unified += '\n';
            i += 2;
        } else {
            unified += c;
        }
    }
    std::string lines;
    std::size_t start = 0;
    while (start <= unified.size()) {
        std::size_t end = unified.find('\n', start);
        if (end == std::string::npos) {
            end = unified.size();
        }
        const std::string_view line = std::string_view(unified).substr(start, end - start);
        if (!trimWhitespace(line).empty()) {
            if (!lines.empty()) {
                lines += '\n';
            }
            lines += line;
        }
        start = end + 1;
    }
    return lines;
}

// A timing line inside SubRip text ("00:00:05,000 --> 00:00:06,000") would start a cue of its
// own for ffmpeg's reader; an invisible word joiner inside every arrow keeps it text.
std::string neutralisedSubRip(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        result += text[i];
        if (text.compare(i, 3, "-->") == 0) {
            result += "-\u2060";
            ++i;
        }
    }
    return result;
}

}  // namespace

std::string escapeWebVTT(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string SubtitleDocumentRenderer::render(const std::vector<SubtitleCue>& cues,
                                             SubtitleFileFormat format) const {
    validate(cues);
    const bool isWebVTT = format == SubtitleFileFormat::webVTT;
    const char separator = isWebVTT ? '.' : ',';
    std::string document = isWebVTT ? "WEBVTT\n\n" : "";
    for (std::size_t i = 0; i < cues.size(); ++i) {
        const SubtitleCue& cue = cues[i];
        if (i > 0) {
            document += "\n\n";
        }
        if (!isWebVTT) {
            document += decimal(static_cast<std::int64_t>(i + 1));
            document += '\n';
        }
        document += stamp(cue.startTime, separator);
        document += " --> ";
        document += stamp(cue.endTime, separator);
        document += '\n';
        const std::string text = cueLines(trimWhitespace(cue.text));
        document += isWebVTT ? escapeWebVTT(text) : neutralisedSubRip(text);
    }
    document += '\n';
    return document;
}

}  // namespace tavrolin
