#include "transcription/TranscriptCueList.h"

#include <QAbstractItemView>
#include <QFocusEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <cmath>

#include "transcription/TranscriptionWorkspaceState.h"
#include "widgets/AccessibleListRows.h"
#include "widgets/AppStyle.h"
#include "widgets/FieldText.h"
#include "widgets/SymbolIcons.h"

namespace tavrolin {

namespace {

constexpr int numberWidth = 30;
constexpr int timeWidth = 82;
constexpr int spacing = 10;
constexpr int markWidth = 16;

QString timestamp(double seconds) {
    return QString::fromStdString(TranscriptionWorkspaceState::formatTimestamp(seconds));
}

// Ctrl+Return (or Enter): what a click on the divider above the current cue does.
bool isAddChapterKey(const QKeyEvent& key) {
    return (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) &&
           (key.modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier;
}

// The cue part of a row, below its divider strip.
QRect cueRect(const QRect& row) {
    return row.adjusted(4, TranscriptCueDelegate::dividerHeight, -4, 0);
}

QRect textRect(const QRect& row) {
    const QRect cue = cueRect(row);
    return cue.adjusted(numberWidth + timeWidth + 2 * spacing, 0, -(markWidth + 8), 0);
}

}  // namespace

bool isLowConfidence(const SubtitleCue& cue) {
    return cue.confidence && !std::isnan(*cue.confidence) && *cue.confidence < 0.7;
}

void TranscriptCueListModel::setCues(const std::vector<SubtitleCue>& cues) {
    const bool sameRows =
        cues.size() == cues_.size() &&
        std::equal(cues.begin(), cues.end(), cues_.begin(), [](const auto& a, const auto& b) {
            return a.id == b.id && a.startTime == b.startTime;
        });
    if (!sameRows) {
        beginResetModel();
        cues_ = cues;
        endResetModel();
        return;
    }
    if (cues != cues_) {
        cues_ = cues;
        emit dataChanged(index(0), index(rowCount() - 1));
    }
}

std::optional<int> TranscriptCueListModel::row(std::int64_t cueID) const {
    const auto found =
        std::ranges::find_if(cues_, [cueID](const auto& cue) { return cue.id == cueID; });
    if (found == cues_.end()) {
        return std::nullopt;
    }
    return static_cast<int>(found - cues_.begin());
}

int TranscriptCueListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(cues_.size());
}

QVariant TranscriptCueListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const SubtitleCue& cue = cues_[index.row()];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return QString::fromStdString(cue.text);
        case Qt::AccessibleTextRole:
            // What a screen reader says for the row: its number, time and text.
            return QStringLiteral("Cue %1, %2: %3")
                .arg(cue.id)
                .arg(timestamp(cue.startTime), QString::fromStdString(cue.text));
        case Qt::AccessibleDescriptionRole:
            // The divider above every row but the first.
            return index.row() == 0 ? QVariant()
                                    : QVariant(TranscriptCueDelegate::dividerAccessibleText(
                                          cue.startTime, hasChapter && hasChapter(cue.startTime)));
        case cueIDRole:
            return QVariant::fromValue<qlonglong>(cue.id);
        case startTimeRole:
            return cue.startTime;
        case lowConfidenceRole:
            return isLowConfidence(cue);
        case hasChapterRole:
            return hasChapter && hasChapter(cue.startTime);
        default:
            return {};
    }
}

bool TranscriptCueListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole || index.row() >= rowCount()) {
        return false;
    }
    const std::string text = value.toString().toStdString();
    if (cues_[index.row()].text == text) {
        return false;
    }
    std::vector<SubtitleCue> edited = cues_;
    edited[index.row()].text = text;
    cues_ = edited;
    emit dataChanged(index, index);
    if (onEdit) {
        onEdit(std::move(edited));
    }
    return true;
}

Qt::ItemFlags TranscriptCueListModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsEditable : Qt::NoItemFlags;
}

QString TranscriptCueDelegate::dividerText(double startTime, bool alreadyAdded) {
    return (alreadyAdded ? QStringLiteral("Chapter at ") : QStringLiteral("Add chapter at ")) +
           timestamp(startTime);
}

