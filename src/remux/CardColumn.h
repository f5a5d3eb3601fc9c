#pragma once

#include <QPointer>
#include <QSize>
#include <QWidget>

#include <vector>

namespace tavrolin {

// Cards stacked top to bottom with a gap between them, each as wide as the column and as tall as
// it asks at that width. Placed by hand, not by a layout: a widget shown or grown inside a layout
// lays out every layout above it from the bottom up, each at its old size, which squeezes and then
// restores every other card (with hundreds of cards, milliseconds per card). Here a card that
// changes moves only the cards below it, and the page's layout follows once, later.
// GUI thread only.
class CardColumn : public QWidget {
  public:
    explicit CardColumn(int spacing, QWidget* parent = nullptr);

    // The cards, top to bottom: each is made a child, placed and shown. A card left out is not
    // touched (its owner hides or deletes it).
    void setCards(const std::vector<QWidget*>& cards);
    // Places `card` below the others and shows it.
    void appendCard(QWidget* card);
    // Measures `card` again when the cards are next placed: its content changed. Other cards keep
    // their measure until the column's width changes.
    void cardChanged(QWidget* card);

    // As wide as the narrowest card allows, as tall as the cards stand.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    struct Card {
        QPointer<QWidget> widget;
        // Its height at the column's width and its narrowest width; measured again only once
        // it changed, or the column's width did.
        bool measured = false;
        int height = 0;
        int minimumWidth = 0;
    };

    // Puts every shown card in its place.
    void arrange();
    // Gives `card` its place from `top` on, measuring it first when needed.
    void place(Card& card, int top);
    // Asks the page to lay out again when the column's height or narrowest width changed.
    void reportSize();
    static bool takesSpace(const QWidget* card);

    int spacing_;
    std::vector<Card> cards_;
    // Where the last card ends, and the narrowest width the cards take, as last placed.
    int bottom_ = 0;
    int minimumWidth_ = 0;
    // The narrowest width and the height the page was last told of.
    QSize reportedSize_{-1, -1};
};

}  // namespace tavrolin
