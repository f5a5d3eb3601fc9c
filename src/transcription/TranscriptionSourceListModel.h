#pragma once

#include <QAbstractListModel>
#include <QStyledItemDelegate>

#include <functional>
#include <optional>
#include <vector>

#include "model/Transcription.h"
#include "widgets/AccessibleListRows.h"

namespace tavrolin {

class TranscriptionViewModel;
class TranscriptionWorkspaceState;

// One source row as it is shown, worked out from the workspace state.
struct TranscriptionSourceRow {
    enum class Bar { none, indeterminate, determinate };

    Uuid id;
    QString fileName;
    BatchTranscriptionSourceStatus::Kind kind = BatchTranscriptionSourceStatus::Kind::ready;
    QString statusLine;  // the status text and, when known, the percentage
    Bar bar = Bar::none;
    double fraction = 0;
    bool showsExportMark = false;
    bool isExportMarked = false;
    bool isExportMarkEnabled = false;
    QString exportMarkAccessibleName;
    bool isCancelButton = false;  // else the remove button
    bool isButtonEnabled = false;
    QString buttonHelp;
    QString buttonAccessibleName;

    friend bool operator==(const TranscriptionSourceRow&, const TranscriptionSourceRow&) = default;
};

// The workspace's sources as a list model, one row per source in order. `sync` resets the rows
// only when the list of source ids changed and otherwise reports the rows that changed, so a
// progress tick repaints one row. The export mark is Qt::CheckStateRole (invalid while hidden),
// user-checkable while it is enabled.
// GUI thread only.
class TranscriptionSourceListModel : public QAbstractListModel {
    Q_OBJECT

  public:
    enum Role {
        statusKindRole = Qt::UserRole + 1,
        statusSymbolRole,
        statusLineRole,
        // The bar's fraction, -1 while indeterminate; invalid without a bar.
        progressRole,
        exportMarkEnabledRole,
        exportMarkAccessibleNameRole,
        // "cancel" or "remove".
        buttonKindRole,
        buttonEnabledRole,
        buttonHelpRole,
        buttonAccessibleNameRole,
    };

    using QAbstractListModel::QAbstractListModel;

    // Called with the source and the new state when the export mark is set through the model
    // (a click, the space key, an accessibility action).
    std::function<void(const Uuid&, bool)> onExportMark;

    void sync(const TranscriptionWorkspaceState& state);
    const TranscriptionSourceRow& row(int row) const {
        return rows_[static_cast<std::size_t>(row)];
    }
    std::optional<int> rowOf(const Uuid& id) const;
    bool hasIndeterminateBar() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    std::vector<TranscriptionSourceRow> rows_;
};

// Paints a source row (export mark, status symbol, file name, status line, thin progress bar,
// remove or cancel button); a click on the mark sets it through the model, a click on the button
// calls the view model. GUI thread only.
class TranscriptionSourceDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    TranscriptionSourceDelegate(TranscriptionViewModel& viewModel, QObject* parent);

    // The places of the mark and the button inside a row's rectangle.
    static QRect exportMarkRect(const QRect& row);
    static QRect buttonRect(const QRect& row);
    // The row's mark and button as a screen reader sees them, `rect` being the row's rectangle.
    std::vector<AccessibleRowControl> accessibleControls(const TranscriptionSourceRow& row,
                                                         const QRect& rect) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

  private:
    // What a click on a row's button does: cancel the run or remove the source. By value: the
    // view model may change the rows at once.
    void pressButton(bool cancels, Uuid id) const;

    TranscriptionViewModel& viewModel_;
};

}  // namespace tavrolin
