#include "rename/RenameView.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <charconv>

#include "rename/RenamePreviewList.h"
#include "rename/RenameViewModel.h"
#include "widgets/AppStyle.h"
#include "widgets/FeatureHeader.h"
#include "widgets/FieldText.h"
#include "widgets/FileListEditor.h"
#include "widgets/FilePanels.h"
#include "widgets/SymbolIcons.h"
#include "widgets/TabOrder.h"
#include "widgets/WorkspaceColumn.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

// The preview list shows up to this many rows before it scrolls on its own.
constexpr int visiblePlanRows = 14;

std::optional<std::int64_t> wholeNumber(const QString& text) {
    const QByteArray bytes = text.trimmed().toLatin1();
    std::int64_t value = 0;
    const auto result = std::from_chars(bytes.data(), bytes.data() + bytes.size(), value);
    if (bytes.isEmpty() || result.ec != std::errc() || result.ptr != bytes.data() + bytes.size()) {
        return std::nullopt;
    }
    return value;
}

QLabel* plainLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

RenameView::RenameView(RenameViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel) {
    setWindowTitle(QStringLiteral("Sequence Rename"));
    mediaFileChooser_ = [this] { return chooseMediaFiles("rename", true, window()); };

    QVBoxLayout* column = addScrollingColumn(this, 820);

    column->addWidget(new FeatureHeader(
        QStringLiteral("Sequence Rename"),
        QStringLiteral("Preview consistent season and episode filenames before changing anything."),
        QStringLiteral("character.cursor.ibeam")));

    restoreOffers_ = new QWidget;
    restoreOffers_->setObjectName(QStringLiteral("restoreOffers"));
    auto* offersLayout = new QVBoxLayout(restoreOffers_);
    offersLayout->setContentsMargins(0, 0, 0, 0);
    restoreOffers_->hide();
    column->addWidget(restoreOffers_);

    auto* filesHeader = new QHBoxLayout;
    auto* filesTitle = plainLabel(QStringLiteral("Files in episode order"));
    filesTitle->setFont(fontFor(TextStyle::headline));
    filesHeader->addWidget(filesTitle);
    filesHeader->addStretch(1);
    auto* addFiles =
        new QPushButton(symbolIcon(QStringLiteral("plus")), QStringLiteral("Add Files\u2026"));
    addFiles->setObjectName(QStringLiteral("addFilesButton"));
    addFiles->setAccessibleName(QStringLiteral("Add Files"));
    connect(addFiles, &QPushButton::clicked, this, [this] {
        viewModel_.addFiles(mediaFileChooser_ ? mediaFileChooser_() : std::vector<fs::path>{});
    });
    filesHeader->addWidget(addFiles);
    addFilesButton_ = addFiles;
    column->addLayout(filesHeader);

    fileList_ = new FileListEditor(
        QStringLiteral("No files to rename"),
        QStringLiteral(
            "Drop files here or add files from one folder, then arrange them in episode order."));
    fileList_->setObjectName(QStringLiteral("fileList"));
    fileList_->setAccessibleName(QStringLiteral("Files in episode order"));
    fileList_->setOnRemove([this](const fs::path& file) { viewModel_.remove(file); });
    fileList_->setOnMove([this](const fs::path& file, int step) { viewModel_.move(file, step); });
    column->addWidget(fileList_);

    column->addWidget(makeNamingGroup());
    column->addWidget(makePreviewGroup());

    auto* footer = new QHBoxLayout;
    auto* note = plainLabel(
        QStringLiteral("Extensions are preserved. Existing unrelated files are never replaced."));
    note->setFont(fontFor(TextStyle::caption));
    setTextColor(note, secondaryTextColor(palette()));
    note->setWordWrap(true);
    footer->addWidget(note, 1);
    renameButton_ =
        new QPushButton(symbolIcon(QStringLiteral("checkmark")), QStringLiteral("Rename Files"));
    renameButton_->setObjectName(QStringLiteral("renameButton"));
    renameButton_->setAccessibleName(QStringLiteral("Rename Files"));
    renameButton_->setDefault(true);
    connect(renameButton_, &QPushButton::clicked, this, [this] { viewModel_.renameAll(); });
    footer->addWidget(renameButton_);
    column->addLayout(footer);
    column->addStretch(1);

    connect(&viewModel_, &RenameViewModel::changed, this, &RenameView::scheduleRefresh);
    refresh();
}

