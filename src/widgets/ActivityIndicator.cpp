#include "widgets/ActivityIndicator.h"

#include <QPainter>

#include "widgets/AppStyle.h"

namespace tavrolin {

ActivityIndicator::ActivityIndicator(QWidget* parent, int size) : QWidget(parent) {
    setFixedSize(size, size);
    setAccessibleName(QStringLiteral("In progress"));
    timer_.setInterval(80);
    connect(&timer_, &QTimer::timeout, this, [this] {
        angle_ = (angle_ + 30) % 360;
        update();
    });
}

void ActivityIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(secondaryTextColor(palette()), std::max(1.5, width() / 8.0));
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    const qreal inset = pen.widthF();
    painter.drawArc(QRectF(rect()).adjusted(inset, inset, -inset, -inset), -angle_ * 16, 270 * 16);
}

void ActivityIndicator::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    timer_.start();
}

void ActivityIndicator::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    timer_.stop();
}

}  // namespace tavrolin
