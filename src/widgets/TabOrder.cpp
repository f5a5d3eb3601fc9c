#include "widgets/TabOrder.h"

#include <QWidget>

namespace tavrolin {

namespace {

bool isTabStop(const QWidget* widget) {
    return (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !widget->focusProxy();
}

// Hands the focus from `control` (or a control inside it) to `heir`. Asked of the window rather
// than the application: once a dialog closes, the window gets its activation back only later,
// and Qt would meanwhile pass a disabled or hidden focus widget on down the Tab order.
void handFocusOn(QWidget* control, QWidget* heir) {
    const QWidget* focused = control->window()->focusWidget();
    if (heir == nullptr || focused == nullptr ||
        (focused != control && !control->isAncestorOf(focused)) || !heir->isVisible() ||
        !heir->isEnabled() || control->isAncestorOf(heir)) {
        return;
    }
    heir->setFocus(Qt::OtherFocusReason);
}

}  // namespace

QWidget* placeTabStops(QWidget* after, QWidget* part) {
    // Qt orders only widgets that take the focus: start from the last such one up to `after`.
    QWidget* anchor = after;
    while (anchor != nullptr && !isTabStop(anchor)) {
        anchor = anchor->previousInFocusChain();
    }
    QList<QWidget*> stops;
    for (QWidget* widget : part->findChildren<QWidget*>()) {
        if (isTabStop(widget)) {
            stops.append(widget);
        }
    }
    if (anchor == nullptr || stops.isEmpty()) {
        return stops.isEmpty() ? anchor : stops.last();
    }
    // Already in place (a card placed again among the others): nothing to move. Looking
    // forward from a control passes only the few widgets between it and the next.
    bool inPlace = true;
    QWidget* at = anchor;
    for (QWidget* stop : stops) {
        do {
            at = at->nextInFocusChain();
        } while (at != anchor && !isTabStop(at));
        if (at != stop) {
            inPlace = false;
            break;
        }
    }
    if (!inPlace) {
        // Qt looks back from each moved widget for the control before it, past every widget
        // that takes no focus, and the widgets of parts made earlier pile up at the end of the
        // order, where a new part starts. With `part` counted as a control meanwhile, and the
        // last moved first (each one's neighbour is then the next to move), no look goes past
        // `part`.
        const bool markPart = part->focusPolicy() == Qt::NoFocus && !part->focusProxy();
        if (markPart) {
            part->setFocusPolicy(Qt::TabFocus);
        }
        for (auto stop = stops.rbegin(); stop != stops.rend(); ++stop) {
            QWidget::setTabOrder(anchor, *stop);
        }
        if (markPart) {
            part->setFocusPolicy(Qt::NoFocus);
        }
    }
    return stops.last();
}

QWidget* lastTabStop(QWidget* part) {
    QWidget* last = nullptr;
    for (QWidget* widget : part->findChildren<QWidget*>()) {
        if (isTabStop(widget)) {
            last = widget;
        }
    }
    return last;
}

void setEnabledKeepingFocus(QWidget* control, bool enabled, QWidget* heir) {
    if (!enabled) {
        handFocusOn(control, heir);
    }
    control->setEnabled(enabled);
}

void setVisibleKeepingFocus(QWidget* control, bool visible, QWidget* heir) {
    if (!visible) {
        handFocusOn(control, heir);
    }
    control->setVisible(visible);
}

}  // namespace tavrolin