QString TranscriptCueDelegate::dividerHelp(std::int64_t cueID, bool alreadyAdded) {
    return alreadyAdded ? QStringLiteral("A chapter already starts here")
                        : QStringLiteral("Insert a chapter marker before cue %1").arg(cueID);
}

QString TranscriptCueDelegate::dividerAccessibleText(double startTime, bool alreadyAdded) {
    return (alreadyAdded ? QStringLiteral("Chapter marker at ")
                         : QStringLiteral("Add chapter marker at ")) +
           timestamp(startTime);
}

void TranscriptCueDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    painter->save();
    const QPalette& palette = option.palette;
    const QColor secondary = secondaryTextColor(palette);
    const double start = index.data(TranscriptCueListModel::startTimeRole).toDouble();

    if (index.row() > 0 && index.row() == hoveredDivider_) {
        const bool added = index.data(TranscriptCueListModel::hasChapterRole).toBool();
        const QRect strip(option.rect.left() + 4, option.rect.top(), option.rect.width() - 8,
                          dividerHeight);
        const QString text = dividerText(start, added);
        QFont font = fontFor(TextStyle::caption);
        painter->setFont(font);
        const int textWidth = painter->fontMetrics().horizontalAdvance(text);
        const int middle = strip.center().y();
        const int contentWidth = 16 + 7 + textWidth;
        const int left = strip.center().x() - contentWidth / 2;
        QColor rule = palette.color(QPalette::WindowText);
        rule.setAlphaF(0.16);
        painter->fillRect(QRect(strip.left(), middle, left - 7 - strip.left(), 1), rule);
        painter->fillRect(
            QRect(left + contentWidth + 7, middle, strip.right() - (left + contentWidth + 7), 1),
            rule);
        const QIcon icon =
            added ? tintedSymbolIcon(QStringLiteral("bookmark.fill"), secondary)
                  : tintedSymbolIcon(QStringLiteral("plus.circle.fill"), accentColor(palette));
        icon.paint(painter, QRect(left, middle - 8, 16, 16));
        painter->setPen(secondary);
        painter->drawText(QRect(left + 23, strip.top(), textWidth + 2, dividerHeight),
                          Qt::AlignVCenter | Qt::AlignLeft, text);
    }

    const QRect cue = cueRect(option.rect);
    const bool low = index.data(TranscriptCueListModel::lowConfidenceRole).toBool();
    if (low) {
        QColor tint = tint::orange();
        tint.setAlphaF(0.06);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(tint);
        painter->drawRoundedRect(cue, 6, 6);
    }
    painter->setFont(fontFor(TextStyle::caption, QFont::DemiBold));
    QColor tertiary = secondary;
    tertiary.setAlphaF(tertiary.alphaF() * 0.7);
    painter->setPen(tertiary);
    painter->drawText(QRect(cue.left(), cue.top(), numberWidth, cue.height()),
                      Qt::AlignVCenter | Qt::AlignRight,
                      QString::number(index.data(TranscriptCueListModel::cueIDRole).toLongLong()));
    painter->setFont(fontFor(TextStyle::caption));
    painter->setPen(secondary);
    painter->drawText(QRect(cue.left() + numberWidth + spacing, cue.top(), timeWidth, cue.height()),
                      Qt::AlignVCenter | Qt::AlignLeft, timestamp(start));
    painter->setFont(fontFor(TextStyle::callout));
    painter->setPen(palette.color(QPalette::Text));
    const QRect text = textRect(option.rect);
    // drawText never reads markup: the cue's text shows as written.
    painter->drawText(
        text, Qt::AlignVCenter | Qt::AlignLeft,
        painter->fontMetrics().elidedText(index.data().toString(), Qt::ElideRight, text.width()));
    if (low) {
        tintedSymbolIcon(QStringLiteral("exclamationmark.triangle.fill"), tint::orange())
            .paint(painter, QRect(cue.right() - markWidth - 4, cue.center().y() - markWidth / 2,
                                  markWidth, markWidth));
    }
    if (option.state & QStyle::State_HasFocus) {
        drawFocusMark(*painter, QRectF(cue).adjusted(1.5, 1.5, -1.5, -1.5), palette);
    }
    painter->restore();
}

