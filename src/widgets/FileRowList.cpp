#include "widgets/FileRowList.h"

#include <QAbstractListModel>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <array>

#include "widgets/AccessibleListRows.h"
#include "widgets/AppStyle.h"
#include "widgets/SymbolIcons.h"

namespace tavrolin {

namespace {

constexpr int buttonSize = 26;
constexpr int iconSize = 18;
constexpr int detailIconSize = 12;
constexpr std::array allButtons{FileRowList::Button::moveEarlier, FileRowList::Button::moveLater,
                                FileRowList::Button::remove};

enum Role { detailRole = Qt::UserRole + 1, detailSymbolRole, problemRole };

// The buttons' places in a row, from the right edge: remove, later, earlier.
QRect buttonPlace(const QRect& row, FileRowList::Button button) {
    const int fromRight = button == FileRowList::Button::remove      ? 1
                          : button == FileRowList::Button::moveLater ? 2
                                                                     : 3;
    return {row.right() - 4 - fromRight * (buttonSize + 2) + 2,
            row.top() + (row.height() - buttonSize) / 2, buttonSize, buttonSize};
}

// "Remove a.mkv", "Move a.mkv earlier": every row has the buttons, so the name says whose.
QString accessibleButtonName(FileRowList::Button button, const std::filesystem::path& file) {
    const QString name = toQString(file.filename());
    switch (button) {
        case FileRowList::Button::moveEarlier:
            return QStringLiteral("Move ") + name + QStringLiteral(" earlier");
        case FileRowList::Button::moveLater:
            return QStringLiteral("Move ") + name + QStringLiteral(" later");
        case FileRowList::Button::remove:
            return QStringLiteral("Remove ") + name;
    }
    return {};
}

QString symbolFor(FileRowList::Button button) {
    switch (button) {
        case FileRowList::Button::moveEarlier:
            return QStringLiteral("chevron.up");
        case FileRowList::Button::moveLater:
            return QStringLiteral("chevron.down");
        case FileRowList::Button::remove:
            return QStringLiteral("xmark");
    }
    return {};
}

}  // namespace

// The rows: the name, the detail line (the folder unless the host gave one), the full path as
// tooltip.
class FileRowModel : public QAbstractListModel {
  public:
    using QAbstractListModel::QAbstractListModel;

    // False when nothing changed.
    bool setRows(std::vector<FileRowList::Row> rows) {
        if (rows == rows_) {
            return false;
        }
        std::vector<std::filesystem::path> files;
        files.reserve(rows.size());
        for (const auto& row : rows) {
            files.push_back(row.file);
        }
        if (files == files_) {
            // Same files: only the texts change, and the picked row stays.
            rows_ = std::move(rows);
            emit dataChanged(index(0), index(rowCount() - 1));
            return true;
        }
        beginResetModel();
        rows_ = std::move(rows);
        files_ = std::move(files);
        endResetModel();
        return true;
    }
    const std::vector<std::filesystem::path>& files() const { return files_; }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount()) {
            return {};
        }
        const auto& row = rows_[static_cast<std::size_t>(index.row())];
        switch (role) {
            case Qt::DisplayRole:
                return toQString(row.file.filename());
            case Qt::AccessibleTextRole:
                return row.accessibleText.isEmpty() ? toQString(row.file.filename())
                                                    : row.accessibleText;
            case detailRole:
                return row.detail.isEmpty() ? toQString(row.file.parent_path()) : row.detail;
            case detailSymbolRole:
                return row.detailSymbol;
            case problemRole:
                return row.isProblem;
            case Qt::ToolTipRole:
                return plainToolTip(toQString(row.file));
            default:
                return {};
        }
    }

  private:
    std::vector<FileRowList::Row> rows_;
    std::vector<std::filesystem::path> files_;
};

namespace {

// Paints a row (film symbol, name over detail, buttons) and turns clicks on the buttons into the
// list's handlers. Texts are drawn as plain text.
class FileRowDelegate : public QStyledItemDelegate {
  public:
    explicit FileRowDelegate(FileRowList* list) : QStyledItemDelegate(list), list_(list) {}

    // No width of its own: a row spans the viewport, however wide it is or becomes.
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {1, FileRowList::rowHeight};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        const QRect row = option.rect;
        const QColor secondary = secondaryTextColor(option.palette);
        const QRectF mark = QRectF(row).adjusted(1.5, 1.5, -1.5, -1.5);
        if (option.state & QStyle::State_Selected) {
            QColor fill = accentColor(option.palette);
            fill.setAlphaF(0.16f);
            painter->setRenderHint(QPainter::Antialiasing);
            painter->setPen(Qt::NoPen);
            painter->setBrush(fill);
            painter->drawRoundedRect(mark, 6, 6);
        }
        if (option.state & QStyle::State_HasFocus) {
            drawFocusMark(*painter, mark, option.palette);
        }
        if (index.row() > 0) {
            QColor line = secondary;
            line.setAlphaF(0.25f);
            painter->setPen(line);
            painter->drawLine(row.left() + 4, row.top(), row.right() - 4, row.top());
        }
        const QRect iconPlace(row.left() + 4, row.top() + (row.height() - iconSize) / 2, iconSize,
                              iconSize);
        tintedSymbolIcon(QStringLiteral("film"), secondary).paint(painter, iconPlace);

