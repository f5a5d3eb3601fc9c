#include "transcription/TranscriptionSourceListModel.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <chrono>
#include <cmath>

#include "transcription/TranscriptionSourceText.h"
#include "transcription/TranscriptionViewModel.h"
#include "widgets/AppStyle.h"
#include "widgets/SymbolIcons.h"

namespace tavrolin {

using Kind = BatchTranscriptionSourceStatus::Kind;
using Bar = TranscriptionSourceRow::Bar;

namespace {

constexpr int padding = 6;
constexpr int spacing = 9;
constexpr int markSize = 16;
constexpr int iconSize = 18;
constexpr int buttonSize = 22;
constexpr int barHeight = 4;

QColor statusColor(Kind kind, const QPalette& palette) {
    switch (kind) {
        case Kind::queued:
        case Kind::transcribing:
            return accentColor(palette);
        case Kind::completed:
            return tint::green();
        case Kind::failed:
            return tint::orange();
        default:
            return secondaryTextColor(palette);
    }
}

TranscriptionSourceRow makeRow(const TranscriptionWorkspaceState& state,
                               const BatchTranscriptionSource& source, bool showsExportMark) {
    TranscriptionSourceRow row;
    row.id = source.id;
    row.fileName = toQString(source.url.filename());
    row.kind = source.status.kind;
    const bool cancellingThis =
        state.isCancellingTranscription && state.currentTranscriptionSourceID == source.id;
    row.statusLine = QString::fromStdString(sourceStatusText(source, cancellingThis));
    if (const auto percent = sourcePercentText(source)) {
        row.statusLine += QStringLiteral("  ") + QString::fromStdString(*percent);
    }
    if (source.status.kind == Kind::transcribing) {
        const auto& progress = source.progress;
        if (progress && progress->fraction && std::isfinite(*progress->fraction) &&
            progress->stage != TranscriptionProgress::Stage::preparingLanguageModel) {
            row.bar = Bar::determinate;
            row.fraction = std::clamp(*progress->fraction, 0.0, 1.0);
        } else {
            row.bar = Bar::indeterminate;
        }
    }
    row.showsExportMark = showsExportMark;
    row.isExportMarked = showsExportMark && state.selectedExportSourceIDs.contains(source.id);
    row.isExportMarkEnabled =
        showsExportMark && state.canExportSource(source.id) && !state.isTranscribing;
    row.exportMarkAccessibleName = QStringLiteral("Select %1 for batch export").arg(row.fileName);
    if (state.currentTranscriptionSourceID == source.id) {
        row.isCancelButton = true;
        row.isButtonEnabled = !state.isCancellingTranscription;
        const bool batch = state.batchTotalCount > 1;
        row.buttonHelp = batch
                             ? QStringLiteral("Cancel the active transcription and remaining batch")
                             : QStringLiteral("Cancel transcription");
        row.buttonAccessibleName = batch ? QStringLiteral("Cancel transcription batch")
                                         : QStringLiteral("Cancel transcription");
    } else {
        row.isButtonEnabled = !state.isTranscribing;
        row.buttonHelp = QStringLiteral("Remove %1").arg(row.fileName);
        row.buttonAccessibleName = row.buttonHelp;
    }
    return row;
}

}  // namespace

// ---- Model ---------------------------------------------------------------------------------

void TranscriptionSourceListModel::sync(const TranscriptionWorkspaceState& state) {
    const bool marks = state.sources.size() >= 2 && state.transcribedSourceCount() >= 1;
    std::vector<TranscriptionSourceRow> rows;
    rows.reserve(state.sources.size());
    for (const auto& source : state.sources) {
        rows.push_back(makeRow(state, source, marks));
    }
    const bool sameIDs = rows.size() == rows_.size() &&
                         std::equal(rows.begin(), rows.end(), rows_.begin(),
                                    [](const auto& a, const auto& b) { return a.id == b.id; });
    if (!sameIDs) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
        return;
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i] != rows_[i]) {
            rows_[i] = std::move(rows[i]);
            const QModelIndex changed = index(static_cast<int>(i));
            emit dataChanged(changed, changed);
        }
    }
}

