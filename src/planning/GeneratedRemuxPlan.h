#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tavrolin {

// The shapes the language model generates a remux plan into. Only the parser and the decoding
// below use them. Each enumeration lists its cases in the order of its choice strings in
// RemuxPlanVocabulary.
enum class GeneratedContainerPreference { unchanged, sameAsInput, mp4, mov, mkv, m4v, webm };
enum class GeneratedPlaybackPreference { unchanged, containerCompatibilityOnly, iPhone17Pro };
enum class GeneratedCardinality { all, best, first, last, exactly, atMost, atLeast };
enum class GeneratedRanking {
    sourceOrder,
    defaultFirst,
    defaultAtmosChannels,
    highestChannelCount,
    codecQuality
};
enum class GeneratedFallback { preserveCurrentAndWarn, keepBestAndWarn, fail };
enum class GeneratedStreamRole { main, commentary, descriptive, forced, sdh, signsAndSongs };
enum class GeneratedMatchMode { all, any };
enum class GeneratedGrouping {
    none,
    language,
    role,
    languageAndRole,
    languageRoleAndChannels,
    codec
};

struct GeneratedPredicateCondition {
    enum class Case {
        language,
        mono,
        stereo,
        surround51,
        surround71,
        channelCount,
        role,
        codec,
        titleContains
    };

    Case type = Case::language;
    // A string for language, codec and titleContains; an integer for channelCount; a role.
    std::variant<std::monostate, std::string, std::int64_t, GeneratedStreamRole> value;

    friend bool operator==(const GeneratedPredicateCondition&,
                           const GeneratedPredicateCondition&) = default;
};

struct GeneratedStreamPredicate {
    std::vector<GeneratedPredicateCondition> conditions;
    GeneratedMatchMode matchMode = GeneratedMatchMode::all;

    friend bool operator==(const GeneratedStreamPredicate&,
                           const GeneratedStreamPredicate&) = default;
};

struct GeneratedKindOperation {
    enum class Case { retainAll, removeAll, retainOnly, include, exclude, deduplicate };

    // The values carried by retainOnly, include, exclude and deduplicate.
    struct Matching {
        GeneratedStreamPredicate predicate;
        GeneratedGrouping grouping = GeneratedGrouping::none;  // deduplicate only
        GeneratedCardinality cardinality = GeneratedCardinality::all;
        std::optional<std::int64_t> count;
        GeneratedRanking ranking = GeneratedRanking::sourceOrder;
        GeneratedFallback fallback = GeneratedFallback::preserveCurrentAndWarn;

        friend bool operator==(const Matching&, const Matching&) = default;
    };

    Case type = Case::retainAll;
    std::optional<Matching> matching;  // none for retainAll and removeAll

    friend bool operator==(const GeneratedKindOperation&, const GeneratedKindOperation&) = default;
};

struct GeneratedRemuxPlan {
    GeneratedContainerPreference container = GeneratedContainerPreference::unchanged;
    GeneratedPlaybackPreference playback = GeneratedPlaybackPreference::unchanged;
    std::vector<GeneratedKindOperation> videoOperations;
    std::vector<GeneratedKindOperation> audioOperations;
    std::vector<GeneratedKindOperation> subtitleOperations;

    friend bool operator==(const GeneratedRemuxPlan&, const GeneratedRemuxPlan&) = default;
};

// Reads the model's structured answer. Only the listed properties are read, in order; the first
// failure ends the decoding and nothing is defaulted except the optional "count". Throws
// LanguageModelError (decodingFailure) with the vocabulary's messages. Pure; any thread.
GeneratedRemuxPlan decodeGeneratedRemuxPlan(const nlohmann::ordered_json& content);

// The JSON Schema of GeneratedRemuxPlan sent with every request: property names, order,
// descriptions, constants and choices as the decoding above reads them.
nlohmann::ordered_json remuxPlanOutputSchema();

}  // namespace tavrolin
