#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "model/MediaStream.h"
#include "model/OutputContainer.h"

namespace tavrolin {

enum class RemuxStreamSetOperation {
    retainAll,
    removeAll,
    retainOnly,
    include,
    exclude,
    deduplicate
};
enum class RemuxStreamCardinality { all, best, first, last, exactly, atMost, atLeast };
enum class RemuxStreamGrouping {
    none,
    language,
    role,
    languageAndRole,
    languageRoleAndChannels,
    codec
};
enum class RemuxStreamRanking {
    sourceOrder,
    defaultFirst,
    defaultAtmosChannels,
    highestChannelCount,
    codecQuality
};
enum class RemuxStreamFallback { preserveCurrentAndWarn, keepBestAndWarn, fail };
enum class RemuxStreamMatchMode { all, any };
enum class RemuxStreamRole { main, commentary, descriptive, forced, sdh, signsAndSongs };

inline constexpr std::array<RemuxStreamRole, 6> allRemuxStreamRoles{
    RemuxStreamRole::main,   RemuxStreamRole::commentary, RemuxStreamRole::descriptive,
    RemuxStreamRole::forced, RemuxStreamRole::sdh,        RemuxStreamRole::signsAndSongs};

inline std::string_view rawValue(RemuxStreamRole role) {
    switch (role) {
        case RemuxStreamRole::main:
            return "main";
        case RemuxStreamRole::commentary:
            return "commentary";
        case RemuxStreamRole::descriptive:
            return "descriptive";
        case RemuxStreamRole::forced:
            return "forced";
        case RemuxStreamRole::sdh:
            return "sdh";
        case RemuxStreamRole::signsAndSongs:
            return "signsAndSongs";
    }
    return "main";
}

// Exact, case-sensitive.
inline std::optional<RemuxStreamRole> remuxStreamRoleFromRaw(std::string_view raw) {
    for (auto role : allRemuxStreamRoles) {
        if (rawValue(role) == raw) {
            return role;
        }
    }
    return std::nullopt;
}

struct RemuxStreamPredicate {
    std::vector<std::string> languages;
    std::vector<std::int64_t> channelCounts;
    std::vector<RemuxStreamRole> roles;
    std::vector<std::string> codecs;
    std::vector<std::string> titleTerms;
    RemuxStreamMatchMode matchMode = RemuxStreamMatchMode::all;

    friend bool operator==(const RemuxStreamPredicate&, const RemuxStreamPredicate&) = default;
};

struct RemuxStreamOperation {
    MediaStreamKind kind = MediaStreamKind::video;
    RemuxStreamSetOperation operation = RemuxStreamSetOperation::retainAll;
    RemuxStreamPredicate predicate;
    RemuxStreamCardinality cardinality = RemuxStreamCardinality::all;
    std::optional<std::int64_t> count;
    RemuxStreamGrouping grouping = RemuxStreamGrouping::none;
    RemuxStreamRanking ranking = RemuxStreamRanking::sourceOrder;
    RemuxStreamFallback fallback = RemuxStreamFallback::preserveCurrentAndWarn;

    friend bool operator==(const RemuxStreamOperation&, const RemuxStreamOperation&) = default;
};

// What a typed request asks of the output container.
struct RemuxContainerPreference {
    enum class Choice { unchanged, sameAsInput, container };

    Choice choice = Choice::unchanged;
    OutputContainer container = OutputContainer::mp4;  // read only with Choice::container

    static RemuxContainerPreference unchanged() { return {}; }
    static RemuxContainerPreference sameAsInput() { return {Choice::sameAsInput}; }
    static RemuxContainerPreference named(OutputContainer container) {
        return {Choice::container, container};
    }

    friend bool operator==(const RemuxContainerPreference&,
                           const RemuxContainerPreference&) = default;
};

enum class RemuxPlaybackPreference { unchanged, containerCompatibilityOnly, iPhone17Pro };

// A file-independent plan: video operations first, then audio, then subtitle.
struct RemuxIntentPlan {
    RemuxContainerPreference container;
    RemuxPlaybackPreference playback = RemuxPlaybackPreference::unchanged;
    std::vector<RemuxStreamOperation> operations;

    friend bool operator==(const RemuxIntentPlan&, const RemuxIntentPlan&) = default;
};

// The reviewable result of one typed request.
struct RemuxNaturalLanguageDraft {
    std::string instruction;
    std::optional<OutputContainer> container;
    std::optional<PlaybackTarget> playbackTarget;
    std::vector<std::string> interpretedPlan;
    std::map<std::filesystem::path, std::set<std::int64_t>> selectedStreamIndicesBySource;
    std::vector<std::string> changes;
    std::vector<std::string> warnings;

    friend bool operator==(const RemuxNaturalLanguageDraft&,
                           const RemuxNaturalLanguageDraft&) = default;
};

// A state, not an error: available, or unavailable with the reason to show.
struct RemuxIntentParserAvailability {
    bool isAvailable = false;
    std::string message;  // empty when available

    static RemuxIntentParserAvailability available() { return {true, {}}; }
    static RemuxIntentParserAvailability unavailable(std::string message) {
        return {false, std::move(message)};
    }

    friend bool operator==(const RemuxIntentParserAvailability&,
                           const RemuxIntentParserAvailability&) = default;
};

}  // namespace tavrolin
