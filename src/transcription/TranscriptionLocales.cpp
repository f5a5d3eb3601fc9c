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

// Calls an ICU text function and grows the buffer from its answer. ICU reports an exact fit
// only as a warning and leaves the text without a terminator, so that counts as too small.
template <typename Fill>
std::optional<std::string> icuText(Fill fill) {
    std::string buffer(ULOC_FULLNAME_CAPACITY, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t length = fill(buffer.data(), static_cast<int32_t>(buffer.size()), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR || status == U_STRING_NOT_TERMINATED_WARNING) {
            buffer.assign(static_cast<size_t>(length) + 1, '\0');
            continue;
        }
        if (U_FAILURE(status) || length < 0) {
            return std::nullopt;
        }
        buffer.resize(static_cast<size_t>(length));
        return buffer;
    }
    return std::nullopt;
}

std::optional<std::string> localeIDForTag(const std::string& tag, int32_t* parsed) {
    return icuText([&](char* out, int32_t capacity, UErrorCode* status) {
        return uloc_forLanguageTag(tag.c_str(), out, capacity, parsed, status);
    });
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
    int32_t parsed = 0;
    const auto localeID = localeIDForTag(tag, &parsed);
    if (!localeID || parsed != static_cast<int32_t>(tag.size()) || localeID->empty()) {
        return lowercased(tag);
    }
    const auto canonical = icuText([&](char* out, int32_t capacity, UErrorCode* status) {
        return uloc_toLanguageTag(localeID->c_str(), out, capacity, false, status);
    });
    return canonical ? *canonical : lowercased(tag);
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
        const auto localeID = localeIDForTag(identifier, nullptr);
        icu::UnicodeString name;
        if (localeID && !localeID->empty()) {
            icu::Locale(localeID->c_str()).getDisplayName(display, name);
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
