#include "engine/ChapterMetadataRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

#include "engine/MillisecondTime.h"
#include "model/MediaProcessingError.h"
#include "model/TextMetrics.h"

namespace tavrolin {

namespace {

const char* const durationMessage =
    "Tavrolin could not determine the source duration needed to write chapters.";
const char* const orderMessage = "Chapter markers must have distinct, increasing times.";
const char* const endMessage = "Every chapter marker must be earlier than the end of the source.";

bool isValidStart(double time) {
    return std::isfinite(time) && time >= 0;
}

// One chapter section, times in milliseconds, with every tag.
void appendChapter(std::string& text, std::int64_t start, std::int64_t end,
                   const SourceTags& tags) {
    text += "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=";
    text += decimal(start);
    text += "\nEND=";
    text += decimal(end);
    text += '\n';
    for (const auto& [key, value] : tags) {
        text += ffmetadataTagLine(key, value);
    }
}

}  // namespace

std::string ffmetadataTagLine(std::string_view key, std::string_view value) {
    const std::string name = withoutNulBytes(key);
    if (name.empty()) {
        return {};
    }
    // Escaped, no line starts a comment (";", "#") or a section ("["), and no "=" in the key
    // ends it early.
    const auto escaped = [](std::string_view text) {
        std::string out;
        out.reserve(text.size());
        for (char c : text) {
            switch (c) {
                case '\\':
                case '=':
                case ';':
                case '#':
                case '[':
                case '\n':
                case '\r':
                    out += '\\';
                    out += c;
                    break;
                case '\0':
                    break;  // a tag is a C string: ffmpeg could never carry it
                default:
                    out += c;
            }
        }
        return out;
    };
    std::string line = escaped(name) + '=' + escaped(value);
    // ffmpeg 5.1's reader takes a line feed after any backslash, even an escaped one, as part of
    // the line; a NUL byte ends the line there, and the line feed after it is an empty line.
    if (line.back() == '\\') {
        line += '\0';
    }
    line += '\n';
    return line;
}

std::string ChapterMetadataRenderer::render(const std::vector<ChapterMarker>& chapters,
                                            double duration) const {
    const std::optional<std::int64_t> durationMs =
        std::isfinite(duration) && duration > 0 ? wholeMilliseconds(duration) : std::nullopt;
    if (!durationMs) {
        throw MediaProcessingError::invalidRequest(durationMessage);
    }

    std::vector<ChapterMarker> sorted = chapters;
    // NaN times sort last (a plain "<" would break the sort); the loop below refuses them.
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const ChapterMarker& a, const ChapterMarker& b) {
                         if (std::isnan(a.startTime)) {
                             return false;
                         }
                         return std::isnan(b.startTime) || a.startTime < b.startTime;
                     });
    if (sorted.empty()) {
        throw MediaProcessingError::invalidRequest("Add at least one chapter marker.");
    }

    std::string text = ";FFMETADATA1\n";
    std::int64_t previousStart = -1;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        const ChapterMarker& marker = sorted[i];
        // ffmpeg ends a title at a NUL byte.
        const std::string untrimmed = withoutNulBytes(marker.title);
        const std::string_view title = trimWhitespace(untrimmed);
        if (title.empty()) {
            throw MediaProcessingError::invalidRequest("Every chapter needs a title.");
        }
        if (!isValidStart(marker.startTime)) {
            throw MediaProcessingError::invalidRequest("Chapter times must be zero or later.");
        }
        // Times beyond what milliseconds can hold lie beyond the end of any source.
        const std::optional<std::int64_t> start = wholeMilliseconds(marker.startTime);
        if (!start) {
            throw MediaProcessingError::invalidRequest(endMessage);
        }
        if (*start <= previousStart) {
            throw MediaProcessingError::invalidRequest(orderMessage);
        }
        const bool isLast = i + 1 == sorted.size();
        std::int64_t end = *durationMs;
        if (!isLast) {
            const double next = sorted[i + 1].startTime;
            if (!isValidStart(next)) {
                throw MediaProcessingError::invalidRequest("Chapter times must be zero or later.");
            }
            const std::optional<std::int64_t> nextStart = wholeMilliseconds(next);
            if (!nextStart) {
                throw MediaProcessingError::invalidRequest(endMessage);
            }
            end = *nextStart;
        }
        if (end <= *start) {
            throw MediaProcessingError::invalidRequest(isLast ? endMessage : orderMessage);
        }
        if (end > *durationMs) {
            throw MediaProcessingError::invalidRequest(endMessage);
        }
        text += "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=";
        text += decimal(*start);
        text += "\nEND=";
        text += decimal(end);
        // A marker's title is one line, as the chapter editor shows it.
        std::string oneLine(title);
        std::replace_if(
            oneLine.begin(), oneLine.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
        text += '\n';
        text += ffmetadataTagLine("title", oneLine);
        previousStart = *start;
    }
    return text;
}

std::vector<std::size_t> chaptersInPart(const std::vector<SourceChapter>& chapters, double from,
                                        std::optional<double> to) {
    const auto origin = wholeMilliseconds(from);
    const auto limit = to ? wholeMilliseconds(*to) : std::optional<std::int64_t>(INT64_MAX);
    std::vector<std::size_t> inside;
    for (std::size_t i = 0; origin && limit && i < chapters.size(); ++i) {
        const auto start = wholeMilliseconds(chapters[i].start);
        const auto end = wholeMilliseconds(chapters[i].end);
        if (start && end && std::min(*end, *limit) > std::max(*start, *origin)) {
            inside.push_back(i);
        }
    }
    return inside;
}

std::optional<std::string> ChapterMetadataRenderer::renderPart(
    const std::vector<SourceChapter>& chapters, double from, std::optional<double> to) const {
    const auto inside = chaptersInPart(chapters, from, to);
    if (inside.empty()) {
        return std::nullopt;
    }
    const std::int64_t origin = *wholeMilliseconds(from);
    const std::int64_t limit = to ? *wholeMilliseconds(*to) : INT64_MAX;
    std::string text = ";FFMETADATA1\n";
    for (const std::size_t i : inside) {
        const auto& chapter = chapters[i];
        appendChapter(text, std::max(*wholeMilliseconds(chapter.start), origin) - origin,
                      std::min(*wholeMilliseconds(chapter.end), limit) - origin, chapter.tags);
    }
    return text;
}

std::string ChapterMetadataRenderer::renderFile(const SourceTags& tags,
                                                const std::vector<SourceChapter>& chapters) const {
    std::string text = ";FFMETADATA1\n";
    for (const auto& [key, value] : tags) {
        text += ffmetadataTagLine(key, value);
    }
    for (const auto& chapter : chapters) {
        const auto start = wholeMilliseconds(chapter.start);
        const auto end = wholeMilliseconds(chapter.end);
        if (start && end && *end > *start) {
            appendChapter(text, *start, *end, chapter.tags);
        }
    }
    return text;
}

}  // namespace tavrolin
