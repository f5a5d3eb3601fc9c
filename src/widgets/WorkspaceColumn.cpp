#include "widgets/WorkspaceColumn.h"

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
    followFocus(scroll);
    // A screen reader names the page's area after the page.
    scroll->setAccessibleName(!page->windowTitle().isEmpty() ? page->windowTitle()
                                                             : page->window()->windowTitle());
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);

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

void followFocus(QScrollArea* area) {
    area->setFocusPolicy(Qt::NoFocus);
    QObject::connect(qApp, &QApplication::focusChanged, area, [area](QWidget*, QWidget* now) {
        if (now != nullptr && area->widget() != nullptr && area->widget()->isAncestorOf(now)) {
            area->ensureWidgetVisible(now);
        }
    });
}

}  // namespace tavrolin
