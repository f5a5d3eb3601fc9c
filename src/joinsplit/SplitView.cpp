#include "joinsplit/SplitView.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedLayout>
#include <QVBoxLayout>

#include "app/AppStyle.h"
#include "app/ContentUnavailableView.h"
#include "app/FeatureHeader.h"
#include "app/FilePanels.h"
#include "app/SymbolIcons.h"
#include "joinsplit/SplitSourceEditor.h"
#include "joinsplit/SplitViewModel.h"

namespace tavrolin {

namespace {

QString modeSymbol(SplitOperationMode mode) {
    return mode == SplitOperationMode::range ? QStringLiteral("arrow.left.and.right")
                                             : QStringLiteral("scissors");
}

// One source row; its texts are refreshed in place by updateRow.
QWidget* makeRow(const std::filesystem::path& file, std::function<void()> remove) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(6, 5, 6, 5);
    layout->setSpacing(9);
    auto* symbol = new QLabel;
    symbol->setPixmap(tintedSymbolIcon(QStringLiteral("film"), secondaryTextColor(row->palette()))
                          .pixmap(18, 18));
    layout->addWidget(symbol);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    auto* name = new QLabel(toQString(file.filename()));
    name->setObjectName(QStringLiteral("name"));
    name->setTextFormat(Qt::PlainText);
    name->setWordWrap(true);
    name->setMaximumHeight(name->fontMetrics().lineSpacing() * 2 + 2);
    texts->addWidget(name);
    auto* summaryRow = new QHBoxLayout;
    summaryRow->setSpacing(5);
    auto* mode = new QLabel;
    mode->setObjectName(QStringLiteral("mode"));
    summaryRow->addWidget(mode);
    auto* summary = new QLabel;
    summary->setObjectName(QStringLiteral("summary"));
    summary->setTextFormat(Qt::PlainText);
    summary->setFont(fontFor(TextStyle::caption));
    summaryRow->addWidget(summary, 1);
    texts->addLayout(summaryRow);
    layout->addLayout(texts, 1);
    layout->addSpacing(4);
    auto* removeButton = new QPushButton(symbolIcon(QStringLiteral("xmark.circle.fill")), {});
    removeButton->setObjectName(QStringLiteral("remove"));
    removeButton->setFlat(true);
    removeButton->setToolTip(plainToolTip(QStringLiteral("Remove ") + toQString(file.filename())));
    removeButton->setAccessibleName(QStringLiteral("Remove ") + toQString(file.filename()));
    QObject::connect(removeButton, &QPushButton::clicked, row, std::move(remove));
    layout->addWidget(removeButton);
    return row;
}

void updateRow(QWidget* row, const SplitSourceConfiguration& configuration) {
    const QColor color =
        configuration.validationMessage() ? tint::red() : secondaryTextColor(row->palette());
    auto* mode = row->findChild<QLabel*>(QStringLiteral("mode"));
    mode->setPixmap(
        tintedSymbolIcon(modeSymbol(configuration.operationMode), color).pixmap(12, 12));
    mode->setProperty("symbol", modeSymbol(configuration.operationMode));
    auto* summary = row->findChild<QLabel*>(QStringLiteral("summary"));
    summary->setText(QString::fromStdString(configuration.listSummary()));
    setTextColor(summary, color);
}

// A screen reader reads a row as its visible texts.
QString rowAccessibleText(const SplitSourceConfiguration& configuration) {
    QString text = toQString(configuration.file.filename()) + QStringLiteral(", ") +
                   QString::fromStdString(configuration.listSummary());
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
    list_ = new QListWidget;
    list_->setAccessibleName(QStringLiteral("Sources"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setFrameShape(QFrame::NoFrame);
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < static_cast<int>(shownFiles_.size())) {
            viewModel_.selectFile(shownFiles_[static_cast<std::size_t>(row)]);
        }
    });
    layout->addWidget(list_, 1);
    connect(&viewModel_, &SplitViewModel::changed, this, [this] { refresh_.schedule(); });
    render();
}

void SplitSourceList::render() {
    const auto& sources = viewModel_.sources();
    count_->setText(QString::number(static_cast<qlonglong>(sources.size())));
    count_->setAccessibleName(sources.size() == 1 ? QStringLiteral("1 source")
                                                  : count_->text() + QStringLiteral(" sources"));
    std::vector<std::filesystem::path> files;
    for (const auto& source : sources) {
        files.push_back(source.file);
    }
    const QSignalBlocker blocker(list_);
    if (files != shownFiles_) {
        list_->clear();
        shownFiles_ = files;
        for (const auto& file : files) {
            auto* item = new QListWidgetItem(list_);
            QWidget* row = makeRow(file, [this, file] { viewModel_.removeSource(file); });
            item->setSizeHint(row->sizeHint());
            list_->setItemWidget(item, row);
        }
    }
    int selected = -1;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        QListWidgetItem* item = list_->item(static_cast<int>(i));
        updateRow(list_->itemWidget(item), sources[i]);
        item->setData(Qt::AccessibleTextRole, rowAccessibleText(sources[i]));
        if (viewModel_.selectedFile() == sources[i].file) {
            selected = static_cast<int>(i);
        }
    }
    list_->setCurrentRow(selected);
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
    auto* add = new QPushButton(symbolIcon(QStringLiteral("plus")), QStringLiteral("Add File"));
    add->setObjectName(QStringLiteral("addFile"));
    connect(add, &QPushButton::clicked, this, [this] {
        viewModel_.addFiles(mediaFileChooser_ ? mediaFileChooser_()
                                              : std::vector<std::filesystem::path>{});
    });
    header->addWidget(add, 0, Qt::AlignTop);
    layout->addLayout(header);
    layout->addWidget(dividerLine(QFrame::HLine));

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
    row->addWidget(editor_, 1);
    body_->addWidget(panes_);
    layout->addLayout(body_, 1);

    mediaFileChooser_ = [this] { return chooseMediaFiles(true, window()); };
    connect(&viewModel_, &SplitViewModel::changed, this, &SplitView::render);
    render();
}

bool SplitView::showsEmptyState() const {
    return body_->currentWidget() == emptyState_;
}

void SplitView::render() {
    body_->setCurrentWidget(viewModel_.sources().empty() ? static_cast<QWidget*>(emptyState_)
                                                         : panes_);
}

}  // namespace tavrolin
