#include "remux/RemuxView.h"

#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <optional>
#include <set>
#include <unordered_set>

#include "remux/CardColumn.h"
#include "remux/RemuxNaturalLanguageDraftView.h"
#include "remux/RemuxViewModel.h"
#include "remux/StreamSourceCard.h"
#include "widgets/AppStyle.h"
#include "widgets/CoalescedRefresh.h"
#include "widgets/ContentUnavailableView.h"
#include "widgets/FeatureHeader.h"
#include "widgets/FieldText.h"
#include "widgets/FilePanels.h"
#include "widgets/RemuxSymbols.h"
#include "widgets/RetiredWidget.h"
#include "widgets/StatusLine.h"
#include "widgets/SymbolIcons.h"
#include "widgets/TabOrder.h"
#include "widgets/WorkspaceColumn.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

// A picker whose first option stands for no value, followed by one option per value.
QComboBox* makePicker(const QString& name, int width, const QString& noneOption,
                      const QStringList& options) {
    auto* picker = new QComboBox;
    picker->setObjectName(name);
    picker->setFixedWidth(width);
    picker->addItem(noneOption);
    picker->addItems(options);
    return picker;
}

void addPickerRow(QFormLayout* form, const QString& label, QComboBox* picker) {
    auto* row = new QHBoxLayout;
    row->addWidget(picker);
    row->addStretch(1);
    form->addRow(label, row);
}

template <typename T, std::size_t N>
std::optional<T> pickedValue(int index, const std::array<T, N>& values) {
    if (index <= 0) {
        return std::nullopt;
    }
    return values.at(static_cast<std::size_t>(index - 1));
}

template <typename T, std::size_t N>
int pickerIndex(const std::optional<T>& value, const std::array<T, N>& values) {
    if (!value) {
        return 0;
    }
    return 1 + static_cast<int>(std::find(values.begin(), values.end(), *value) - values.begin());
}

}  // namespace

RemuxView::RemuxView(RemuxViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel), refreshLater_(this, [this] { refresh(); }) {
    setWindowTitle(QStringLiteral("Remux"));
    mediaFileChooser_ = [this] { return chooseMediaFiles("remux", true, window()); };

    QVBoxLayout* column = addScrollingColumn(this, 900);
    column->addWidget(new FeatureHeader(
        QStringLiteral("Remux Streams"),
        QStringLiteral(
            "Drop files anywhere in the window, then choose the exact streams to include."),
        QStringLiteral("arrow.triangle.2.circlepath")));

    draftPanel_ = new RemuxNaturalLanguageDraftView(viewModel_);
    column->addWidget(draftPanel_);

    addSourceHeader(column);
    addApplyToAllBlock(column);
    addEmptyState(column);
    addCardColumn(column);
    addOutputGroup(column);
    addFooter(column);
    column->addStretch(1);

    connect(&viewModel_, &RemuxViewModel::changed, this, [this] { refreshLater_.schedule(); });
    refresh();
}

void RemuxView::addSourceHeader(QVBoxLayout* column) {
    auto* sourceHeader = new QHBoxLayout;
    auto* sourceTitle = new QLabel(QStringLiteral("Source files"));
    sourceTitle->setFont(fontFor(TextStyle::headline));
    sourceHeader->addWidget(sourceTitle);
    sourceHeader->addStretch(1);
    addFilesButton_ =
        new QPushButton(remuxSymbolIcon(QStringLiteral("plus")), QStringLiteral("Add Files\u2026"));
    addFilesButton_->setObjectName(QStringLiteral("addFilesButton"));
    connect(addFilesButton_, &QPushButton::clicked, this, [this] {
        const auto files = mediaFileChooser_ ? mediaFileChooser_() : std::vector<fs::path>{};
        viewModel_.addFiles(files);
    });
    sourceHeader->addWidget(addFilesButton_);
    column->addLayout(sourceHeader);
}