QWidget* RenameView::makeNamingGroup() {
    auto* group = new QGroupBox(QStringLiteral("Naming"));
    group->setObjectName(QStringLiteral("namingGroup"));
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(12);

    showNameField_ = new QLineEdit;
    showNameField_->setObjectName(QStringLiteral("showNameField"));
    showNameField_->setPlaceholderText(QStringLiteral("Show name"));
    showNameField_->setMinimumWidth(260);
    // Without a name of its own a screen reader reads the group's title instead.
    showNameField_->setAccessibleName(QStringLiteral("Show name"));
    followFieldText(showNameField_, this, [this](const QString& text) {
        viewModel_.setShowName(text.toStdString());
        viewModel_.refreshPlan();
    });
    auto* showNameLabel = plainLabel(QStringLiteral("Show name"));
    showNameLabel->setBuddy(showNameField_);
    grid->addWidget(showNameLabel, 0, 0);
    grid->addWidget(showNameField_, 0, 1, Qt::AlignLeft);

    const auto addNumberRow = [&](int row, const QString& label, const NumberRow& number) {
        auto* controls = new QHBoxLayout;
        controls->setSpacing(8);
        controls->addWidget(number.field);
        controls->addWidget(number.stepper);
        controls->addStretch(1);
        auto* rowLabel = plainLabel(label);
        rowLabel->setBuddy(number.field);
        grid->addWidget(rowLabel, row, 0);
        grid->addLayout(controls, row, 1);
    };
    season_ = makeNumberRow(QStringLiteral("season"), QStringLiteral("Season"),
                            QStringLiteral("Season number"), QStringLiteral("Adjust season number"),
                            999, [this](std::int64_t value) { viewModel_.setSeason(value); });
    addNumberRow(1, QStringLiteral("Season"), season_);
    startingEpisode_ = makeNumberRow(
        QStringLiteral("startingEpisode"), QStringLiteral("Starting episode"),
        QStringLiteral("Starting episode number"), QStringLiteral("Adjust starting episode number"),
        9999, [this](std::int64_t value) { viewModel_.setStartingEpisode(value); });
    addNumberRow(2, QStringLiteral("Starting episode"), startingEpisode_);

    paddingPicker_ = new QComboBox;
    paddingPicker_->setObjectName(QStringLiteral("paddingPicker"));
    paddingPicker_->setAccessibleName(QStringLiteral("Number padding"));
    paddingPicker_->setFixedWidth(120);
    paddingPicker_->addItems({QStringLiteral("1 digit"), QStringLiteral("2 digits"),
                              QStringLiteral("3 digits"), QStringLiteral("4 digits")});
    connect(paddingPicker_, &QComboBox::activated, this, [this](int index) {
        viewModel_.setPadding(index + 1);
        viewModel_.refreshPlan();
    });
    auto* paddingLabel = plainLabel(QStringLiteral("Number padding"));
    paddingLabel->setBuddy(paddingPicker_);
    grid->addWidget(paddingLabel, 3, 0);
    grid->addWidget(paddingPicker_, 3, 1, Qt::AlignLeft);
    grid->setColumnStretch(1, 1);
    return group;
}

RenameView::NumberRow RenameView::makeNumberRow(const QString& name, const QString& placeholder,
                                                const QString& fieldLabel,
                                                const QString& stepperLabel, int maximum,
                                                std::function<void(std::int64_t)> write) {
    NumberRow row;
    row.field = new QLineEdit;
    row.field->setObjectName(name + QStringLiteral("Field"));
    row.field->setPlaceholderText(placeholder);
    row.field->setAccessibleName(fieldLabel);
    row.field->setFixedWidth(90);
    row.field->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("-?[0-9]{0,18}")), row.field));
    QFont digits = row.field->font();
    digits.setFamily(QStringLiteral("monospace"));
    digits.setStyleHint(QFont::Monospace);
    row.field->setFont(digits);
    // A field that does not hold a whole number keeps the last number it held.
    followFieldText(row.field, this, [this, write](const QString& text) {
        if (const auto value = wholeNumber(text)) {
            write(*value);
            viewModel_.refreshPlan();
        }
    });

    // The stepper is a spin box showing only its arrows.
    row.stepper = new QSpinBox;
    row.stepper->setObjectName(name + QStringLiteral("Stepper"));
    row.stepper->setAccessibleName(stepperLabel);
    row.stepper->setRange(1, maximum);
    row.stepper->setFixedWidth(22);
    row.stepper->setFrame(false);
    QPalette arrowsOnly = row.stepper->palette();
    arrowsOnly.setColor(QPalette::Base, Qt::transparent);
    arrowsOnly.setColor(QPalette::Text, Qt::transparent);
    arrowsOnly.setColor(QPalette::Highlight, Qt::transparent);
    arrowsOnly.setColor(QPalette::HighlightedText, Qt::transparent);
    row.stepper->setPalette(arrowsOnly);
    connect(row.stepper, &QSpinBox::valueChanged, this, [this, write](int value) {
        write(value);
        viewModel_.refreshPlan();
    });
    // One Tab stop per number: the field takes the arrow keys, the stepper only the mouse.
    row.stepper->setFocusPolicy(Qt::NoFocus);
    row.field->setAccessibleDescription(QStringLiteral("Up and Down change the number."));
    for (const auto& [key, step] : {std::pair{Qt::Key_Up, 1}, std::pair{Qt::Key_Down, -1}}) {
        auto* arrow =
            new QShortcut(QKeySequence(key), row.field, nullptr, nullptr, Qt::WidgetShortcut);
        connect(arrow, &QShortcut::activated, row.field,
                [field = row.field, stepper = row.stepper, step = step] {
                    stepper->stepBy(step);
                    setFieldText(field, QString::number(stepper->value()));
                });
    }
    return row;
}