QSize TranscriptCueDelegate::sizeHint(const QStyleOptionViewItem& option,
                                      const QModelIndex&) const {
    return {option.rect.width(), dividerHeight + cueHeight};
}

QWidget* TranscriptCueDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                             const QModelIndex& index) const {
    // On the list rather than its viewport: a screen reader reaches the list's children only.
    auto* view = qobject_cast<QAbstractItemView*>(parent->parentWidget());
    auto* editor = new QLineEdit(view ? view : parent);
    editor->setObjectName(QStringLiteral("cueEditor"));
    editor->setPlaceholderText(QStringLiteral("Subtitle text"));
    editor->setFont(fontFor(TextStyle::callout));
    editor->setAccessibleName(QStringLiteral("Subtitle cue %1 text")
                                  .arg(index.data(TranscriptCueListModel::cueIDRole).toLongLong()));
    // Every change goes straight into the cues, typed or set by an accessibility interface.
    auto* self = const_cast<TranscriptCueDelegate*>(this);
    followFieldText(editor, self,
                    [self, editor](const QString&) { emit self->commitData(editor); });
    return editor;
}

void TranscriptCueDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    if (auto* field = qobject_cast<QLineEdit*>(editor)) {
        setFieldText(field, index.data(Qt::EditRole).toString());
    } else {
        QStyledItemDelegate::setEditorData(editor, index);
    }
}

void TranscriptCueDelegate::updateEditorGeometry(QWidget* editor,
                                                 const QStyleOptionViewItem& option,
                                                 const QModelIndex&) const {
    const auto* view = qobject_cast<const QAbstractItemView*>(editor->parentWidget());
    editor->setGeometry(
        textRect(option.rect).translated(view ? view->viewport()->pos() : QPoint()));
}

bool TranscriptCueDelegate::eventFilter(QObject* object, QEvent* event) {
    auto* editor = qobject_cast<QWidget*>(object);
    if (editor && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        auto* list = qobject_cast<TranscriptCueListView*>(editor->parentWidget());
        if (list && isAddChapterKey(*key)) {
            emit commitData(editor);
            list->addChapterAtCurrentCue();
            return true;
        }
        if (tab && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            const bool forward =
                key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier);
            emit commitData(editor);
            emit closeEditor(editor, QAbstractItemDelegate::NoHint);
            if (list) {
                list->leaveByTab(forward);
            }
            return true;
        }
    }
    return QStyledItemDelegate::eventFilter(object, event);
}

