#include "app/TabOrder.h"

#include <QWidget>

namespace tavrolin {

namespace {

bool isTabStop(const QWidget* widget) {
    return (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !widget->focusProxy();
}

}  // namespace

QWidget* placeTabStops(QWidget* after, QWidget* part) {
    // Qt orders only widgets that take the focus: start from the last such one up to `after`.
    QWidget* previous = after;
    while (previous != nullptr && !isTabStop(previous)) {
        previous = previous->previousInFocusChain();
    }
    for (QWidget* widget : part->findChildren<QWidget*>()) {
        if (isTabStop(widget)) {
            if (previous != nullptr) {
                QWidget::setTabOrder(previous, widget);
            }
            previous = widget;
        }
    }
    return previous;
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
    if (!enabled && control->hasFocus() && heir->isVisible() && heir->isEnabled()) {
        heir->setFocus(Qt::OtherFocusReason);
    }
    control->setEnabled(enabled);
}

}  // namespace tavrolin
