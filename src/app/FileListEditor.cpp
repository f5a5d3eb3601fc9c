#include "app/FileListEditor.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/AppStyle.h"
#include "app/ContentUnavailableView.h"
#include "app/ElidedLabel.h"
#include "app/SymbolIcons.h"

namespace tavrolin {

FileListEditor::FileListEditor(const QString& emptyTitle, const QString& emptySubtitle,
                               QWidget* parent)
    : QGroupBox(parent) {
    stack_ = new QStackedLayout(this);
    emptyView_ =
        new ContentUnavailableView(emptyTitle, QStringLiteral("film.stack"), emptySubtitle, this);
    emptyView_->setMinimumHeight(150);
    stack_->addWidget(emptyView_);

    rowsPage_ = new QWidget(this);
    rowsLayout_ = new QVBoxLayout(rowsPage_);
    rowsLayout_->setContentsMargins(4, 0, 4, 0);
    rowsLayout_->setSpacing(0);
    stack_->addWidget(rowsPage_);
    rebuild();
}

void FileListEditor::setFiles(const std::vector<std::filesystem::path>& files) {
    files_ = files;
    rebuild();
}

void FileListEditor::setOnRemove(RemoveHandler handler) {
    onRemove_ = std::move(handler);
}

void FileListEditor::setOnMove(MoveHandler handler) {
    const bool hadMove = static_cast<bool>(onMove_);
    onMove_ = std::move(handler);
    if (hadMove != static_cast<bool>(onMove_)) {
        rebuild();
    }
}

QList<QWidget*> FileListEditor::rows() const {
    return rowsPage_->findChildren<QWidget*>(QStringLiteral("fileRow"), Qt::FindDirectChildrenOnly);
}

void FileListEditor::rebuild() {
    while (QLayoutItem* item = rowsLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (files_.empty()) {
        stack_->setCurrentWidget(emptyView_);
        return;
    }
    const QColor secondary = secondaryTextColor(palette());
    for (std::size_t position = 0; position < files_.size(); ++position) {
        const std::filesystem::path file = files_[position];
        auto* row = new QWidget(rowsPage_);
        row->setObjectName(QStringLiteral("fileRow"));
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 9, 0, 9);
        layout->setSpacing(10);

        auto* icon = new QLabel(row);
        icon->setPixmap(tintedSymbolIcon(QStringLiteral("film"), secondary).pixmap(18, 18));
        layout->addWidget(icon);

        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        auto* name = new ElidedLabel(row);
        name->setObjectName(QStringLiteral("fileName"));
        name->setText(toQString(file.filename()));
        texts->addWidget(name);
        auto* folder = new ElidedLabel(row);
        folder->setObjectName(QStringLiteral("folderPath"));
        folder->setFont(fontFor(TextStyle::caption));
        folder->setTextColor(secondary);
        folder->setText(toQString(file.parent_path()));
        texts->addWidget(folder);
        layout->addLayout(texts, 1);

        if (onMove_) {
            auto* earlier = new QToolButton(row);
            earlier->setObjectName(QStringLiteral("moveEarlier"));
            earlier->setIcon(symbolIcon(QStringLiteral("chevron.up")));
            earlier->setToolTip(QStringLiteral("Move earlier"));
            earlier->setEnabled(position > 0);
            connect(earlier, &QToolButton::clicked, this, [this, file] {
                if (onMove_) {
                    onMove_(file, -1);
                }
            });
            layout->addWidget(earlier);
            auto* later = new QToolButton(row);
            later->setObjectName(QStringLiteral("moveLater"));
            later->setIcon(symbolIcon(QStringLiteral("chevron.down")));
            later->setToolTip(QStringLiteral("Move later"));
            later->setEnabled(position + 1 < files_.size());
            connect(later, &QToolButton::clicked, this, [this, file] {
                if (onMove_) {
                    onMove_(file, +1);
                }
            });
            layout->addWidget(later);
        }

        auto* remove = new QToolButton(row);
        remove->setObjectName(QStringLiteral("remove"));
        remove->setAutoRaise(true);
        remove->setIcon(symbolIcon(QStringLiteral("xmark")));
        remove->setToolTip(QStringLiteral("Remove from list"));
        connect(remove, &QToolButton::clicked, this, [this, file] {
            if (onRemove_) {
                onRemove_(file);
            }
        });
        layout->addWidget(remove);
        rowsLayout_->addWidget(row);

        if (position + 1 < files_.size()) {
            auto* divider = new QFrame(rowsPage_);
            divider->setFrameShape(QFrame::HLine);
            divider->setFrameShadow(QFrame::Plain);
            divider->setEnabled(false);
            rowsLayout_->addWidget(divider);
        }
    }
    rowsLayout_->addStretch(1);
    stack_->setCurrentWidget(rowsPage_);
}

}  // namespace tavrolin
