#pragma once

#include <QAbstractListModel>
#include <QStyledItemDelegate>

#include <vector>

#include "rename/RenameRule.h"

namespace tavrolin {

// The planned names as a list model: one row per plan item, "old name → new name". GUI thread.
class RenamePreviewListModel : public QAbstractListModel {
  public:
    enum Role { sourceNameRole = Qt::UserRole + 1, destinationNameRole };

    using QAbstractListModel::QAbstractListModel;

    // Resets the rows only when the sources changed; otherwise updates the changed rows.
    void setPlan(const std::vector<RenamePlanItem>& plan);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  private:
    std::vector<RenamePlanItem> plan_;
};

// Paints a row: the old name in the secondary colour, an arrow, the new name. GUI thread.
class RenamePreviewDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace tavrolin
