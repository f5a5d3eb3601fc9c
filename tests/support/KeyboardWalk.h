#pragma once

// Keyboard and screen-reader checks of a page in a real window: Tab from a starting control
// until focus comes back, and a walk through the accessibility tree.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDebug>
#include <QHash>
#include <QImage>
#include <QList>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <string>

namespace tavtest {

inline std::string describeWidget(const QWidget* widget) {
    if (widget == nullptr) {
        return "no widget";
    }
    QString text;
    QDebug(&text) << widget->metaObject()->className() << widget->objectName()
                  << widget->geometry();
    return text.toStdString();
}

// The controls Tab should stop at under `page`: shown, enabled, taking Tab focus themselves.
// Exclusive buttons (a segmented control) are one stop, at the checked one; the arrow keys move
// between them.
inline QList<QWidget*> tabStops(QWidget* page) {
    QList<QWidget*> stops;
    for (QWidget* widget : page->findChildren<QWidget*>()) {
        const auto* button = qobject_cast<QAbstractButton*>(widget);
        if (widget->isVisible() && widget->isEnabled() && !widget->focusProxy() &&
            (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus &&
            !(button && button->autoExclusive() && !button->isChecked())) {
            stops.append(widget);
        }
    }
    return stops;
}

// `stops` in reading order: depth first through the widget tree from `root`; siblings in bands
// from top to bottom (a sibling that starts below the band's lowest edge opens the next band),
// left to right within a band.
inline QList<QWidget*> inReadingOrder(QWidget* root, const QList<QWidget*>& stops) {
    QList<QWidget*> ordered;
    if (stops.contains(root)) {
        ordered.append(root);
    }
    QList<QWidget*> children;
    for (QWidget* child : root->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isVisible() && !child->isWindow()) {
            children.append(child);
        }
    }
    std::stable_sort(children.begin(), children.end(), [](QWidget* a, QWidget* b) {
        return a->geometry().top() < b->geometry().top();
    });
    QList<QList<QWidget*>> bands;
    int bandBottom = -1;
    for (QWidget* child : children) {
        if (bands.isEmpty() || child->geometry().top() > bandBottom) {
            bands.append(QList<QWidget*>());
            bandBottom = child->geometry().bottom();
        }
        bands.last().append(child);
        bandBottom = std::max(bandBottom, child->geometry().bottom());
    }
    for (auto& band : bands) {
        std::stable_sort(band.begin(), band.end(), [](QWidget* a, QWidget* b) {
            return a->geometry().left() < b->geometry().left();
        });
        for (QWidget* child : band) {
            ordered.append(inReadingOrder(child, stops));
        }
    }
    return ordered;
}

// Presses Tab from `start` until focus comes back to it, at most `limit` times. Each focused
// widget is taken as the stop in `stops` that is it or holds it (an item view's open editor is
// the view's stop); a stop shows a visible mark: it looks different from `unfocused`, its
// picture before the walk. Returns the stops in the order reached.
inline QList<QWidget*> walkTabs(QWidget* start, const QList<QWidget*>& stops,
                                const QHash<QWidget*, QImage>& unfocused, int limit = 400) {
    QList<QWidget*> reached;
    for (int step = 0; step < limit; ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focused = QApplication::focusWidget();
        if (focused == start || focused == nullptr) {
            break;
        }
        QWidget* stop = focused;
        while (stop && !stops.contains(stop)) {
            stop = stop->parentWidget();
        }
        stop = stop ? stop : focused;
        if (unfocused.contains(stop)) {
            EXPECT_NE(stop->grab().toImage(), unfocused.value(stop))
                << describeWidget(stop) << " shows no focus";
        }
        reached.append(stop);
    }
    EXPECT_EQ(QApplication::focusWidget(), start)
        << "Tab comes back round to the start, last at "
        << describeWidget(reached.isEmpty() ? nullptr : reached.last());
    return reached;
}

// Tab from `start` round the window: every stop of `page` is reached once, in reading order,
// with a name for a screen reader and a visible focus mark.
inline void expectKeyboardWalk(QWidget* start, QWidget* page) {
    QApplication::setCursorFlashTime(0);  // a text cursor that never blinks away
    start->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(start->window(), 10000));
    start->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), start);
    const QList<QWidget*> stops = tabStops(page);
    ASSERT_FALSE(stops.isEmpty());
    QHash<QWidget*, QImage> unfocused;
    for (QWidget* stop : stops) {
        unfocused.insert(stop, stop->grab().toImage());
    }
    QList<QWidget*> reached;
    for (QWidget* stop : walkTabs(start, stops, unfocused)) {
        if (page->isAncestorOf(stop)) {
            reached.append(stop);
            QAccessibleInterface* named = QAccessible::queryAccessibleInterface(stop);
            EXPECT_TRUE(named && !named->text(QAccessible::Name).trimmed().isEmpty())
                << describeWidget(stop) << " has no accessible name";
        }
    }
    const QList<QWidget*> expected = inReadingOrder(page, stops);
    std::vector<std::string> expectedNames;
    std::vector<std::string> reachedNames;
    for (QWidget* stop : expected) {
        expectedNames.push_back(describeWidget(stop));
    }
    for (QWidget* stop : reached) {
        reachedNames.push_back(describeWidget(stop));
    }
    EXPECT_EQ(reachedNames, expectedNames) << "each stop once, in reading order";
}

// The interfaces under `node`, depth first.
inline void collectAccessibleTree(QAccessibleInterface* node, QList<QAccessibleInterface*>& into,
                                  int depth = 0) {
    if (node == nullptr || !node->isValid() || depth > 40) {
        return;
    }
    into.append(node);
    for (int i = 0; i < node->childCount(); ++i) {
        collectAccessibleTree(node->child(i), into, depth + 1);
    }
}

// The accessibility tree of `root`'s shown part: every node a user can act on or focus has a
// name. Returns the nodes.
inline QList<QAccessibleInterface*> expectNamedAccessibleTree(QWidget* root) {
    QList<QAccessibleInterface*> nodes;
    collectAccessibleTree(QAccessible::queryAccessibleInterface(root), nodes);
    static const QList<QAccessible::Role> controls = {
        QAccessible::Button,   QAccessible::CheckBox,     QAccessible::RadioButton,
        QAccessible::ComboBox, QAccessible::EditableText, QAccessible::List,
        QAccessible::ListItem, QAccessible::Slider,       QAccessible::SpinBox,
        QAccessible::Table,    QAccessible::PageTab,      QAccessible::ButtonMenu};
    for (QAccessibleInterface* node : nodes) {
        if (node->state().invisible) {
            continue;
        }
        if (controls.contains(node->role()) || node->state().focusable) {
            QString where;
            QDebug(&where) << node->role() << node->object() << node->rect();
            EXPECT_FALSE(node->text(QAccessible::Name).trimmed().isEmpty())
                << where.toStdString() << " has no accessible name";
        }
    }
    return nodes;
}

}  // namespace tavtest
