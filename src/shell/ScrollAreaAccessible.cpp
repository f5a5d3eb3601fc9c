#include "shell/ScrollAreaAccessible.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QScrollBar>

namespace tavrolin {

namespace {

class ScrollAreaAccessible : public QAccessibleWidget {
  public:
    explicit ScrollAreaAccessible(QAbstractScrollArea* area)
        : QAccessibleWidget(area, QAccessible::Client) {}

    bool isValid() const override { return QAccessibleWidget::isValid() && area() != nullptr; }

    int childCount() const override { return static_cast<int>(parts().size()); }

    QAccessibleInterface* child(int index) const override {
        const QWidgetList list = parts();
        if (index < 0 || index >= list.size()) {
            return nullptr;
        }
        return QAccessible::queryAccessibleInterface(list.at(index));
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child == nullptr || child->object() == nullptr || !child->object()->isWidgetType()) {
            return -1;
        }
        return static_cast<int>(parts().indexOf(static_cast<QWidget*>(child->object())));
    }

    QAccessibleInterface* childAt(int x, int y) const override {
        if (area() == nullptr || !area()->isVisible()) {
            return nullptr;
        }
        for (QWidget* part : parts()) {
            if (QRect(part->mapToGlobal(QPoint(0, 0)), part->size()).contains(x, y)) {
                return QAccessible::queryAccessibleInterface(part);
            }
        }
        return nullptr;
    }

  private:
    QAbstractScrollArea* area() const { return qobject_cast<QAbstractScrollArea*>(object()); }

    // The viewport, then the containers of the shown scroll bars and the shown corner widget:
    // the children Qt's own interface reports, in its order.
    QWidgetList parts() const {
        QWidgetList list;
        QAbstractScrollArea* scrollArea = area();
        if (scrollArea == nullptr) {
            return list;
        }
        if (QWidget* viewport = scrollArea->viewport()) {
            list.append(viewport);
        }
        for (QScrollBar* bar :
             {scrollArea->horizontalScrollBar(), scrollArea->verticalScrollBar()}) {
            if (bar != nullptr && bar->isVisible() && bar->parentWidget() != nullptr) {
                list.append(bar->parentWidget());
            }
        }
        if (QWidget* corner = scrollArea->cornerWidget();
            corner != nullptr && corner->isVisible()) {
            list.append(corner);
        }
        return list;
    }
};

QAccessibleInterface* scrollAreaInterface(const QString& className, QObject* object) {
    // Named classes only: item views, text edits and the like keep the interfaces Qt made them.
    if (className != QLatin1String("QScrollArea") &&
        className != QLatin1String("QAbstractScrollArea")) {
        return nullptr;
    }
    auto* area = qobject_cast<QAbstractScrollArea*>(object);
    return area == nullptr ? nullptr : new ScrollAreaAccessible(area);
}

}  // namespace

void installScrollAreaAccessibility() {
    QAccessible::installFactory(scrollAreaInterface);
}

}  // namespace tavrolin
