#include "transcription/TranscriptionSourceList.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

#include "app/AppStyle.h"
#include "app/ContentUnavailableView.h"
#include "app/SymbolIcons.h"
#include "transcription/TranscriptionViewModel.h"

namespace tavrolin {

using Kind = BatchTranscriptionSourceStatus::Kind;

namespace {

QString fileName(const std::filesystem::path& url) {
    return toQString(url.filename());
}

QColor statusColor(Kind kind, const QPalette& palette) {
    switch (kind) {
        case Kind::queued:
        case Kind::transcribing:
            return accentColor(palette);
        case Kind::completed:
            return tint::green();
        case Kind::failed:
            return tint::orange();
        default:
            return secondaryTextColor(palette);
    }
}

}  // namespace

std::string TranscriptionSourceList::statusText(const BatchTranscriptionSource& source,
                                                bool isCancellingThis) {
    switch (source.status.kind) {
        case Kind::pendingInspection:
            return "Waiting to inspect";
        case Kind::inspecting:
            return "Inspecting media…";
        case Kind::ready:
            return "Ready";
        case Kind::queued:
            return "Waiting in batch";
        case Kind::completed:
            return std::to_string(source.cues.size()) + " cues";
        case Kind::failed:
            return source.status.message;
        case Kind::transcribing:
            break;
    }
    if (isCancellingThis) {
        return "Cancelling…";
    }
    if (!source.progress) {
        return "Starting transcription";
    }
    switch (source.progress->stage) {
        case TranscriptionProgress::Stage::preparingAudio:
            return "Extracting audio";
        case TranscriptionProgress::Stage::transcribing:
            return "Transcribing speech";
        case TranscriptionProgress::Stage::preparingLanguageModel:
            break;
    }
    return "Preparing language model";
}

QString TranscriptionSourceList::statusSymbol(Kind kind) {
    switch (kind) {
        case Kind::pendingInspection:
        case Kind::inspecting:
            return QStringLiteral("magnifyingglass");
        case Kind::ready:
            return QStringLiteral("waveform");
        case Kind::queued:
            return QStringLiteral("clock");
        case Kind::transcribing:
            return QStringLiteral("waveform.badge.magnifyingglass");
        case Kind::completed:
            return QStringLiteral("checkmark.circle.fill");
        case Kind::failed:
            break;
    }
    return QStringLiteral("exclamationmark.triangle.fill");
}

std::optional<std::string> TranscriptionSourceList::rowPercentText(
    const BatchTranscriptionSource& source) {
    const auto& progress = source.progress;
    if (!progress || progress->stage == TranscriptionProgress::Stage::preparingLanguageModel ||
        !progress->fraction || !std::isfinite(*progress->fraction)) {
        return std::nullopt;
    }
    return std::to_string(static_cast<long long>(std::round(*progress->fraction * 100))) + "%";
}

std::string TranscriptionSourceList::searchResultTime(double seconds) {
    const long long whole = std::max(0LL, static_cast<long long>(std::trunc(seconds)));
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", whole / 3600, whole % 3600 / 60,
                  whole % 60);
    return text;
}

