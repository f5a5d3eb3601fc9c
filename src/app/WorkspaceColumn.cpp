#include "app/WorkspaceColumn.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QVBoxLayout>

namespace tavrolin {

QVBoxLayout* addScrollingColumn(QWidget* page, int maxWidth) {
    auto* outer = new QVBoxLayout(page);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("scroll"));
    // The page scrolls to follow the focus; it is no Tab stop of its own, since nothing would
    // show that it has the focus. A screen reader names it after the page.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setAccessibleName(!page->windowTitle().isEmpty() ? page->windowTitle()
                                                             : page->window()->windowTitle());
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);
    // Whichever way the focus comes onto the page (Tab from the sidebar, Shift+Tab round to the
    // last control, a control handing it on), the page shows it.
    QObject::connect(qApp, &QApplication::focusChanged, scroll, [scroll](QWidget*, QWidget* now) {
        if (now != nullptr && scroll->widget() != nullptr && scroll->widget()->isAncestorOf(now)) {
            scroll->ensureWidgetVisible(now);
        }
    });

    auto* content = new QWidget;
    auto* centring = new QHBoxLayout(content);
    centring->setContentsMargins(0, 0, 0, 0);
    // The content grows with the column at once: content that lags behind squeezes every row
    // until the scroll area catches up, which lays them all out again.
    centring->setSizeConstraint(QLayout::SetMinimumSize);
    auto* columnWidget = new QWidget;
    columnWidget->setObjectName(QStringLiteral("column"));
    columnWidget->setMaximumWidth(maxWidth);
    centring->addStretch(0);
    centring->addWidget(columnWidget, 1);
    centring->addStretch(0);
    auto* column = new QVBoxLayout(columnWidget);
    column->setContentsMargins(28, 28, 28, 28);
    column->setSpacing(20);
    scroll->setWidget(content);
    return column;
}

}  // namespace tavrolin
