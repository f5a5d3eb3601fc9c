#include "widgets/WorkspaceColumn.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QPointer>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWheelEvent>

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

namespace {

// Hands the wheel from a picker without the focus inside a scroll area to the area, which
// scrolls. A picker there takes no focus from the wheel either: the application gives it before
// any filter sees the wheel, and a picker that has the focus takes the wheel for itself.
class PickerWheelGuard : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Checked as it shows: only then is it surely in the area it will be used in.
        if (event->type() == QEvent::Show) {
            auto* picker = qobject_cast<QComboBox*>(watched);
            if (picker && picker->focusPolicy() == Qt::WheelFocus && enclosingArea(picker)) {
                picker->setFocusPolicy(Qt::StrongFocus);
            }
            return false;
        }
        if (event->type() != QEvent::Wheel) {
            return false;
        }
        auto* picker = qobject_cast<QComboBox*>(watched);
        QAbstractScrollArea* area = picker && !picker->hasFocus() ? enclosingArea(picker) : nullptr;
        if (area == nullptr) {
            return false;
        }
        const auto* wheel = static_cast<QWheelEvent*>(event);
        const QPointF at = area->viewport()->mapFromGlobal(wheel->globalPosition());
        QWheelEvent handed(at, wheel->globalPosition(), wheel->pixelDelta(), wheel->angleDelta(),
                           wheel->buttons(), wheel->modifiers(), wheel->phase(), wheel->inverted(),
                           wheel->source());
        QCoreApplication::sendEvent(area->viewport(), &handed);
        return true;
    }

  private:
    static QAbstractScrollArea* enclosingArea(QWidget* widget) {
        for (QWidget* up = widget->parentWidget(); up; up = up->parentWidget()) {
            if (auto* area = qobject_cast<QAbstractScrollArea*>(up)) {
                return area;
            }
        }
        return nullptr;
    }
};

void guardPickersFromWheel() {
    static QPointer<PickerWheelGuard> guard;
    if (guard == nullptr) {
        guard = new PickerWheelGuard(qApp);
        qApp->installEventFilter(guard);
    }
}

}  // namespace

void followFocus(QScrollArea* area) {
    guardPickersFromWheel();
    area->setFocusPolicy(Qt::NoFocus);
    QObject::connect(qApp, &QApplication::focusChanged, area, [area](QWidget*, QWidget* now) {
        if (now != nullptr && area->widget() != nullptr && area->widget()->isAncestorOf(now)) {
            area->ensureWidgetVisible(now);
        }
    });
}

}  // namespace tavrolin
