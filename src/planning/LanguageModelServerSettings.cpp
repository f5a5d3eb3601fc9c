#include "planning/LanguageModelServerSettings.h"

#include <algorithm>
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

namespace {

constexpr std::string_view loopbackHosts[] = {"http://127.0.0.1", "http://localhost",
                                              "http://[::1]"};

// The port as a URL parser reads it: digits only, 1 to 65535; none when the address has no ":".
std::string portProblem(std::string_view rest) {
    if (rest.empty() || rest.front() != ':') {
        return {};
    }
    const std::string_view port = rest.substr(1, rest.find('/') - 1);
    const bool digitsOnly =
        !port.empty() && port.find_first_not_of("0123456789") == std::string_view::npos;
    const std::string_view significant =
        digitsOnly ? port.substr(std::min(port.find_first_not_of('0'), port.size()))
                   : std::string_view();
    if (!digitsOnly || significant.empty() || significant.size() > 5 ||
        std::stoul(std::string(significant)) > 65535) {
        return "\u201C" + std::string(port) +
               "\u201D is not a port number. Use a number from 1 to 65535, such as 8080.";
    }
    return {};
}

}  // namespace

std::string LanguageModelServerSettings::addressProblem(const std::string& url) {
    const std::string notLoopback =
        "The address must start with http://127.0.0.1, http://localhost or http://[::1], so "
        "that requests stay on this computer.";
    for (std::string_view host : loopbackHosts) {
        if (url.size() < host.size() || url.compare(0, host.size(), host) != 0) {
            continue;
        }
        // The host must end right after the name: "http://localhost.example.com" is elsewhere.
        const std::string_view rest = std::string_view(url).substr(host.size());
        if (!rest.empty() && rest.front() != ':' && rest.front() != '/') {
            return notLoopback;
        }
        if (rest.find_first_of("?#@ \t\r\n") != std::string_view::npos) {
            return "The address must be a plain server address, without spaces, \u201C?\u201D, "
                   "\u201C#\u201D or \u201C@\u201D.";
        }
        return portProblem(rest);
    }
    return notLoopback;
}

std::optional<std::string> LanguageModelServerSettings::loopbackBaseURL(const std::string& url) {
    if (!addressProblem(url).empty()) {
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

std::optional<LanguageModelServerSettings> LanguageModelServerSettings::read(
    const PreferencesStore& preferences, const Environment& environment) {
    const auto url = firstNonEmpty(preferences.string(urlKey), environment(urlVariable));
    const auto model = firstNonEmpty(preferences.string(modelKey), environment(modelVariable));
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
