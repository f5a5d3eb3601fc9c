#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "model/MediaStream.h"
#include "model/Transcription.h"

namespace tavrolin {

// Picks the spoken language that fits an audio stream from the recogniser's locales, and reduces
// language tags and names ("ger", "en_US", "English SDH") to two-letter codes through a fixed
// alias table. Pure; any thread.
struct TranscriptionLocaleMatcher {
    // The alias table's code for the tag's first piece, or that piece itself when the table has
    // none; none for an absent or empty tag and for "und".
    std::optional<std::string> normalizedLanguageCode(const std::optional<std::string>& tag) const;
    // The lower-cased alphanumeric words of a title.
    std::set<std::string> languageTokens(const std::optional<std::string>& title) const;
    // The stream's language tag, else a language named by a word of its title.
    std::optional<std::string> languageCode(const std::optional<MediaStream>& stream) const;
    // en-US, else the first English locale, else the first one.
    std::optional<TranscriptionLocale> defaultLocale(
        const std::vector<TranscriptionLocale>& locales) const;
    // The identifier, exactly as listed, of the locale that fits the stream best; falls back to
    // `preferredIdentifier`, then to defaultLocale. None only for an empty list.
    std::optional<std::string> bestLocaleIdentifier(
        const std::optional<MediaStream>& stream, const std::vector<TranscriptionLocale>& locales,
        const std::optional<std::string>& preferredIdentifier = std::nullopt) const;

    // Trimmed, "_" replaced by "-", lower-cased: en_US, " EN-us " and en-US are equal.
    static std::string normalizedIdentifier(const std::string& identifier);
};

}  // namespace tavrolin
