#include "transcription/TranscriptTimelineView.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "transcription/TranscriptSearchResultListModel.h"
#include "transcription/TranscriptionSourceText.h"
#include "transcription/TranscriptionWorkspaceSupport.h"
#include "widgets/AppStyle.h"
#include "widgets/SymbolIcons.h"

namespace tavrolin {

TimelinePlacement TimelinePlacement::compute(
    const std::vector<TranscriptConversation>& conversations, double viewportHeight, double zoom) {
    TimelinePlacement result;
    for (const auto& conversation : conversations) {
        result.duration = std::max(result.duration, conversation.endTime);
    }
    const double base = std::max(0.12, (viewportHeight - 2 * topInset) / result.duration);
    result.pointsPerSecond = base * zoom;
    double previousBottom = topInset - 12;
    for (const auto& conversation : conversations) {
        const double markerY =
            topInset + result.pointsPerSecond * std::max(0.0, conversation.startTime);
        const double cardTop = std::max({markerY - cardHeight / 2, previousBottom + 12, topInset});
        result.placements.push_back({conversation.id, markerY, cardTop, cardHeight});
        previousBottom = cardTop + cardHeight;
    }
    const double lastBottom = result.placements.empty() ? topInset
                                                        : result.placements.back().cardTop +
                                                              result.placements.back().cardHeight;
    result.contentHeight = std::max(
        {1.0, 2 * topInset + result.duration * result.pointsPerSecond, topInset + lastBottom});
    return result;
}

std::string timelineTimeText(double seconds) {
    return clockTimeText(std::max(0.0, std::round(seconds)));
}

double clampedTimelineZoom(double value) {
    if (!std::isfinite(value) || value <= 1) {
        return 1;
    }
    return std::min(value, 32.0);
}

class TranscriptTimelineView::Canvas : public QWidget {
  public:
    explicit Canvas(TranscriptTimelineView& owner) : owner_(owner) {
        setObjectName(QStringLiteral("timelineCanvas"));
        // Cards are reached with Tab, moved between with the arrow keys, opened with Return.
        setFocusPolicy(Qt::StrongFocus);
        setAccessibleName(QStringLiteral("Conversation cards"));
    }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override {
        const int count = static_cast<int>(owner_.conversations_.size());
        if (count == 0) {
            QWidget::keyPressEvent(event);
            return;
        }
        int& focused = owner_.focusedCard_;
        focused = std::clamp(focused, 0, count - 1);
        switch (event->key()) {
            case Qt::Key_Down:
            case Qt::Key_Right:
                focused = std::min(focused + 1, count - 1);
                break;
            case Qt::Key_Up:
            case Qt::Key_Left:
                focused = std::max(focused - 1, 0);
                break;
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Space:
                if (owner_.onSelect) {
                    owner_.onSelect(owner_.conversations_[static_cast<std::size_t>(focused)]);
                }
                return;
            default:
                QWidget::keyPressEvent(event);
                return;
        }
        const QRect card = owner_.cardRect(static_cast<std::size_t>(focused));
        owner_.ensureVisible(card.center().x(), card.center().y(), 0, card.height());
        const auto& conversation = owner_.conversations_[static_cast<std::size_t>(focused)];
        setAccessibleDescription(
            QStringLiteral("Conversation %1, %2")
                .arg(conversation.ordinal)
                .arg(QString::fromStdString(timelineTimeText(conversation.startTime))));
        update();
    }
    void focusInEvent(QFocusEvent* event) override {
        QWidget::focusInEvent(event);
        update();
    }
    void focusOutEvent(QFocusEvent* event) override {
        QWidget::focusOutEvent(event);
        update();
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        for (std::size_t i = 0; i < owner_.conversations_.size(); ++i) {
            if (owner_.cardRect(i).contains(event->position().toPoint()) && owner_.onSelect) {
                owner_.onSelect(owner_.conversations_[i]);
                return;
            }
        }
    }

