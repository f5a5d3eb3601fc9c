#pragma once

#include <memory>
#include <mutex>

#include "transcription/ConversationSummarizing.h"

namespace tavrolin {

// Stands in for a summariser that is still being made (its availability check may wait on a
// model server): reports `preparing` until `prepare` hands over the real one, then forwards to
// it. Any thread; `availability` never waits on the server.
class PreparedConversationSummarizer : public ConversationSummarizing {
  public:
    explicit PreparedConversationSummarizer(ConversationSummaryAvailability preparing);

    void prepare(std::shared_ptr<ConversationSummarizing> summarizer);

    ConversationSummaryAvailability availability() const override;
    std::string summarize(const TranscriptConversation& conversation,
                          std::stop_token stop = {}) override;

  private:
    std::shared_ptr<ConversationSummarizing> current() const;

    const ConversationSummaryAvailability preparing_;
    mutable std::mutex mutex_;
    std::shared_ptr<ConversationSummarizing> summarizer_;
};

}  // namespace tavrolin
