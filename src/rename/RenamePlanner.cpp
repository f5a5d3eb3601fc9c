#include "rename/RenamePlanner.h"

#include <algorithm>
#include <charconv>
#include <set>

#include "model/Paths.h"
#include "model/TextMetrics.h"
#include "rename/RenameError.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

// At least `width` digits, zero-padded on the left; never cut. `number` is positive.
std::string padded(std::int64_t number, std::int64_t width) {
    char digits[24];
    const auto result = std::to_chars(std::begin(digits), std::end(digits), number);
    std::string text(digits, result.ptr);
    if (static_cast<std::int64_t>(text.size()) < width) {
        text.insert(0, static_cast<std::size_t>(width) - text.size(), '0');
    }
    return text;
}

std::int64_t digitCount(std::int64_t number) {
    std::int64_t digits = 1;
    for (; number >= 10; number /= 10) {
        ++digits;
    }
    return digits;
}

// "/" and ":" would make a path or a confusing name; a NUL would cut the name short when it
// reaches the system call, so it goes as well.
std::string nameBase(std::string_view showName) {
    std::string base(showName);
    for (char& c : base) {
        if (c == '/' || c == ':' || c == '\0') {
            c = '-';
        }
    }
    return base;
}

}  // namespace

fs::path standardizedFolder(const fs::path& folder) {
    fs::path normal = standardizedPath(folder);
    if (!normal.has_filename() && normal.has_relative_path()) {
        normal = normal.parent_path();
    }
    return normal;
}

std::int64_t episodeDigits(const RenameRule& rule, std::size_t fileCount) {
    std::int64_t last = 0;
    if (fileCount == 0 || rule.startingEpisode < 1 ||
        __builtin_add_overflow(rule.startingEpisode, static_cast<std::int64_t>(fileCount - 1),
                               &last)) {
        return rule.padding;
    }
    return std::max(rule.padding, digitCount(last));
}

std::optional<std::string> widenedEpisodesNotice(const RenameRule& rule, std::size_t fileCount) {
    // Widening that leaves every number as it was (E12000 to E12001) needs no word.
    const std::int64_t digits = episodeDigits(rule, fileCount);
    if (digits <= rule.padding || digits <= digitCount(rule.startingEpisode)) {
        return std::nullopt;
    }
    const auto last = rule.startingEpisode + static_cast<std::int64_t>(fileCount - 1);
    return "Episode numbers reach " + std::to_string(last) + ", too many for " +
           std::to_string(rule.padding) + (rule.padding == 1 ? " digit" : " digits") +
           ", so every episode number gets " + std::to_string(digits) +
           " digits to keep the files in order.";
}

std::vector<RenamePlanItem> RenamePlanner::makePlan(
    const std::vector<fs::path>& files, const RenameRule& rule,
    const std::unordered_set<std::string>& existingFiles, std::size_t nameLimit) const {
    if (files.empty()) {
        throw RenameError::noFiles();
    }
    const std::string_view showName = trimWhitespace(rule.showName);
    if (showName.empty()) {
        throw RenameError::emptyShowName();
    }
    if (rule.season < 1 || rule.startingEpisode < 1 || rule.padding < 1 || rule.padding > 4) {
        throw RenameError::invalidNumber();
    }
    std::set<std::string> folders;
    for (const auto& file : files) {
        folders.insert(standardizedFolder(file.parent_path()).native());
    }
    if (folders.size() != 1) {
        throw RenameError::filesMustShareFolder();
    }
    const fs::path folder(*folders.begin());
    const std::string base = nameBase(showName);
    const std::string seasonText = padded(rule.season, rule.padding);

    const std::int64_t episodeWidth = episodeDigits(rule, files.size());

    std::unordered_set<std::string> ownNames;
    ownNames.reserve(files.size());
    for (const auto& file : files) {
        ownNames.insert(standardizedPath(file).native());
    }
    std::unordered_set<std::string> seen;
    seen.reserve(files.size());
    std::vector<RenamePlanItem> items;
    items.reserve(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::int64_t episode = 0;
        if (__builtin_add_overflow(rule.startingEpisode, static_cast<std::int64_t>(i), &episode)) {
            throw RenameError::invalidNumber();
        }
        std::string name = base + " - S" + seasonText + "E" + padded(episode, episodeWidth);
        name += files[i].extension().native();
        const fs::path destination = standardizedPath(folder / name);
        const std::string fileName = destination.filename().string();
        if (fileName.size() > nameLimit) {
            throw RenameError::nameTooLong(fileName, nameLimit);
        }
        if (!seen.insert(destination.native()).second) {
            throw RenameError::duplicateDestination(fileName);
        }
        if (existingFiles.contains(destination.native()) &&
            !ownNames.contains(destination.native())) {
            throw RenameError::destinationExists(fileName);
        }
        items.push_back({files[i], destination});
    }
    return items;
}

}  // namespace tavrolin
