#pragma once

#include <memory>
#include <string>

#include "model/LanguageModel.h"
#include "transcription/ConversationSummarizing.h"

namespace tavrolin {

// Summarises a conversation in one sentence with a language model: a fresh request per
// conversation, the transcript as "[hh:mm:ss] text" lines cut at 8,000 characters, and an
// answer that must follow a one-field schema. Availability is asked once, at creation (it may
// take a moment when the model is a server); no model means "not supported". The summary comes
// back printable and at most `summaryCharacterLimit` characters long. Any thread;
// requests may overlap. A stop is passed on to the model's request.
class LanguageModelConversationSummarizer final : public ConversationSummarizing {
  public:
    static constexpr std::size_t transcriptCharacterLimit = 8000;
    // A summary is one sentence of at most 22 words; a longer answer is cut with "…".
    static constexpr std::size_t summaryCharacterLimit = 300;

    explicit LanguageModelConversationSummarizer(std::shared_ptr<LanguageModel> model);

    ConversationSummaryAvailability availability() const override { return availability_; }
    std::string summarize(const TranscriptConversation& conversation,
                          std::stop_token stop = {}) override;

    // The request a conversation becomes. Pure.
    static LanguageModelRequest request(const TranscriptConversation& conversation);
    static ConversationSummaryAvailability availabilityFor(const LanguageModelAvailability& model);

  private:
    const std::shared_ptr<LanguageModel> model_;
    const ConversationSummaryAvailability availability_;
};

}  // namespace tavrolin
