#include "transcription/TranscriptConversationGrouper.h"

#include <algorithm>

namespace tavrolin {

std::vector<TranscriptConversation> TranscriptConversationGrouper::group(
    const std::vector<SubtitleCue>& cues) const {
    std::vector<SubtitleCue> sorted = cues;
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        return a.startTime != b.startTime ? a.startTime < b.startTime : a.endTime < b.endTime;
    });
    std::vector<TranscriptConversation> conversations;
    std::vector<SubtitleCue> current;
    const auto close = [&] {
        if (current.empty()) {
            return;
        }
        TranscriptConversation conversation;
        conversation.id = current.front().id;
        conversation.ordinal = static_cast<std::int64_t>(conversations.size()) + 1;
        conversation.startTime = current.front().startTime;
        conversation.endTime = current.back().endTime;
        conversation.cues = std::move(current);
        conversations.push_back(std::move(conversation));
        current.clear();
    };
    for (auto& cue : sorted) {
        if (!current.empty() && (cue.startTime - current.back().endTime >= silenceBoundary ||
                                 cue.endTime - current.front().startTime > maximumDuration ||
                                 static_cast<std::int64_t>(current.size()) >= maximumCueCount)) {
            close();
        }
        current.push_back(std::move(cue));
    }
    close();
    return conversations;
}

}  // namespace tavrolin
