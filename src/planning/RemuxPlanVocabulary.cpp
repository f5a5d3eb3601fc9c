#include "planning/RemuxPlanVocabulary.h"

namespace tavrolin::RemuxPlanVocabulary {

const std::string& instructions() {
    static const std::string text =
        "Translate a media-remux request into a declarative plan. The plan is a list of "
        "independent stream operations, not one coarse choice per media kind.\n"
        "\n"
        "Extract only outcomes the user states. Leave container and playback unchanged when "
        "omitted, and emit no operation for an unmentioned stream kind. Never invent filenames, "
        "stream indices, FFmpeg commands, compatibility claims, or encoding work.\n"
        "\n"
        "Operation meanings:\n"
        "- retainAll or removeAll applies to the entire named stream kind.\n"
        "- retainOnly keeps the streams matching the predicate and removes nonmatches of that "
        "kind.\n"
        "- include adds matches to the current selection; exclude removes matches.\n"
        "- deduplicate keeps a ranked number within every group and removes the other members "
        "of those groups.\n"
        "\n"
        "Cardinality is independent of the operation: all means every match; best means the "
        "highest-ranked match; first and last use source order; exactly, atMost, and atLeast "
        "require a positive count.\n"
        "\n"
        "Examples of semantic interpretation:\n"
        "- 'only English subtitles' is retainOnly subtitles where language is English, "
        "cardinality all.\n"
        "- 'one audio track per language' is deduplicate audio, grouped by language, cardinality "
        "best.\n"
        "- 'redundant audio' is deduplicate audio, grouped by languageAndRole, cardinality best, "
        "ranked defaultAtmosChannels.\n"
        "- 'duplicate audio' is deduplicate audio, grouped by languageRoleAndChannels, "
        "cardinality best.\n"
        "- 'keep all except commentary' is exclude commentary.\n"
        "- 'remove all except English' is retainOnly where language is English.\n"
        "- 'English or French subtitles' uses matchMode any and both languages.\n"
        "\n"
        "Use preserveCurrentAndWarn unless the user explicitly requests another fallback. "
        "'Without quality loss' describes stream copy and creates no stream operation. An iPhone "
        "17 Pro request selects that playback target; deterministic app code validates "
        "compatibility.\n"
        "\n"
        "Predicate conditions must come only from the user's words. Emit one condition only for "
        "each property the user actually states. Do not infer codec, channels, role, or title "
        "terms from general media knowledge. Combine conditions with all unless the user "
        "explicitly presents them as alternatives with 'or'. Deterministic app code will match "
        "the abstract plan against the actual streams later.";
    return text;
}

std::string unexpectedCaseMessage(std::string_view word, std::string_view received,
                                  std::string_view typeName) {
    return "Unexpected " + std::string(word) + " \"" + std::string(received) + "\" for " +
           std::string(typeName);
}

std::string missingPropertyMessage(std::string_view property, std::string_view typeName) {
    return "The on-device language model's answer lacks the property \"" + std::string(property) +
           "\" of " + std::string(typeName) + ".";
}

std::string wrongKindMessage(std::string_view property, std::string_view typeName,
                             std::string_view expected) {
    const std::string where = property.empty()
                                  ? std::string(typeName)
                                  : "\"" + std::string(property) + "\" of " + std::string(typeName);
    return "The on-device language model's answer has " + where + " that is not " +
           std::string(expected) + ".";
}

}  // namespace tavrolin::RemuxPlanVocabulary
