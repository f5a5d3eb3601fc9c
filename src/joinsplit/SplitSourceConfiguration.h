#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/OutputContainer.h"
#include "model/ProcessingRequest.h"

namespace tavrolin {

enum class SplitOperationMode { range, atPoint };

std::string_view rawValue(SplitOperationMode mode);

// Seconds as the user types them: an optional sign, digits with at most one point, nothing else
// (no exponent, no spaces, no "inf"). Read the same under every locale; none when not a finite
// number.
std::optional<double> parseSplitSeconds(std::string_view text);

// The cut of one Split file: a range to extract, or a point to cut it in two. The time texts
// are kept exactly as typed and read as numbers only to validate and to build requests. A plain
// value; its functions are pure and safe on any thread.
struct SplitSourceConfiguration {
    std::filesystem::path file;
    SplitOperationMode operationMode = SplitOperationMode::range;
    std::string startText = "0";
    std::string endText = "60";
    std::string splitPointText;
    // None writes the source's own container (its extension as it stands).
    std::optional<OutputContainer> container;
    // The file's length once a preview has measured it; none while unknown.
    std::optional<double> duration;

    explicit SplitSourceConfiguration(std::filesystem::path source = {})
        : file(std::move(source)) {}

    // The preview's caption: "Start: 0s  ·  End: 60s" or "Split point: 12.5s".
    std::string selectionSummary() const;
    // The list row's summary: "0s–60s" or "Split at 12.5s".
    std::string listSummary() const;
    // Why the configuration cannot be queued; none when it can.
    std::optional<std::string> validationMessage() const;

    friend bool operator==(const SplitSourceConfiguration&,
                           const SplitSourceConfiguration&) = default;
};

// The split requests of one configuration into `folder`: "<name>-clip.<ext>" for a range,
// "<name>-part-1.<ext>" and "<name>-part-2.<ext>" for a split point. Empty when a time needed is
// not a number.
std::vector<ProcessingRequest> makeSplitRequests(const SplitSourceConfiguration& configuration,
                                                 const std::filesystem::path& folder);

// Why the whole workspace cannot be queued (no files, no folder, or the first invalid file);
// none when it can.
std::optional<std::string> splitWorkspaceValidationMessage(
    const std::vector<SplitSourceConfiguration>& sources,
    const std::optional<std::filesystem::path>& outputDirectory);

// How many files the workspace writes: one per range, two per split point.
int splitOutputCount(const std::vector<SplitSourceConfiguration>& sources);

}  // namespace tavrolin
