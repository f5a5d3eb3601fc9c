#include "transcription/TranscriptionLocaleMatcher.h"

#include <algorithm>
#include <map>

#include "model/TextMetrics.h"
#include "planning/StreamSemanticMatcher.h"

namespace tavrolin {

namespace {

// Every alias (ISO 639-2 codes, English and native names without accents, and each code
// itself) to its two-letter code; built once, on first use (thread-safe).
const std::map<std::string, std::string>& aliasTable() {
    static const std::map<std::string, std::string> table{
        {"ar", "ar"},         {"ara", "ar"},      {"arabic", "ar"},    {"da", "da"},
        {"dan", "da"},        {"danish", "da"},   {"de", "de"},        {"deu", "de"},
        {"ger", "de"},        {"german", "de"},   {"deutsch", "de"},   {"en", "en"},
        {"eng", "en"},        {"english", "en"},  {"es", "es"},        {"spa", "es"},
        {"spanish", "es"},    {"espanol", "es"},  {"fi", "fi"},        {"fin", "fi"},
        {"finnish", "fi"},    {"fr", "fr"},       {"fra", "fr"},       {"fre", "fr"},
        {"french", "fr"},     {"francais", "fr"}, {"it", "it"},        {"ita", "it"},
        {"italian", "it"},    {"italiano", "it"}, {"ja", "ja"},        {"jpn", "ja"},
        {"japanese", "ja"},   {"ko", "ko"},       {"kor", "ko"},       {"korean", "ko"},
        {"nl", "nl"},         {"nld", "nl"},      {"dut", "nl"},       {"dutch", "nl"},
        {"no", "no"},         {"nor", "no"},      {"norwegian", "no"}, {"pl", "pl"},
        {"pol", "pl"},        {"polish", "pl"},   {"pt", "pt"},        {"por", "pt"},
        {"portuguese", "pt"}, {"ru", "ru"},       {"rus", "ru"},       {"russian", "ru"},
        {"sv", "sv"},         {"swe", "sv"},      {"swedish", "sv"},   {"tr", "tr"},
        {"tur", "tr"},        {"turkish", "tr"},  {"uk", "uk"},        {"ukr", "uk"},
        {"ukrainian", "uk"},  {"zh", "zh"},       {"zho", "zh"},       {"chi", "zh"},
        {"chinese", "zh"},
    };
    return table;
}

const std::string englishUS = "en-us";

}  // namespace

std::string TranscriptionLocaleMatcher::normalizedIdentifier(const std::string& identifier) {
    std::string text(trimWhitespace(identifier));
    std::replace(text.begin(), text.end(), '_', '-');
    return lowercased(text);
}

std::optional<std::string> TranscriptionLocaleMatcher::normalizedLanguageCode(
    const std::optional<std::string>& tag) const {
    if (!tag) {
        return std::nullopt;
    }
    const auto pieces = splitLanguageTag(lowercased(trimWhitespace(*tag)));
    if (pieces.empty() || pieces.front() == "und") {
        return std::nullopt;
    }
    const auto& aliases = aliasTable();
    const auto found = aliases.find(pieces.front());
    return found != aliases.end() ? found->second : pieces.front();
}

std::set<std::string> TranscriptionLocaleMatcher::languageTokens(
    const std::optional<std::string>& title) const {
    std::set<std::string> tokens;
    const std::string words = StreamSemanticMatcher().normalizedTitle(title);
    std::size_t start = 0;
    while (start < words.size()) {
        const std::size_t end = std::min(words.find(' ', start), words.size());
        tokens.insert(words.substr(start, end - start));
        start = end + 1;
    }
    return tokens;
}

std::optional<std::string> TranscriptionLocaleMatcher::languageCode(
    const std::optional<MediaStream>& stream) const {
    if (!stream) {
        return std::nullopt;
    }
    if (auto code = normalizedLanguageCode(stream->language)) {
        return code;
    }
    // The table's order (alphabetical by alias) decides when a title names several languages.
    const auto tokens = languageTokens(stream->title);
    for (const auto& [alias, code] : aliasTable()) {
        if (tokens.contains(alias)) {
            return code;
        }
    }
    return std::nullopt;
}

std::optional<TranscriptionLocale> TranscriptionLocaleMatcher::defaultLocale(
    const std::vector<TranscriptionLocale>& locales) const {
    if (locales.empty()) {
        return std::nullopt;
    }
    for (const auto& locale : locales) {
        if (normalizedIdentifier(locale.identifier) == englishUS) {
            return locale;
        }
    }
    for (const auto& locale : locales) {
        if (normalizedLanguageCode(locale.identifier) == "en") {
            return locale;
        }
    }
    return locales.front();
}

std::optional<std::string> TranscriptionLocaleMatcher::bestLocaleIdentifier(
    const std::optional<MediaStream>& stream, const std::vector<TranscriptionLocale>& locales,
    const std::optional<std::string>& preferredIdentifier) const {
    if (const auto code = languageCode(stream)) {
        std::vector<const TranscriptionLocale*> candidates;
        for (const auto& locale : locales) {
            if (normalizedLanguageCode(locale.identifier) == code) {
                candidates.push_back(&locale);
            }
        }
        const auto firstWith = [&](const std::string& normalized) -> const TranscriptionLocale* {
            for (const auto* candidate : candidates) {
                if (normalizedIdentifier(candidate->identifier) == normalized) {
                    return candidate;
                }
            }
            return nullptr;
        };
        if (*code == "en") {
            if (const auto* winner = firstWith(englishUS)) {
                return winner->identifier;
            }
        }
        if (stream->language) {
            if (const auto* winner = firstWith(normalizedIdentifier(*stream->language))) {
                return winner->identifier;
            }
        }
        if (!candidates.empty()) {
            return candidates.front()->identifier;
        }
    }
    if (preferredIdentifier) {
        const std::string preferred = normalizedIdentifier(*preferredIdentifier);
        for (const auto& locale : locales) {
            if (normalizedIdentifier(locale.identifier) == preferred) {
                return locale.identifier;
            }
        }
    }
    if (const auto fallback = defaultLocale(locales)) {
        return fallback->identifier;
    }
    return std::nullopt;
}

}  // namespace tavrolin