void RemuxView::addApplyToAllBlock(QVBoxLayout* column) {
    applyToAllBlock_ = new QWidget;
    applyToAllBlock_->setObjectName(QStringLiteral("applyToAllBlock"));
    auto* applyLayout = new QVBoxLayout(applyToAllBlock_);
    applyLayout->setContentsMargins(0, 0, 0, 0);
    applyLayout->setSpacing(6);
    applyToAllToggle_ = new QCheckBox(
        QStringLiteral("Apply individual stream changes to matching tracks in all files"));
    applyToAllToggle_->setObjectName(QStringLiteral("applyToAllToggle"));
    applyToAllToggle_->setToolTip(QStringLiteral(
        "Matches stream kind, language, role, title, and technical metadata when possible."));
    connect(applyToAllToggle_, &QCheckBox::toggled, this, [this](bool on) {
        if (on != viewModel_.appliesIndividualStreamChangesToAllSources()) {
            viewModel_.setAppliesIndividualStreamChangesToAllSources(on);
        }
    });
    applyLayout->addWidget(applyToAllToggle_);
    propagationSummary_ = new StatusLine(QStringLiteral("propagationSummary"));
    applyLayout->addWidget(propagationSummary_);
    column->addWidget(applyToAllBlock_);
}

void RemuxView::addEmptyState(QVBoxLayout* column) {
    auto* emptyFrame = new QFrame;
    emptyFrame->setObjectName(QStringLiteral("emptyState"));
    emptyFrame->setMinimumHeight(180);
    emptyFrame->setStyleSheet(QStringLiteral(
        "#emptyState { background: rgba(128, 128, 128, 0.06); border-radius: 10px; }"));
    auto* emptyLayout = new QVBoxLayout(emptyFrame);
    emptyLayout->addWidget(new ContentUnavailableView(
        QStringLiteral("No Source Files"), QStringLiteral("film.stack"),
        QStringLiteral("Drop video files here or use Add Files to inspect their streams.")));
    emptyState_ = emptyFrame;
    column->addWidget(emptyState_);
}

void RemuxView::addCardColumn(QVBoxLayout* column) {
    cardList_ = new CardColumn(12);
    cardList_->setObjectName(QStringLiteral("cardList"));
    column->addWidget(cardList_);
    // The page grows with each card: only what a growth adds needs painting, not everything
    // in sight again (the cards and the page's background ask for no more).
    for (QWidget* widget = cardList_;
         widget != nullptr && qobject_cast<QAbstractScrollArea*>(widget->parentWidget()) == nullptr;
         widget = widget->parentWidget()) {
        widget->setAttribute(Qt::WA_StaticContents);
    }
}

void RemuxView::addOutputGroup(QVBoxLayout* column) {
    auto* output = new QGroupBox(QStringLiteral("Output"));
    output->setObjectName(QStringLiteral("outputGroup"));
    auto* form = new QFormLayout(output);
    form->setContentsMargins(4, 4, 4, 4);
    form->setVerticalSpacing(10);
    auto* folderRow = new QHBoxLayout;
    folderField_ = new QLineEdit;
    folderField_->setObjectName(QStringLiteral("folderField"));
    folderField_->setPlaceholderText(QStringLiteral("Output folder path"));
    folderField_->setMinimumWidth(320);
    folderField_->setAccessibleName(QStringLiteral("Output folder"));
    // Every edit by the user, even back to the old text, counts as choosing the folder.
    followFieldText(folderField_, this, [this](const QString& text) {
        viewModel_.setOutputDirectoryText(toPath(text).string());
    });
    folderRow->addWidget(folderField_, 1);
    auto* browse = new QPushButton(QStringLiteral("Browse\u2026"));
    browse->setObjectName(QStringLiteral("browseButton"));
    connect(browse, &QPushButton::clicked, this, [this] { viewModel_.chooseOutputDirectory(); });
    folderRow->addWidget(browse);
    form->addRow(QStringLiteral("Folder"), folderRow);

    addOutputPickers(form);
    column->addWidget(output);
}