        int textRight = row.right() - 4;
        for (auto button : allButtons) {
            const QRect place = list_->buttonRect(index.row(), button);
            if (place.isNull()) {
                continue;
            }
            textRight = std::min(textRight, place.left() - 6);
            const bool enabled = list_->isButtonEnabled(index.row(), button);
            symbolIcon(symbolFor(button))
                .paint(painter, place.adjusted(5, 5, -5, -5), Qt::AlignCenter,
                       enabled ? QIcon::Normal : QIcon::Disabled);
        }
        const int textLeft = iconPlace.right() + 11;
        const int width = std::max(0, textRight - textLeft);
        const QFont nameFont = option.font;
        const QFont detailFont = fontFor(TextStyle::caption);
        const QFontMetrics nameMetrics(nameFont);
        const QFontMetrics detailMetrics(detailFont);
        const int top =
            row.top() + (row.height() - nameMetrics.height() - 2 - detailMetrics.height()) / 2;
        painter->setFont(nameFont);
        painter->setPen(option.palette.color(QPalette::Text));
        painter->drawText(QRect(textLeft, top, width, nameMetrics.height()),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          nameMetrics.elidedText(index.data().toString(), Qt::ElideMiddle, width));

        QRect detail(textLeft, top + nameMetrics.height() + 2, width, detailMetrics.height());
        const QColor detailColor = index.data(problemRole).toBool() ? tint::red() : secondary;
        const QString symbol = index.data(detailSymbolRole).toString();
        if (!symbol.isEmpty()) {
            tintedSymbolIcon(symbol, detailColor)
                .paint(painter, QRect(detail.left(), detail.center().y() - detailIconSize / 2,
                                      detailIconSize, detailIconSize));
            detail.setLeft(detail.left() + detailIconSize + 5);
        }
        painter->setFont(detailFont);
        painter->setPen(detailColor);
        painter->drawText(detail, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          detailMetrics.elidedText(index.data(detailRole).toString(),
                                                   Qt::ElideMiddle, detail.width()));
        painter->restore();
    }

    bool editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem&,
                     const QModelIndex& index) override {
        if (event->type() != QEvent::MouseButtonRelease) {
            return false;
        }
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton) {
            return false;
        }
        const int row = index.row();
        for (auto button : allButtons) {
            if (list_->buttonRect(row, button).contains(mouse->position().toPoint())) {
                // The host may hand new rows back at once; nothing of the row is used after.
                list_->press(row, button);
                return true;
            }
        }
        return false;
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        for (auto button : allButtons) {
            if (list_->buttonRect(index.row(), button).contains(event->pos())) {
                QToolTip::showText(event->globalPos(), FileRowList::helpText(button), view);
                return true;
            }
        }
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }

  private:
    FileRowList* list_;
};

}  // namespace

FileRowList::FileRowList(QWidget* parent) : QListView(parent), model_(new FileRowModel(this)) {
    setModel(model_);
    setItemDelegate(new FileRowDelegate(this));
    // A screen reader gets the painted buttons as the rows' buttons; pressed a turn later, each
    // finds its file's row anew.
    exposeListRows(this, [this](int row) {
        std::vector<AccessibleRowControl> controls;
        const std::filesystem::path file = files()[static_cast<std::size_t>(row)];
        for (auto button : allButtons) {
            const QRect place = buttonRect(row, button);
            if (place.isNull()) {
                continue;
            }
            controls.push_back({QAccessible::Button, accessibleButtonName(button, file), place,
                                isButtonEnabled(row, button), std::nullopt, [this, file, button] {
                                    const auto found =
                                        std::find(files().begin(), files().end(), file);
                                    if (found != files().end()) {
                                        press(static_cast<int>(found - files().begin()), button);
                                    }
                                }});
        }
        return controls;
    });
    prepareLongList(this);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("Files"));
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                showCurrentRow();
                if (!isSettingRows_ && current.isValid()) {
                    emit currentFileChanged(files()[static_cast<std::size_t>(current.row())]);
                }
            });
    updateKeyboardHelp();
}

const std::vector<std::filesystem::path>& FileRowList::files() const {
    return model_->files();
}

void FileRowList::setRows(std::vector<Row> rows) {
    const int current = pendingCurrentRow_ >= 0 ? pendingCurrentRow_ : currentIndex().row();
    pendingCurrentRow_ = -1;
    const bool wasSetting = std::exchange(isSettingRows_, true);
    if (model_->setRows(std::move(rows)) && current >= 0 && !files().empty()) {
        setCurrentIndex(model_->index(std::min(current, static_cast<int>(files().size()) - 1)));
    }
    isSettingRows_ = wasSetting;
    updateHeight();
    viewport()->update();
}

void FileRowList::setFiles(const std::vector<std::filesystem::path>& files) {
    std::vector<Row> rows;
    rows.reserve(files.size());
    for (const auto& file : files) {
        rows.push_back({file, {}, {}, false, {}});
    }
    setRows(std::move(rows));
}

