#include "app/FileListEditor.h"

#include <QAbstractListModel>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollArea>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QVBoxLayout>
#include <array>
#include <optional>

#include "app/AppStyle.h"
#include "app/ContentUnavailableView.h"
#include "app/SymbolIcons.h"

namespace tavrolin {

namespace {

constexpr int rowHeight = 50;
constexpr int buttonSize = 26;
constexpr int iconSize = 18;
constexpr std::array allButtons{FileListEditor::Button::moveEarlier,
                                FileListEditor::Button::moveLater, FileListEditor::Button::remove};

// The buttons' places in a row of width `width`, from the right edge: remove, later, earlier.
QRect buttonPlace(const QRect& row, FileListEditor::Button button) {
    const int fromRight = button == FileListEditor::Button::remove      ? 1
                          : button == FileListEditor::Button::moveLater ? 2
                                                                        : 3;
    return {row.right() - 4 - fromRight * (buttonSize + 2) + 2,
            row.top() + (row.height() - buttonSize) / 2, buttonSize, buttonSize};
}

QString symbolFor(FileListEditor::Button button) {
    switch (button) {
        case FileListEditor::Button::moveEarlier:
            return QStringLiteral("chevron.up");
        case FileListEditor::Button::moveLater:
            return QStringLiteral("chevron.down");
        case FileListEditor::Button::remove:
            return QStringLiteral("xmark");
    }
    return {};
}

}  // namespace

// The files as rows: the name, the folder and the full path as tooltip.
class FileListModel : public QAbstractListModel {
  public:
    enum Role { folderRole = Qt::UserRole + 1 };
    using QAbstractListModel::QAbstractListModel;

    void setFiles(const std::vector<std::filesystem::path>& files) {
        if (files == files_) {
            return;
        }
        beginResetModel();
        files_ = files;
        endResetModel();
    }
    const std::vector<std::filesystem::path>& files() const { return files_; }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(files_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount()) {
            return {};
        }
        const auto& file = files_[static_cast<std::size_t>(index.row())];
        switch (role) {
            case Qt::DisplayRole:
            case Qt::AccessibleTextRole:
                return toQString(file.filename());
            case folderRole:
                return toQString(file.parent_path());
            case Qt::ToolTipRole:
                return plainToolTip(toQString(file));
            default:
                return {};
        }
    }

  private:
    std::vector<std::filesystem::path> files_;
};

// Paints a row (film symbol, name over folder, buttons) and turns clicks on the buttons into the
// editor's handlers. Texts are drawn as plain text.
class FileListDelegate : public QStyledItemDelegate {
  public:
    explicit FileListDelegate(FileListEditor* editor)
        : QStyledItemDelegate(editor), editor_(editor) {}

    // No width of its own: a row spans the list's viewport (see FileListEditor::eventFilter).
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {1, rowHeight};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        const QRect row = option.rect;
        const QColor secondary = secondaryTextColor(option.palette);
        if (option.state & QStyle::State_HasFocus) {
            drawFocusMark(*painter, QRectF(row).adjusted(1.5, 1.5, -1.5, -1.5), option.palette);
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
            const QRect place = editor_->buttonRect(index.row(), button);
            if (place.isNull()) {
                continue;
            }
            textRight = std::min(textRight, place.left() - 6);
            const bool enabled = editor_->isButtonEnabled(index.row(), button);
            symbolIcon(symbolFor(button))
                .paint(painter, place.adjusted(5, 5, -5, -5), Qt::AlignCenter,
                       enabled ? QIcon::Normal : QIcon::Disabled);
        }
        const int textLeft = iconPlace.right() + 11;
        const int width = std::max(0, textRight - textLeft);
        const QFont nameFont = option.font;
        const QFont folderFont = fontFor(TextStyle::caption);
        const QFontMetrics nameMetrics(nameFont);
        const QFontMetrics folderMetrics(folderFont);
        const int top =
            row.top() + (row.height() - nameMetrics.height() - 2 - folderMetrics.height()) / 2;
        painter->setFont(nameFont);
        painter->setPen(option.palette.color(QPalette::Text));
        painter->drawText(QRect(textLeft, top, width, nameMetrics.height()),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          nameMetrics.elidedText(index.data().toString(), Qt::ElideMiddle, width));
        painter->setFont(folderFont);
        painter->setPen(secondary);
        painter->drawText(
            QRect(textLeft, top + nameMetrics.height() + 2, width, folderMetrics.height()),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
            folderMetrics.elidedText(index.data(FileListModel::folderRole).toString(),
                                     Qt::ElideMiddle, width));
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
            if (editor_->buttonRect(row, button).contains(mouse->position().toPoint())) {
                // The host may hand a new list back at once; nothing of the row is used after.
                editor_->press(row, button);
                return true;
            }
        }
        return false;
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        for (auto button : allButtons) {
            if (editor_->buttonRect(index.row(), button).contains(event->pos())) {
                QToolTip::showText(event->globalPos(), FileListEditor::helpText(button), view);
                return true;
            }
        }
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }

  private:
    FileListEditor* editor_;
};

