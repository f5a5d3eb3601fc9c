#include "transcription/TranscriptionLocales.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/uloc.h>

#include <algorithm>
#include <memory>

#include "model/TextMetrics.h"

namespace tavrolin {

namespace {

std::string toUtf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

std::string likelyRegionIdentifier(const std::string& language) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale locale(language.c_str());
    locale.addLikelySubtags(status);
    if (U_FAILURE(status) || *locale.getCountry() == '\0') {
        return {};
    }
    return canonicalLocaleIdentifier(std::string(locale.getLanguage()) + "-" + locale.getCountry());
}

}  // namespace

std::string canonicalLocaleIdentifier(std::string_view identifier) {
    std::string tag(trimWhitespace(identifier));
    std::replace(tag.begin(), tag.end(), '_', '-');
    if (tag.empty()) {
        return {};
    }
    char localeID[ULOC_FULLNAME_CAPACITY] = {};
    UErrorCode status = U_ZERO_ERROR;
    int32_t parsed = 0;
    uloc_forLanguageTag(tag.c_str(), localeID, sizeof localeID, &parsed, &status);
    if (U_FAILURE(status) || parsed != static_cast<int32_t>(tag.size()) || localeID[0] == '\0') {
        return lowercased(tag);
    }
    char canonical[ULOC_FULLNAME_CAPACITY] = {};
    status = U_ZERO_ERROR;
    uloc_toLanguageTag(localeID, canonical, sizeof canonical, false, &status);
    return U_FAILURE(status) ? lowercased(tag) : std::string(canonical);
}

std::optional<std::string> equivalentLocaleIdentifier(std::string_view identifier,
                                                      const std::vector<std::string>& supported) {
    const std::string wanted = canonicalLocaleIdentifier(identifier);
    if (wanted.empty()) {
        return std::nullopt;
    }
    for (const auto& candidate : supported) {
        if (canonicalLocaleIdentifier(candidate) == wanted) {
            return candidate;
        }
    }
    if (wanted.find('-') != std::string::npos) {
        return std::nullopt;
    }
    std::vector<std::string> sameLanguage;
    for (const auto& candidate : supported) {
        const std::string canonical = canonicalLocaleIdentifier(candidate);
        if (canonical.substr(0, canonical.find('-')) == wanted) {
            sameLanguage.push_back(candidate);
        }
    }
    const std::string likely = likelyRegionIdentifier(wanted);
    for (const auto& candidate : sameLanguage) {
        if (canonicalLocaleIdentifier(candidate) == likely) {
            return candidate;
        }
    }
    if (sameLanguage.empty()) {
        return std::nullopt;
    }
    return sameLanguage.front();
}

std::vector<TranscriptionLocale> transcriptionLocales(const std::vector<std::string>& identifiers,
                                                      const std::string& displayLocale) {
    const icu::Locale display =
        displayLocale.empty() ? icu::Locale::getDefault() : icu::Locale(displayLocale.c_str());
    std::vector<TranscriptionLocale> locales;
    for (const auto& identifier : identifiers) {
        char localeID[ULOC_FULLNAME_CAPACITY] = {};
        UErrorCode status = U_ZERO_ERROR;
        uloc_forLanguageTag(identifier.c_str(), localeID, sizeof localeID, nullptr, &status);
        icu::UnicodeString name;
        if (U_SUCCESS(status) && localeID[0] != '\0') {
            icu::Locale(localeID).getDisplayName(display, name);
        }
        std::string displayName = toUtf8(name);
        locales.push_back({identifier, displayName.empty() ? identifier : displayName});
    }
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(display, status));
    if (U_FAILURE(status) || !collator) {
        return locales;
    }
    collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
    std::stable_sort(locales.begin(), locales.end(), [&](const auto& a, const auto& b) {
        UErrorCode compareStatus = U_ZERO_ERROR;
        return collator->compareUTF8(a.displayName, b.displayName, compareStatus) == UCOL_LESS;
    });
    return locales;
}

}  // namespace tavrolin