void RemuxView::addOutputPickers(QFormLayout* form) {
    QStringList containers;
    for (auto container : allOutputContainers) {
        containers.append(QString::fromStdString(displayName(container)));
    }
    containerPicker_ = makePicker(QStringLiteral("containerPicker"), 170,
                                  QStringLiteral("Same as Input"), containers);
    connect(containerPicker_, &QComboBox::activated, this, [this](int index) {
        viewModel_.setContainer(pickedValue(index, allOutputContainers));
    });
    containerPicker_->setAccessibleName(QStringLiteral("Container"));
    addPickerRow(form, QStringLiteral("Container"), containerPicker_);

    QStringList targets;
    for (std::size_t i = 0; i < allPlaybackTargets.size(); ++i) {
        targets.append(QStringLiteral("iPhone 17 Pro"));
    }
    targetPicker_ = makePicker(QStringLiteral("targetPicker"), 220,
                               QStringLiteral("Container compatibility only"), targets);
    targetPicker_->setToolTip(QStringLiteral(
        "Checks selected tracks against a versioned playback profile. Choosing a target "
        "defaults the output container to MP4."));
    connect(targetPicker_, &QComboBox::activated, this, [this](int index) {
        viewModel_.setPlaybackTarget(pickedValue(index, allPlaybackTargets));
    });
    targetPicker_->setAccessibleName(QStringLiteral("Playback target"));
    addPickerRow(form, QStringLiteral("Playback target"), targetPicker_);
}

void RemuxView::addFooter(QVBoxLayout* column) {
    auto* footer = new QHBoxLayout;
    auto* messages = new QVBoxLayout;
    messages->setSpacing(6);
    subtitleNote_ = new StatusLine(QStringLiteral("subtitleNote"));
    messages->addWidget(subtitleNote_);
    playbackStatus_ = new StatusLine(QStringLiteral("playbackStatus"));
    messages->addWidget(playbackStatus_);
    compatibilitySummary_ = new StatusLine(QStringLiteral("compatibilitySummary"));
    messages->addWidget(compatibilitySummary_);
    validationMessage_ = new StatusLine(QStringLiteral("validationMessage"));
    messages->addWidget(validationMessage_);
    footer->addLayout(messages, 1);
    addToQueueButton_ = new QPushButton(remuxSymbolIcon(QStringLiteral("text.badge.plus")),
                                        QStringLiteral("Add to Queue"));
    addToQueueButton_->setObjectName(QStringLiteral("addToQueueButton"));
    connect(addToQueueButton_, &QPushButton::clicked, this,
            [this] { viewModel_.submit(RemuxViewModel::SubmissionMode::queue); });
    remuxNowButton_ =
        new QPushButton(remuxSymbolIcon(QStringLiteral("play.fill")), QStringLiteral("Remux Now"));
    remuxNowButton_->setObjectName(QStringLiteral("remuxNowButton"));
    remuxNowButton_->setDefault(true);
    connect(remuxNowButton_, &QPushButton::clicked, this,
            [this] { viewModel_.submit(RemuxViewModel::SubmissionMode::now); });
    footer->addWidget(addToQueueButton_, 0, Qt::AlignTop);
    footer->addWidget(remuxNowButton_, 0, Qt::AlignTop);
    column->addLayout(footer);
}