FileListEditor::FileListEditor(const QString& emptyTitle, const QString& emptySubtitle,
                               QWidget* parent)
    : QGroupBox(parent), model_(new FileListModel(this)) {
    // One of the two shows at a time; a box layout sizes the box by the shown one alone.
    auto* layout = new QVBoxLayout(this);
    emptyView_ =
        new ContentUnavailableView(emptyTitle, QStringLiteral("film.stack"), emptySubtitle, this);
    emptyView_->setMinimumHeight(150);
    layout->addWidget(emptyView_);

    list_ = new QListView(this);
    list_->setObjectName(QStringLiteral("fileRows"));
    list_->setModel(model_);
    list_->setItemDelegate(new FileListDelegate(this));
    prepareLongList(list_);
    list_->setFocusPolicy(Qt::StrongFocus);
    list_->setAccessibleName(QStringLiteral("Files"));
    list_->installEventFilter(this);
    list_->viewport()->installEventFilter(this);
    connect(list_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &FileListEditor::showCurrentRow);
    layout->addWidget(list_);
    updateKeyboardHelp();
    setFiles({});
}

const std::vector<std::filesystem::path>& FileListEditor::files() const {
    return model_->files();
}

void FileListEditor::setFiles(const std::vector<std::filesystem::path>& files) {
    const int current = pendingCurrentRow_ >= 0 ? pendingCurrentRow_ : list_->currentIndex().row();
    pendingCurrentRow_ = -1;
    model_->setFiles(files);
    if (current >= 0 && !files.empty()) {
        list_->setCurrentIndex(
            model_->index(std::min(current, static_cast<int>(files.size()) - 1)));
    }
    emptyView_->setVisible(files.empty());
    list_->setVisible(!files.empty());
    updateHeight();
    list_->viewport()->update();
}

void FileListEditor::setOnRemove(RemoveHandler handler) {
    onRemove_ = std::move(handler);
}

void FileListEditor::setOnMove(MoveHandler handler) {
    onMove_ = std::move(handler);
    updateKeyboardHelp();
    list_->viewport()->update();
}

QString FileListEditor::keyboardHelpText(bool canMove) {
    return canMove ? QStringLiteral(
                         "Up and Down pick a file, Alt+Up and Alt+Down move it, "
                         "Delete removes it.")
                   : QStringLiteral("Up and Down pick a file, Delete removes it.");
}

void FileListEditor::updateKeyboardHelp() {
    list_->setToolTip(keyboardHelpText(hasMoveButtons()));
    list_->setAccessibleDescription(keyboardHelpText(hasMoveButtons()));
}

bool FileListEditor::eventFilter(QObject* watched, QEvent* event) {
    // A list flowing top to bottom lays its rows out again only when its height changes; rows
    // span the viewport, so they follow its width too.
    if (watched == list_->viewport() && event->type() == QEvent::Resize &&
        static_cast<QResizeEvent*>(event)->oldSize().width() !=
            static_cast<QResizeEvent*>(event)->size().width()) {
        list_->doItemsLayout();
    }
    // The page scrolls to a list it gives the focus to; the picked row then comes into view.
    if (watched == list_ && event->type() == QEvent::FocusIn) {
        QMetaObject::invokeMethod(this, &FileListEditor::showCurrentRow, Qt::QueuedConnection);
    }
    if (watched != list_ || event->type() != QEvent::KeyPress) {
        return QGroupBox::eventFilter(watched, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    const int row = list_->currentIndex().row();
    if (row < 0) {
        return false;
    }
    const auto modifiers = key->modifiers() & ~Qt::KeypadModifier;
    std::optional<Button> button;
    if ((key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace) &&
        modifiers == Qt::NoModifier) {
        button = Button::remove;
    } else if (modifiers == Qt::AltModifier && key->key() == Qt::Key_Up) {
        button = Button::moveEarlier;
    } else if (modifiers == Qt::AltModifier && key->key() == Qt::Key_Down) {
        button = Button::moveLater;
    }
    if (!button) {
        return false;
    }
    if (isButtonEnabled(row, *button)) {
        pendingCurrentRow_ = *button == Button::remove        ? row
                             : *button == Button::moveEarlier ? row - 1
                                                              : row + 1;
        press(row, *button);
    }
    return true;  // at either end the chord does nothing rather than move the picked row
}

void FileListEditor::setShowsEveryRow(bool showsEveryRow) {
    showsEveryRow_ = showsEveryRow;
    list_->setVerticalScrollBarPolicy(showsEveryRow ? Qt::ScrollBarAlwaysOff
                                                    : Qt::ScrollBarAsNeeded);
    updateHeight();
}

void FileListEditor::updateHeight() {
    const int count = static_cast<int>(files().size());
    const int rows = showsEveryRow_ ? count : std::min(count, visibleRows);
    list_->setFixedHeight(std::max(rows, 1) * rowHeight);
}

void FileListEditor::showCurrentRow() {
    const QModelIndex current = list_->currentIndex();
    if (!showsEveryRow_ || !current.isValid()) {
        return;
    }
    for (QWidget* up = parentWidget(); up != nullptr; up = up->parentWidget()) {
        auto* page = qobject_cast<QScrollArea*>(up);
        if (page != nullptr && page->widget() != nullptr && page->widget()->isAncestorOf(list_)) {
            const QPoint centre =
                list_->viewport()->mapTo(page->widget(), list_->visualRect(current).center());
            page->ensureVisible(centre.x(), centre.y(), 0, rowHeight);
            return;
        }
    }
}

QRect FileListEditor::buttonRect(int row, Button button) const {
    if (row < 0 || row >= static_cast<int>(files().size()) ||
        (button != Button::remove && !onMove_)) {
        return {};
    }
    return buttonPlace(list_->visualRect(model_->index(row)), button);
}

bool FileListEditor::isButtonEnabled(int row, Button button) const {
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

QString FileListEditor::helpText(Button button) {
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

void FileListEditor::press(int row, Button button) {
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
