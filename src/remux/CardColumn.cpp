#include "remux/CardColumn.h"

#include <QEvent>

#include <algorithm>

namespace tavrolin {

CardColumn::CardColumn(int spacing, QWidget* parent) : QWidget(parent), spacing_(spacing) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void CardColumn::setCards(const std::vector<QWidget*>& cards) {
    cards_.assign(cards.begin(), cards.end());
    for (QWidget* card : cards) {
        if (card->parentWidget() != this) {
            card->setParent(this);
        }
    }
    arrange();
    for (QWidget* card : cards) {
        card->show();
    }
}

void CardColumn::appendCard(QWidget* card) {
    if (card->parentWidget() != this) {
        card->setParent(this);
    }
    cards_.emplace_back(card);
    // Placed below the others before it shows, so its own layout runs once, at its real size;
    // the cards above stay where they are.
    const int top = bottom_ > 0 ? bottom_ + spacing_ : 0;
    const int height = cardHeight(card, width());
    card->setGeometry(0, top, width(), height);
    bottom_ = top + height;
    minimumWidth_ = std::max(minimumWidth_, card->minimumSizeHint().width());
    reportSize();
    card->show();
}

bool CardColumn::takesSpace(const QWidget* card) const {
    // A card hidden on purpose (on its way out) leaves no gap; one not yet shown is placed.
    return card != nullptr &&
           !(card->isHidden() && card->testAttribute(Qt::WA_WState_ExplicitShowHide));
}

int CardColumn::cardHeight(const QWidget* card, int width) const {
    const int asked =
        card->hasHeightForWidth() ? card->heightForWidth(width) : card->sizeHint().height();
    return std::clamp(asked, card->minimumHeight(), card->maximumHeight());
}

int CardColumn::heightForWidth(int width) const {
    // At the width the cards stand at, where they end; otherwise what each would take.
    if (width == this->width()) {
        return bottom_;
    }
    int height = 0;
    int shown = 0;
    for (const auto& card : cards_) {
        if (takesSpace(card)) {
            height += cardHeight(card, width);
            ++shown;
        }
    }
    return height + std::max(0, shown - 1) * spacing_;
}

QSize CardColumn::sizeHint() const {
    return {minimumWidth_, bottom_};
}

QSize CardColumn::minimumSizeHint() const {
    return {minimumWidth_, 0};
}

void CardColumn::arrange() {
    std::erase_if(cards_, [](const QPointer<QWidget>& card) { return card.isNull(); });
    int y = 0;
    int widest = 0;
    for (const auto& card : cards_) {
        if (!takesSpace(card)) {
            continue;
        }
        const int height = cardHeight(card, width());
        card->setGeometry(0, y, width(), height);
        y += height + spacing_;
        widest = std::max(widest, card->minimumSizeHint().width());
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
