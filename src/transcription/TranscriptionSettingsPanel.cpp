#include "transcription/TranscriptionSettingsPanel.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "transcription/TranscriptionViewModel.h"
#include "transcription/TranscriptionWorkspaceSupport.h"
#include "widgets/AppStyle.h"
#include "widgets/ElidedLabel.h"
#include "widgets/StatusLine.h"
#include "widgets/SymbolIcons.h"
#include "widgets/TabOrder.h"
#include "widgets/WrappingLabel.h"

namespace tavrolin {

using Kind = BatchTranscriptionSourceStatus::Kind;

namespace {

void showFraction(QProgressBar* bar, std::optional<double> fraction) {
    if (fraction) {
        bar->setRange(0, 1000);
        bar->setValue(static_cast<int>(std::clamp(*fraction, 0.0, 1.0) * 1000));
    } else {
        bar->setRange(0, 0);
    }
}

}  // namespace

std::optional<double> knownProgressFraction(const BatchTranscriptionSource* source) {
    if (!source || !source->progress ||
        source->progress->stage == TranscriptionProgress::Stage::preparingLanguageModel ||
        !source->progress->fraction || !std::isfinite(*source->progress->fraction)) {
        return std::nullopt;
    }
    return source->progress->fraction;
}

std::string truncatedPercentText(double fraction) {
    return std::to_string(static_cast<long long>(std::trunc(fraction * 100))) + "%";
}

TranscriptionAvailabilityNote::TranscriptionAvailabilityNote(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("availabilityNote"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    icon_ = new QLabel;
    busy_ = new QProgressBar;
    busy_->setRange(0, 0);
    busy_->setMaximumWidth(60);
    busy_->setTextVisible(false);
    text_ = plainTextLabel();
    text_->setObjectName(QStringLiteral("availabilityText"));
    text_->setWordWrap(true);
    text_->setFont(fontFor(TextStyle::callout));
    layout->addWidget(icon_);
    layout->addWidget(busy_);
    layout->addWidget(text_, 1);
}

void TranscriptionAvailabilityNote::render(const TranscriptionWorkspaceAvailability& availability) {
    using AvailabilityKind = TranscriptionWorkspaceAvailability::Kind;
    busy_->setVisible(availability.kind == AvailabilityKind::checking);
    icon_->setVisible(availability.kind != AvailabilityKind::checking);
    switch (availability.kind) {
        case AvailabilityKind::available:
            icon_->setPixmap(symbolIcon(QStringLiteral("lock.shield")).pixmap(16, 16));
            text_->setText(
                QStringLiteral("Runs on this computer. Audio never leaves this computer."));
            setTextColor(text_, secondaryTextColor(palette()));
            break;
        case AvailabilityKind::checking:
            text_->setText(QStringLiteral("Checking on-device transcription support…"));
            setTextColor(text_, secondaryTextColor(palette()));
            break;
        case AvailabilityKind::unavailable:
            icon_->setPixmap(
                tintedSymbolIcon(QStringLiteral("exclamationmark.triangle.fill"), tint::orange())
                    .pixmap(16, 16));
            text_->setText(QString::fromStdString(availability.message));
            setTextColor(text_, tint::orange());
            break;
    }
}

TranscriptionProgressBlock::TranscriptionProgressBlock(bool withNote, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("progressBlock"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(withNote ? 6 : 0, withNote ? 6 : 0, withNote ? 6 : 0,
                               withNote ? 6 : 0);
    layout->setSpacing(withNote ? 10 : 5);
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    title_ = plainTextLabel();
    title_->setObjectName(QStringLiteral("progressTitle"));
    batchText_ = plainTextLabel();
    percent_ = plainTextLabel();
    percent_->setObjectName(QStringLiteral("progressPercent"));
    row->addWidget(title_);
    row->addStretch(1);
    row->addWidget(batchText_);
    row->addWidget(percent_);
    layout->addLayout(row);
    bar_ = new QProgressBar;
    bar_->setTextVisible(false);
    layout->addWidget(bar_);
    if (withNote) {
        auto* note = secondaryLabel(
            QStringLiteral("Long videos and files on network drives can take time because the "
                           "selected audio stream must be read and decoded once."));
        note->setWordWrap(true);
        layout->addWidget(note);
    }
}

void TranscriptionProgressBlock::render(const TranscriptionWorkspaceState& state) {
    title_->setText(QString::fromStdString(state.progressTitle().value_or("Working…")));
    const auto batchText = state.batchProgressText();
    batchText_->setVisible(batchText.has_value());
    batchText_->setText(QString::fromStdString(batchText.value_or("")));
    const auto fraction = knownProgressFraction(state.selectedSource());
    percent_->setVisible(fraction.has_value());
    percent_->setText(fraction ? QString::fromStdString(truncatedPercentText(*fraction))
                               : QString());
    showFraction(bar_, fraction);
}

TranscriptionStatusMessages::TranscriptionStatusMessages(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    line_ = new StatusLine(QStringLiteral("statusMessage"), this);
    layout->addWidget(line_);
}

void TranscriptionStatusMessages::render(const TranscriptionWorkspaceState& state) {
    if (state.errorMessage) {
        line_->setStatus(state.errorMessage, QStringLiteral("exclamationmark.triangle.fill"),
                         tint::orange());
    } else {
        line_->setStatus(state.message, QStringLiteral("checkmark.circle"),
                         secondaryTextColor(palette()));
    }
}

TranscriptionSetupCard::TranscriptionSetupCard(TranscriptionViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel) {
    setObjectName(QStringLiteral("setupCard"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(20);
    availability_ = new TranscriptionAvailabilityNote;
    layout->addWidget(availability_);

    auto* summary = new QHBoxLayout;
    summary->setSpacing(12);
    auto* film = new QLabel;
    film->setPixmap(symbolIcon(QStringLiteral("film")).pixmap(24, 24));
    auto* names = new QVBoxLayout;
    names->setSpacing(3);
    // A long name takes two lines at most and never widens the column, nor does its folder;
    // the tooltips hold them whole.
    sourceName_ = new WrappingLabel;
    sourceName_->setObjectName(QStringLiteral("sourceName"));
    sourceName_->setMaximumLineCount(2);
    sourceName_->setFont(fontFor(TextStyle::headline, QFont::DemiBold));
    folder_ = new ElidedLabel;
    folder_->setObjectName(QStringLiteral("sourceFolder"));
    folder_->setFont(fontFor(TextStyle::caption));
    folder_->setTextColor(secondaryTextColor(palette()));
    names->addWidget(sourceName_);
    names->addWidget(folder_);
    inspecting_ = new QProgressBar;
    inspecting_->setRange(0, 0);
    inspecting_->setMaximumWidth(60);
    inspecting_->setTextVisible(false);
    summary->addWidget(film);
    summary->addLayout(names, 1);
    summary->addWidget(inspecting_);
    layout->addLayout(summary);

    auto* settings = new QGroupBox(QStringLiteral("Transcription settings"));
    auto* rows = new QVBoxLayout(settings);
    rows->setContentsMargins(6, 6, 6, 6);
    rows->setSpacing(12);
    // Captions above their pickers, so a picker has the card's whole width for its entry.
    auto picker = [](const QString& objectName, const QString& accessibleName) {
        auto* box = new QComboBox;
        box->setObjectName(objectName);
        box->setAccessibleName(accessibleName);
        box->view()->setAccessibleName(accessibleName);  // its pop-up list
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(12);
        box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        return box;
    };
    audioTrack_ = picker(QStringLiteral("audioTrack"), QStringLiteral("Audio track"));
    language_ = picker(QStringLiteral("spokenLanguage"), QStringLiteral("Spoken language"));
    applyToAll_ = new QPushButton(QStringLiteral("Apply to All"));
    applyToAll_->setObjectName(QStringLiteral("applyToAll"));
    auto* languageRow = new QHBoxLayout;
    languageRow->setSpacing(12);
    languageRow->addWidget(language_, 1);
    languageRow->addWidget(applyToAll_);
    auto* form = new QFormLayout;
    form->setVerticalSpacing(6);
    form->setRowWrapPolicy(QFormLayout::WrapAllRows);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->addRow(plainTextLabel(QStringLiteral("Audio track")), audioTrack_);
    form->addRow(plainTextLabel(QStringLiteral("Spoken language")), languageRow);
    rows->addLayout(form);
    layout->addWidget(settings);

    auto* progressGroup = new QGroupBox;
    progressGroup_ = progressGroup;
    auto* progressLayout = new QVBoxLayout(progressGroup);
    progress_ = new TranscriptionProgressBlock(true);
    progressLayout->addWidget(progress_);
    layout->addWidget(progressGroup_);
    messages_ = new TranscriptionStatusMessages;
    layout->addWidget(messages_);
    layout->addStretch(1);

    connect(audioTrack_, &QComboBox::activated, this, [this](int row) {
        const QVariant index = audioTrack_->itemData(row);
        viewModel_.setSelectedAudioStreamIndex(
            index.isValid() ? std::optional<std::int64_t>(index.toLongLong()) : std::nullopt);
    });
    connect(language_, &QComboBox::activated, this, [this](int row) {
        viewModel_.setSelectedLocaleIdentifier(language_->itemData(row).toString().toStdString());
    });
    connect(applyToAll_, &QPushButton::clicked, this,
            [this] { viewModel_.applySelectedLanguageToAllSources(); });
}

void TranscriptionSetupCard::render() {
    const auto& state = viewModel_.state();
    const BatchTranscriptionSource* source = state.selectedSource();
    availability_->render(state.availability);
    const QString name = source ? toQString(source->url.filename()) : QStringLiteral("Source");
    if (sourceName_->text() != name) {
        sourceName_->setText(name);
        sourceName_->setToolTip(source ? plainToolTip(name) : QString());
    }
    folder_->setVisible(source != nullptr);
    folder_->setText(source ? toQString(source->url.parent_path()) : QString());
    inspecting_->setVisible(source && (source->status.kind == Kind::pendingInspection ||
                                       source->status.kind == Kind::inspecting));
    const bool locked = state.isSelectedSourceQueuedOrTranscribing();

    {
        const QSignalBlocker blocker(audioTrack_);
        audioTrack_->clear();
        if (source) {
            for (const auto& stream : source->audioStreams) {
                audioTrack_->addItem(QString::fromStdString(stream.pickerLabel()),
                                     QVariant::fromValue<qlonglong>(stream.index));
            }
        }
        const auto selected = state.selectedAudioStreamIndex();
        audioTrack_->setCurrentIndex(
            selected ? audioTrack_->findData(QVariant::fromValue<qlonglong>(*selected)) : -1);
        audioTrack_->setEnabled(source && !source->audioStreams.empty() && !locked);
    }
    {
        const QSignalBlocker blocker(language_);
        language_->clear();
        for (const auto& locale : state.locales) {
            language_->addItem(QString::fromStdString(locale.displayName),
                               QString::fromStdString(locale.identifier));
        }
        language_->setCurrentIndex(
            language_->findData(QString::fromStdString(state.selectedLocaleIdentifier())));
        language_->setEnabled(!state.locales.empty() && !locked);
    }
    applyToAll_->setVisible(state.sources.size() >= 2);
    applyToAll_->setEnabled(!state.locales.empty() && !state.isTranscribing);
    progressGroup_->setVisible(state.isSelectedSourceBeingTranscribed());
    progress_->render(state);
    messages_->render(state);
}

TranscriptionActionBar::TranscriptionActionBar(TranscriptionViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel) {
    setObjectName(QStringLiteral("actionBar"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(8);
    topRow_ = new QHBoxLayout;
    topRow_->setSpacing(8);
    bottomRow_ = new QHBoxLayout;
    bottomRow_->setSpacing(8);
    bottomRow_->addStretch(1);
    layout->addLayout(topRow_);
    layout->addLayout(bottomRow_);
    // Why "Export Media…" is unavailable, in words beside it rather than in its tooltip alone.
    exportReason_ = new StatusLine(QStringLiteral("exportMediaReason"));
    layout->addWidget(exportReason_);
    first_ = new QPushButton;
    first_->setObjectName(QStringLiteral("firstSlot"));
    // Nothing to act on until the first render names the slot.
    first_->setEnabled(false);
    exportSubtitles_ = new QPushButton(symbolIcon(QStringLiteral("captions.bubble")),
                                       QStringLiteral("Export SRT…"));
    exportSubtitles_->setObjectName(QStringLiteral("exportSubtitles"));
    container_ = new QComboBox;
    container_->setObjectName(QStringLiteral("mediaContainer"));
    container_->setAccessibleName(QStringLiteral("Media output container"));
    container_->view()->setAccessibleName(container_->accessibleName());
    for (const OutputContainer container : allOutputContainers) {
        container_->addItem(QString::fromUtf8(rawValue(container)).toUpper(),
                            static_cast<int>(container));
    }
    exportMedia_ = new QPushButton(symbolIcon(QStringLiteral("square.and.arrow.up")),
                                   QStringLiteral("Export Media…"));
    exportMedia_->setObjectName(QStringLiteral("exportMedia"));
    exportMedia_->setDefault(true);
    topRow_->addWidget(first_);
    topRow_->addStretch(1);
    topRow_->addWidget(exportSubtitles_);
    topRow_->addWidget(container_);
    topRow_->addWidget(exportMedia_);

    connect(first_, &QPushButton::clicked, this, &TranscriptionActionBar::firstSlotClicked);
    connect(exportSubtitles_, &QPushButton::clicked, this,
            [this] { viewModel_.exportSubtitles(); });
    connect(container_, &QComboBox::activated, this, [this](int row) {
        viewModel_.setMediaOutputContainer(
            static_cast<OutputContainer>(container_->itemData(row).toInt()));
    });
    connect(exportMedia_, &QPushButton::clicked, this,
            [this] { viewModel_.exportSelectedMedia(); });
}

void TranscriptionActionBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    arrangeRows();
}

void TranscriptionActionBar::arrangeRows() {
    int needed = layout()->contentsMargins().left() + layout()->contentsMargins().right();
    int shown = 0;
    for (QWidget* widget :
         std::initializer_list<QWidget*>{first_, exportSubtitles_, container_, exportMedia_}) {
        if (!widget->isHidden()) {
            needed += widget->sizeHint().width();
            ++shown;
        }
    }
    needed += std::max(shown, 1) * topRow_->spacing();  // the stretch counts as one more item
    const bool twoRows = width() < needed;
    if (twoRows == twoRows_) {
        return;
    }
    twoRows_ = twoRows;
    for (QWidget* widget : std::initializer_list<QWidget*>{container_, exportMedia_}) {
        (twoRows ? topRow_ : bottomRow_)->removeWidget(widget);
        (twoRows ? bottomRow_ : topRow_)->addWidget(widget);
    }
}

void TranscriptionActionBar::firstSlotClicked() {
    const auto& state = viewModel_.state();
    switch (firstSlot_) {
        case FirstSlot::cancel:
            viewModel_.cancelTranscription();
            return;
        case FirstSlot::queued:
            return;
        case FirstSlot::clear:
            emit clearRequested();
            return;
        case FirstSlot::transcribe:
            break;
    }
    if (!state.canTranscribeSelectedSource() || !state.selectedSourceID) {
        return;
    }
    const Uuid id = *state.selectedSourceID;
    if (state.isTranscribing) {
        viewModel_.addSelectedSourceToTranscriptionQueue(id);
    } else {
        viewModel_.startTranscription({id});
    }
}

void TranscriptionActionBar::render() {
    const auto& state = viewModel_.state();
    const BatchTranscriptionSource* source = state.selectedSource();
    bool firstEnabled = false;
    if (state.isSelectedSourceBeingTranscribed()) {
        firstSlot_ = FirstSlot::cancel;
        first_->setIcon({});
        first_->setText(state.isCancellingTranscription ? QStringLiteral("Cancelling…")
                        : state.batchTotalCount >= 2    ? QStringLiteral("Cancel All")
                                                        : QStringLiteral("Cancel"));
        firstEnabled = !state.isCancellingTranscription;
    } else if (source && source->status.kind == Kind::queued) {
        firstSlot_ = FirstSlot::queued;
        first_->setIcon(symbolIcon(QStringLiteral("clock")));
        first_->setText(QStringLiteral("Queued"));
        firstEnabled = false;
    } else if (!state.cues().empty()) {
        firstSlot_ = FirstSlot::clear;
        first_->setIcon(symbolIcon(QStringLiteral("trash")));
        first_->setText(QStringLiteral("Clear Transcript"));
        firstEnabled = true;
    } else {
        firstSlot_ = FirstSlot::transcribe;
        first_->setIcon(symbolIcon(state.isTranscribing
                                       ? QStringLiteral("text.badge.plus")
                                       : QStringLiteral("waveform.badge.magnifyingglass")));
        first_->setText(state.isTranscribing ? QStringLiteral("Add to Queue")
                                             : QStringLiteral("Transcribe"));
        firstEnabled = state.canTranscribeSelectedSource();
    }
    // A button that loses the focus this way (a run starting, an export checking its folder)
    // hands it to the heir on this page rather than Qt to the next page or the sidebar.
    setEnabledKeepingFocus(first_, firstEnabled, focusHeir_);
    first_->setDefault(firstSlot_ == FirstSlot::transcribe);

    const bool hasCues = !state.cues().empty();
    setVisibleKeepingFocus(exportSubtitles_, hasCues, focusHeir_);
    setVisibleKeepingFocus(container_, hasCues, focusHeir_);
    setVisibleKeepingFocus(exportMedia_, hasCues, focusHeir_);
    container_->setCurrentIndex(
        container_->findData(static_cast<int>(state.mediaOutputContainer())));
    arrangeRows();
    const auto blocker = state.mediaExportBlocker();
    const auto reason = workspace::exportUnavailableReason(blocker, state.isTranscribing,
                                                           viewModel_.isCheckingOutputFolder());
    setEnabledKeepingFocus(exportMedia_, !reason, focusHeir_);
    setEnabledKeepingFocus(exportSubtitles_, !viewModel_.isCheckingOutputFolder(), focusHeir_);
    exportMedia_->setToolTip(plainToolTip(
        blocker ? QString::fromStdString(*blocker)
                : QStringLiteral("Copy the compatible source tracks, generated subtitles, and "
                                 "reviewed chapters into a new file.")));
    exportReason_->setStatus(hasCues ? reason : std::nullopt, QStringLiteral("info.circle"),
                             secondaryTextColor(palette()));
}

}  // namespace tavrolin
