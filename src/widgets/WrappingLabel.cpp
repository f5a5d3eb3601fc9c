#include "widgets/WrappingLabel.h"

#include <QPainter>
#include <QTextLayout>

#include <algorithm>

namespace tavrolin {

namespace {

// Lays `text` out in lines of `width`, breaking inside a word only where the word alone is
// wider than that.
void layOut(QTextLayout& layout, int width) {
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal top = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(width, 1));
        line.setPosition(QPointF(0, top));
        top += line.height();
    }
    layout.endLayout();
}

QString layoutText(QString text) {
    return text.replace(u'\n', QChar::LineSeparator);
}

}  // namespace

WrappingLabel::WrappingLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
}

void WrappingLabel::setMaximumLineCount(int lines) {
    maximumLines_ = std::max(lines, 0);
    updateGeometry();
    update();
}

int WrappingLabel::lineCount(int width) const {
    if (text().isEmpty()) {
        return 0;
    }
    QTextLayout layout(layoutText(text()), font());
    layOut(layout, width);
    const int lines = layout.lineCount();
    return maximumLines_ > 0 ? std::min(lines, maximumLines_) : lines;
}

int WrappingLabel::heightForWidth(int width) const {
    const QMargins margins = contentsMargins();
    const int lines = lineCount(width - margins.left() - margins.right());
    return lines * fontMetrics().lineSpacing() + margins.top() + margins.bottom();
}

QSize WrappingLabel::sizeHint() const {
    const QMargins margins = contentsMargins();
    // As wide as the text on one line, up to about 80 characters; then wrapped.
    const int natural = fontMetrics().horizontalAdvance(layoutText(text()));
    const int width =
        std::min(natural, fontMetrics().averageCharWidth() * 80) + margins.left() + margins.right();
    return {width, std::max(heightForWidth(width), fontMetrics().lineSpacing())};
}

QSize WrappingLabel::minimumSizeHint() const {
    const QMargins margins = contentsMargins();
    const int natural = fontMetrics().horizontalAdvance(layoutText(text()));
    return {
        std::min(natural, fontMetrics().averageCharWidth() * 12) + margins.left() + margins.right(),
        fontMetrics().lineSpacing() + margins.top() + margins.bottom()};
}

void WrappingLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawFrame(&painter);
    const QRect area = contentsRect();
    painter.setPen(palette().color(foregroundRole()));
    painter.setFont(font());
    const QString shown = layoutText(text());
    QTextLayout layout(shown, font());
    layOut(layout, area.width());
    const int lines = layout.lineCount();
    const int drawn = maximumLines_ > 0 ? std::min(lines, maximumLines_) : lines;
    const int spacing = fontMetrics().lineSpacing();
    for (int index = 0; index < drawn; ++index) {
        const QTextLine line = layout.lineAt(index);
        const int top = area.top() + index * spacing;
        if (index == drawn - 1 && drawn < lines) {
            // The rest of the text on the last line, ending in an ellipsis.
            const QString rest = fontMetrics().elidedText(
                shown.mid(line.textStart()).replace(QChar::LineSeparator, u' '), Qt::ElideRight,
                area.width());
            painter.drawText(QPoint(area.left(), top + fontMetrics().ascent()), rest);
        } else {
            line.draw(&painter, QPointF(area.left(), top - line.y()));
        }
    }
}

}  // namespace tavrolin
