#include "transcription/TranscriptionSourceList.h"

#include <QAction>
#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "transcription/TranscriptSearchResultListModel.h"
#include "transcription/TranscriptionSourceListModel.h"
#include "transcription/TranscriptionViewModel.h"
#include "transcription/TranscriptionWorkspaceSupport.h"
#include "widgets/AccessibleListRows.h"
#include "widgets/AppStyle.h"
#include "widgets/ContentUnavailableView.h"
#include "widgets/FieldText.h"
#include "widgets/StatusLine.h"
#include "widgets/SymbolIcons.h"
#include "widgets/TabOrder.h"

namespace tavrolin {

TranscriptionSourceList::TranscriptionSourceList(TranscriptionViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(makeHeader());
    layout->addWidget(makeSearchRow());
    layout->addWidget(makeExportRow());
    layout->addWidget(dividerLine(QFrame::HLine));
    layout->addWidget(makeLists(), 1);
    addDeleteKey();
    animateIndeterminateBars();
    layout->addWidget(makeBatchProgress());
    layout->addWidget(makeBatchControls());
    render();
}

QLayout* TranscriptionSourceList::makeHeader() {
    auto* header = new QHBoxLayout;
    header->setContentsMargins(14, 11, 14, 11);
    auto* title = plainTextLabel(QStringLiteral("Sources"));
    title->setFont(fontFor(TextStyle::headline, QFont::DemiBold));
    count_ = secondaryLabel();
    count_->setObjectName(QStringLiteral("sourceCount"));
    header->setSpacing(8);
    header->addWidget(title);
    header->addWidget(count_);
    header->addStretch(1);
    return header;
}

QWidget* TranscriptionSourceList::makeSearchRow() {
    searchRow_ = new QWidget;
    auto* searchLayout = new QHBoxLayout(searchRow_);
    searchLayout->setContentsMargins(10, 0, 10, 10);
    searchLayout->setSpacing(7);
    search_ = new QLineEdit;
    search_->setObjectName(QStringLiteral("batchSearch"));
    search_->setPlaceholderText(QStringLiteral("Search all transcripts"));
    search_->setAccessibleName(search_->placeholderText());
    addSearchIcon(search_);
    clearSearch_ = new QToolButton;
    clearSearch_->setObjectName(QStringLiteral("clearBatchSearch"));
    clearSearch_->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill")));
    clearSearch_->setAutoRaise(true);
    clearSearch_->setToolTip(QStringLiteral("Clear search"));
    clearSearch_->setAccessibleName(QStringLiteral("Clear search of all transcripts"));
    searchLayout->addWidget(search_, 1);
    searchLayout->addWidget(clearSearch_);
    followFieldText(search_, this, [this](const QString& text) {
        viewModel_.setBatchTranscriptSearch(text.toStdString());
    });
    connect(clearSearch_, &QToolButton::clicked, this,
            [this] { viewModel_.setBatchTranscriptSearch({}); });
    return searchRow_;
}

QWidget* TranscriptionSourceList::makeExportRow() {
    exportRow_ = new QWidget;
    auto* exportLayout = new QHBoxLayout(exportRow_);
    exportLayout->setContentsMargins(12, 0, 12, 8);
    exportLayout->setSpacing(6);
    auto* exportTitle = plainTextLabel(QStringLiteral("Batch export"));
    exportTitle->setFont(fontFor(TextStyle::caption, QFont::DemiBold));
    exportCount_ = plainTextLabel();
    exportCount_->setFont(fontFor(TextStyle::caption));
    // Borderless and only as wide as their words, so the row fits the narrow column.
    auto* allButton = new QToolButton;
    allButton->setText(QStringLiteral("All"));
    allButton->setAutoRaise(true);
    noneButton_ = new QToolButton;
    noneButton_->setText(QStringLiteral("None"));
    noneButton_->setAutoRaise(true);
    exportLayout->addWidget(exportTitle);
    exportLayout->addWidget(exportCount_);
    exportLayout->addStretch(1);
    exportLayout->addWidget(allButton);
    exportLayout->addWidget(noneButton_);
    connect(allButton, &QToolButton::clicked, this,
            [this] { viewModel_.selectAllExportableSources(); });
    connect(noneButton_, &QToolButton::clicked, this, [this] {
        for (const auto& id : viewModel_.state().selectedExportSourceIDs) {
            viewModel_.setExportSelection(false, id);
        }
    });
    return exportRow_;
}

QWidget* TranscriptionSourceList::makeLists() {
    lists_ = new QStackedWidget;
    makeSourceList();
    makeResultList();
    noResults_ = new ContentUnavailableView({}, QStringLiteral("magnifyingglass"), {});
    lists_->addWidget(sourceList_);
    lists_->addWidget(resultList_);
    lists_->addWidget(noResults_);
    return lists_;
}

void TranscriptionSourceList::makeSourceList() {
    sourceList_ = new QListView;
    sourceList_->setObjectName(QStringLiteral("sourceList"));
    sourceList_->setAccessibleName(QStringLiteral("Sources"));
    sourceModel_ = new TranscriptionSourceListModel(this);
    sourceModel_->onExportMark = [this](const Uuid& id, bool on) {
        viewModel_.setExportSelection(on, id);
    };
    sourceList_->setModel(sourceModel_);
    auto* delegate = new TranscriptionSourceDelegate(viewModel_, sourceList_);
    sourceList_->setItemDelegate(delegate);
    prepareLongList(sourceList_);
    // The list's selection is the workspace's selected source; the keys move and mark it.
    sourceList_->setSelectionMode(QAbstractItemView::SingleSelection);
    sourceList_->setFocusPolicy(Qt::StrongFocus);
    exposeListRows(sourceList_, [this, delegate](int row) {
        return delegate->accessibleControls(sourceModel_->row(row),
                                            sourceList_->visualRect(sourceModel_->index(row)));
    });
    connect(sourceList_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                // No selection is ignored: the workspace keeps its selected source.
                if (!current.isValid()) {
                    return;
                }
                const Uuid id = sourceModel_->row(current.row()).id;
                if (viewModel_.state().selectedSourceID != id) {
                    viewModel_.selectSource(id);
                }
            });
}

