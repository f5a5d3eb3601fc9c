#include "rename/RenamePreviewList.h"

#include <QPainter>

#include "widgets/AppStyle.h"

namespace tavrolin {

namespace {

const QString arrow = QStringLiteral("  \u2192  ");

}  // namespace

void RenamePreviewListModel::setPlan(const std::vector<RenamePlanItem>& plan) {
    const bool sameRows =
        plan.size() == plan_.size() &&
        std::equal(plan.begin(), plan.end(), plan_.begin(),
                   [](const auto& a, const auto& b) { return a.source == b.source; });
    if (!sameRows) {
        beginResetModel();
        plan_ = plan;
        endResetModel();
        return;
    }
    for (std::size_t row = 0; row < plan.size(); ++row) {
        if (plan_[row].destination != plan[row].destination) {
            plan_[row].destination = plan[row].destination;
            const QModelIndex changed = index(static_cast<int>(row));
            emit dataChanged(changed, changed);
        }
    }
}

int RenamePreviewListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(plan_.size());
}

QVariant RenamePreviewListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const auto& item = plan_[static_cast<std::size_t>(index.row())];
    const QString source = toQString(item.source.filename());
    const QString destination = toQString(item.destination.filename());
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return source + arrow + destination;
        case Qt::ToolTipRole:
            return plainToolTip(source + arrow + destination);
        case sourceNameRole:
            return source;
        case destinationNameRole:
            return destination;
        default:
            return {};
    }
}

void RenamePreviewDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    painter->save();
    painter->setFont(fontFor(TextStyle::callout));
    const QFontMetrics metrics(painter->font());
    QRect area = option.rect.adjusted(8, 0, -8, 0);
    const QColor secondary = secondaryTextColor(option.palette);
    QColor tertiary = secondary;
    tertiary.setAlphaF(tertiary.alphaF() * 0.6f);
    // Names are drawn as plain text; each part is elided on its own.
    const auto drawPart = [&](const QString& text, const QColor& color, int maxWidth) {
        const QString shown = metrics.elidedText(text, Qt::ElideMiddle, maxWidth);
        painter->setPen(color);
        painter->drawText(area, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, shown);
        area.setLeft(area.left() + metrics.horizontalAdvance(shown));
    };
    const int half = (area.width() - metrics.horizontalAdvance(arrow)) / 2;
    drawPart(index.data(RenamePreviewListModel::sourceNameRole).toString(), secondary, half);
    drawPart(arrow, tertiary, area.width());
    drawPart(index.data(RenamePreviewListModel::destinationNameRole).toString(),
             option.palette.color(QPalette::Text), area.width());
    painter->restore();
}

QSize RenamePreviewDelegate::sizeHint(const QStyleOptionViewItem& option,
                                      const QModelIndex&) const {
    const QFontMetrics metrics(fontFor(TextStyle::callout));
    return {option.rect.width(), metrics.height() + 8};
}

}  // namespace tavrolin
