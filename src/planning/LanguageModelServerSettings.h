#pragma once

#include <functional>
#include <optional>
#include <string>

#include "model/PreferencesStore.h"

namespace tavrolin {

// Where the local model server listens and which model it should run. Read from the settings
// keys "languageModel.url" and "languageModel.model", else from the environment variables
// TAVROLIN_LANGUAGE_MODEL_URL and TAVROLIN_LANGUAGE_MODEL. Only a plain-HTTP address on this
// computer (127.0.0.1, localhost, [::1]) counts: the request text must never leave it.
struct LanguageModelServerSettings {
    std::string baseURL;  // without a trailing "/" or "/v1"
    std::string model;

    static constexpr const char* urlKey = "languageModel.url";
    static constexpr const char* modelKey = "languageModel.model";
    static constexpr const char* urlVariable = "TAVROLIN_LANGUAGE_MODEL_URL";
    static constexpr const char* modelVariable = "TAVROLIN_LANGUAGE_MODEL";

    using Environment = std::function<std::optional<std::string>(const char* name)>;

    // None when either value is missing or the address is not a loopback one.
    static std::optional<LanguageModelServerSettings> read(const PreferencesStore& preferences,
                                                           const Environment& environment);
    static std::optional<std::string> processEnvironment(const char* name);
    // Why the address cannot be used, in a sentence that says what to do; empty when it can.
    static std::string addressProblem(const std::string& url);
    // The address cut to its base when it names this computer over plain HTTP; else none.
    static std::optional<std::string> loopbackBaseURL(const std::string& url);

    friend bool operator==(const LanguageModelServerSettings&,
                           const LanguageModelServerSettings&) = default;
};

}  // namespace tavrolin
