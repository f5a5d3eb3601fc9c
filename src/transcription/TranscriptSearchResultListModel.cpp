#include "transcription/TranscriptSearchResultListModel.h"

#include <QApplication>
#include <QPainter>
#include <QTextLayout>

#include <utility>

#include "transcription/TranscriptionSourceText.h"
#include "widgets/AppStyle.h"

namespace tavrolin {

namespace {

constexpr int padding = 6;
constexpr int textLines = 2;

}  // namespace

void drawWrappedText(QPainter* painter, const QRect& area, const QString& text, int maxLines) {
    const QFontMetrics metrics(painter->font());
    QTextLayout layout(text, painter->font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    int y = area.top();
    for (int line = 0; line < maxLines; ++line) {
        QTextLine textLine = layout.createLine();
        if (!textLine.isValid()) {
            break;
        }
        textLine.setLineWidth(area.width());
        const int end = textLine.textStart() + textLine.textLength();
        if (line == maxLines - 1 && end < text.size()) {
            const QString rest = text.mid(textLine.textStart()).simplified();
            painter->drawText(QPoint(area.left(), y + metrics.ascent()),
                              metrics.elidedText(rest, Qt::ElideRight, area.width()));
            break;
        }
        textLine.setPosition(QPointF(0, 0));
        textLine.draw(painter, QPointF(area.left(), y));
        y += metrics.lineSpacing();
    }
    layout.endLayout();
}

void TranscriptSearchResultListModel::setResults(Results results) {
    if (!results || results == results_) {
        return;
    }
    beginResetModel();
    Results shown = std::exchange(results_, std::move(results));
    endResetModel();
    if (onRetire) {
        onRetire(std::move(shown));
    }
}

int TranscriptSearchResultListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(results_->size());
}

QVariant TranscriptSearchResultListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const auto& result = (*results_)[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            return toQString(result.sourceURL.filename());
        case startTimeTextRole:
            return QString::fromStdString(clockTimeText(result.cue.startTime));
        case cueTextRole:
            return QString::fromStdString(result.cue.text);
        case Qt::ToolTipRole:
            return plainToolTip(QString::fromStdString(result.cue.text));
        case Qt::AccessibleTextRole:
            return toQString(result.sourceURL.filename()) + QStringLiteral(", ") +
                   QString::fromStdString(clockTimeText(result.cue.startTime)) +
                   QStringLiteral(", ") + QString::fromStdString(result.cue.text);
        default:
            return {};
    }
}

QSize TranscriptSearchResultDelegate::sizeHint(const QStyleOptionViewItem& option,
                                               const QModelIndex&) const {
    const int header = QFontMetrics(fontFor(TextStyle::caption)).height();
    const int text = QFontMetrics(fontFor(TextStyle::callout)).lineSpacing() * textLines;
    return {option.rect.width(), padding + header + 4 + text + padding};
}

void TranscriptSearchResultDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                           const QModelIndex& index) const {
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, widget);

    painter->save();
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    const QRect area = option.rect.adjusted(padding + 2, padding, -padding - 2, -padding);
    const QFont timeFont = fontFor(TextStyle::caption);
    const QFontMetrics timeMetrics(timeFont);
    const QString time = index.data(TranscriptSearchResultListModel::startTimeTextRole).toString();
    const int timeWidth = timeMetrics.horizontalAdvance(time);
    painter->setFont(timeFont);
    painter->setPen(selected ? palette.color(QPalette::HighlightedText)
                             : secondaryTextColor(palette));
    painter->drawText(
        QRect(area.right() - timeWidth + 1, area.top(), timeWidth, timeMetrics.height()),
        Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, time);

    const QFont nameFont = fontFor(TextStyle::caption, QFont::DemiBold);
    const QFontMetrics nameMetrics(nameFont);
    const int nameWidth = std::max(0, area.width() - timeWidth - 8);
    painter->setFont(nameFont);
    painter->setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(QRect(area.left(), area.top(), nameWidth, timeMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      nameMetrics.elidedText(index.data().toString(), Qt::ElideMiddle, nameWidth));

    painter->setFont(fontFor(TextStyle::callout));
    drawWrappedText(painter, area.adjusted(0, timeMetrics.height() + 4, 0, 0),
                    index.data(TranscriptSearchResultListModel::cueTextRole).toString(), textLines);
    if (option.state & QStyle::State_HasFocus) {
        drawFocusMark(*painter, QRectF(option.rect).adjusted(1.5, 1.5, -1.5, -1.5), palette,
                      selected);
    }
    painter->restore();
}

}  // namespace tavrolin
