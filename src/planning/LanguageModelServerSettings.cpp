#include "planning/LanguageModelServerSettings.h"

#include <cstdlib>
#include <string_view>

#include "model/TextMetrics.h"

namespace tavrolin {

namespace {

std::optional<std::string> firstNonEmpty(std::optional<std::string> a,
                                         std::optional<std::string> b) {
    for (auto* value : {&a, &b}) {
        if (*value) {
            std::string trimmed(trimWhitespace(**value));
            if (!trimmed.empty()) {
                return trimmed;
            }
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> LanguageModelServerSettings::loopbackBaseURL(const std::string& url) {
    // The host must end right after the name: "http://localhost.example.com" is not this computer.
    for (std::string_view host : {"http://127.0.0.1", "http://localhost", "http://[::1]"}) {
        if (url.size() < host.size() || url.compare(0, host.size(), host) != 0) {
            continue;
        }
        const std::string_view rest = std::string_view(url).substr(host.size());
        if (!rest.empty() && rest.front() != ':' && rest.front() != '/') {
            continue;
        }
        if (rest.find_first_of("?#@ \t\r\n") != std::string_view::npos) {
            return std::nullopt;
        }
        std::string base = url;
        while (!base.empty() && base.back() == '/') {
            base.pop_back();
        }
        if (base.size() >= 3 && base.compare(base.size() - 3, 3, "/v1") == 0) {
            base.resize(base.size() - 3);
        }
        return base;
    }
    return std::nullopt;
}

std::optional<LanguageModelServerSettings> LanguageModelServerSettings::read(
    const PreferencesStore& preferences, const Environment& environment) {
    const auto url = firstNonEmpty(preferences.string("languageModel.url"),
                                   environment("TAVROLIN_LANGUAGE_MODEL_URL"));
    const auto model = firstNonEmpty(preferences.string("languageModel.model"),
                                     environment("TAVROLIN_LANGUAGE_MODEL"));
    if (!url || !model) {
        return std::nullopt;
    }
    const auto base = loopbackBaseURL(*url);
    if (!base) {
        return std::nullopt;
    }
    return LanguageModelServerSettings{*base, *model};
}

std::optional<std::string> LanguageModelServerSettings::processEnvironment(const char* name) {
    if (const char* value = std::getenv(name)) {
        return std::string(value);
    }
    return std::nullopt;
}

}  // namespace tavrolin