void RemuxView::refresh() {
    // The cards get what is left of this turn's time once the rest is shown.
    QElapsedTimer turn;
    turn.start();
    draftPanel_->refresh();
    const auto& sources = viewModel_.sources();

    applyToAllBlock_->setVisible(sources.size() >= 2);
    if (applyToAllToggle_->isChecked() != viewModel_.appliesIndividualStreamChangesToAllSources()) {
        applyToAllToggle_->setChecked(viewModel_.appliesIndividualStreamChangesToAllSources());
    }
    propagationSummary_->setStatus(viewModel_.appliesIndividualStreamChangesToAllSources()
                                       ? viewModel_.propagatedChangeSummary()
                                       : std::nullopt,
                                   QStringLiteral("arrow.triangle.branch"),
                                   secondaryTextColor(palette()));

    emptyState_->setVisible(sources.empty());
    cardList_->setVisible(!sources.empty());

    const QString folderText = toQString(fs::path(viewModel_.outputDirectoryText()));
    setFieldText(folderField_, folderText);
    containerPicker_->setCurrentIndex(pickerIndex(viewModel_.container(), allOutputContainers));
    targetPicker_->setCurrentIndex(pickerIndex(viewModel_.playbackTarget(), allPlaybackTargets));

    const auto validation = viewModel_.validationMessage();
    subtitleNote_->setStatus(viewModel_.subtitleConversionNote(), QStringLiteral("captions.bubble"),
                             tint::blue());
    const bool blocking = viewModel_.isPlaybackTargetStatusBlocking();
    playbackStatus_->setStatus(
        viewModel_.playbackTargetStatus(),
        blocking ? QStringLiteral("xmark.octagon.fill") : QStringLiteral("checkmark.shield"),
        blocking ? tint::red() : tint::green());
    compatibilitySummary_->setStatus(viewModel_.compatibilitySummary(),
                                     QStringLiteral("exclamationmark.triangle.fill"),
                                     tint::orange());
    // Shown with no sources too: the disabled buttons beside it say why.
    validationMessage_->setStatus(validation, QStringLiteral("info.circle"),
                                  secondaryTextColor(palette()));
    // After a submission empties the page, the focus stays on it, where the next files come in.
    const bool canSubmit = !validation && !viewModel_.isCheckingOutputFolder();
    setEnabledKeepingFocus(addToQueueButton_, canSubmit, addFilesButton_);
    setEnabledKeepingFocus(remuxNowButton_, canSubmit, addFilesButton_);

    refreshAlert();
    refreshCards(turn);
}

