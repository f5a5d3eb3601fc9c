#pragma once

// Layout checks of a page in the application's real window on an X server, at the minimum and
// the default window size, and showing the window as the program does. The keyboard and
// screen-reader checks are in KeyboardWalk.h.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QTest>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "shell/ApplicationStyle.h"
#include "support/KeyboardWalk.h"
#include "support/QtTestApplication.h"
#include "support/XvfbChild.h"

namespace tavtest {

// The minimum and the default window size.
inline const QSize windowSizes[] = {{920, 640}, {1100, 720}};

// Shows `window` in the program's own style (focus marks look as the user sees them) and makes
// it the active window, so that keys reach it; false when it does not come up.
inline bool showActive(QWidget* window) {
    if (dynamic_cast<tavrolin::ApplicationStyle*>(QApplication::style()) == nullptr) {
        QApplication::setStyle(new tavrolin::ApplicationStyle);
    }
    window->show();
    if (!QTest::qWaitForWindowExposed(window, 10000)) {
        return false;
    }
    window->activateWindow();
    return QTest::qWaitForWindowActive(window, 10000);
}

// Where every widget of `window` is and whether it shows.
inline std::vector<std::pair<QRect, bool>> layoutOf(QWidget* window) {
    std::vector<std::pair<QRect, bool>> layout{{window->geometry(), window->isVisible()}};
    for (const QWidget* widget : window->findChildren<QWidget*>()) {
        layout.emplace_back(widget->geometry(), widget->isVisible());
    }
    return layout;
}

// Serves the GUI thread, each round caught up with the X server, until a round moves no widget
// of `window` and the window has `size` (when given): its layouts have settled. False when
// that takes longer than `timeoutMs`.
[[nodiscard]] inline bool settled(QWidget* window, QSize size = {}, int timeoutMs = 30000) {
    auto before = layoutOf(window);
    return waitUntil(
        [&] {
            QGuiApplication::sync();
            auto after = layoutOf(window);
            const bool still = after == before && (!size.isValid() || window->size() == size);
            before = std::move(after);
            return still;
        },
        timeoutMs);
}

// Whether `widget` sits inside a scroll area's viewport (its size there is the content's own).
inline bool inScrolledContent(const QWidget* widget) {
    for (const QWidget* up = widget->parentWidget(); up; up = up->parentWidget()) {
        const auto* area = qobject_cast<const QAbstractScrollArea*>(up->parentWidget());
        if (area && area->viewport() == up) {
            return true;
        }
    }
    return false;
}

// The scroll area around `widget` that scrolls vertically, if any.
inline const QAbstractScrollArea* verticalScroller(const QWidget* widget) {
    for (const QWidget* up = widget->parentWidget(); up; up = up->parentWidget()) {
        const auto* area = qobject_cast<const QAbstractScrollArea*>(up->parentWidget());
        if (area && area->viewport() == up &&
            area->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff) {
            return area;
        }
    }
    return nullptr;
}

// The height of the first row a scroll area shows, 0 when it has none.
inline int firstRowHeight(const QAbstractScrollArea* area) {
    if (const auto* view = qobject_cast<const QAbstractItemView*>(area)) {
        return view->model() && view->model()->rowCount() > 0
                   ? view->visualRect(view->model()->index(0, 0)).height()
                   : 0;
    }
    const auto* scroll = qobject_cast<const QScrollArea*>(area);
    if (!scroll || !scroll->widget()) {
        return 0;
    }
    // A page's area holds one column, perhaps inside a frame that centres it: its first row is
    // the column's first.
    const QWidget* content = scroll->widget();
    for (;;) {
        QList<const QWidget*> shown;
        for (const auto* child : content->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (child->isVisible()) {
                shown.append(child);
            }
        }
        if (shown.size() != 1) {
            return shown.isEmpty() ? 0 : shown.first()->height();
        }
        content = shown.first();
    }
}

// Each visible widget under `root` at the window's present size: it lies within its parent
// (content scrolled vertically inside a scroll area only within its width), is not squeezed
// below its minimum size, and its text is not cut: buttons as wide as their text, labels as
// wide (or, wrapped, as tall) as theirs, a picker's chosen entry within its field. No
// horizontal scroll bar shows, no scroll area scrolls inside another in the same direction, and
// every scroll area shows at least its first row whole.
inline void expectNothingCut(QWidget* root) {
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
        EXPECT_TRUE(inside) << describeWidget(widget) << " in " << describeWidget(parent);
        // Controls, not containers (a stack's minimum counts its hidden pages); a line edit
        // places its own icon buttons.
        const QSize least = widget->minimumSizeHint().expandedTo(widget->minimumSize());
        if (!widget->layout() && !inScrolledContent(widget) && least.isValid() &&
            !qobject_cast<QScrollBar*>(widget) &&
            qstrcmp(widget->metaObject()->className(), "QLineEditIconButton") != 0) {
            EXPECT_GE(widget->height(), std::min(least.height(), widget->maximumHeight()))
                << describeWidget(widget) << " squeezed";
            EXPECT_GE(widget->width(), std::min(least.width(), widget->maximumWidth()))
                << describeWidget(widget) << " squeezed";
        }
        if (const auto* button = qobject_cast<QPushButton*>(widget)) {
            EXPECT_GE(button->width(), button->sizeHint().width()) << describeWidget(widget);
        }
        const auto* label = qobject_cast<QLabel*>(widget);
        if (label && !label->text().isEmpty()) {
            EXPECT_GE(label->wordWrap() ? label->height() : label->width(),
                      label->wordWrap() ? label->heightForWidth(label->width())
                                        : label->minimumSizeHint().width())
                << describeWidget(widget) << " " << label->text().toStdString();
        }
        if (const auto* picker = qobject_cast<QComboBox*>(widget)) {
            QStyleOptionComboBox option;
            option.initFrom(picker);
            option.editable = picker->isEditable();
            const QRect field = picker->style()->subControlRect(
                QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, picker);
            const int icon = picker->itemIcon(picker->currentIndex()).isNull()
                                 ? 0
                                 : picker->iconSize().width() + 4;
            EXPECT_LE(picker->fontMetrics().horizontalAdvance(picker->currentText()) + icon,
                      field.width())
                << describeWidget(widget) << " " << picker->currentText().toStdString();
        }
        if (const auto* bar = qobject_cast<QScrollBar*>(widget)) {
            EXPECT_EQ(bar->orientation(), Qt::Vertical) << describeWidget(parent->parentWidget());
        }
        if (const auto* scroller = qobject_cast<QAbstractScrollArea*>(widget)) {
            if (scroller->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff) {
                const auto* outer = verticalScroller(widget);
                EXPECT_EQ(outer, nullptr)
                    << describeWidget(widget) << " scrolls inside " << describeWidget(outer);
            }
            EXPECT_GE(scroller->viewport()->height(), firstRowHeight(scroller))
                << describeWidget(widget) << " shows less than one row";
        }
    }
}

// At each window size, nothing under `root` is cut (above), and a screenshot of the state is
// written to the build folder as tavrolin-<name>-<width>.png.
inline void expectFits(QWidget* window, QWidget* root, const std::string& name) {
    for (const QSize size : windowSizes) {
        const std::string shotName = name + "-" + std::to_string(size.width());
        SCOPED_TRACE(shotName);
        window->resize(size);
        root->window()->resize(size);  // a sheet as it opens over a window of that size
        ASSERT_TRUE(settled(root->window(), size));
        ASSERT_TRUE(settled(window, size));
        EXPECT_EQ(window->size(), size);
        expectNothingCut(root);
        const QString shot =
            QString::fromStdString((buildFolder() / ("tavrolin-" + shotName + ".png")).string());
        ASSERT_TRUE(root->screen()->grabWindow(root->window()->winId()).save(shot, "PNG"));
        EXPECT_GT(QImage(shot).width(), 600);
    }
}

}  // namespace tavtest