QWidget* RenameView::makePreviewGroup() {
    auto* group = new QGroupBox(QStringLiteral("Preview"));
    group->setObjectName(QStringLiteral("previewGroup"));
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(0, 0, 0, 0);
    noticeLabel_ = plainLabel({});
    noticeLabel_->setObjectName(QStringLiteral("restoreNotice"));
    noticeLabel_->setWordWrap(true);
    noticeLabel_->setContentsMargins(8, 8, 8, 0);
    noticeLabel_->hide();
    layout->addWidget(noticeLabel_);
    planNoticeLabel_ = plainLabel({});
    planNoticeLabel_->setObjectName(QStringLiteral("planNotice"));
    planNoticeLabel_->setWordWrap(true);
    planNoticeLabel_->setContentsMargins(8, 8, 8, 0);
    planNoticeLabel_->setFont(fontFor(TextStyle::caption));
    setTextColor(planNoticeLabel_, secondaryTextColor(palette()));
    planNoticeLabel_->hide();
    layout->addWidget(planNoticeLabel_);
    preview_ = new QStackedWidget;
    layout->addWidget(preview_);

    auto* errorRow = new QWidget;
    auto* errorLayout = new QHBoxLayout(errorRow);
    errorLayout->setContentsMargins(8, 8, 8, 8);
    auto* errorIcon = new QLabel;
    errorIcon->setPixmap(
        tintedSymbolIcon(QStringLiteral("exclamationmark.triangle.fill"), tint::orange())
            .pixmap(16, 16));
    errorLayout->addWidget(errorIcon, 0, Qt::AlignTop);
    errorLabel_ = plainLabel({});
    errorLabel_->setObjectName(QStringLiteral("previewError"));
    errorLabel_->setWordWrap(true);
    setTextColor(errorLabel_, tint::orange());
    errorLayout->addWidget(errorLabel_, 1);
    restoreButton_ = new QPushButton(QStringLiteral("Restore Names"));
    restoreButton_->setObjectName(QStringLiteral("restoreButton"));
    restoreButton_->setAccessibleName(QStringLiteral("Restore Names"));
    connect(restoreButton_, &QPushButton::clicked, this,
            [this] { viewModel_.restoreInterruptedRename(); });
    errorLayout->addWidget(restoreButton_, 0, Qt::AlignTop);
    preview_->addWidget(errorRow);

    planModel_ = new RenamePreviewListModel(this);
    planList_ = new QListView;
    planList_->setObjectName(QStringLiteral("planList"));
    planList_->setAccessibleName(QStringLiteral("Preview"));
    planList_->setModel(planModel_);
    planList_->setItemDelegate(new RenamePreviewDelegate(planList_));
    prepareLongList(planList_);
    preview_->addWidget(planList_);

    auto* placeholder =
        plainLabel(QStringLiteral("Add files and enter a show name to see the result."));
    placeholder->setObjectName(QStringLiteral("previewPlaceholder"));
    placeholder->setContentsMargins(8, 8, 8, 8);
    setTextColor(placeholder, secondaryTextColor(palette()));
    preview_->addWidget(placeholder);
    return group;
}

void RenameView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!lookedForInterruptedRenames_) {
        lookedForInterruptedRenames_ = true;
        viewModel_.lookForInterruptedRenames();
    }
}

