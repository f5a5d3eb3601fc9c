#pragma once

#include <QScrollArea>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "model/ChapterMarker.h"
#include "model/Transcription.h"
#include "transcription/TranscriptTimelineLayout.h"

namespace tavrolin {

// Where everything of the timeline goes for one viewport and zoom. Pure.
struct TimelinePlacement {
    double duration = 1;
    double pointsPerSecond = 0;
    double contentHeight = 1;
    std::vector<TranscriptConversationPlacement> placements;

    static constexpr double axisX = 76;
    static constexpr double cardX = 108;
    static constexpr double topInset = 24;
    static constexpr double cardHeight = 86;

    static TimelinePlacement compute(const std::vector<TranscriptConversation>& conversations,
                                     double viewportHeight, double zoom);
};

// "%02d:%02d:%02d" of the seconds rounded half away from zero, at least 0.
std::string timelineTimeText(double seconds);
// The zoom buttons' clamp: 1 for an unusable value, else within 1...32.
double clampedTimelineZoom(double value);

// The vertical timeline: axis, ticks, conversation marks, connectors, chapter bookmarks and one
// card per conversation, all painted by the content widget within the exposed rectangle.
// Ctrl+wheel and the native zoom gesture change the zoom through `onZoom`; a card click goes
// to `onSelect`. GUI thread only.
class TranscriptTimelineView : public QScrollArea {
    Q_OBJECT

  public:
    explicit TranscriptTimelineView(QWidget* parent = nullptr);

    std::function<void(const TranscriptConversation&)> onSelect;
    std::function<void(double)> onZoom;

    void setContent(std::vector<TranscriptConversation> conversations,
                    std::vector<ChapterMarker> chapters,
                    std::map<std::int64_t, std::string> summaries, bool isSummarizing, double zoom);
    const TimelinePlacement& placement() const { return placement_; }
    const std::vector<TranscriptConversation>& conversations() const { return conversations_; }
    // The card rectangle of the conversation at `position`, in content coordinates.
    QRect cardRect(std::size_t position) const;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    bool event(QEvent* event) override;

  private:
    class Canvas;
    friend class Canvas;
    void relayout();
    void zoomBy(double factor);

    Canvas* canvas_;
    int focusedCard_ = 0;
    std::vector<TranscriptConversation> conversations_;
    std::vector<ChapterMarker> chapters_;
    std::map<std::int64_t, std::string> summaries_;
    bool isSummarizing_ = false;
    double zoom_ = 1;
    std::optional<double> pinchStartZoom_;
    TimelinePlacement placement_;
    TranscriptTimelineLayout layout_;
};

}  // namespace tavrolin
