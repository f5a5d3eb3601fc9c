#include "widgets/FileListEditor.h"

#include <QVBoxLayout>

#include "widgets/ContentUnavailableView.h"

namespace tavrolin {

FileListEditor::FileListEditor(const QString& emptyTitle, const QString& emptySubtitle,
                               QWidget* parent)
    : QGroupBox(parent) {
    // One of the two shows at a time; a box layout sizes the box by the shown one alone.
    auto* layout = new QVBoxLayout(this);
    emptyView_ =
        new ContentUnavailableView(emptyTitle, QStringLiteral("film.stack"), emptySubtitle, this);
    emptyView_->setMinimumHeight(150);
    layout->addWidget(emptyView_);

    list_ = new FileRowList(this);
    list_->setObjectName(QStringLiteral("fileRows"));
    layout->addWidget(list_);
    setFiles({});
}

void FileListEditor::setFiles(const std::vector<std::filesystem::path>& files) {
    list_->setFiles(files);
    emptyView_->setVisible(files.empty());
    list_->setVisible(!files.empty());
    updateHeight();
}

void FileListEditor::setShowsEveryRow(bool showsEveryRow) {
    list_->setShowsEveryRow(showsEveryRow);
    updateHeight();
}

void FileListEditor::updateHeight() {
    if (!list_->showsEveryRow()) {
        const int rows = std::min(static_cast<int>(files().size()), visibleRows);
        list_->setFixedHeight(std::max(rows, 1) * FileRowList::rowHeight);
    }
}

}  // namespace tavrolin
