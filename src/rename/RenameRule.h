#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace tavrolin {

// How a batch of episode files is named: "<show> - S<season>E<episode>.<extension>", the numbers
// zero-padded to at least `padding` digits and the episode counting up from `startingEpisode`.
// Episode numbers of one batch share one width, which grows past `padding` when the last needs it.
struct RenameRule {
    std::string showName;
    std::int64_t season = 1;
    std::int64_t startingEpisode = 1;
    std::int64_t padding = 2;

    friend bool operator==(const RenameRule&, const RenameRule&) = default;
};

// One file of a plan: its name as the caller gave it and its standardized new name.
struct RenamePlanItem {
    std::filesystem::path source;
    std::filesystem::path destination;

    friend bool operator==(const RenamePlanItem&, const RenamePlanItem&) = default;
};

}  // namespace tavrolin
