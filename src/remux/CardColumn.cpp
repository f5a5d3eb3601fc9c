#include "remux/CardColumn.h"

#include <QEvent>

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
        placed.push_back(known != cards_.end() ? *known : Card{widget, {}, 0});
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
    cards_.push_back(Card{widget, {}, 0});
    // Placed below the others before it shows, so its own layout runs once, at its real size;
    // the cards above stay where they are.
    const int top = bottom_ > 0 ? bottom_ + spacing_ : 0;
    bottom_ = top + place(cards_.back(), top);
    minimumWidth_ = std::max(minimumWidth_, cards_.back().minimumWidth);
    reportSize();
    widget->show();
}

bool CardColumn::takesSpace(const QWidget* card) {
    // A card hidden on purpose (on its way out) leaves no gap; one not yet shown is placed.
    return card != nullptr &&
           !(card->isHidden() && card->testAttribute(Qt::WA_WState_ExplicitShowHide));
}

int CardColumn::place(Card& card, int top) {
    QWidget* widget = card.widget;
    const QSize hint = widget->sizeHint();
    if (hint != card.measuredHint) {
        card.measuredHint = hint;
        card.minimumWidth = widget->minimumSizeHint().width();
    }
    const int asked = widget->hasHeightForWidth() ? widget->heightForWidth(width()) : hint.height();
    const int height = std::clamp(asked, widget->minimumHeight(), widget->maximumHeight());
    widget->setGeometry(0, top, width(), height);
    return height;
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
            y += place(card, y) + spacing_;
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
    arrange();
}

}  // namespace tavrolin
