#include "joinsplit/SplitSourceEditor.h"

#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

#include "joinsplit/SplitViewModel.h"
#include "preview/SplitPreviewViewModel.h"
#include "preview/SplitVideoPreview.h"
#include "widgets/AppStyle.h"
#include "widgets/ContentUnavailableView.h"
#include "widgets/ElidedLabel.h"
#include "widgets/FieldText.h"
#include "widgets/OutputFolderRow.h"
#include "widgets/RetiredWidget.h"
#include "widgets/SymbolIcons.h"
#include "widgets/SymbolLabel.h"
#include "widgets/TabOrder.h"
#include "widgets/WorkspaceColumn.h"
#include "widgets/WrappingLabel.h"

namespace tavrolin {

namespace {

QFrame* divider() {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLineEdit* timeField(const char* objectName, const QString& name, const QString& placeholder,
                     int width) {
    auto* field = new QLineEdit;
    field->setObjectName(QString::fromLatin1(objectName));
    field->setAccessibleName(name);
    field->setPlaceholderText(placeholder);
    field->setFixedWidth(width);
    return field;
}

// Where the cut of the field beside it falls.
QLabel* cutNote(const char* objectName) {
    auto* note = secondaryLabel({});
    note->setObjectName(QString::fromLatin1(objectName));
    note->setWordWrap(true);
    return note;
}

void showNote(QLabel* note, const std::optional<std::string>& text, bool shown) {
    note->setText(QString::fromStdString(text.value_or("")));
    note->setVisible(shown && text.has_value());
}

}  // namespace

SplitSourceEditor::SplitSourceEditor(SplitViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel), refreshTimer_(new QTimer(this)) {
    pages_ = new QStackedLayout(this);
    placeholder_ = new ContentUnavailableView(
        QStringLiteral("Select a source"), QStringLiteral("sidebar.left"),
        QStringLiteral("Choose a file from the list to preview and configure it."));
    pages_->addWidget(placeholder_);
    content_ = buildContent();
    pages_->addWidget(content_);

    refreshTimer_->setInterval(50);
    refreshTimer_->setTimerType(Qt::PreciseTimer);
    connect(refreshTimer_, &QTimer::timeout, this, [this] {
        if (preview_) {
            preview_->refresh();
        }
    });
    connect(&viewModel_, &SplitViewModel::changed, this, &SplitSourceEditor::render);
    render();
}

SplitSourceEditor::~SplitSourceEditor() = default;

QWidget* SplitSourceEditor::buildContent() {
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QWidget;
    auto* headerLayout = new QVBoxLayout(header);
    headerLayout->setContentsMargins(22, 14, 22, 14);
    headerLayout->setSpacing(3);
    // A long name takes two lines at most and never widens the pane; the tooltip holds it whole.
    fileName_ = new WrappingLabel;
    fileName_->setObjectName(QStringLiteral("fileName"));
    fileName_->setMaximumLineCount(2);
    fileName_->setFont(fontFor(TextStyle::title2, QFont::DemiBold));
    headerLayout->addWidget(fileName_);
    folder_ = new ElidedLabel;
    folder_->setObjectName(QStringLiteral("folderPath"));
    folder_->setFont(fontFor(TextStyle::caption));
    folder_->setTextColor(secondaryTextColor(palette()));
    headerLayout->addWidget(folder_);
    layout->addWidget(header);
    layout->addWidget(divider());

    auto* scroll = new QScrollArea;
    settingsArea_ = scroll;
    scroll->viewport()->installEventFilter(this);
    scroll->setAccessibleName(QStringLiteral("Split settings"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    // The column narrows with the window instead: no sideways scrolling.
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    followFocus(scroll);
    auto* holder = new QWidget;
    auto* centring = new QHBoxLayout(holder);
    centring->setContentsMargins(22, 22, 22, 34);
    auto* column = new QWidget;
    column->setMaximumWidth(760);
    auto* columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->setSpacing(18);

    previewBox_ = new QGroupBox(QStringLiteral("Preview and frame selection"));
    auto* previewLayout = new QVBoxLayout(previewBox_);
    previewLayout->setContentsMargins(4, 4, 4, 4);
    // In place of the preview for a file that is not media.
    notMediaNote_ = symbolLabel(QStringLiteral("exclamationmark.triangle"), {}, &notMediaText_,
                                TextStyle::body);
    notMediaText_->setObjectName(QStringLiteral("notMediaNote"));
    notMediaNote_->hide();
    previewLayout->addWidget(notMediaNote_);
    columnLayout->addWidget(previewBox_);
    columnLayout->addWidget(buildSettings());

    settingsNote_ =
        secondaryLabel(QStringLiteral("These settings apply only to the selected source. "
                                      "Choose another file on the left to configure it "
                                      "independently."));
    settingsNote_->setWordWrap(true);
    columnLayout->addWidget(settingsNote_);

    auto* folderBox = new QGroupBox;
    auto* folderLayout = new QVBoxLayout(folderBox);
    folderLayout->setContentsMargins(4, 4, 4, 4);
    outputFolder_ = new OutputFolderRow([this] { viewModel_.chooseOutputDirectory(); });
    folderLayout->addWidget(outputFolder_);
    columnLayout->addWidget(folderBox);
    columnLayout->addStretch();

    // At most 760 wide and centred; narrower windows shrink it.
    centring->addStretch(1);
    centring->addWidget(column, 1000);
    centring->addStretch(1);
    scroll->setWidget(holder);
    layout->addWidget(scroll, 1);
    layout->addWidget(divider());
    layout->addWidget(buildBottomBar());
    return content;
}

QWidget* SplitSourceEditor::buildSettings() {
    settingsBox_ = new QGroupBox;
    auto* grid = new QGridLayout(settingsBox_);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(8);
    grid->setColumnStretch(2, 1);  // the rows keep to the leading edge

    operation_ = new QComboBox;
    operation_->setObjectName(QStringLiteral("operationPicker"));
    operation_->setAccessibleName(QStringLiteral("Operation"));
    operation_->addItem(QStringLiteral("Extract Range"));
    operation_->addItem(QStringLiteral("Split at Point"));
    operation_->setFixedWidth(180);
    connect(operation_, &QComboBox::activated, this, [this](int index) {
        viewModel_.setOperationMode(index == 0 ? SplitOperationMode::range
                                               : SplitOperationMode::atPoint);
    });
    grid->addWidget(new QLabel(QStringLiteral("Operation")), 0, 0);
    grid->addWidget(operation_, 0, 1);
    // Each note goes under its field, across the rest of the row: beside it, a narrow window
    // would leave it a sliver.

    startLabel_ = new QLabel(QStringLiteral("Start (seconds)"));
    start_ = timeField("startField", startLabel_->text(), QStringLiteral("0"), 120);
    followFieldText(start_, this,
                    [this](const QString& text) { viewModel_.setStartText(text.toStdString()); });
    startNote_ = cutNote("startNote");
    grid->addWidget(startLabel_, 1, 0);
    grid->addWidget(start_, 1, 1);
    grid->addWidget(startNote_, 2, 1, 1, 2);
    endLabel_ = new QLabel(QStringLiteral("End (seconds)"));
    end_ = timeField("endField", endLabel_->text(), QStringLiteral("60"), 120);
    followFieldText(end_, this,
                    [this](const QString& text) { viewModel_.setEndText(text.toStdString()); });
    endNote_ = cutNote("endNote");
    grid->addWidget(endLabel_, 3, 0);
    grid->addWidget(end_, 3, 1);
    grid->addWidget(endNote_, 4, 1, 1, 2);
    splitLabel_ = new QLabel(QStringLiteral("Split at (seconds)"));
    splitPoint_ =
        timeField("splitField", splitLabel_->text(), QStringLiteral("Choose a frame above"), 180);
    followFieldText(splitPoint_, this, [this](const QString& text) {
        viewModel_.setSplitPointText(text.toStdString());
    });
    splitNote_ = cutNote("splitNote");
    grid->addWidget(splitLabel_, 5, 0);
    grid->addWidget(splitPoint_, 5, 1);
    grid->addWidget(splitNote_, 6, 1, 1, 2);

    container_ = new QComboBox;
    container_->setAccessibleName(QStringLiteral("Container"));
    container_->setFixedWidth(180);
    container_->addItem(QStringLiteral("Same as Input"));
    for (OutputContainer choice : {OutputContainer::mp4, OutputContainer::mov, OutputContainer::mkv,
                                   OutputContainer::m4v, OutputContainer::webm}) {
        container_->addItem(QString::fromUtf8(rawValue(choice).data()).toUpper(),
                            static_cast<int>(choice));
    }
    connect(container_, &QComboBox::activated, this, [this](int index) {
        viewModel_.setContainer(index == 0
                                    ? std::nullopt
                                    : std::optional<OutputContainer>(static_cast<OutputContainer>(
                                          container_->itemData(index).toInt())));
    });
    grid->addWidget(new QLabel(QStringLiteral("Container")), 7, 0);
    grid->addWidget(container_, 7, 1);
    // What the parts leave out of the source in that container.
    containerNote_ = cutNote("containerNote");
    grid->addWidget(containerNote_, 8, 1, 1, 2);
    return settingsBox_;
}

QWidget* SplitSourceEditor::buildBottomBar() {
    auto* bar = new QWidget;
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(22, 12, 22, 12);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    keyframeNote_ = symbolLabel(
        QStringLiteral("info.circle"),
        QStringLiteral("Stream-copy cuts fall on the keyframe at or before each time you "
                       "choose."));
    keyframeNote_->setObjectName(QStringLiteral("keyframeNote"));
    texts->addWidget(keyframeNote_);
    validation_ = new WrappingLabel;
    validation_->setObjectName(QStringLiteral("validationMessage"));
    validation_->setFont(fontFor(TextStyle::caption));
    setTextColor(validation_, tint::red());
    texts->addWidget(validation_);
    layout->addLayout(texts, 1);
    queueButton_ = new QPushButton(symbolIcon(QStringLiteral("text.badge.plus")), {});
    queueButton_->setObjectName(QStringLiteral("queueButton"));
    queueButton_->setDefault(true);
    connect(queueButton_, &QPushButton::clicked, this, [this] { viewModel_.submit(); });
    layout->addWidget(queueButton_, 0, Qt::AlignTop);
    return bar;
}

void SplitSourceEditor::showPreviewFor(const std::filesystem::path& file) {
    if (previewFile_ == file && preview_) {
        return;
    }
    retireWidget(preview_);
    preview_ = nullptr;
    previewFile_ = file;
    SplitVideoPreview::Actions actions{
        [this](double seconds) { viewModel_.setStartFromPreview(seconds); },
        [this](double seconds) { viewModel_.setEndFromPreview(seconds); },
        [this](double seconds) { viewModel_.setSplitPointFromPreview(seconds); }};
    preview_ = new SplitVideoPreview(file, viewModel_.previewService(), std::move(actions));
    previewBox_->layout()->addWidget(preview_);
    // Made after the rest of the editor, it would come last on Tab; it comes before the times.
    placeTabStops(operation_->previousInFocusChain(), preview_);
    // A note or progress shown in it takes height from the picture.
    connect(&preview_->model(), &SplitPreviewViewModel::changed, this,
            &SplitSourceEditor::fitPreview, Qt::QueuedConnection);
    fitPreview();
    refreshTimer_->start();
}

bool SplitSourceEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == settingsArea_->viewport() && event->type() == QEvent::Resize) {
        fitPreview();
    }
    return QWidget::eventFilter(watched, event);
}

void SplitSourceEditor::fitPreview() {
    if (!preview_) {
        return;
    }
    // What the box holds besides the picture, and the column's top margin, stay; the picture
    // takes the rest of the shown height.
    const int besides = previewBox_->sizeHint().height() - preview_->pictureHeight();
    const int top = settingsArea_->widget()->layout()->contentsMargins().top();
    preview_->setPictureHeight(settingsArea_->viewport()->height() - top - besides);
}

void SplitSourceEditor::dropPreview() {
    refreshTimer_->stop();
    retireWidget(preview_);
    preview_ = nullptr;
    previewFile_.reset();
}

void SplitSourceEditor::render() {
    const auto configuration = viewModel_.selectedConfiguration();
    if (!configuration) {
        pages_->setCurrentWidget(placeholder_);
        dropPreview();
        shownFile_.reset();
        return;
    }
    pages_->setCurrentWidget(content_);
    const std::filesystem::path& file = configuration->file;
    if (shownFile_ != file) {
        shownFile_ = file;
        settingsArea_->verticalScrollBar()->setValue(0);
    }
    fileName_->setText(toQString(file.filename()));
    fileName_->setToolTip(plainToolTip(fileName_->text()));
    folder_->setText(toQString(file.parent_path()));
    // A file that is not media has nothing to preview or set: the page says why instead.
    const bool isMedia = !configuration->isNotMedia;
    // Audio alone is cut at the very time asked for, with no frames to choose.
    const bool isAudioOnly = configuration->isAudioOnly();
    previewBox_->setTitle(isAudioOnly ? QStringLiteral("Preview and time selection")
                                      : QStringLiteral("Preview and frame selection"));
    keyframeNote_->setVisible(!isAudioOnly);
    notMediaText_->setText(QString::fromStdString(configuration->keyframeError.value_or("")));
    notMediaNote_->setVisible(!isMedia);
    settingsBox_->setVisible(isMedia);
    settingsNote_->setVisible(isMedia);
    if (isMedia) {
        showPreviewFor(file);
        preview_->setSelectionSummary(QString::fromStdString(configuration->selectionSummary()));
    } else {
        dropPreview();
    }

    const bool isRange = configuration->operationMode == SplitOperationMode::range;
    settingsBox_->setTitle(isRange ? QStringLiteral("Clip range") : QStringLiteral("Split point"));
    operation_->setCurrentIndex(isRange ? 0 : 1);
    for (QWidget* widget : {static_cast<QWidget*>(startLabel_), static_cast<QWidget*>(start_),
                            static_cast<QWidget*>(endLabel_), static_cast<QWidget*>(end_)}) {
        widget->setVisible(isRange);
    }
    splitLabel_->setVisible(!isRange);
    splitPoint_->setVisible(!isRange);
    const SplitCutPlan plan = planSplitCuts(*configuration);
    showNote(startNote_, plan.startNote, isRange);
    showNote(endNote_, plan.endNote, isRange);
    showNote(splitNote_, plan.startNote, !isRange);
    showNote(containerNote_, configuration->streamNote(), isMedia);
    setFieldText(start_, QString::fromStdString(configuration->startText));
    setFieldText(end_, QString::fromStdString(configuration->endText));
    setFieldText(splitPoint_, QString::fromStdString(configuration->splitPointText));
    container_->setCurrentIndex(
        configuration->container ? container_->findData(static_cast<int>(*configuration->container))
                                 : 0);
    outputFolder_->setDirectory(viewModel_.outputDirectory(), viewModel_.outputFolderProblem());

    const auto message = viewModel_.validationMessage();
    validation_->setVisible(message.has_value() && !viewModel_.sources().empty());
    // A name of hundreds of bytes would fill the column line after line: it is cut short, and
    // the tooltip holds the sentence whole.
    const QString sentence = QString::fromStdString(message.value_or(""));
    const QString shown = withLongWordsShortened(sentence);
    validation_->setText(shown);
    validation_->setToolTip(shown == sentence ? QString() : plainToolTip(sentence));
    const int count = viewModel_.outputCount();
    queueButton_->setText(QStringLiteral("Add %1 Output%2 to Queue")
                              .arg(count)
                              .arg(count == 1 ? QString() : QStringLiteral("s")));
    const bool canQueue = !message.has_value() && !viewModel_.isCheckingOutputFolder();
    if (focusHeir_ != nullptr) {
        setEnabledKeepingFocus(queueButton_, canQueue, focusHeir_);
    } else {
        queueButton_->setEnabled(canQueue);
    }
}

}  // namespace tavrolin