bool TranscriptCueDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                      const QStyleOptionViewItem& option,
                                      const QModelIndex& index) {
    if (event->type() != QEvent::ToolTip || !index.isValid()) {
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
    QString help;
    if (index.row() > 0 && event->pos().y() < option.rect.top() + dividerHeight) {
        help = dividerHelp(index.data(TranscriptCueListModel::cueIDRole).toLongLong(),
                           index.data(TranscriptCueListModel::hasChapterRole).toBool());
    } else if (index.data(TranscriptCueListModel::lowConfidenceRole).toBool() &&
               event->pos().x() > option.rect.right() - markWidth - 16) {
        help = QStringLiteral("Low-confidence transcription");
    }
    if (help.isEmpty()) {
        QToolTip::hideText();
    } else {
        QToolTip::showText(event->globalPos(), plainToolTip(help), view);
    }
    return true;
}

TranscriptCueListView::TranscriptCueListView(QWidget* parent)
    : QListView(parent),
      model_(new TranscriptCueListModel),
      delegate_(new TranscriptCueDelegate(this)) {
    model_->setParent(this);
    setObjectName(QStringLiteral("cueList"));
    prepareLongList(this);
    setModel(model_);
    setItemDelegate(delegate_);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    // Uniform rows lay out at once; a batched layout would leave rows unreachable for a moment.
    setLayoutMode(QListView::SinglePass);
    setEditTriggers(QAbstractItemView::CurrentChanged | QAbstractItemView::SelectedClicked |
                    QAbstractItemView::EditKeyPressed);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setAccessibleName(QStringLiteral("Subtitle cues"));
    setAccessibleDescription(QStringLiteral(
        "Up and Down move between cues, Ctrl+Return adds a chapter at the current cue."));
    // The divider above each cue but the first adds a chapter there.
    exposeListRows(this, [this](int row) {
        std::vector<AccessibleRowControl> controls;
        if (row <= 0 || row >= model_->rowCount()) {
            return controls;
        }
        const QModelIndex index = model_->index(row);
        const bool added = index.data(TranscriptCueListModel::hasChapterRole).toBool();
        const QRect strip = visualRect(index);
        controls.push_back(
            {QAccessible::Button,
             TranscriptCueDelegate::dividerAccessibleText(model_->cues()[row].startTime, added),
             QRect(strip.left() + 4, strip.top(), strip.width() - 8,
                   TranscriptCueDelegate::dividerHeight),
             !added, std::nullopt, [this, id = model_->cues()[row].id] {
                 if (const auto current = model_->row(id)) {
                     addChapterAt(*current);
                 }
             }});
        return controls;
    });
}

void TranscriptCueListView::focusInEvent(QFocusEvent* event) {
    QListView::focusInEvent(event);
    // The focus mark is on the current cue: it shows.
    if (currentIndex().isValid()) {
        scrollTo(currentIndex());
    }
}

void TranscriptCueListView::keyPressEvent(QKeyEvent* event) {
    if (isAddChapterKey(*event)) {
        addChapterAtCurrentCue();
        return;
    }
    QListView::keyPressEvent(event);
}

void TranscriptCueListView::scrollContentsBy(int dx, int dy) {
    QListView::scrollContentsBy(dx, dy);
    // The editor sits on the list, not on the viewport that scrolls.
    updateEditorGeometries();
}

int TranscriptCueListView::dividerRowAt(const QPoint& point) const {
    const QModelIndex index = indexAt(point);
    if (!index.isValid() || index.row() == 0 ||
        point.y() >= visualRect(index).top() + TranscriptCueDelegate::dividerHeight) {
        return -1;
    }
    return index.row();
}

void TranscriptCueListView::mouseMoveEvent(QMouseEvent* event) {
    const int row = dividerRowAt(event->position().toPoint());
    if (row != delegate_->hoveredDivider()) {
        const int previous = delegate_->hoveredDivider();
        delegate_->setHoveredDivider(row);
        if (previous >= 0) {
            update(model_->index(previous));
        }
        if (row >= 0) {
            update(model_->index(row));
        }
    }
    QListView::mouseMoveEvent(event);
}

void TranscriptCueListView::mousePressEvent(QMouseEvent* event) {
    const int row = dividerRowAt(event->position().toPoint());
    if (row < 0) {
        QListView::mousePressEvent(event);
        return;
    }
    addChapterAt(row);
}

void TranscriptCueListView::addChapterAt(int row) {
    // The first cue has no divider: the media starts there.
    if (row <= 0 || row >= model_->rowCount()) {
        return;
    }
    const SubtitleCue cue = model_->cues()[row];
    // A marked divider ignores presses: the same time is never added twice.
    if (!model_->index(row).data(TranscriptCueListModel::hasChapterRole).toBool() && onAddChapter) {
        onAddChapter(cue);
    }
}

void TranscriptCueListView::leaveEvent(QEvent* event) {
    if (delegate_->hoveredDivider() >= 0) {
        const int previous = delegate_->hoveredDivider();
        delegate_->setHoveredDivider(-1);
        update(model_->index(previous));
    }
    QListView::leaveEvent(event);
}

void TranscriptCueListView::centreOn(std::int64_t cueID) {
    if (const auto row = model_->row(cueID)) {
        scrollTo(model_->index(*row), QAbstractItemView::PositionAtCenter);
    }
}

}  // namespace tavrolin