void FileRowList::setCurrentFile(const std::optional<std::filesystem::path>& file) {
    const auto found = file ? std::find(files().begin(), files().end(), *file) : files().end();
    const bool wasSetting = std::exchange(isSettingRows_, true);
    setCurrentIndex(found == files().end()
                        ? QModelIndex()
                        : model_->index(static_cast<int>(found - files().begin())));
    isSettingRows_ = wasSetting;
}

void FileRowList::setOnRemove(RemoveHandler handler) {
    onRemove_ = std::move(handler);
}

void FileRowList::setOnMove(MoveHandler handler) {
    onMove_ = std::move(handler);
    updateKeyboardHelp();
    viewport()->update();
}

void FileRowList::setShowsEveryRow(bool showsEveryRow) {
    showsEveryRow_ = showsEveryRow;
    setVerticalScrollBarPolicy(showsEveryRow ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    updateHeight();
}

void FileRowList::setShowsSelection(bool showsSelection) {
    setSelectionMode(showsSelection ? QAbstractItemView::SingleSelection
                                    : QAbstractItemView::NoSelection);
}

QString FileRowList::keyboardHelpText(bool canMove) {
    return canMove ? QStringLiteral(
                         "Up and Down pick a file, Alt+Up and Alt+Down move it, "
                         "Delete removes it.")
                   : QStringLiteral("Up and Down pick a file, Delete removes it.");
}

void FileRowList::updateKeyboardHelp() {
    setToolTip(keyboardHelpText(hasMoveButtons()));
    setAccessibleDescription(keyboardHelpText(hasMoveButtons()));
}

void FileRowList::updateHeight() {
    if (showsEveryRow_) {
        setFixedHeight(std::max(static_cast<int>(files().size()), 1) * rowHeight);
    }
}

void FileRowList::showCurrentRow() {
    const QModelIndex current = currentIndex();
    if (!showsEveryRow_ || !current.isValid()) {
        return;
    }
    for (QWidget* up = parentWidget(); up != nullptr; up = up->parentWidget()) {
        auto* page = qobject_cast<QScrollArea*>(up);
        if (page != nullptr && page->widget() != nullptr && page->widget()->isAncestorOf(this)) {
            const QPoint centre = viewport()->mapTo(page->widget(), visualRect(current).center());
            page->ensureVisible(centre.x(), centre.y(), 0, rowHeight);
            return;
        }
    }
}

void FileRowList::focusInEvent(QFocusEvent* event) {
    QListView::focusInEvent(event);
    // The page scrolls to a list it gives the focus to; the picked row then comes into view.
    QMetaObject::invokeMethod(this, &FileRowList::showCurrentRow, Qt::QueuedConnection);
}

void FileRowList::keyPressEvent(QKeyEvent* event) {
    const int row = currentIndex().row();
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    std::optional<Button> button;
    if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) &&
        modifiers == Qt::NoModifier) {
        button = Button::remove;
    } else if (modifiers == Qt::AltModifier && event->key() == Qt::Key_Up) {
        button = Button::moveEarlier;
    } else if (modifiers == Qt::AltModifier && event->key() == Qt::Key_Down) {
        button = Button::moveLater;
    }
    if (row < 0 || !button) {
        QListView::keyPressEvent(event);
        return;
    }
    if (isButtonEnabled(row, *button)) {
        pendingCurrentRow_ = *button == Button::remove        ? row
                             : *button == Button::moveEarlier ? row - 1
                                                              : row + 1;
        press(row, *button);
    }
    // At either end the chord does nothing rather than move the picked row.
    event->accept();
}

QRect FileRowList::buttonRect(int row, Button button) const {
    if (row < 0 || row >= static_cast<int>(files().size()) ||
        (button != Button::remove && !onMove_)) {
        return {};
    }
    return buttonPlace(visualRect(model_->index(row)), button);
}

bool FileRowList::isButtonEnabled(int row, Button button) const {
    const int count = static_cast<int>(files().size());
    if (row < 0 || row >= count) {
        return false;
    }
    switch (button) {
        case Button::moveEarlier:
            return onMove_ && row > 0;
        case Button::moveLater:
            return onMove_ && row + 1 < count;
        case Button::remove:
            return true;
    }
    return false;
}

QString FileRowList::helpText(Button button) {
    switch (button) {
        case Button::moveEarlier:
            return QStringLiteral("Move earlier");
        case Button::moveLater:
            return QStringLiteral("Move later");
        case Button::remove:
            return QStringLiteral("Remove from list");
    }
    return {};
}

void FileRowList::press(int row, Button button) {
    if (!isButtonEnabled(row, button)) {
        return;
    }
    const std::filesystem::path file = files()[static_cast<std::size_t>(row)];
    if (button == Button::remove) {
        if (onRemove_) {
            onRemove_(file);
        }
    } else if (onMove_) {
        onMove_(file, button == Button::moveEarlier ? -1 : +1);
    }
}

}  // namespace tavrolin