std::optional<int> TranscriptionSourceListModel::rowOf(const Uuid& id) const {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].id == id) {
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

bool TranscriptionSourceListModel::hasIndeterminateBar() const {
    return std::ranges::any_of(rows_,
                               [](const auto& row) { return row.bar == Bar::indeterminate; });
}

int TranscriptionSourceListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant TranscriptionSourceListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const auto& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            return row.fileName;
        case Qt::ToolTipRole:
            return plainToolTip(row.fileName);
        case Qt::AccessibleTextRole:
            return row.fileName + QStringLiteral(", ") + row.statusLine;
        case Qt::CheckStateRole:
            return row.showsExportMark ? QVariant(row.isExportMarked ? Qt::Checked : Qt::Unchecked)
                                       : QVariant();
        case statusKindRole:
            return static_cast<int>(row.kind);
        case statusSymbolRole:
            return sourceStatusSymbol(row.kind);
        case statusLineRole:
            return row.statusLine;
        case progressRole:
            return row.bar == Bar::none            ? QVariant()
                   : row.bar == Bar::indeterminate ? QVariant(-1.0)
                                                   : QVariant(row.fraction);
        case exportMarkEnabledRole:
            return row.isExportMarkEnabled;
        case exportMarkAccessibleNameRole:
            return row.exportMarkAccessibleName;
        case buttonKindRole:
            return row.isCancelButton ? QStringLiteral("cancel") : QStringLiteral("remove");
        case buttonEnabledRole:
            return row.isButtonEnabled;
        case buttonHelpRole:
            return row.buttonHelp;
        case buttonAccessibleNameRole:
            return row.buttonAccessibleName;
        default:
            return {};
    }
}

bool TranscriptionSourceListModel::setData(const QModelIndex& index, const QVariant& value,
                                           int role) {
    if (role != Qt::CheckStateRole || !(flags(index) & Qt::ItemIsUserCheckable) || !onExportMark) {
        return false;
    }
    // The view model answers with a new state; the row follows on the next sync.
    onExportMark(rows_[static_cast<std::size_t>(index.row())].id,
                 value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

Qt::ItemFlags TranscriptionSourceListModel::flags(const QModelIndex& index) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (rows_[static_cast<std::size_t>(index.row())].isExportMarkEnabled) {
        flags |= Qt::ItemIsUserCheckable;
    }
    return flags;
}

// ---- Delegate ------------------------------------------------------------------------------

TranscriptionSourceDelegate::TranscriptionSourceDelegate(TranscriptionViewModel& viewModel,
                                                         QObject* parent)
    : QStyledItemDelegate(parent), viewModel_(viewModel) {}

QRect TranscriptionSourceDelegate::exportMarkRect(const QRect& row) {
    return {row.left() + padding, row.top() + (row.height() - markSize) / 2, markSize, markSize};
}

QRect TranscriptionSourceDelegate::buttonRect(const QRect& row) {
    return {row.right() - padding - buttonSize + 1, row.top() + (row.height() - buttonSize) / 2,
            buttonSize, buttonSize};
}

QSize TranscriptionSourceDelegate::sizeHint(const QStyleOptionViewItem& option,
                                            const QModelIndex&) const {
    // Every row keeps room for the bar, so rows are uniform and do not jump when a run starts.
    const int name = QFontMetrics(option.font).height();
    const int status = QFontMetrics(fontFor(TextStyle::caption)).height();
    return {option.rect.width(), 5 + name + 4 + status + 4 + barHeight + 5};
}

void TranscriptionSourceDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                        const QModelIndex& index) const {
    const auto& row =
        static_cast<const TranscriptionSourceListModel*>(index.model())->row(index.row());
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    background.features &= ~QStyleOptionViewItem::HasCheckIndicator;
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, widget);

    painter->save();
    const QRect rect = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    int left = rect.left() + padding;
    if (row.showsExportMark) {
        QStyleOptionButton mark;
        mark.rect = exportMarkRect(rect);
        mark.state = (row.isExportMarked ? QStyle::State_On : QStyle::State_Off) |
                     (row.isExportMarkEnabled ? QStyle::State_Enabled : QStyle::State_None);
        mark.palette = palette;
        style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &mark, painter, widget);
        left = mark.rect.right() + 1 + spacing;
    }
    const QColor color = statusColor(row.kind, palette);
    // On the selection's highlight the status colours would vanish; the symbol still tells it.
    tintedSymbolIcon(sourceStatusSymbol(row.kind),
                     selected ? palette.color(QPalette::HighlightedText) : color)
        .paint(painter,
               QRect(left, rect.top() + (rect.height() - iconSize) / 2, iconSize, iconSize));
    left += iconSize + spacing;

    const QRect button = buttonRect(rect);
    symbolIcon(row.isCancelButton ? QStringLiteral("stop.circle.fill")
                                  : QStringLiteral("xmark.circle.fill"))
        .paint(painter, button.adjusted(2, 2, -2, -2), Qt::AlignCenter,
               !row.isButtonEnabled ? QIcon::Disabled
               : selected           ? QIcon::Selected
                                    : QIcon::Normal);
    const int width = std::max(0, button.left() - 4 - left);

    const QFont nameFont = option.font;
    const QFont statusFont = fontFor(TextStyle::caption);
    const QFontMetrics nameMetrics(nameFont);
    const QFontMetrics statusMetrics(statusFont);
    const int content = nameMetrics.height() + 4 + statusMetrics.height() +
                        (row.bar == Bar::none ? 0 : 4 + barHeight);
    int top = rect.top() + (rect.height() - content) / 2;
    // Names and messages are drawn as plain text, never as markup.
    painter->setFont(nameFont);
    painter->setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(QRect(left, top, width, nameMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      nameMetrics.elidedText(row.fileName, Qt::ElideMiddle, width));
    top += nameMetrics.height() + 4;
    painter->setFont(statusFont);
    painter->setPen(row.kind == Kind::failed ? color
                    : selected               ? palette.color(QPalette::HighlightedText)
                                             : secondaryTextColor(palette));
    painter->drawText(QRect(left, top, width, statusMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      statusMetrics.elidedText(row.statusLine, Qt::ElideRight, width));
    top += statusMetrics.height() + 4;

    if (row.bar != Bar::none) {
        const QRectF track(left, top, width, barHeight);
        QColor trackColor = secondaryTextColor(palette);
        trackColor.setAlphaF(0.25f);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(trackColor);
        painter->drawRoundedRect(track, barHeight / 2.0, barHeight / 2.0);
        QRectF fill = track;
        if (row.bar == Bar::determinate) {
            fill.setWidth(track.width() * row.fraction);
        } else {
            // A segment sweeping across the track; the list repaints the row while it shows.
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            const double phase =
                std::chrono::duration_cast<std::chrono::milliseconds>(now).count() % 1400 / 1400.0;
            const double segment = track.width() * 0.3;
            fill.setLeft(track.left() - segment + phase * (track.width() + segment));
            fill.setWidth(segment);
            fill = fill.intersected(track);
        }
        painter->setBrush(selected ? palette.color(QPalette::HighlightedText)
                                   : accentColor(palette));
        painter->drawRoundedRect(fill, barHeight / 2.0, barHeight / 2.0);
    }
    if (option.state & QStyle::State_HasFocus) {
        drawFocusMark(*painter, QRectF(rect).adjusted(1.5, 1.5, -1.5, -1.5), palette, selected);
    }
    painter->restore();
}

bool TranscriptionSourceDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                              const QStyleOptionViewItem& option,
                                              const QModelIndex& index) {
    const auto type = event->type();
    if (type == QEvent::KeyPress) {
        // The space key toggles a checkable row's mark.
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    }
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
        type != QEvent::MouseButtonDblClick) {
        return false;
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) {
        return false;
    }
    const QPoint point = mouse->position().toPoint();
    const auto& row = static_cast<const TranscriptionSourceListModel*>(model)->row(index.row());
    const bool onMark = row.showsExportMark && exportMarkRect(option.rect).contains(point);
    const bool onButton = buttonRect(option.rect).contains(point);
    if (!onMark && !onButton) {
        return false;
    }
    // A press on a control neither selects the row nor starts a drag; the release acts.
    if (type == QEvent::MouseButtonRelease) {
        // The view model may change the rows at once; nothing of `row` is used after the call.
        const Uuid id = row.id;
        if (onMark && row.isExportMarkEnabled) {
            model->setData(index, row.isExportMarked ? Qt::Unchecked : Qt::Checked,
                           Qt::CheckStateRole);
        } else if (onButton && row.isButtonEnabled) {
            pressButton(row.isCancelButton, id);
        }
    }
    return true;
}

