#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>

namespace tavrolin {

// Whether a language model can answer now, and if not, why. Each consumer words the reason
// in its own message.
struct LanguageModelAvailability {
    enum class Reason { available, deviceNotEligible, notEnabled, modelNotReady, other };

    Reason reason = Reason::deviceNotEligible;

    bool isAvailable() const { return reason == Reason::available; }
    friend bool operator==(const LanguageModelAvailability&,
                           const LanguageModelAvailability&) = default;
};

// One request: a fresh session with these instructions, one prompt, and, when given, a JSON
// Schema the answer must follow.
struct LanguageModelRequest {
    std::string instructions;
    std::string prompt;
    std::optional<nlohmann::ordered_json> outputSchema;
};

// A failed request or an answer that could not be read; what() is the user-facing message.
class LanguageModelError : public std::runtime_error {
  public:
    enum class Case { unavailable, requestFailed, timedOut, decodingFailure };

    LanguageModelError(Case errorCase, const std::string& message)
        : std::runtime_error(message), case_(errorCase) {}

    Case errorCase() const { return case_; }

  private:
    Case case_;
};

// A language model reached by blocking calls from worker threads, never the GUI thread.
// `availability` may take a moment (it can ask a server). `respond` returns the structured
// answer (the JSON value the model produced), throws LanguageModelError, and throws
// CancellationError as soon as `stop` is requested.
class LanguageModel {
  public:
    virtual ~LanguageModel() = default;
    virtual LanguageModelAvailability availability() = 0;
    virtual nlohmann::ordered_json respond(const LanguageModelRequest& request,
                                           std::stop_token stop) = 0;
};

}  // namespace tavrolin
