#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <QStyledItemDelegate>

#include <functional>
#include <optional>
#include <vector>

#include "model/SubtitleCue.h"

namespace tavrolin {

// A cue is low-confidence when its confidence is known, a number, and below 0.7.
bool isLowConfidence(const SubtitleCue& cue);

// The cues of the review list, one row per cue. Edits of a row's text go to `onEdit` with the
// whole edited list; `hasChapter` tells the divider above a row whether a chapter starts at its
// cue. GUI thread only.
class TranscriptCueListModel : public QAbstractListModel {
    Q_OBJECT

  public:
    enum Role { cueIDRole = Qt::UserRole + 1, startTimeRole, lowConfidenceRole, hasChapterRole };

    std::function<void(std::vector<SubtitleCue>)> onEdit;
    std::function<bool(double)> hasChapter;

    // Keeps the rows when only texts changed, so an open editor stays open.
    void setCues(const std::vector<SubtitleCue>& cues);
    const std::vector<SubtitleCue>& cues() const { return cues_; }
    std::optional<int> row(std::int64_t cueID) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    std::vector<SubtitleCue> cues_;
};

// Paints a cue row (number, start time, text, low-confidence mark) under the chapter-insertion
// strip that sits between it and the row before, and edits the text in place. GUI thread only.
class TranscriptCueDelegate : public QStyledItemDelegate {
    Q_OBJECT

  public:
    static constexpr int dividerHeight = 24;
    static constexpr int cueHeight = 34;

    using QStyledItemDelegate::QStyledItemDelegate;

    // The strip's texts: what it reads, its help and its accessibility label.
    static QString dividerText(double startTime, bool alreadyAdded);
    static QString dividerHelp(std::int64_t cueID, bool alreadyAdded);
    static QString dividerAccessibleText(double startTime, bool alreadyAdded);

    void setHoveredDivider(int row) { hoveredDivider_ = row; }
    int hoveredDivider() const { return hoveredDivider_; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    // Shows the cue's text without reporting it back as an edit.
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

  protected:
    // Tab in an open editor leaves the list rather than opening the next cue's editor.
    bool eventFilter(QObject* object, QEvent* event) override;

  private:
    int hoveredDivider_ = -1;
};

// The editable cue list: reveals the divider under the pointer, adds a chapter on its click
// through `onAddChapter`, and scrolls a cue to the centre. One Tab stop: the arrow keys move
// between cues, each opening its editor, Ctrl+Return adds a chapter at the current cue, Tab
// leaves the list. The editor is a child of the
// list itself, so a screen reader finds it in the list's tree; each divider is a button there.
// GUI thread only.
class TranscriptCueListView : public QListView {
    Q_OBJECT

  public:
    explicit TranscriptCueListView(QWidget* parent = nullptr);

    std::function<void(const SubtitleCue&)> onAddChapter;
    TranscriptCueListModel* cueModel() const { return model_; }
    TranscriptCueDelegate* cueDelegate() const { return delegate_; }
    void centreOn(std::int64_t cueID);
    // Moves the focus from the list to the next (or previous) control of the window.
    void leaveByTab(bool forward) { focusNextPrevChild(forward); }
    // What the divider above the current cue does on a click: adds a chapter there.
    void addChapterAtCurrentCue() { addChapterAt(currentIndex().row()); }

  protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    void addChapterAt(int row);

    // The row whose divider strip is at `point`, or -1.
    int dividerRowAt(const QPoint& point) const;

    TranscriptCueListModel* model_;
    TranscriptCueDelegate* delegate_;
};

}  // namespace tavrolin
