#pragma once

#include <chrono>
#include <optional>
#include <stop_token>
#include <string>

#include "model/LanguageModel.h"
#include "planning/LanguageModelServerSettings.h"

namespace tavrolin {

// A language model served on this computer through the OpenAI-compatible chat-completions API
// (llama.cpp's server, Ollama). One request is one POST with the instructions as the system
// message, the prompt as the user message and the output schema as a JSON-schema response
// format, so the server constrains its answer. Without settings it is not configured; a server
// that does not list the model counts as not ready. Every reply is read within a byte limit
// (ModelServerReply: 4 MB for a chat, 1 MB for the models list) counted on its inflated content
// (ReplyInflater), cut off as soon as it passes it; one shorter than its announced length is
// refused; and its JSON is read only within ModelServerReply's nesting and value limits.
// Thread: blocking calls from any thread that may run a Qt event loop (workers included); each
// call makes its own network manager. A stop aborts the HTTP request at once.
class LocalServerLanguageModel : public LanguageModel {
  public:
    // The failures' messages: each names the server's address and says what to do.
    static std::string unreachableMessage(const std::string& address, const std::string& reason);
    static std::string noAnswerMessage(const std::string& address);
    static std::string notJSONMessage(const std::string& address, const std::string& answer);
    static std::string statusMessage(const std::string& address, int status);
    // The reply ended before the length it announced.
    static std::string cutShortMessage(const std::string& address);
    static const char* const notConfiguredMessage;

    explicit LocalServerLanguageModel(
        std::optional<LanguageModelServerSettings> settings,
        std::chrono::milliseconds availabilityTimeout = std::chrono::seconds(2),
        std::chrono::milliseconds requestTimeout = std::chrono::seconds(120));

    // What the server at `settings` says when asked for its models; for an answer Tavrolin can't
    // read (too large or nested too deeply), the sentence that says so.
    struct ServerCheck {
        enum class Answer { listsModel, lacksModel, noAnswer, unreadable };
        Answer answer = Answer::noAnswer;
        std::string problem;
    };
    static ServerCheck check(const LanguageModelServerSettings& settings,
                             std::chrono::milliseconds timeout, std::stop_token stop);

    LanguageModelAvailability availability() override;
    nlohmann::ordered_json respond(const LanguageModelRequest& request,
                                   std::stop_token stop) override;

  private:
    std::optional<LanguageModelServerSettings> settings_;
    std::chrono::milliseconds availabilityTimeout_;
    std::chrono::milliseconds requestTimeout_;
};

}  // namespace tavrolin
