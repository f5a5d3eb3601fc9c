#include "joinsplit/SplitView.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

#include "joinsplit/SplitSourceEditor.h"
#include "joinsplit/SplitViewModel.h"
#include "widgets/AppStyle.h"
#include "widgets/ContentUnavailableView.h"
#include "widgets/FeatureHeader.h"
#include "widgets/FilePanels.h"
#include "widgets/FileRowList.h"
#include "widgets/SymbolIcons.h"

namespace tavrolin {

namespace {

QString modeSymbol(SplitOperationMode mode) {
    return mode == SplitOperationMode::range ? QStringLiteral("arrow.left.and.right")
                                             : QStringLiteral("scissors");
}

// A screen reader reads a row as its name, its summary and what is wrong with it.
QString rowAccessibleText(const SplitSourceConfiguration& configuration) {
    QString text = toQString(configuration.file.filename());
    if (!configuration.isNotMedia) {
        text += QStringLiteral(", ") + QString::fromStdString(configuration.listSummary());
    }
    if (auto message = configuration.validationMessage()) {
        text += QStringLiteral(", ") + QString::fromStdString(*message);
    }
    return text;
}

}  // namespace

SplitSourceList::SplitSourceList(SplitViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel), refresh_(this, [this] { render(); }) {
    setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* header = new QHBoxLayout;
    header->setContentsMargins(14, 11, 14, 11);
    header->setSpacing(6);
    auto* title = new QLabel(QStringLiteral("Sources"));
    title->setFont(fontFor(TextStyle::headline));
    header->addWidget(title);
    count_ = new QLabel;
    count_->setObjectName(QStringLiteral("count"));
    count_->setFont(fontFor(TextStyle::caption));
    setTextColor(count_, secondaryTextColor(palette()));
    header->addWidget(count_);
    header->addStretch();
    layout->addLayout(header);
    layout->addWidget(dividerLine(QFrame::HLine));
    list_ = new FileRowList;
    list_->setObjectName(QStringLiteral("sourceRows"));
    list_->setAccessibleName(QStringLiteral("Sources"));
    list_->setShowsSelection(true);
    list_->setOnRemove(
        [this](const std::filesystem::path& file) { viewModel_.removeSource(file); });
    connect(list_, &FileRowList::currentFileChanged, this,
            [this](const std::filesystem::path& file) { viewModel_.selectFile(file); });
    layout->addWidget(list_, 1);
    connect(&viewModel_, &SplitViewModel::changed, this, [this] { refresh_.schedule(); });
    render();
}

void SplitSourceList::render() {
    const auto& sources = viewModel_.sources();
    count_->setText(QString::number(static_cast<qlonglong>(sources.size())));
    count_->setAccessibleName(sources.size() == 1 ? QStringLiteral("1 source")
                                                  : count_->text() + QStringLiteral(" sources"));
    std::vector<FileRowList::Row> rows;
    rows.reserve(sources.size());
    for (const auto& source : sources) {
        if (source.isNotMedia) {
            rows.push_back({source.file, QStringLiteral("Not a video or audio file"),
                            QStringLiteral("exclamationmark.triangle"), true,
                            rowAccessibleText(source)});
            continue;
        }
        rows.push_back({source.file, QString::fromStdString(source.listSummary()),
                        modeSymbol(source.operationMode), source.validationMessage().has_value(),
                        rowAccessibleText(source)});
    }
    list_->setRows(std::move(rows));
    list_->setCurrentFile(viewModel_.selectedFile());
}

SplitView::SplitView(SplitViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel) {
    setWindowTitle(QStringLiteral("Split"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(24, 18, 24, 18);
    header->addWidget(
        new FeatureHeader(QStringLiteral("Split Videos"),
                          QStringLiteral("Select a source, then configure its preview and split "
                                         "operation."),
                          QStringLiteral("scissors")),
        1, Qt::AlignTop);
    addButton_ = new QPushButton(symbolIcon(QStringLiteral("plus")), QStringLiteral("Add File"));
    addButton_->setObjectName(QStringLiteral("addFile"));
    connect(addButton_, &QPushButton::clicked, this, [this] {
        viewModel_.addFiles(mediaFileChooser_ ? mediaFileChooser_()
                                              : std::vector<std::filesystem::path>{});
    });
    header->addWidget(addButton_, 0, Qt::AlignTop);
    layout->addLayout(header);
    layout->addWidget(dividerLine(QFrame::HLine));

    // Connected before the editor is made, so before the editor's own: once the last source is
    // queued or removed, the focus moves to "Add File" before the editor disables its control.
    connect(&viewModel_, &SplitViewModel::changed, this, &SplitView::render);

    body_ = new QStackedLayout;
    emptyState_ = new ContentUnavailableView(
        QStringLiteral("No source files"), QStringLiteral("film.stack"),
        QStringLiteral("Drop files here or add them to configure each split independently."));
    body_->addWidget(emptyState_);
    panes_ = new QWidget;
    auto* row = new QHBoxLayout(panes_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    sourceList_ = new SplitSourceList(viewModel_);
    sourceList_->setFixedWidth(270);
    row->addWidget(sourceList_);
    row->addWidget(dividerLine(QFrame::VLine));
    editor_ = new SplitSourceEditor(viewModel_);
    editor_->setFocusHeir(addButton_);
    row->addWidget(editor_, 1);
    body_->addWidget(panes_);
    layout->addLayout(body_, 1);

    mediaFileChooser_ = [this] { return chooseMediaFiles("split", true, window()); };
    render();
}

bool SplitView::showsEmptyState() const {
    return body_->currentWidget() == emptyState_;
}

void SplitView::render() {
    const bool empty = viewModel_.sources().empty();
    // The last source removed or queued from the panes: the focus stays on the page, on the
    // control that adds the next file, rather than going on to whatever follows.
    if (empty && panes_->isAncestorOf(QApplication::focusWidget())) {
        addButton_->setFocus(Qt::OtherFocusReason);
    }
    body_->setCurrentWidget(empty ? static_cast<QWidget*>(emptyState_) : panes_);
}

}  // namespace tavrolin
