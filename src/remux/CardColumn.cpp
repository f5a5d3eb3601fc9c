#include "remux/CardColumn.h"

#include <QEvent>
#include <QResizeEvent>

#include <algorithm>

namespace tavrolin {

CardColumn::CardColumn(int spacing, QWidget* parent) : QWidget(parent), spacing_(spacing) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void CardColumn::setCards(const std::vector<QWidget*>& cards) {
    std::vector<Card> placed;
    placed.reserve(cards.size());
    for (QWidget* widget : cards) {
        if (widget->parentWidget() != this) {
            widget->setParent(this);
        }
        // A card placed before keeps what was measured of it.
        const auto known = std::find_if(cards_.begin(), cards_.end(),
                                        [&](const Card& card) { return card.widget == widget; });
        placed.push_back(known != cards_.end() ? *known : Card{widget});
    }
    cards_ = std::move(placed);
    arrange();
    for (QWidget* widget : cards) {
        widget->show();
    }
}

void CardColumn::appendCard(QWidget* widget) {
    if (widget->parentWidget() != this) {
        widget->setParent(this);
    }
    cards_.push_back(Card{widget});
    // Placed below the others before it shows, so its own layout runs once, at its real size;
    // the cards above stay where they are.
    const int top = bottom_ > 0 ? bottom_ + spacing_ : 0;
    place(cards_.back(), top);
    bottom_ = top + cards_.back().height;
    minimumWidth_ = std::max(minimumWidth_, cards_.back().minimumWidth);
    reportSize();
    widget->show();
}

bool CardColumn::takesSpace(const QWidget* card) {
    // A card hidden on purpose (on its way out) leaves no gap; one not yet shown is placed.
    return card != nullptr &&
           !(card->isHidden() && card->testAttribute(Qt::WA_WState_ExplicitShowHide));
}

void CardColumn::cardChanged(QWidget* widget) {
    for (auto& card : cards_) {
        if (card.widget == widget) {
            card.measured = false;
        }
    }
}

void CardColumn::place(Card& card, int top) {
    QWidget* widget = card.widget;
    if (!card.measured) {
        // Asking every card for its size each time is what a layout does, and what costs.
        const int asked = widget->hasHeightForWidth() ? widget->heightForWidth(width())
                                                      : widget->sizeHint().height();
        card.height = std::clamp(asked, widget->minimumHeight(), widget->maximumHeight());
        card.minimumWidth = widget->minimumSizeHint().width();
        card.measured = true;
    }
    const QRect rect(0, top, width(), card.height);
    if (widget->geometry() != rect) {
        widget->setGeometry(rect);
    }
}

QSize CardColumn::sizeHint() const {
    return {minimumWidth_, bottom_};
}

QSize CardColumn::minimumSizeHint() const {
    return {minimumWidth_, 0};
}

void CardColumn::arrange() {
    std::erase_if(cards_, [](const Card& card) { return card.widget.isNull(); });
    int y = 0;
    int widest = 0;
    for (auto& card : cards_) {
        if (takesSpace(card.widget)) {
            place(card, y);
            y += card.height + spacing_;
            widest = std::max(widest, card.minimumWidth);
        }
    }
    bottom_ = std::max(0, y - spacing_);
    minimumWidth_ = widest;
    reportSize();
}

void CardColumn::reportSize() {
    // The page hears of a new height or narrowest width only; moves inside stay here.
    const QSize size(minimumWidth_, bottom_);
    if (size != reportedSize_) {
        reportedSize_ = size;
        updateGeometry();
    }
}

bool CardColumn::event(QEvent* event) {
    // Posted here by a card whose size hint changed, or that was hidden or shown.
    if (event->type() == QEvent::LayoutRequest) {
        arrange();
        return true;
    }
    return QWidget::event(event);
}

void CardColumn::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (event->size().width() != event->oldSize().width()) {
        for (auto& card : cards_) {
            card.measured = false;
        }
    }
    arrange();
}

}  // namespace tavrolin