  private:
    TranscriptTimelineView& owner_;
};

void TranscriptTimelineView::Canvas::paintEvent(QPaintEvent* event) {
    const TimelinePlacement& place = owner_.placement_;
    const QRect exposed = event->rect();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor secondary = secondaryTextColor(palette());
    auto faded = [&](double opacity) {
        QColor color = secondary;
        color.setAlphaF(color.alphaF() * opacity);
        return color;
    };
    const double axisX = TimelinePlacement::axisX;
    const double top = TimelinePlacement::topInset;
    auto yOf = [&](double time) { return top + place.pointsPerSecond * std::max(0.0, time); };

    painter.setPen(QPen(faded(0.35), 1));
    painter.drawLine(QPointF(axisX, top),
                     QPointF(axisX, top + place.duration * place.pointsPerSecond));

    // Only the ticks inside the exposed band are drawn.
    const double step = owner_.layout_.tickInterval(place.pointsPerSecond);
    painter.setFont(fontFor(TextStyle::caption));
    const double firstTime =
        std::max(0.0, std::floor((exposed.top() - top - 20) / place.pointsPerSecond / step) * step);
    for (double t = firstTime; t <= place.duration; t += step) {
        const double y = yOf(t);
        if (y > exposed.bottom() + 20) {
            break;
        }
        painter.setPen(QPen(faded(0.5), 1));
        painter.drawLine(QPointF(axisX - 5, y), QPointF(axisX + 5, y));
        painter.setPen(secondary);
        painter.drawText(QRectF(0, y - 10, axisX - 9, 20), Qt::AlignRight | Qt::AlignVCenter,
                         QString::fromStdString(timelineTimeText(t)));
    }

    const QColor accent = accentColor(palette());
    for (std::size_t i = 0; i < owner_.conversations_.size(); ++i) {
        const auto& conversation = owner_.conversations_[i];
        const auto& placement = place.placements[i];
        const QRect card = owner_.cardRect(i);
        const double y1 = yOf(conversation.startTime);
        const double y2 = std::max(yOf(conversation.endTime), y1 + 3);
        if (std::max(y2, double(card.bottom())) < exposed.top() ||
            std::min(y1, double(card.top())) > exposed.bottom()) {
            continue;
        }
        painter.setPen(QPen(accent, 5));
        painter.drawLine(QPointF(axisX, y1), QPointF(axisX, y2));
        painter.setPen(QPen(faded(0.32), 1));
        painter.drawLine(
            QPointF(axisX + 4, placement.markerY),
            QPointF(TimelinePlacement::cardX - 8, placement.cardTop + placement.cardHeight * 0.5));

        // The card: title row, summary or preview, and the summary-in-progress line.
        QColor outline = palette().color(QPalette::WindowText);
        outline.setAlphaF(0.09);
        painter.setPen(QPen(outline, 1));
        painter.setBrush(palette().color(QPalette::Base));
        painter.drawRoundedRect(QRectF(card).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
        const QRect inner = card.adjusted(12, 10, -30, -10);
        painter.setFont(fontFor(TextStyle::callout, QFont::DemiBold));
        painter.setPen(palette().color(QPalette::Text));
        const QString title = QStringLiteral("Conversation %1").arg(conversation.ordinal);
        painter.drawText(inner, Qt::AlignLeft | Qt::AlignTop, title);
        const int titleWidth = painter.fontMetrics().horizontalAdvance(title);
        painter.setFont(fontFor(TextStyle::caption));
        painter.setPen(secondary);
        const QString range = QString::fromStdString(timelineTimeText(conversation.startTime)) +
                              QStringLiteral("–") +
                              QString::fromStdString(timelineTimeText(conversation.endTime));
        const QString withCount = range + QStringLiteral("   ") +
                                  QString::fromStdString(workspace::plural(
                                      static_cast<int>(conversation.cues.size()), "cue"));
        // Beside the title when it fits, else on a line of its own; the count goes first when
        // even that is short, and the range is never cut mid-time.
        const QFontMetrics caption = painter.fontMetrics();
        const bool beside = caption.horizontalAdvance(withCount) <= inner.width() - titleWidth - 7;
        const QRect rangeBox =
            beside ? inner.adjusted(titleWidth + 7, 2, 0, 0) : inner.adjusted(0, 20, 0, 0);
        painter.drawText(
            rangeBox, Qt::AlignLeft | Qt::AlignTop,
            caption.horizontalAdvance(withCount) <= rangeBox.width() ? withCount : range);
        const auto summary = owner_.summaries_.find(conversation.id);
        const QString text = QString::fromStdString(
            summary != owner_.summaries_.end() ? summary->second : conversation.previewText());
        const QRect textRect = inner.adjusted(0, beside ? 22 : 22 + caption.lineSpacing(), 0, -14);
        // Plain drawing: the summary never reads as markup.
        drawWrappedText(&painter, textRect, text,
                        std::max(1, textRect.height() / painter.fontMetrics().lineSpacing()));
        if (owner_.isSummarizing_ && summary == owner_.summaries_.end()) {
            painter.drawText(inner, Qt::AlignLeft | Qt::AlignBottom,
                             QStringLiteral("Creating summary…"));
        }
        symbolIcon(QStringLiteral("chevron.right"))
            .paint(&painter, QRect(card.right() - 24, card.center().y() - 6, 12, 12));
        if (hasFocus() && static_cast<int>(i) == owner_.focusedCard_) {
            painter.setPen(QPen(accent, 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(QRectF(card).adjusted(1, 1, -1, -1), 10, 10);
        }
        painter.setBrush(Qt::NoBrush);
    }
    for (const auto& chapter : owner_.chapters_) {
        const double y = yOf(chapter.startTime);
        if (y < exposed.top() - 10 || y > exposed.bottom() + 10) {
            continue;
        }
        tintedSymbolIcon(QStringLiteral("bookmark.fill"), secondary)
            .paint(&painter, QRect(int(axisX + 10), int(y - 7), 14, 14));
    }
}

TranscriptTimelineView::TranscriptTimelineView(QWidget* parent)
    : QScrollArea(parent), canvas_(new Canvas(*this)) {
    setObjectName(QStringLiteral("timeline"));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The canvas takes the Tab stop and its arrow keys scroll to the card they reach.
    setFocusPolicy(Qt::NoFocus);
    setWidget(canvas_);
    setToolTip(QStringLiteral("Pinch with two fingers to zoom the vertical timeline."));
    setAccessibleName(QStringLiteral("Conversation timeline"));
    grabGesture(Qt::PinchGesture);
}

void TranscriptTimelineView::setContent(std::vector<TranscriptConversation> conversations,
                                        std::vector<ChapterMarker> chapters,
                                        std::map<std::int64_t, std::string> summaries,
                                        bool isSummarizing, double zoom) {
    conversations_ = std::move(conversations);
    chapters_ = std::move(chapters);
    summaries_ = std::move(summaries);
    isSummarizing_ = isSummarizing;
    zoom_ = zoom;
    setAccessibleDescription(
        QStringLiteral("%1 conversations from start to end").arg(conversations_.size()));
    relayout();
}

QRect TranscriptTimelineView::cardRect(std::size_t position) const {
    const int width = std::max(220, viewport()->width() - int(TimelinePlacement::cardX) - 18);
    const auto& placement = placement_.placements.at(position);
    return QRect(int(TimelinePlacement::cardX), int(placement.cardTop), width,
                 int(placement.cardHeight));
}

void TranscriptTimelineView::relayout() {
    placement_ = TimelinePlacement::compute(conversations_, viewport()->height(), zoom_);
    canvas_->resize(viewport()->width(), int(std::ceil(placement_.contentHeight)));
    canvas_->update();
}

void TranscriptTimelineView::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    relayout();
}

void TranscriptTimelineView::zoomBy(double factor) {
    if (!pinchStartZoom_) {
        pinchStartZoom_ = zoom_;
    }
    if (onZoom) {
        onZoom(layout_.clampedZoom(factor, *pinchStartZoom_));
    }
}

bool TranscriptTimelineView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (wheel->modifiers() & Qt::ControlModifier) {
            // Each wheel notch is one step of a pinch that starts at the current zoom.
            pinchStartZoom_.reset();
            zoomBy(std::pow(1.0015, wheel->angleDelta().y()));
            pinchStartZoom_.reset();
            return true;
        }
    }
    return QScrollArea::viewportEvent(event);
}

bool TranscriptTimelineView::event(QEvent* event) {
    if (event->type() == QEvent::NativeGesture) {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        if (gesture->gestureType() == Qt::ZoomNativeGesture) {
            // The event carries the step; the running magnification is their product.
            const double start = pinchStartZoom_.value_or(zoom_);
            pinchStartZoom_ = start;
            zoomBy(zoom_ / start * (1 + gesture->value()));
            return true;
        }
        if (gesture->gestureType() == Qt::EndNativeGesture) {
            pinchStartZoom_.reset();
            return true;
        }
    }
    return QScrollArea::event(event);
}

}  // namespace tavrolin