void TranscriptionSourceList::makeResultList() {
    resultList_ = new QListView;
    resultList_->setObjectName(QStringLiteral("searchResults"));
    resultModel_ = new TranscriptSearchResultListModel(this);
    resultModel_->onRetire = [this](auto results) {
        viewModel_.retireBatchSearchResults(std::move(results));
    };
    resultList_->setModel(resultModel_);
    resultList_->setItemDelegate(new TranscriptSearchResultDelegate(resultList_));
    prepareLongList(resultList_);
    // One Tab stop, Up and Down pick a hit, Return opens it.
    resultList_->setFocusPolicy(Qt::StrongFocus);
    resultList_->setAccessibleName(QStringLiteral("Search results"));
    // A click or Return on a hit opens it.
    const auto openHit = [this](const QModelIndex& index) {
        if (index.isValid()) {
            const auto result = resultModel_->result(index.row());
            viewModel_.openSearchResult(result);
        }
    };
    connect(resultList_, &QListView::clicked, this, openHit);
    connect(resultList_, &QListView::activated, this, openHit);
}

void TranscriptionSourceList::addDeleteKey() {
    // The row buttons are painted, so the keyboard gets Delete for the remove button.
    auto* removeCurrent = new QAction(sourceList_);
    removeCurrent->setShortcuts(
        {QKeySequence(QKeySequence::Delete), QKeySequence(Qt::Key_Backspace)});
    removeCurrent->setShortcutContext(Qt::WidgetShortcut);
    sourceList_->addAction(removeCurrent);
    connect(removeCurrent, &QAction::triggered, this, [this] {
        const QModelIndex current = sourceList_->currentIndex();
        if (!current.isValid()) {
            return;
        }
        const auto& row = sourceModel_->row(current.row());
        if (!row.isCancelButton && row.isButtonEnabled) {
            viewModel_.removeSource(row.id);
        }
    });
}

void TranscriptionSourceList::animateIndeterminateBars() {
    // An indeterminate bar sweeps: its rows are repainted while one shows.
    barAnimation_ = new QTimer(this);
    barAnimation_->setInterval(50);
    connect(barAnimation_, &QTimer::timeout, this, [this] {
        for (int row = 0; row < sourceModel_->rowCount(); ++row) {
            if (sourceModel_->row(row).bar == TranscriptionSourceRow::Bar::indeterminate) {
                sourceList_->viewport()->update(sourceList_->visualRect(sourceModel_->index(row)));
            }
        }
    });
}

QWidget* TranscriptionSourceList::makeBatchProgress() {
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
    connect(cancelAll_, &QPushButton::clicked, this, [this] { viewModel_.cancelTranscription(); });
    return batchProgress_;
}

