#pragma once

#include <QAbstractListModel>
#include <QStyledItemDelegate>

#include <functional>
#include <memory>
#include <vector>

#include "model/Transcription.h"

class QPainter;
class QRect;
class QString;

namespace tavrolin {

// Lays `text` out in lines of the area's width, at most `maxLines`, the last one elided when
// text is left. Shared by the painted rows and cards of the Transcribe page.
void drawWrappedText(QPainter* painter, const QRect& area, const QString& text, int maxLines);

// The hits of the search across all transcripts, one row per hit in order: two hits of one
// source are two rows. GUI thread only.
class TranscriptSearchResultListModel : public QAbstractListModel {
    Q_OBJECT

  public:
    enum Role { startTimeTextRole = Qt::UserRole + 1, cueTextRole };

    using Results = std::shared_ptr<const std::vector<BatchTranscriptSearchResult>>;

    using QAbstractListModel::QAbstractListModel;

    // Takes a list the rows no longer show; freeing a long one here would stall the GUI thread.
    std::function<void(Results)> onRetire;

    // Shares the view model's list, which is never changed, and resets the rows when it is
    // another list: a redraw neither copies nor compares the hits.
    void setResults(Results results);
    const BatchTranscriptSearchResult& result(int row) const {
        return (*results_)[static_cast<std::size_t>(row)];
    }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

  private:
    Results results_ = std::make_shared<const std::vector<BatchTranscriptSearchResult>>();
};

// Paints a hit: the file name and the cue's start time over up to two lines of the cue text, all
// as plain text. GUI thread only.
class TranscriptSearchResultDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace tavrolin
