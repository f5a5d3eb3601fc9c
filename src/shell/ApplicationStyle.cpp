#include "shell/ApplicationStyle.h"

#include <qdrawutil.h>

#include <QApplication>
#include <QGroupBox>
#include <QImageReader>
#include <QKeyEvent>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QStyleOption>
#include <algorithm>

#include "widgets/AppStyle.h"
#include "widgets/SymbolIcons.h"

namespace tavrolin {

namespace {

// The frame picture of the Fusion style's group boxes, read as PNG without probing.
const QPixmap& groupBoxFrame() {
    static const QPixmap frame = [] {
        QImageReader reader(QStringLiteral(":/qt-project.org/styles/commonstyle/images/"
                                           "fusion_groupbox.png"),
                            "png");
        reader.setAutoDetectImageFormat(false);
        return QPixmap::fromImage(reader.read());
    }();
    return frame;
}

}  // namespace

QIcon ApplicationStyle::standardIcon(StandardPixmap pixmap, const QStyleOption* option,
                                     const QWidget* widget) const {
    const QColor text = QApplication::palette().color(QPalette::WindowText);
    switch (pixmap) {
        case SP_ToolBarHorizontalExtensionButton:
            return tintedSymbolIcon(QStringLiteral("chevron.right"), text);
        case SP_ToolBarVerticalExtensionButton:
            return tintedSymbolIcon(QStringLiteral("chevron.down"), text);
        default:
            return QProxyStyle::standardIcon(pixmap, option, widget);
    }
}

void ApplicationStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                     QPainter* painter, const QWidget* widget) const {
    if (element != PE_FrameGroupBox || baseStyle()->name() != QStringLiteral("fusion") ||
        groupBoxFrame().isNull()) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    // As the Fusion style draws it: below the title, unless there is neither title nor check.
    constexpr int groupBoxTopMargin = 3;
    const auto* box = qobject_cast<const QGroupBox*>(widget);
    const int topMargin =
        box && !box->isCheckable() && box->title().isEmpty()
            ? groupBoxTopMargin
            : std::max(proxy()->pixelMetric(PM_ExclusiveIndicatorHeight, option, widget),
                       option->fontMetrics.height()) +
                  groupBoxTopMargin;
    qDrawBorderPixmap(painter, option->rect.adjusted(0, topMargin, 0, 0), QMargins(6, 6, 6, 6),
                      groupBoxFrame());
}

void ApplicationStyle::drawControl(ControlElement element, const QStyleOption* option,
                                   QPainter* painter, const QWidget* widget) const {
    QProxyStyle::drawControl(element, option, painter, widget);
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    const auto plainLook = QStyleOptionButton::DefaultButton | QStyleOptionButton::Flat;
    if (element == CE_PushButton && button && (button->features & plainLook) &&
        (option->state & State_HasFocus) && (option->state & State_KeyboardFocusChange)) {
        drawFocusMark(*painter, QRectF(option->rect).adjusted(2.5, 2.5, -2.5, -2.5),
                      option->palette);
    }
}

void ApplicationStyle::polish(QApplication* application) {
    QProxyStyle::polish(application);
    application->installEventFilter(this);
}

void ApplicationStyle::unpolish(QApplication* application) {
    application->removeEventFilter(this);
    QProxyStyle::unpolish(application);
}

bool ApplicationStyle::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return QProxyStyle::eventFilter(watched, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    auto* button = qobject_cast<QPushButton*>(watched);
    const bool returnKey = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    // Default and dialog buttons take Return themselves.
    if (button && returnKey && modifiers == Qt::NoModifier && !key->isAutoRepeat() &&
        button->hasFocus() && button->isEnabled() && !button->isDefault() &&
        !button->autoDefault()) {
        button->click();
        return true;
    }
    return QProxyStyle::eventFilter(watched, event);
}

}  // namespace tavrolin
