#include "widgets/RetiredWidget.h"

#include <QAccessible>
#include <QLayout>
#include <QWidget>

namespace tavrolin {

namespace {

// Layouts hold their widgets' items in nested layouts too.
bool removeFromLayout(QLayout* layout, QWidget* widget) {
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->widget() == widget) {
            delete layout->takeAt(i);
            layout->invalidate();
            return true;
        }
        if (item->layout() != nullptr && removeFromLayout(item->layout(), widget)) {
            return true;
        }
    }
    return false;
}

}  // namespace

void retireWidget(QWidget* widget) {
    if (widget == nullptr) {
        return;
    }
    QWidget* parent = widget->parentWidget();
    if (parent != nullptr && parent->layout() != nullptr) {
        removeFromLayout(parent->layout(), widget);
    }
    widget->hide();
    widget->setObjectName(QString());
    widget->deleteLater();
    if (parent != nullptr && QAccessible::isActive()) {
        QAccessibleEvent reordered(parent, QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&reordered);
    }
}

}  // namespace tavrolin
