#pragma once

// Checks of a page in the application's real window on an X server: whether everything fits at
// the minimum and the default window size, and whether the keyboard reaches every control.
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QDebug>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>

#include <chrono>
#include <string>

#include "app/ApplicationStyle.h"
#include "support/XvfbChild.h"

namespace tavtest {

// The program's own style, as main() sets it: focus marks are checked as the user sees them.
inline void useProgramStyle() {
    if (dynamic_cast<tavrolin::ApplicationStyle*>(QApplication::style()) == nullptr) {
        QApplication::setStyle(new tavrolin::ApplicationStyle);
    }
}

// Shows `window` in the program's own style and makes it the active window, so that keys reach
// it and focus marks look as the user sees them; false when it does not come up.
inline bool showActive(QWidget* window) {
    useProgramStyle();
    window->show();
    if (!QTest::qWaitForWindowExposed(window, 10000)) {
        return false;
    }
    window->activateWindow();
    return QTest::qWaitForWindowActive(window, 10000);
}

// The minimum and the default window size.
inline const QSize windowSizes[] = {{920, 640}, {1100, 720}};

inline std::string describe(const QWidget* widget) {
    QString text;
    QDebug(&text) << widget->metaObject()->className() << widget->objectName()
                  << widget->geometry();
    return text.toStdString();
}

// Serves the GUI thread for `milliseconds`, so that layouts settle.
inline void settle(int milliseconds = 100) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(5);
    }
}

// The scroll area whose viewport holds `widget`'s content, if any.
inline const QAbstractScrollArea* scrollingAncestor(const QWidget* widget) {
    for (const QWidget* up = widget->parentWidget(); up != nullptr; up = up->parentWidget()) {
        if (auto* area = qobject_cast<const QAbstractScrollArea*>(up->parentWidget());
            area && area->viewport() == up) {
            return area;
        }
    }
    return nullptr;
}

inline bool mayScroll(const QAbstractScrollArea* area, Qt::Orientation direction) {
    const bool vertical = direction == Qt::Vertical;
    const QScrollBar* bar = vertical ? area->verticalScrollBar() : area->horizontalScrollBar();
    const auto policy =
        vertical ? area->verticalScrollBarPolicy() : area->horizontalScrollBarPolicy();
    return policy != Qt::ScrollBarAlwaysOff || bar->maximum() > 0;
}

// Every shown widget under `root` lies within its parent (content inside a scroll area within
// its width), buttons and labels are large enough for their text, no scroll area shows a
// horizontal bar or covers a control with its bars, and no scroll area scrolls the way a scroll
// area around it does.
inline void expectLaidOut(QWidget* root) {
    for (auto* widget : root->findChildren<QWidget*>()) {
        auto* parent = widget->parentWidget();
        if (!widget->isVisible() || widget->isWindow() || !parent) {
            continue;
        }
        const QRect box = widget->geometry();
        const auto* area = qobject_cast<QAbstractScrollArea*>(parent->parentWidget());
        const bool scrolls = area && area->viewport() == parent;
        const bool inside = scrolls ? box.left() >= 0 && box.right() <= parent->width() - 1
                                    : parent->rect().contains(box);
        EXPECT_TRUE(inside) << describe(widget) << " in " << describe(parent);
        if (const auto* button = qobject_cast<QPushButton*>(widget)) {
            EXPECT_GE(button->width(), button->sizeHint().width()) << describe(widget);
        }
        const auto* label = qobject_cast<QLabel*>(widget);
        if (label && !label->text().isEmpty()) {
            EXPECT_GE(label->wordWrap() ? label->height() : label->width(),
                      label->wordWrap() ? label->heightForWidth(label->width())
                                        : label->minimumSizeHint().width())
                << describe(widget) << " " << label->text().toStdString();
        }
        if (const auto* scrollArea = qobject_cast<QAbstractScrollArea*>(widget)) {
            EXPECT_FALSE(scrollArea->horizontalScrollBar()->isVisible()) << describe(widget);
            if (const auto* outer = scrollingAncestor(scrollArea)) {
                for (const auto direction : {Qt::Vertical, Qt::Horizontal}) {
                    EXPECT_FALSE(mayScroll(scrollArea, direction) && mayScroll(outer, direction))
                        << describe(widget) << " scrolls inside " << describe(outer);
                }
            }
        }
    }
}

