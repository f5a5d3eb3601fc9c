#include "probe/FFprobeChapterParser.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "model/TextMetrics.h"
#include "probe/ProbeJson.h"
#include "probe/ProbeText.h"

namespace tavrolin {

using namespace probejson;

std::vector<ChapterMarker> FFprobeChapterParser::parse(std::string_view standardOutput) const {
    const nlohmann::json document = parseObject(standardOutput);
    std::vector<ChapterMarker> chapters;
    const auto* elements = optionalArray(document, "chapters");
    if (elements == nullptr) {
        return chapters;
    }
    // Numbered by position in the document, skipped elements included.
    std::size_t number = 0;
    for (const auto& element : *elements) {
        ++number;
        const auto& object = asObject(element);
        const std::string startText = requiredString(object, "start_time");
        std::optional<std::string> title;
        if (const auto* tags = optionalObject(object, "tags")) {
            title = optionalString(*tags, "title");
        }
        auto start = parsePosixNumber(startText);
        if (!start || !std::isfinite(*start) || *start < 0) {
            continue;
        }
        std::string name = title ? std::string(trimWhitespace(*title)) : std::string();
        if (name.empty()) {
            name = "Chapter " + std::to_string(number);
        }
        chapters.push_back(ChapterMarker{Uuid::random(), *start, std::move(name)});
    }
    std::stable_sort(
        chapters.begin(), chapters.end(),
        [](const ChapterMarker& a, const ChapterMarker& b) { return a.startTime < b.startTime; });
    return chapters;
}

}  // namespace tavrolin
