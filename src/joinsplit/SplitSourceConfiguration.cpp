#include "joinsplit/SplitSourceConfiguration.h"

#include <cmath>

#include "probe/ProbeText.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

constexpr const char* rangeMessage = "Enter an end time later than the start time.";
constexpr const char* splitPointMessage = "Choose a split point after the beginning of the video.";

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Before the known end; anything goes while the length is unknown.
bool isBeforeEnd(double seconds, const std::optional<double>& duration) {
    return !duration || seconds < *duration;
}

fs::path outputPath(const fs::path& folder, const fs::path& file, const std::string& suffix,
                    const std::string& extension) {
    std::string name = file.stem().string() + "-" + suffix;
    if (!extension.empty()) {
        name += "." + extension;
    }
    return folder / name;
}

}  // namespace

std::string_view rawValue(SplitOperationMode mode) {
    return mode == SplitOperationMode::range ? "range" : "atPoint";
}

std::optional<double> parseSplitSeconds(std::string_view text) {
    std::string_view body = text;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
        body.remove_prefix(1);
    }
    int digits = 0;
    int points = 0;
    for (char c : body) {
        if (isDigit(c)) {
            ++digits;
        } else if (c == '.') {
            ++points;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0 || points > 1) {
        return std::nullopt;
    }
    const auto value = parsePosixNumber(text);
    if (!value || !std::isfinite(*value)) {
        return std::nullopt;
    }
    return value;
}

std::string SplitSourceConfiguration::selectionSummary() const {
    if (operationMode == SplitOperationMode::range) {
        return "Start: " + startText + "s  \u00B7  End: " + endText + "s";
    }
    return "Split point: " +
           (splitPointText.empty() ? std::string("Not set") : splitPointText + "s");
}

std::string SplitSourceConfiguration::listSummary() const {
    if (operationMode == SplitOperationMode::range) {
        return startText + "s\u2013" + endText + "s";
    }
    return "Split at " + (splitPointText.empty() ? std::string("\u2014") : splitPointText + "s");
}

std::optional<std::string> SplitSourceConfiguration::validationMessage() const {
    if (operationMode == SplitOperationMode::atPoint) {
        const auto point = parseSplitSeconds(splitPointText);
        if (point && *point > 0 && isBeforeEnd(*point, duration)) {
            return std::nullopt;
        }
        return splitPointMessage;
    }
    const auto start = parseSplitSeconds(startText);
    const auto end = parseSplitSeconds(endText);
    if (start && end && *start >= 0 && *start < *end && isBeforeEnd(*start, duration)) {
        return std::nullopt;
    }
    return rangeMessage;
}

std::vector<ProcessingRequest> makeSplitRequests(const SplitSourceConfiguration& configuration,
                                                 const fs::path& folder) {
    const fs::path& file = configuration.file;
    std::string extension;
    if (configuration.container) {
        extension = std::string(rawValue(*configuration.container));
    } else if (file.has_extension()) {
        extension = file.extension().string().substr(1);
    }
    if (configuration.operationMode == SplitOperationMode::range) {
        const auto start = parseSplitSeconds(configuration.startText);
        const auto end = parseSplitSeconds(configuration.endText);
        if (!start || !end) {
            return {};
        }
        return {SplitRequest{file, outputPath(folder, file, "clip", extension), *start, *end}};
    }
    const auto point = parseSplitSeconds(configuration.splitPointText);
    if (!point) {
        return {};
    }
    return {
        SplitRequest{file, outputPath(folder, file, "part-1", extension), 0, *point},
        SplitRequest{file, outputPath(folder, file, "part-2", extension), *point, std::nullopt}};
}

std::optional<std::string> splitWorkspaceValidationMessage(
    const std::vector<SplitSourceConfiguration>& sources,
    const std::optional<fs::path>& outputDirectory) {
    if (sources.empty()) {
        return "Add at least one file.";
    }
    if (!outputDirectory) {
        return "Choose an output folder.";
    }
    for (const auto& source : sources) {
        if (auto message = source.validationMessage()) {
            return source.file.filename().string() + ": " + *message;
        }
    }
    return std::nullopt;
}

int splitOutputCount(const std::vector<SplitSourceConfiguration>& sources) {
    int count = 0;
    for (const auto& source : sources) {
        count += source.operationMode == SplitOperationMode::range ? 1 : 2;
    }
    return count;
}

}  // namespace tavrolin
