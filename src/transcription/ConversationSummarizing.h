#pragma once

#include <stdexcept>
#include <stop_token>
#include <string>

#include "model/Transcription.h"

namespace tavrolin {

// A failed conversation summary; what() is the user-facing message.
class ConversationSummaryError : public std::runtime_error {
  public:
    enum class Case { unavailable, emptyResult };

    static ConversationSummaryError unavailable();
    static ConversationSummaryError emptyResult();

    Case errorCase() const { return case_; }

  private:
    ConversationSummaryError(Case errorCase, const std::string& message)
        : std::runtime_error(message), case_(errorCase) {}
    Case case_;
};

// Writes one sentence about a conversation. `availability` is fixed at creation and may be read
// from any thread without waiting; `summarize` blocks and runs on a worker thread.
class ConversationSummarizing {
  public:
    virtual ~ConversationSummarizing() = default;

    virtual ConversationSummaryAvailability availability() const = 0;
    // Throws ConversationSummaryError, LanguageModelError, and CancellationError once `stop`
    // is requested.
    virtual std::string summarize(const TranscriptConversation& conversation,
                                  std::stop_token stop = {}) = 0;
};

}  // namespace tavrolin