TranscriptionSourceList::TranscriptionSourceList(TranscriptionViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(14, 11, 14, 11);
    auto* title = plainTextLabel(QStringLiteral("Sources"));
    title->setFont(fontFor(TextStyle::headline, QFont::DemiBold));
    count_ = plainTextLabel();
    count_->setObjectName(QStringLiteral("sourceCount"));
    count_->setFont(fontFor(TextStyle::caption));
    header->addWidget(title);
    header->addWidget(count_);
    header->addStretch(1);
    layout->addLayout(header);

    searchRow_ = new QWidget;
    auto* searchLayout = new QHBoxLayout(searchRow_);
    searchLayout->setContentsMargins(10, 0, 10, 10);
    searchLayout->setSpacing(7);
    search_ = new QLineEdit;
    search_->setObjectName(QStringLiteral("batchSearch"));
    search_->setPlaceholderText(QStringLiteral("Search all transcripts"));
    search_->addAction(symbolIcon(QStringLiteral("magnifyingglass")), QLineEdit::LeadingPosition);
    clearSearch_ = new QToolButton;
    clearSearch_->setObjectName(QStringLiteral("clearBatchSearch"));
    clearSearch_->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill")));
    clearSearch_->setAutoRaise(true);
    clearSearch_->setToolTip(QStringLiteral("Clear search"));
    clearSearch_->setAccessibleName(QStringLiteral("Clear search"));
    searchLayout->addWidget(search_, 1);
    searchLayout->addWidget(clearSearch_);
    layout->addWidget(searchRow_);
    connect(search_, &QLineEdit::textEdited, this, [this](const QString& text) {
        viewModel_.setBatchTranscriptSearch(text.toStdString());
    });
    connect(clearSearch_, &QToolButton::clicked, this,
            [this] { viewModel_.setBatchTranscriptSearch({}); });

    exportRow_ = new QWidget;
    auto* exportLayout = new QHBoxLayout(exportRow_);
    exportLayout->setContentsMargins(12, 0, 12, 8);
    exportLayout->setSpacing(8);
    auto* exportTitle = plainTextLabel(QStringLiteral("Batch export"));
    exportTitle->setFont(fontFor(TextStyle::caption, QFont::DemiBold));
    exportCount_ = plainTextLabel();
    exportCount_->setFont(fontFor(TextStyle::caption));
    auto* allButton = new QPushButton(QStringLiteral("All"));
    allButton->setFlat(true);
    noneButton_ = new QPushButton(QStringLiteral("None"));
    noneButton_->setFlat(true);
    exportLayout->addWidget(exportTitle);
    exportLayout->addWidget(exportCount_);
    exportLayout->addStretch(1);
    exportLayout->addWidget(allButton);
    exportLayout->addWidget(noneButton_);
    layout->addWidget(exportRow_);
    connect(allButton, &QPushButton::clicked, this,
            [this] { viewModel_.selectAllExportableSources(); });
    connect(noneButton_, &QPushButton::clicked, this, [this] {
        for (const auto& id : viewModel_.state().selectedExportSourceIDs) {
            viewModel_.setExportSelection(false, id);
        }
    });
    layout->addWidget(dividerLine(QFrame::HLine));

    lists_ = new QStackedWidget;
    sourceList_ = new QListWidget;
    sourceList_->setObjectName(QStringLiteral("sourceList"));
    resultList_ = new QListWidget;
    resultList_->setObjectName(QStringLiteral("searchResults"));
    resultList_->setWordWrap(true);
    resultList_->setTextElideMode(Qt::ElideRight);
    noResults_ = new ContentUnavailableView({}, QStringLiteral("magnifyingglass"), {});
    lists_->addWidget(sourceList_);
    lists_->addWidget(resultList_);
    lists_->addWidget(noResults_);
    layout->addWidget(lists_, 1);
    connect(sourceList_, &QListWidget::currentRowChanged, this, [this](int row) {
        const auto& sources = viewModel_.state().sources;
        // No selection is ignored: the workspace keeps its selected source.
        if (row >= 0 && row < static_cast<int>(sources.size()) &&
            viewModel_.state().selectedSourceID != sources[row].id) {
            viewModel_.selectSource(sources[row].id);
        }
    });
    connect(resultList_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        const int row = resultList_->row(item);
        if (row >= 0 && row < static_cast<int>(results_.size())) {
            const auto result = results_[row];
            viewModel_.openSearchResult(result);
        }
    });

    batchProgress_ = new QWidget;
    auto* progressLayout = new QVBoxLayout(batchProgress_);
    progressLayout->setContentsMargins(12, 12, 12, 12);
    progressLayout->setSpacing(6);
    progressLayout->addWidget(dividerLine(QFrame::HLine));
    auto* progressRow = new QHBoxLayout;
    batchProgressText_ = plainTextLabel();
    batchProgressText_->setFont(fontFor(TextStyle::caption));
    batchCount_ = plainTextLabel();
    batchCount_->setFont(fontFor(TextStyle::caption));
    progressRow->addWidget(batchProgressText_);
    progressRow->addStretch(1);
    progressRow->addWidget(batchCount_);
    progressLayout->addLayout(progressRow);
    batchBar_ = new QProgressBar;
    batchBar_->setRange(0, 1000);
    batchBar_->setTextVisible(false);
    progressLayout->addWidget(batchBar_);
    cancelAll_ = new QPushButton(symbolIcon(QStringLiteral("xmark.circle")), {});
    cancelAll_->setObjectName(QStringLiteral("cancelAll"));
    progressLayout->addWidget(cancelAll_);
    layout->addWidget(batchProgress_);
    connect(cancelAll_, &QPushButton::clicked, this, [this] { viewModel_.cancelTranscription(); });

    batchControls_ = new QWidget;
    auto* controls = new QVBoxLayout(batchControls_);
    controls->setContentsMargins(12, 12, 12, 12);
    controls->setSpacing(8);
    controls->addWidget(dividerLine(QFrame::HLine));
    transcribeAll_ = new QPushButton(symbolIcon(QStringLiteral("rectangle.stack.badge.play")), {});
    transcribeAll_->setObjectName(QStringLiteral("transcribeAll"));
    transcribeAll_->setDefault(true);
    transcribeAll_->setToolTip(QStringLiteral(
        "Transcribe every eligible source that does not already have a transcript."));
    batchDivider_ = dividerLine(QFrame::HLine);
    replaceOriginals_ = new QCheckBox(QStringLiteral("Replace original files"));
    replaceOriginals_->setObjectName(QStringLiteral("replaceOriginals"));
    exportSelected_ =
        new QPushButton(symbolIcon(QStringLiteral("square.and.arrow.up.on.square")), {});
    exportSelected_->setObjectName(QStringLiteral("exportSelected"));
    replaceNote_ = plainTextLabel(
        QStringLiteral("Each replacement is written beside its source, verified, then committed "
                       "in one same-folder swap with recovery protection."));
    replaceNote_->setWordWrap(true);
    replaceNote_->setFont(fontFor(TextStyle::caption));
    controls->addWidget(transcribeAll_);
    controls->addWidget(batchDivider_);
    controls->addWidget(replaceOriginals_);
    controls->addWidget(exportSelected_);
    controls->addWidget(replaceNote_);
    layout->addWidget(batchControls_);
    connect(transcribeAll_, &QPushButton::clicked, this,
            [this] { viewModel_.transcribeAllReadySources(); });
    connect(replaceOriginals_, &QCheckBox::toggled, this,
            [this](bool on) { viewModel_.setReplaceOriginalsDuringBatchExport(on); });
    connect(exportSelected_, &QPushButton::clicked, this, &TranscriptionSourceList::exportSelected);
    render();
}

