#include "planning/RemuxPlanVocabulary.h"

#include <algorithm>
#include <utility>

#include "model/TextMetrics.h"

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

namespace {

// What the user would call each part of the plan.
std::string typeWords(std::string_view typeName) {
    static constexpr std::pair<std::string_view, std::string_view> words[] = {
        {planTypeName, "plan"},
        {kindOperationTypeName, "track operation"},
        {predicateTypeName, "track filter"},
        {conditionTypeName, "track condition"},
        {containerTypeName, "container"},
        {playbackTypeName, "playback target"},
        {cardinalityTypeName, "track count"},
        {rankingTypeName, "ranking"},
        {fallbackTypeName, "fallback"},
        {roleTypeName, "track role"},
        {matchModeTypeName, "match mode"},
        {groupingTypeName, "grouping"},
    };
    for (const auto& [name, word] : words) {
        if (name == typeName) {
            return std::string(word);
        }
    }
    return std::string(typeName);
}

std::string quoted(std::string_view text) {
    return "\u201C" + readableExcerpt(text) + "\u201D";
}

std::string planFormatMessage(const std::string& problem) {
    return "The model's answer did not fit the plan format: " + problem +
           " Try again, or word the request differently.";
}

}  // namespace

std::string unexpectedCaseMessage(std::string_view, std::string_view received,
                                  std::string_view typeName) {
    return planFormatMessage(quoted(received) + " is not a known " + typeWords(typeName) + ".");
}

std::string missingPropertyMessage(std::string_view property, std::string_view typeName) {
    return planFormatMessage("a " + typeWords(typeName) + " lacks " + quoted(property) + ".");
}

std::string wrongKindMessage(std::string_view property, std::string_view typeName,
                             std::string_view expected) {
    const std::string where = property.empty() ? "the " + typeWords(typeName)
                                               : quoted(property) + " of a " + typeWords(typeName);
    return planFormatMessage(where + " is not " + std::string(expected) + ".");
}

std::string tooManyEntriesMessage(std::string_view property, std::size_t count, std::size_t limit) {
    static constexpr std::pair<std::string_view, std::string_view> lists[] = {
        {"videoOperations", "video operations"},
        {"audioOperations", "audio operations"},
        {"subtitleOperations", "subtitle operations"},
        {"conditions", "conditions in one track filter"},
    };
    std::string what = std::string(property);
    for (const auto& [name, words] : lists) {
        what = name == property ? std::string(words) : what;
    }
    return planFormatMessage("it lists " + std::to_string(count) + " " + what + ", more than the " +
                             std::to_string(limit) + " a request can need.");
}

std::string valueTooLongMessage(std::string_view property, std::string_view typeName) {
    return planFormatMessage(quoted(property) + " of a " + typeWords(typeName) +
                             " is longer than any request needs.");
}

std::string unprintableValueMessage(std::string_view property, std::string_view typeName) {
    return planFormatMessage(quoted(property) + " of a " + typeWords(typeName) +
                             " holds no printable text.");
}

std::string controlCharactersMessage(std::string_view property, std::string_view typeName) {
    return planFormatMessage(quoted(property) + " of a " + typeWords(typeName) +
                             " holds control or formatting characters.");
}

namespace {

// A character a screen must not get from the model, and how many bytes it takes: a control
// (C0, DEL, C1) or a line or paragraph separator, which reads as a space, or a bidirectional
// formatting character, which would reorder the text around it and is left out.
struct Unprintable {
    std::size_t length = 0;  // 0: a printable byte
    bool separates = false;
};

Unprintable unprintableAt(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t offset) {
        return at + offset < text.size() ? static_cast<unsigned char>(text[at + offset]) : 0;
    };
    const unsigned char lead = byte(0);
    const unsigned char second = byte(1);
    const unsigned char third = byte(2);
    if (lead < 0x20 || lead == 0x7F) {
        return {1, true};
    }
    if (lead == 0xC2 && second >= 0x80 && second <= 0x9F) {
        return {2, true};  // U+0080 to U+009F
    }
    if (lead == 0xD8 && second == 0x9C) {
        return {2, false};  // U+061C
    }
    if (lead == 0xE2 && second == 0x80 && (third == 0xA8 || third == 0xA9)) {
        return {3, true};  // U+2028, U+2029
    }
    if (lead == 0xE2 && second == 0x80 &&
        (third == 0x8E || third == 0x8F || (third >= 0xAA && third <= 0xAE))) {
        return {3, false};  // U+200E, U+200F, U+202A to U+202E
    }
    if (lead == 0xE2 && second == 0x81 && third >= 0xA6 && third <= 0xA9) {
        return {3, false};  // U+2066 to U+2069
    }
    return {};
}

}  // namespace

bool holdsUnprintable(std::string_view text) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (unprintableAt(text, at).length != 0) {
            return true;
        }
    }
    return false;
}

std::string readableExcerpt(std::string_view text, std::size_t maxCharacters) {
    // Only the start is looked at, ending on a character boundary: a 100 kB value costs no more
    // than a short one.
    std::size_t scanned = std::min(text.size(), maxCharacters * 8 + 8);
    // A character has at most three continuation bytes; past that the bytes are no UTF-8, and
    // any cut will do.
    for (std::size_t back = 0; back < 3 && scanned > 0 && scanned < text.size() &&
                               (static_cast<unsigned char>(text[scanned]) & 0xC0) == 0x80;
         ++back) {
        --scanned;
    }
    std::string printable;
    for (std::size_t at = 0; at < scanned;) {
        const Unprintable unprintable = unprintableAt(text, at);
        const char character = unprintable.length == 0 ? text[at] : unprintable.separates ? ' ' : 0;
        at += std::max<std::size_t>(unprintable.length, 1);
        // Runs of spaces read as one; a space at either end stays, since it may be the fault.
        if (character != 0 && (character != ' ' || printable.empty() || printable.back() != ' ')) {
            printable += character;
        }
    }
    if (scanned == text.size() && graphemeCount(printable) <= maxCharacters) {
        return printable;
    }
    return graphemePrefix(printable, maxCharacters) + "\u2026";
}

}  // namespace tavrolin::RemuxPlanVocabulary