QWidget* TranscriptionSourceList::makeBatchControls() {
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
    exportReason_ = new StatusLine(QStringLiteral("exportSelectedReason"));
    controls->addWidget(exportReason_);
    controls->addWidget(replaceNote_);
    connect(transcribeAll_, &QPushButton::clicked, this,
            [this] { viewModel_.transcribeAllReadySources(); });
    connect(replaceOriginals_, &QCheckBox::toggled, this,
            [this](bool on) { viewModel_.setReplaceOriginalsDuringBatchExport(on); });
    connect(exportSelected_, &QPushButton::clicked, this, &TranscriptionSourceList::exportSelected);
    return batchControls_;
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

void TranscriptionSourceList::renderSources() {
    const auto& state = viewModel_.state();
    sourceModel_->sync(state);
    const auto row =
        state.selectedSourceID ? sourceModel_->rowOf(*state.selectedSourceID) : std::nullopt;
    const QModelIndex current = row ? sourceModel_->index(*row) : QModelIndex();
    if (current.isValid() && sourceList_->currentIndex() != current) {
        const QSignalBlocker blocker(sourceList_->selectionModel());
        sourceList_->selectionModel()->setCurrentIndex(current,
                                                       QItemSelectionModel::ClearAndSelect);
        sourceList_->viewport()->update();
    }
    if (sourceModel_->hasIndeterminateBar() != barAnimation_->isActive()) {
        if (barAnimation_->isActive()) {
            barAnimation_->stop();
        } else {
            barAnimation_->start();
        }
    }
    lists_->setCurrentWidget(sourceList_);
}

void TranscriptionSourceList::renderSearchResults() {
    const auto& state = viewModel_.state();
    resultModel_->setResults(viewModel_.batchSearchResults());
    // Until the first hits of a query arrive the list stays, empty or with the previous hits.
    if (resultModel_->rowCount() > 0 || viewModel_.isBatchSearchPending()) {
        lists_->setCurrentWidget(resultList_);
        return;
    }
    const QString title = QStringLiteral("No Results for “%1”")
                              .arg(QString::fromStdString(state.batchTranscriptSearch));
    if (noResults_->title() != title) {
        auto* empty =
            new ContentUnavailableView(title, QStringLiteral("magnifyingglass"),
                                       QStringLiteral("Check the spelling or try a new search."));
        empty->setObjectName(QStringLiteral("noSearchResults"));
        lists_->removeWidget(noResults_);
        noResults_->deleteLater();
        noResults_ = empty;
        lists_->addWidget(noResults_);
    }
    lists_->setCurrentWidget(noResults_);
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
    setFieldText(search_, query);
    clearSearch_->setVisible(!query.isEmpty());

    exportRow_->setVisible(transcribed >= 1);
    exportCount_->setText(QStringLiteral("%1 selected").arg(checked));
    noneButton_->setEnabled(checked > 0);

    if (state.isSearchingAllTranscripts()) {
        renderSearchResults();
    } else {
        resultModel_->setResults(viewModel_.batchSearchResults());
        renderSources();
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

    setVisibleKeepingFocus(batchControls_,
                           sourceCount >= 2 && (transcribable > 0 || transcribed > 0), focusHeir_);
    setVisibleKeepingFocus(transcribeAll_, transcribable >= 1, focusHeir_);
    transcribeAll_->setText(QStringLiteral("Transcribe All Remaining (%1)").arg(transcribable));
    setEnabledKeepingFocus(transcribeAll_, state.canTranscribeAllSources(), focusHeir_);
    batchDivider_->setVisible(transcribable >= 1 && transcribed >= 1);
    replaceOriginals_->setVisible(transcribed >= 1);
    {
        const QSignalBlocker blocker(replaceOriginals_);
        replaceOriginals_->setChecked(state.replaceOriginalsDuringBatchExport);
    }
    replaceOriginals_->setEnabled(checked > 0);
    setVisibleKeepingFocus(exportSelected_, transcribed >= 1, focusHeir_);
    exportSelected_->setText(QStringLiteral("Export Selected (%1)").arg(checked));
    const auto blocker = state.batchMediaExportBlocker();
    const auto reason = workspace::exportUnavailableReason(blocker, state.isTranscribing,
                                                           viewModel_.isCheckingOutputFolder());
    setEnabledKeepingFocus(exportSelected_, !reason, focusHeir_);
    exportSelected_->setToolTip(plainToolTip(
        blocker ? QString::fromStdString(*blocker)
                : QStringLiteral("Export selected transcripts through the ordered queue.")));
    exportReason_->setStatus(transcribed >= 1 ? reason : std::nullopt,
                             QStringLiteral("info.circle"), secondaryTextColor(palette()));
    replaceNote_->setVisible(transcribed >= 1 && state.replaceOriginalsDuringBatchExport);
}

}  // namespace tavrolin