void TranscriptionSourceDelegate::pressButton(bool cancels, Uuid id) const {
    if (cancels) {
        viewModel_.cancelTranscription();
    } else {
        viewModel_.removeSource(id);
    }
}

std::vector<AccessibleRowControl> TranscriptionSourceDelegate::accessibleControls(
    const TranscriptionSourceRow& row, const QRect& rect) const {
    std::vector<AccessibleRowControl> controls;
    if (row.showsExportMark) {
        controls.push_back({QAccessible::CheckBox, row.exportMarkAccessibleName,
                            exportMarkRect(rect), row.isExportMarkEnabled, row.isExportMarked,
                            [this, id = row.id, on = !row.isExportMarked] {
                                viewModel_.setExportSelection(on, id);
                            }});
    }
    controls.push_back(
        {QAccessible::Button, row.buttonAccessibleName, buttonRect(rect), row.isButtonEnabled,
         std::nullopt,
         [this, cancels = row.isCancelButton, id = row.id] { pressButton(cancels, id); }});
    return controls;
}

bool TranscriptionSourceDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                            const QStyleOptionViewItem& option,
                                            const QModelIndex& index) {
    if (event->type() == QEvent::ToolTip && index.isValid() &&
        buttonRect(option.rect).contains(event->pos())) {
        QToolTip::showText(
            event->globalPos(),
            plainToolTip(index.data(TranscriptionSourceListModel::buttonHelpRole).toString()), view,
            buttonRect(option.rect));
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

}  // namespace tavrolin