void TranscriptionSourceList::exportSelected() {
    const auto& state = viewModel_.state();
    if (!state.replaceOriginalsDuringBatchExport) {
        viewModel_.exportCheckedMediaInBatch();
        return;
    }
    QMessageBox box(this);
    box.setIcon(QMessageBox::Warning);
    box.setText(QStringLiteral("Replace %1 original files?")
                    .arg(static_cast<qlonglong>(state.selectedExportSourceIDs.size())));
    box.setInformativeText(
        QStringLiteral("Tavrolin will process files one at a time. It writes and validates a "
                       "complete same-folder replacement before committing it with a backup. If "
                       "validation fails or the source changes meanwhile, the original is not "
                       "changed."));
    box.setObjectName(QStringLiteral("replacementConfirmation"));
    box.setTextFormat(Qt::PlainText);
    auto* replace =
        box.addButton(QStringLiteral("Verify and Replace Originals"), QMessageBox::DestructiveRole);
    box.addButton(QMessageBox::Cancel);
    box.exec();
    if (box.clickedButton() == replace) {
        viewModel_.exportCheckedMediaInBatch();
    }
}

QWidget* TranscriptionSourceList::makeRow(const BatchTranscriptionSource& source,
                                          bool showsExportMark) {
    const auto& state = viewModel_.state();
    const QString name = fileName(source.url);
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(6, 5, 6, 5);
    layout->setSpacing(9);
    if (showsExportMark) {
        auto* mark = new QCheckBox;
        mark->setObjectName(QStringLiteral("exportMark"));
        mark->setAccessibleName(QStringLiteral("Select %1 for batch export").arg(name));
        mark->setChecked(state.selectedExportSourceIDs.contains(source.id));
        mark->setEnabled(state.canExportSource(source.id) && !state.isTranscribing);
        connect(mark, &QCheckBox::toggled, this,
                [this, id = source.id](bool on) { viewModel_.setExportSelection(on, id); });
        layout->addWidget(mark);
    }
    const QColor color = statusColor(source.status.kind, palette());
    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("statusIcon"));
    icon->setProperty("symbol", statusSymbol(source.status.kind));
    icon->setPixmap(tintedSymbolIcon(statusSymbol(source.status.kind), color).pixmap(18, 18));
    layout->addWidget(icon);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    auto* title = plainTextLabel(name);
    title->setObjectName(QStringLiteral("fileName"));
    title->setWordWrap(true);
    texts->addWidget(title);
    const bool cancellingThis =
        state.isCancellingTranscription && state.currentTranscriptionSourceID == source.id;
    QString status = QString::fromStdString(statusText(source, cancellingThis));
    if (const auto percent = rowPercentText(source)) {
        status += QStringLiteral("  ") + QString::fromStdString(*percent);
    }
    auto* statusLabel = plainTextLabel(status);
    statusLabel->setObjectName(QStringLiteral("statusText"));
    statusLabel->setFont(fontFor(TextStyle::caption));
    setTextColor(statusLabel,
                 source.status.kind == Kind::failed ? color : secondaryTextColor(palette()));
    texts->addWidget(statusLabel);
    if (source.status.kind == Kind::transcribing) {
        auto* bar = new QProgressBar;
        bar->setTextVisible(false);
        bar->setMaximumHeight(6);
        const auto& progress = source.progress;
        if (progress && progress->fraction &&
            progress->stage != TranscriptionProgress::Stage::preparingLanguageModel) {
            bar->setRange(0, 1000);
            bar->setValue(static_cast<int>(std::clamp(*progress->fraction, 0.0, 1.0) * 1000));
        } else {
            bar->setRange(0, 0);
        }
        texts->addWidget(bar);
    }
    layout->addLayout(texts, 1);

    auto* button = new QToolButton;
    button->setAutoRaise(true);
    if (state.currentTranscriptionSourceID == source.id) {
        button->setObjectName(QStringLiteral("cancelButton"));
        button->setIcon(symbolIcon(QStringLiteral("stop.circle.fill")));
        const QString help =
            state.batchTotalCount > 1
                ? QStringLiteral("Cancel the active transcription and remaining batch")
                : QStringLiteral("Cancel transcription");
        button->setAccessibleName(state.batchTotalCount > 1
                                      ? QStringLiteral("Cancel transcription batch")
                                      : QStringLiteral("Cancel transcription"));
        button->setToolTip(plainToolTip(help));
        button->setEnabled(!state.isCancellingTranscription);
        connect(button, &QToolButton::clicked, this, [this] { viewModel_.cancelTranscription(); });
    } else {
        button->setObjectName(QStringLiteral("removeButton"));
        button->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill")));
        button->setToolTip(plainToolTip(QStringLiteral("Remove %1").arg(name)));
        button->setAccessibleName(QStringLiteral("Remove %1").arg(name));
        button->setEnabled(!state.isTranscribing);
        connect(button, &QToolButton::clicked, this,
                [this, id = source.id] { viewModel_.removeSource(id); });
    }
    layout->addWidget(button);
    return row;
}