void RenameView::renderRestoreOffers() {
    if (shownRestoreOffers_ == viewModel_.interruptedRenames()) {
        return;
    }
    shownRestoreOffers_ = viewModel_.interruptedRenames();
    auto* layout = static_cast<QVBoxLayout*>(restoreOffers_->layout());
    while (QLayoutItem* item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const auto& folder : shownRestoreOffers_) {
        auto* row = new QWidget;
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        const QString name = QStringLiteral("\u201C%1\u201D").arg(toQString(folder));
        auto* text = plainLabel(
            QStringLiteral("A rename in %1 did not finish, and its files may have hidden names.")
                .arg(name));
        text->setWordWrap(true);
        setTextColor(text, tint::orange());
        rowLayout->addWidget(text, 1);
        auto* restore = new QPushButton(QStringLiteral("Restore Names"));
        restore->setAccessibleName(QStringLiteral("Restore names in %1").arg(name));
        connect(restore, &QPushButton::clicked, this,
                [this, folder] { viewModel_.restoreNames(folder); });
        rowLayout->addWidget(restore, 0, Qt::AlignTop);
        layout->addWidget(row);
    }
    restoreOffers_->setVisible(!shownRestoreOffers_.empty());
}

void RenameView::scheduleRefresh() {
    if (refreshScheduled_) {
        return;
    }
    refreshScheduled_ = true;
    QMetaObject::invokeMethod(this, &RenameView::refresh, Qt::QueuedConnection);
}

void RenameView::renderNumber(const NumberRow& row, std::int64_t value) {
    // A field being typed in keeps its text ("-" or "" on the way to a number).
    if (!row.field->hasFocus() && wholeNumber(row.field->text()) != value) {
        setFieldText(row.field, QString::number(value));
    }
    const QSignalBlocker blocker(row.stepper);
    row.stepper->setValue(static_cast<int>(
        std::clamp<std::int64_t>(value, row.stepper->minimum(), row.stepper->maximum())));
}

void RenameView::refresh() {
    refreshScheduled_ = false;
    // Rebuilding the rows costs time with long lists; only a changed list is rebuilt.
    if (fileList_->files() != viewModel_.files()) {
        fileList_->setFiles(viewModel_.files());
    }
    const QString showName = QString::fromStdString(viewModel_.showName());
    setFieldText(showNameField_, showName);
    renderNumber(season_, viewModel_.season());
    renderNumber(startingEpisode_, viewModel_.startingEpisode());
    const auto padding = viewModel_.padding();
    paddingPicker_->setCurrentIndex(padding >= 1 && padding <= 4 ? static_cast<int>(padding) - 1
                                                                 : -1);

    renderRestoreOffers();
    for (auto* button : restoreOffers_->findChildren<QPushButton*>()) {
        button->setEnabled(!viewModel_.isRenaming());
    }
    noticeLabel_->setText(QString::fromStdString(viewModel_.notice().value_or(std::string())));
    noticeLabel_->setVisible(viewModel_.notice().has_value());

    const auto& plan = viewModel_.plan();
    const bool showsPlanNotice =
        !viewModel_.errorMessage() && !plan.empty() && viewModel_.planNotice().has_value();
    planNoticeLabel_->setText(showsPlanNotice ? QString::fromStdString(*viewModel_.planNotice())
                                              : QString());
    planNoticeLabel_->setVisible(showsPlanNotice);
    if (viewModel_.errorMessage()) {
        errorLabel_->setText(QString::fromStdString(*viewModel_.errorMessage()));
        restoreButton_->setVisible(viewModel_.interruptedRenameFolder().has_value());
        restoreButton_->setEnabled(!viewModel_.isRenaming());
        preview_->setCurrentIndex(0);
        preview_->setFixedHeight(preview_->currentWidget()->sizeHint().height());
    } else if (!plan.empty()) {
        planModel_->setPlan(plan);
        const int rowHeight = planList_->sizeHintForRow(0);
        const int rows = std::min<int>(static_cast<int>(plan.size()), visiblePlanRows);
        preview_->setCurrentIndex(1);
        preview_->setFixedHeight(rows * rowHeight + 16);
    } else {
        preview_->setCurrentIndex(2);
        preview_->setFixedHeight(preview_->currentWidget()->sizeHint().height());
    }
    if (viewModel_.errorMessage() || plan.empty()) {
        planModel_->setPlan({});
    }
    setEnabledKeepingFocus(renameButton_, viewModel_.canRename(), addFilesButton_);
}

}  // namespace tavrolin