void RemuxView::refreshCards(const QElapsedTimer& turn) {
    const auto& sources = viewModel_.sources();
    // Only cards whose source changed (or that wait from an earlier turn) are looked at again:
    // with hundreds of files, each finished inspection then costs one card, not all of them.
    const auto changed = viewModel_.takeChangedSources();
    if (!changed) {
        std::unordered_set<fs::path, PathTextHash, PathTextEqual> present;
        for (const auto& source : sources) {
            present.insert(source.url);
        }
        // Cards of removed sources go.
        for (auto it = cards_.begin(); it != cards_.end();) {
            if (!present.contains(it->first)) {
                waiting_.erase(it->first);
                retireWidget(it->second);
                it = cards_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Cards are made a few at a time, so adding hundreds of files never blocks the window for
    // long; the rest follow on the next turns of the event loop. Besides the counts, a turn
    // stops once its time is spent (after at least one card), since rows cost what they hold.
    constexpr int newCardsPerTurn = 8;
    constexpr int rebuildsPerTurn = 4;
    constexpr qint64 turnMilliseconds = 6;
    int newCards = 0;
    int rebuilds = 0;
    const auto turnIsSpent = [&](int done, int cap) {
        return done == cap || (newCards + rebuilds > 0 && turn.elapsed() >= turnMilliseconds);
    };
    std::vector<fs::path> shownOrder;
    shownOrder.reserve(sources.size());
    // Whether the cards so far stand where they are shown: new ones then join the end at once,
    // inside this turn's time.
    bool inOrder = true;
    for (const auto& source : sources) {
        auto found = cards_.find(source.url);
        const bool created = found == cards_.end();
        if (created) {
            if (turnIsSpent(newCards, newCardsPerTurn)) {
                waiting_.insert(source.url);
                refreshLater_.schedule();
                continue;
            }
            ++newCards;
            auto* card = new StreamSourceCard(cardList_);
            const fs::path url = source.url;
            card->onToggleStream = [this, url](std::int64_t index) {
                viewModel_.toggleStream(index, url);
            };
            card->onSetStreams = [this, url](MediaStreamKind kind, bool included) {
                viewModel_.setStreams(kind, included, url);
            };
            card->onRetry = [this, url] { viewModel_.retryInspection(url); };
            card->onRemove = [this, url] { viewModel_.removeSource(url); };
            found = cards_.emplace(url, card).first;
        }
        const std::size_t position = shownOrder.size();
        shownOrder.push_back(source.url);
        if (!created) {
            inOrder = inOrder && position < cardOrder_.size() &&
                      cardOrder_[position].native() == source.url.native();
            if (changed && !changed->contains(source.url) && !waiting_.contains(source.url)) {
                continue;
            }
        }
        auto unsupported = viewModel_.unsupportedStreamMessages(source);
        auto converted = viewModel_.convertedSubtitleCodecs(source);
        if (!created && found->second->needsRebuild(source, unsupported, converted)) {
            // Rows are rebuilt a few cards at a time too; the others follow next turn.
            if (turnIsSpent(rebuilds, rebuildsPerTurn)) {
                waiting_.insert(source.url);
                refreshLater_.schedule();
                continue;
            }
            ++rebuilds;
        }
        found->second->setContent(source, unsupported, converted);
        cardList_->cardChanged(found->second);
        waiting_.erase(source.url);
        if (created) {
            inOrder = inOrder && position == cardOrder_.size();
            if (inOrder) {
                appendCard(source.url);
            }
        }
    }
    if (!std::equal(shownOrder.begin(), shownOrder.end(), cardOrder_.begin(), cardOrder_.end(),
                    PathTextEqual{})) {
        placeCards(shownOrder);
    }
}

void RemuxView::appendCard(const fs::path& url) {
    auto* card = cards_.at(url);
    cardList_->appendCard(card);
    // Made after the controls below the cards, it would come last on Tab.
    placeTabStops(
        cardOrder_.empty() ? applyToAllToggle_ : lastTabStop(cards_.at(cardOrder_.back())), card);
    cardOrder_.push_back(url);
}

void RemuxView::placeCards(const std::vector<fs::path>& order) {
    // New files at the end (the usual case) join the end; the others stay put.
    if (order.size() >= cardOrder_.size() &&
        std::equal(cardOrder_.begin(), cardOrder_.end(), order.begin())) {
        for (std::size_t i = cardOrder_.size(); i < order.size(); ++i) {
            appendCard(order[i]);
        }
        return;
    }
    std::vector<QWidget*> cards;
    cards.reserve(order.size());
    QWidget* lastStop = applyToAllToggle_;
    for (const auto& url : order) {
        cards.push_back(cards_.at(url));
        lastStop = placeTabStops(lastStop, cards.back());
    }
    cardList_->setCards(cards);
    cardOrder_ = order;
}

void RemuxView::refreshAlert() {
    if (viewModel_.isShowingCompatibilityConfirmation()) {
        if (alert_ == nullptr) {
            // Only properties lost: no stream is dropped, and the buttons say so.
            const bool dropsStreams = !viewModel_.compatibilityIssues().empty();
            alert_ =
                new QMessageBox(QMessageBox::Warning,
                                dropsStreams ? QStringLiteral("Unsupported Streams")
                                             : QStringLiteral("Properties Not Kept"),
                                QString::fromStdString(viewModel_.unsupportedStreamsAlertMessage()),
                                QMessageBox::NoButton, this);
            alert_->setObjectName(QStringLiteral("unsupportedStreamsAlert"));
            alert_->setTextFormat(Qt::PlainText);
            alert_->addButton(QMessageBox::Cancel);
            auto* proceed =
                alert_->addButton(dropsStreams ? QStringLiteral("Continue and Drop Streams")
                                               : QStringLiteral("Continue Without Them"),
                                  QMessageBox::AcceptRole);
            proceed->setObjectName(QStringLiteral("continueButton"));
            alert_->setDefaultButton(QMessageBox::Cancel);
            connect(alert_, &QMessageBox::finished, this, [this, proceed] {
                QMessageBox* alert = alert_;
                alert_ = nullptr;
                const bool confirmed = alert->clickedButton() == proceed;
                alert->deleteLater();
                if (confirmed) {
                    viewModel_.confirmDroppingUnsupportedStreams();
                } else if (viewModel_.isShowingCompatibilityConfirmation()) {
                    viewModel_.cancelCompatibilityConfirmation();
                }
            });
            alert_->open();
        }
    } else if (alert_ != nullptr) {
        QMessageBox* alert = alert_;
        alert_ = nullptr;
        alert->disconnect(this);
        alert->close();
        alert->deleteLater();
    }
}

StreamSourceCard* RemuxView::cardFor(const fs::path& url) const {
    const auto found = cards_.find(url);
    return found == cards_.end() ? nullptr : found->second;
}

}  // namespace tavrolin
