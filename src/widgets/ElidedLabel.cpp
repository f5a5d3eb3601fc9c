#include "widgets/ElidedLabel.h"

#include <QPainter>

#include <algorithm>

#include "widgets/AppStyle.h"

namespace tavrolin {

ElidedLabel::ElidedLabel(QWidget* parent, Qt::TextElideMode elideMode)
    : QWidget(parent), elideMode_(elideMode) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    setToolTip(plainToolTip(text));
    setAccessibleName(text);  // painted text is otherwise invisible to screen readers
    updateGeometry();
    update();
}

void ElidedLabel::setTextColor(const QColor& color) {
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, color);
    setPalette(palette);
    update();
}

namespace {

// Some fonts draw "_" below their descent; a line as tall as the font's height would cut it off
// ("big_movie" read as "big movie").
int lineHeight(const QFontMetrics& metrics) {
    const int below = std::max(metrics.descent(), metrics.boundingRect(QChar(u'_')).bottom() + 1);
    return metrics.ascent() + below + 1;
}

}  // namespace

QSize ElidedLabel::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text_), lineHeight(metrics)};
}

QSize ElidedLabel::minimumSizeHint() const {
    return {0, lineHeight(QFontMetrics(font()))};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics = fontMetrics();
    const QString shown = metrics.elidedText(text_, elideMode_, width());
    // On the baseline of a line of lineHeight, centred when the label is taller.
    const int top = std::max(0, (height() - lineHeight(metrics)) / 2);
    painter.drawText(QPoint(0, top + metrics.ascent()), shown);
}

}  // namespace tavrolin