void TranscriptionSourceList::renderSearchResults() {
    const auto& state = viewModel_.state();
    results_.clear();
    TranscriptCueSearch search;
    for (const auto& source : state.sources) {
        for (const auto& cue : source.cues) {
            if (search.matches(cue.text, state.batchTranscriptSearch)) {
                results_.push_back({source.id, source.url, cue});
            }
        }
    }
    if (results_.empty()) {
        auto* empty = new ContentUnavailableView(
            QStringLiteral("No Results for “%1”")
                .arg(QString::fromStdString(state.batchTranscriptSearch)),
            QStringLiteral("magnifyingglass"),
            QStringLiteral("Check the spelling or try a new search."));
        empty->setObjectName(QStringLiteral("noSearchResults"));
        lists_->removeWidget(noResults_);
        noResults_->deleteLater();
        noResults_ = empty;
        lists_->addWidget(noResults_);
        lists_->setCurrentWidget(noResults_);
        return;
    }
    // One row per hit: two hits of one source are two rows.
    resultList_->clear();
    for (const auto& result : results_) {
        const QString text = fileName(result.sourceURL) + QStringLiteral("   ") +
                             QString::fromStdString(searchResultTime(result.cue.startTime)) +
                             QStringLiteral("\n") + QString::fromStdString(result.cue.text);
        resultList_->addItem(text);
    }
    lists_->setCurrentWidget(resultList_);
}