// At each window size: laid out as `expectLaidOut` says, and a screenshot of the state written to
// the build folder as tavrolin-<name>-<width>.png.
inline void expectFits(QWidget* window, QWidget* root, const std::string& name) {
    for (const QSize size : windowSizes) {
        const std::string shotName = name + "-" + std::to_string(size.width());
        SCOPED_TRACE(shotName);
        window->resize(size);
        root->window()->resize(size);  // a sheet as it opens over a window of that size
        settle();
        EXPECT_EQ(window->size(), size);
        expectLaidOut(root);
        const QString shot =
            QString::fromStdString((buildFolder() / ("tavrolin-" + shotName + ".png")).string());
        ASSERT_TRUE(root->screen()->grabWindow(root->window()->winId()).save(shot, "PNG"));
        EXPECT_GT(QImage(shot).width(), 600);
    }
}

// The controls Tab should stop at under `root`: shown, enabled, taking Tab focus themselves.
inline QList<QWidget*> tabStops(QWidget* root) {
    QList<QWidget*> stops;
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (widget->isVisible() && widget->isEnabled() && !widget->focusProxy() &&
            (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus) {
            stops.append(widget);
        }
    }
    return stops;
}

inline QString accessibleName(QWidget* widget) {
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(widget);
    return node ? node->text(QAccessible::Name).trimmed() : QString();
}

// Whether `second` comes after `first` in reading order: of the two parts of their closest
// common ancestor that hold them, the second is not wholly above the first, or stands in a
// column to its right. Positions compare inside that ancestor, however far a page is scrolled.
inline bool readsAfter(const QWidget* first, const QWidget* second) {
    if (first->isAncestorOf(second) || second->isAncestorOf(first)) {
        return true;
    }
    const QWidget* common = first->parentWidget();
    while (common != nullptr && !common->isAncestorOf(second)) {
        common = common->parentWidget();
    }
    const auto partHolding = [common](const QWidget* widget) {
        while (widget->parentWidget() != common) {
            widget = widget->parentWidget();
        }
        return widget->geometry();
    };
    const QRect from = partHolding(first);
    const QRect to = partHolding(second);
    return to.bottom() >= from.top() || to.left() >= from.right();
}

// Tab pressed from `start` until the focus comes back round to it: every control of `window`
// Tab should reach is reached once, has an accessible name and looks different while focused;
// on `page` each step goes on in reading order (down, or across to a column on the right); no
// widget that takes the focus lacks a name. Returns the controls in the order reached.
inline QList<QWidget*> expectTabWalk(QWidget* window, QWidget* start, QWidget* page) {
    start->setFocus(Qt::TabFocusReason);
    QDeadlineTimer deadline(10000);
    while (QApplication::focusWidget() != start && !deadline.hasExpired()) {
        QTest::qWait(5);
    }
    EXPECT_EQ(QApplication::focusWidget(), start);
    QList<QWidget*> visited{start};
    for (int step = 0; step < 300; ++step) {
        QWidget* previous = QApplication::focusWidget();
        QTest::keyClick(previous, Qt::Key_Tab);
        settle(20);
        QWidget* focused = QApplication::focusWidget();
        if (focused == nullptr) {
            break;
        }
        // The control as it looks with the focus, then with the focus back where it was.
        const QImage focusedLook = focused->grab().toImage();
        previous->setFocus(Qt::OtherFocusReason);
        settle(20);
        EXPECT_NE(focused->grab().toImage(), focusedLook) << describe(focused) << " shows no focus";
        focused->setFocus(Qt::TabFocusReason);
        settle(20);
        if (focused == start) {
            break;
        }
        EXPECT_TRUE(readsAfter(previous, focused) || !page->isAncestorOf(previous) ||
                    !page->isAncestorOf(focused))
            << "Tab goes back up from " << describe(previous) << " to " << describe(focused);
        visited.append(focused);
    }
    EXPECT_EQ(QApplication::focusWidget(), start) << "Tab comes back round to the start";
    for (QWidget* stop : tabStops(window)) {
        EXPECT_EQ(visited.count(stop), 1) << describe(stop) << " reached that often";
    }
    for (QWidget* widget : visited) {
        EXPECT_FALSE(accessibleName(widget).isEmpty()) << describe(widget) << " has no name";
    }
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (widget->isVisible() && widget->focusPolicy() != Qt::NoFocus && !widget->focusProxy()) {
            EXPECT_FALSE(accessibleName(widget).isEmpty())
                << describe(widget) << " takes the focus without a name";
        }
    }
    return visited;
}

}  // namespace tavtest
