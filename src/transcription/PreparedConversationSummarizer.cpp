#include "transcription/PreparedConversationSummarizer.h"

namespace tavrolin {

PreparedConversationSummarizer::PreparedConversationSummarizer(
    ConversationSummaryAvailability preparing)
    : preparing_(std::move(preparing)) {}

void PreparedConversationSummarizer::prepare(std::shared_ptr<ConversationSummarizing> summarizer) {
    std::lock_guard lock(mutex_);
    summarizer_ = std::move(summarizer);
}

std::shared_ptr<ConversationSummarizing> PreparedConversationSummarizer::current() const {
    std::lock_guard lock(mutex_);
    return summarizer_;
}

ConversationSummaryAvailability PreparedConversationSummarizer::availability() const {
    const auto summarizer = current();
    return summarizer ? summarizer->availability() : preparing_;
}

std::string PreparedConversationSummarizer::summarize(const TranscriptConversation& conversation,
                                                      std::stop_token stop) {
    const auto summarizer = current();
    if (!summarizer) {
        throw ConversationSummaryError::unavailable();
    }
    return summarizer->summarize(conversation, stop);
}

}  // namespace tavrolin