void TranscriptionSourceList::render() {
    const auto& state = viewModel_.state();
    const int sourceCount = static_cast<int>(state.sources.size());
    const int transcribed = state.transcribedSourceCount();
    const int transcribable = state.transcribableSourceCount();
    const auto checked = static_cast<qlonglong>(state.selectedExportSourceIDs.size());
    count_->setText(QString::number(sourceCount));

    searchRow_->setVisible(sourceCount >= 2);
    const QString query = QString::fromStdString(state.batchTranscriptSearch);
    if (search_->text() != query) {
        search_->setText(query);
    }
    clearSearch_->setVisible(!query.isEmpty());

    exportRow_->setVisible(transcribed >= 1);
    exportCount_->setText(QStringLiteral("%1 selected").arg(checked));
    noneButton_->setEnabled(checked > 0);

    if (state.isSearchingAllTranscripts()) {
        renderSearchResults();
    } else {
        const QSignalBlocker blocker(sourceList_);
        sourceList_->clear();
        const bool marks = sourceCount >= 2 && transcribed >= 1;
        for (const auto& source : state.sources) {
            auto* item = new QListWidgetItem(sourceList_);
            QWidget* row = makeRow(source, marks);
            item->setSizeHint(row->sizeHint());
            sourceList_->setItemWidget(item, row);
            if (state.selectedSourceID == source.id) {
                sourceList_->setCurrentItem(item);
            }
        }
        lists_->setCurrentWidget(sourceList_);
    }

    batchProgress_->setVisible(state.batchTotalCount >= 2 && state.isTranscribing);
    batchProgressText_->setText(
        QString::fromStdString(state.batchProgressText().value_or("Batch transcription")));
    batchCount_->setText(
        QStringLiteral("%1/%2").arg(state.batchCompletedCount).arg(state.batchTotalCount));
    batchBar_->setValue(static_cast<int>(state.batchProgressFraction().value_or(0) * 1000));
    cancelAll_->setText(state.isCancellingTranscription ? QStringLiteral("Cancelling…")
                                                        : QStringLiteral("Cancel All"));
    cancelAll_->setEnabled(!state.isCancellingTranscription);

    batchControls_->setVisible(sourceCount >= 2 && (transcribable > 0 || transcribed > 0));
    transcribeAll_->setVisible(transcribable >= 1);
    transcribeAll_->setText(QStringLiteral("Transcribe All Remaining (%1)").arg(transcribable));
    transcribeAll_->setEnabled(state.canTranscribeAllSources());
    batchDivider_->setVisible(transcribable >= 1 && transcribed >= 1);
    replaceOriginals_->setVisible(transcribed >= 1);
    {
        const QSignalBlocker blocker(replaceOriginals_);
        replaceOriginals_->setChecked(state.replaceOriginalsDuringBatchExport);
    }
    replaceOriginals_->setEnabled(checked > 0);
    exportSelected_->setVisible(transcribed >= 1);
    exportSelected_->setText(QStringLiteral("Export Selected (%1)").arg(checked));
    const auto blocker = state.batchMediaExportBlocker();
    exportSelected_->setEnabled(!state.isTranscribing && !blocker);
    exportSelected_->setToolTip(plainToolTip(
        blocker ? QString::fromStdString(*blocker)
                : QStringLiteral("Export selected transcripts through the ordered queue.")));
    replaceNote_->setVisible(transcribed >= 1 && state.replaceOriginalsDuringBatchExport);
}

}  // namespace tavrolin
