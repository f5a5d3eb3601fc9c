#include "joinsplit/JoinView.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "joinsplit/JoinViewModel.h"
#include "widgets/AppStyle.h"
#include "widgets/CoalescedRefresh.h"
#include "widgets/FeatureHeader.h"
#include "widgets/FileListEditor.h"
#include "widgets/FilePanels.h"
#include "widgets/RemuxSymbols.h"
#include "widgets/StatusLine.h"
#include "widgets/SymbolIcons.h"
#include "widgets/TabOrder.h"
#include "widgets/WorkspaceColumn.h"

namespace tavrolin {

namespace fs = std::filesystem;

JoinView::JoinView(JoinViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel), refreshLater_(this, [this] { refresh(); }) {
    setWindowTitle(QStringLiteral("Join"));
    mediaFileChooser_ = [this] { return chooseMediaFiles("join", true, window()); };
    QVBoxLayout* column = addScrollingColumn(this, 820);

    column->addWidget(new FeatureHeader(
        QStringLiteral("Join Videos"),
        QStringLiteral(
            "Drop or add compatible files, then combine them in order without re-encoding."),
        QStringLiteral("rectangle.2.swap")));

    auto* orderHeader = new QHBoxLayout;
    auto* orderTitle = new QLabel(QStringLiteral("Join order"));
    orderTitle->setFont(fontFor(TextStyle::headline));
    orderHeader->addWidget(orderTitle);
    orderHeader->addStretch(1);
    addFilesButton_ =
        new QPushButton(remuxSymbolIcon(QStringLiteral("plus")), QStringLiteral("Add Files\u2026"));
    addFilesButton_->setObjectName(QStringLiteral("addFilesButton"));
    connect(addFilesButton_, &QPushButton::clicked, this, [this] {
        viewModel_.addFiles(mediaFileChooser_ ? mediaFileChooser_() : std::vector<fs::path>{});
    });
    orderHeader->addWidget(addFilesButton_);
    column->addLayout(orderHeader);

    fileList_ = new FileListEditor(
        QStringLiteral("Drop or add at least two files"),
        QStringLiteral("Files should have matching codecs, dimensions, and stream layouts."));
    fileList_->setObjectName(QStringLiteral("fileList"));
    // The page scrolls; a list that scrolled too would be a scroll area inside another.
    fileList_->setShowsEveryRow(true);
    fileList_->setOnRemove([this](const fs::path& file) { viewModel_.remove(file); });
    fileList_->setOnMove([this](const fs::path& file, int step) { viewModel_.move(file, step); });
    column->addWidget(fileList_);

    auto* output = new QGroupBox;
    output->setObjectName(QStringLiteral("outputGroup"));
    auto* form = new QFormLayout(output);
    form->setContentsMargins(4, 4, 4, 4);
    containerPicker_ = new QComboBox;
    containerPicker_->setObjectName(QStringLiteral("containerPicker"));
    containerPicker_->setFixedWidth(140);
    containerPicker_->setAccessibleName(QStringLiteral("Output container"));
    for (auto container : joinOutputContainers) {
        containerPicker_->addItem(QString::fromStdString(displayName(container)));
    }
    connect(containerPicker_, &QComboBox::activated, this, [this](int index) {
        viewModel_.setContainer(joinOutputContainers.at(static_cast<std::size_t>(index)));
    });
    auto* pickerRow = new QHBoxLayout;
    pickerRow->addWidget(containerPicker_);
    pickerRow->addStretch(1);
    form->addRow(QStringLiteral("Output container"), pickerRow);
    column->addWidget(output);

    auto* footer = new QHBoxLayout;
    status_ = new StatusLine(QStringLiteral("status"));
    footer->addWidget(status_, 1, Qt::AlignTop);
    queueButton_ = new QPushButton(remuxSymbolIcon(QStringLiteral("text.badge.plus")),
                                   QStringLiteral("Choose Output && Queue"));
    queueButton_->setObjectName(QStringLiteral("queueButton"));
    queueButton_->setDefault(true);
    connect(queueButton_, &QPushButton::clicked, this,
            [this] { viewModel_.chooseOutputAndQueue(); });
    footer->addWidget(queueButton_, 0, Qt::AlignTop);
    column->addLayout(footer);
    column->addStretch(1);

    connect(&viewModel_, &JoinViewModel::changed, this, [this] { refreshLater_.schedule(); });
    refresh();
}

void JoinView::refresh() {
    if (fileList_->files() != viewModel_.files()) {
        fileList_->setFiles(viewModel_.files());
    }
    const auto position =
        std::find(joinOutputContainers.begin(), joinOutputContainers.end(), viewModel_.container());
    containerPicker_->setCurrentIndex(static_cast<int>(position - joinOutputContainers.begin()));

    const bool hasTwoFiles = viewModel_.files().size() >= 2;
    const bool compatible = !viewModel_.compatibilityMessage().has_value();
    const std::string text = viewModel_.statusText();
    if (const auto problem = viewModel_.outputProblem();
        problem && viewModel_.isCheckingOutputFolder()) {
        status_->setStatus(*problem, QStringLiteral("info.circle"), secondaryTextColor(palette()));
    } else if (problem) {
        status_->setStatus(*problem, QStringLiteral("exclamationmark.triangle.fill"),
                           tint::orange());
    } else if (viewModel_.hasBlockingIssue()) {
        status_->setStatus(text, QStringLiteral("exclamationmark.triangle.fill"), tint::orange());
    } else if (hasTwoFiles && compatible) {
        status_->setStatus(text, QStringLiteral("checkmark.shield"), tint::green());
    } else {
        status_->setStatus(text, QStringLiteral("info.circle"), secondaryTextColor(palette()));
    }
    // After the join is queued the list empties; the focus stays where the next files come in.
    setEnabledKeepingFocus(queueButton_,
                           hasTwoFiles && compatible && !viewModel_.isCheckingOutputFolder(),
                           addFilesButton_);
}

}  // namespace tavrolin
