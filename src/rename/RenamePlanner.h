#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/FileOperations.h"
#include "rename/RenameRule.h"

namespace tavrolin {

// Checks a batch and a rule and gives every file its new name. Pure; any thread. Throws
// RenameError at the first check that fails.
class RenamePlanner {
  public:
    // `existingFiles` holds the standardized paths (native text) of the folder's visible
    // entries. A destination may be the current name of any file of the batch, since that file
    // moves away first, but never the name of another existing file. A new name longer than
    // `nameLimit` bytes is refused. Episode numbers get episodeDigits digits.
    std::vector<RenamePlanItem> makePlan(const std::vector<std::filesystem::path>& files,
                                         const RenameRule& rule,
                                         const std::unordered_set<std::string>& existingFiles,
                                         std::size_t nameLimit = maximumFileNameBytes) const;
};

// How many digits every episode number of a batch of `fileCount` files gets: the rule's padding,
// or the digits of the last episode when it has more, so that the names sort in episode order
// ("E099", "E100") rather than mixing widths. Pure.
std::int64_t episodeDigits(const RenameRule& rule, std::size_t fileCount);
// When the episode numbers need more digits than the rule's padding and that widens some of
// them, the sentence that says so; none otherwise. Pure.
std::optional<std::string> widenedEpisodesNotice(const RenameRule& rule, std::size_t fileCount);

// A folder's standardized path (see standardizedPath) without a trailing separator, so that
// "/a/b/." and "/a/b" are one folder.
std::filesystem::path standardizedFolder(const std::filesystem::path& folder);

}  // namespace tavrolin
