#include "transcription/SubtitleSyncReviewSheet.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

#include "preview/PreviewPlayer.h"
#include "preview/PreviewTimeFormat.h"
#include "preview/SplitPreviewViewModel.h"
#include "transcription/TranscriptCueSearch.h"
#include "transcription/TranscriptionViewModel.h"
#include "widgets/AppStyle.h"
#include "widgets/ContentUnavailableView.h"
#include "widgets/SymbolIcons.h"

namespace tavrolin {

namespace {

// The slider counts milliseconds.
constexpr double sliderScale = 1000;

QString timecode(double seconds) {
    return QString::fromStdString(formatPreviewTimecode(seconds));
}

}  // namespace

std::optional<SubtitleCue> activeCue(const std::vector<SubtitleCue>& cues, double time) {
    const auto found = std::ranges::find_if(
        cues, [time](const auto& cue) { return cue.startTime <= time && time < cue.endTime; });
    return found == cues.end() ? std::nullopt : std::optional(*found);
}

SubtitleSyncPlayerSurface::SubtitleSyncPlayerSurface(PreviewPlayer& player, QWidget* parent)
    : SplitPlayerSurface(player, parent) {
    setObjectName(QStringLiteral("syncSurface"));
    setMinimumHeight(220);
    setAccessibleName(QStringLiteral("Video preview with generated subtitles"));
}

void SubtitleSyncPlayerSurface::setCueText(const QString& text) {
    if (text != cueText_) {
        cueText_ = text;
        update();
    }
}

void SubtitleSyncPlayerSurface::paintEvent(QPaintEvent* event) {
    SplitPlayerSurface::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (cueText_.isEmpty()) {
        return;
    }
    // The cue's text as written (never markup), on a dark plate near the bottom.
    QFont font = fontFor(TextStyle::title2, QFont::Medium);
    painter.setFont(font);
    const QRect room = rect().adjusted(50 + 14, 0, -(50 + 14), -(22 + 8));
    const QRect text =
        painter.fontMetrics().boundingRect(room, Qt::AlignHCenter | Qt::TextWordWrap, cueText_);
    QRect plate = text.adjusted(-14, -8, 14, 8);
    plate.moveBottom(height() - 22);
    plate.moveLeft((width() - plate.width()) / 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, int(0.78 * 255)));
    painter.drawRoundedRect(plate, 8, 8);
    painter.setPen(Qt::white);
    painter.drawText(plate.adjusted(14, 8, -14, -8), Qt::AlignHCenter | Qt::TextWordWrap, cueText_);
}

SubtitleSyncReviewSheet::SubtitleSyncReviewSheet(TranscriptionViewModel& transcription,
                                                 std::unique_ptr<SplitPreviewViewModel> preview,
                                                 QWidget* parent)
    : QDialog(parent), transcription_(transcription), preview_(std::move(preview)) {
    setObjectName(QStringLiteral("subtitleSyncSheet"));
    setWindowTitle(QStringLiteral("Sync Subtitles with Video"));
    // As large as it reads best, but never larger than the window it belongs to.
    const QSize room = parent ? parent->window()->size() : QSize(1240, 780);
    resize(std::min(1240, room.width()), std::min(780, room.height()));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(20, 20, 20, 20);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(3);
    auto* title = plainTextLabel(QStringLiteral("Sync Subtitles with Video"));
    title->setFont(fontFor(TextStyle::title2, QFont::Bold));
    const auto* source = transcription_.state().selectedSource();
    auto* fileName =
        secondaryLabel(source ? toQString(source->url.filename()) : QStringLiteral("Video preview"),
                       TextStyle::callout);
    titles->addWidget(title);
    titles->addWidget(fileName);
    auto* doneButton = new QPushButton(QStringLiteral("Done"));
    doneButton->setObjectName(QStringLiteral("done"));
    doneButton->setDefault(true);
    doneButton->setAutoDefault(true);
    header->addLayout(titles, 1);
    header->addWidget(doneButton, 0, Qt::AlignTop);
    layout->addLayout(header);
    layout->addWidget(dividerLine(QFrame::HLine));
    connect(doneButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* split = new QSplitter(Qt::Horizontal);
    split->addWidget(makeVideoPane());
    split->addWidget(makeTranscriptPane());
    split->setStretchFactor(0, 1);
    layout->addWidget(split, 1);

    refreshTimer_ = new QTimer(this);
    refreshTimer_->setInterval(50);
    refreshTimer_->setTimerType(Qt::PreciseTimer);
    connect(refreshTimer_, &QTimer::timeout, this, [this] { preview_->syncCurrentTime(); });
    refreshTimer_->start();
    connect(preview_.get(), &SplitPreviewViewModel::changed, this,
            &SubtitleSyncReviewSheet::render);
    connect(&transcription_, &TranscriptionViewModel::changed, this,
            &SubtitleSyncReviewSheet::render);
    render();
}

SubtitleSyncReviewSheet::~SubtitleSyncReviewSheet() {
    preview_->stop();
}

QWidget* SubtitleSyncReviewSheet::makeVideoPane() {
    auto* pane = new QWidget;
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);
    surface_ = new SubtitleSyncPlayerSurface(preview_->player());
    column->addWidget(surface_, 1);
    previewStatus_ = plainTextLabel();
    previewStatus_->setObjectName(QStringLiteral("previewStatus"));
    previewStatus_->setWordWrap(true);
    previewStatus_->setFont(fontFor(TextStyle::caption));
    column->addWidget(previewStatus_);
    playhead_ = new QSlider(Qt::Horizontal);
    playhead_->setObjectName(QStringLiteral("playhead"));
    playhead_->setAccessibleName(QStringLiteral("Video playhead"));
    column->addWidget(playhead_);
    connect(playhead_, &QSlider::sliderMoved, this,
            [this](int value) { preview_->seek(value / sliderScale, true); });

    auto* transport = new QHBoxLayout;
    play_ = new QPushButton;
    play_->setObjectName(QStringLiteral("play"));
    time_ = secondaryLabel({}, TextStyle::callout);
    cueLabel_ = secondaryLabel();
    cueLabel_->setObjectName(QStringLiteral("activeCue"));
    transport->addWidget(play_);
    transport->addWidget(time_);
    transport->addStretch(1);
    transport->addWidget(cueLabel_);
    column->addLayout(transport);
    connect(play_, &QPushButton::clicked, this, [this] { preview_->togglePlayback(); });
    column->addWidget(dividerLine(QFrame::HLine));

    auto* offsetRow = new QHBoxLayout;
    auto* offsetTitle = plainTextLabel(QStringLiteral("Timing offset"));
    offsetTitle->setFont(fontFor(TextStyle::headline, QFont::DemiBold));
    offset_ = plainTextLabel();
    offset_->setObjectName(QStringLiteral("offset"));
    offset_->setFont(fontFor(TextStyle::headline));
    reset_ = new QPushButton(QStringLiteral("Reset"));
    reset_->setObjectName(QStringLiteral("reset"));
    reset_->setAutoDefault(false);
    offsetRow->addWidget(offsetTitle);
    offsetRow->addWidget(offset_);
    offsetRow->addWidget(reset_);
    offsetRow->addStretch(1);
    column->addLayout(offsetRow);
    connect(reset_, &QPushButton::clicked, this, [this] {
        const double shift = TranscriptionWorkspaceState::defaultTimingOffset -
                             transcription_.state().subtitleTimingOffset;
        if (std::abs(shift) > TranscriptionWorkspaceState::offsetTolerance) {
            transcription_.applySubtitleTimingOffset(shift);
        }
    });

    auto* nudges = new QHBoxLayout;
    const std::pair<const char*, double> shifts[] = {{"Earlier 0.5 s", -0.5},
                                                     {"Earlier 0.1 s", -0.1},
                                                     {"Later 0.1 s", 0.1},
                                                     {"Later 0.5 s", 0.5}};
    for (const auto& [label, shift] : shifts) {
        auto* button = new QPushButton(QString::fromUtf8(label));
        button->setAutoDefault(false);
        button->setObjectName(QString::fromUtf8(label));
        nudges->addWidget(button);
        connect(button, &QPushButton::clicked, this,
                [this, shift] { transcription_.applySubtitleTimingOffset(shift); });
    }
    applyToAll_ = new QPushButton(QStringLiteral("Apply This Offset to All"));
    applyToAll_->setObjectName(QStringLiteral("applyOffsetToAll"));
    applyToAll_->setAutoDefault(false);
    applyToAll_->setToolTip(QStringLiteral(
        "Apply this total timing offset to every completed transcript in the source list."));
    nudges->addWidget(applyToAll_);
    nudges->addStretch(1);
    column->addLayout(nudges);
    connect(applyToAll_, &QPushButton::clicked, this,
            [this] { transcription_.applySubtitleTimingOffsetToCompletedSources(); });
    auto* note = plainTextLabel(QStringLiteral(
        "Play a section with dialogue, then move all generated cues earlier or later. Cue "
        "durations remain unchanged; applying to all uses this total offset rather than adding "
        "another shift."));
    note->setWordWrap(true);
    note->setFont(fontFor(TextStyle::caption));
    setTextColor(note, secondaryTextColor(palette()));
    column->addWidget(note);
    return pane;
}

QWidget* SubtitleSyncReviewSheet::makeTranscriptPane() {
    auto* pane = new QWidget;
    pane->setMinimumWidth(240);
    pane->setMaximumWidth(500);
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* header = new QVBoxLayout;
    header->setContentsMargins(16, 16, 16, 16);
    header->setSpacing(12);
    auto* row = new QHBoxLayout;
    auto* title = plainTextLabel(QStringLiteral("Transcript"));
    title->setFont(fontFor(TextStyle::headline, QFont::DemiBold));
    count_ = plainTextLabel();
    count_->setObjectName(QStringLiteral("sheetCueCount"));
    count_->setFont(fontFor(TextStyle::caption));
    row->addWidget(title);
    row->addWidget(count_);
    row->addStretch(1);
    header->addLayout(row);
    auto* searchRow = new QHBoxLayout;
    search_ = new QLineEdit;
    search_->setObjectName(QStringLiteral("sheetSearch"));
    search_->setPlaceholderText(QStringLiteral("Search transcript"));
    search_->addAction(symbolIcon(QStringLiteral("magnifyingglass")), QLineEdit::LeadingPosition);
    clearSearch_ = new QToolButton;
    clearSearch_->setIcon(symbolIcon(QStringLiteral("xmark.circle.fill")));
    clearSearch_->setAutoRaise(true);
    clearSearch_->setAccessibleName(QStringLiteral("Clear transcript search"));
    searchRow->addWidget(search_, 1);
    searchRow->addWidget(clearSearch_);
    header->addLayout(searchRow);
    column->addLayout(header);
    column->addWidget(dividerLine(QFrame::HLine));
    listStack_ = new QStackedWidget;
    cueList_ = new QListWidget;
    cueList_->setObjectName(QStringLiteral("sheetCues"));
    cueList_->setWordWrap(true);
    cueList_->setFrameShape(QFrame::NoFrame);
    listStack_->addWidget(cueList_);
    listStack_->addWidget(new QWidget);
    column->addWidget(listStack_, 1);
    connect(search_, &QLineEdit::textChanged, this, &SubtitleSyncReviewSheet::render);
    connect(clearSearch_, &QToolButton::clicked, this, [this] {
        search_->clear();
        render();
    });
    const auto seekToCue = [this](QListWidgetItem* item) {
        const int row = cueList_->row(item);
        if (row >= 0 && row < static_cast<int>(listedCues_.size())) {
            preview_->seek(listedCues_[row].startTime, true);
        }
    };
    connect(cueList_, &QListWidget::itemClicked, this, seekToCue);
    connect(cueList_, &QListWidget::itemActivated, this, seekToCue);
    return pane;
}

void SubtitleSyncReviewSheet::renderCueList(const std::optional<SubtitleCue>& active) {
    const auto& cues = transcription_.state().cues();
    const std::string query = search_->text().toStdString();
    TranscriptCueSearch search;
    std::vector<SubtitleCue> filtered;
    for (const auto& cue : cues) {
        if (search.matches(cue.text, query)) {
            filtered.push_back(cue);
        }
    }
    count_->setText(QStringLiteral("%1 of %2").arg(filtered.size()).arg(cues.size()));
    clearSearch_->setVisible(!search_->text().isEmpty());
    if (filtered != listedCues_) {
        listedCues_ = filtered;
        cueList_->clear();
        for (const auto& cue : listedCues_) {
            auto* item = new QListWidgetItem(timecode(cue.startTime) + QStringLiteral("   ") +
                                             QString::fromStdString(cue.text));
            item->setData(Qt::AccessibleTextRole,
                          QStringLiteral("Cue %1, %2, %3")
                              .arg(cue.id)
                              .arg(timecode(cue.startTime), QString::fromStdString(cue.text)));
            cueList_->addItem(item);
        }
    }
    if (filtered.empty()) {
        auto* empty =
            new ContentUnavailableView(QStringLiteral("No Results for “%1”").arg(search_->text()),
                                       QStringLiteral("magnifyingglass"),
                                       QStringLiteral("Check the spelling or try a new search."));
        QWidget* old = listStack_->widget(1);
        listStack_->removeWidget(old);
        old->deleteLater();
        listStack_->addWidget(empty);
        listStack_->setCurrentIndex(1);
    } else {
        listStack_->setCurrentIndex(0);
    }
    const auto activeID = active ? std::optional(active->id) : std::nullopt;
    for (int row = 0; row < cueList_->count(); ++row) {
        const bool isActive = listedCues_[row].id == activeID;
        QColor background = accentColor(palette());
        background.setAlphaF(isActive ? 0.16 : 0);
        cueList_->item(row)->setBackground(background);
    }
    // While playing with no search, the list follows the playhead.
    if (activeID != followedCueID_) {
        followedCueID_ = activeID;
        if (activeID && query.find_first_not_of(" \t\r\n") == std::string::npos &&
            preview_->isPlaying()) {
            const auto row = std::ranges::find(listedCues_, *activeID, &SubtitleCue::id);
            cueList_->scrollToItem(cueList_->item(int(row - listedCues_.begin())),
                                   QAbstractItemView::PositionAtCenter);
        }
    }
}

void SubtitleSyncReviewSheet::render() {
    const auto& state = transcription_.state();
    const double duration = preview_->duration();
    const double now = preview_->currentTime();
    const auto active = activeCue(state.cues(), now);
    surface_->setCueText(active ? QString::fromStdString(active->text) : QString());

    if (preview_->isPreparingPreview()) {
        previewStatus_->setText(
            QStringLiteral("Preparing a compatible local preview… %1%\nNetwork files are read once "
                           "to make a reusable local preview; subtitle timing changes still apply "
                           "to the original source.")
                .arg(std::lround(preview_->preparationProgress() * 100)));
        setTextColor(previewStatus_, secondaryTextColor(palette()));
    } else if (preview_->errorMessage()) {
        previewStatus_->setText(QString::fromStdString(*preview_->errorMessage()));
        setTextColor(previewStatus_, tint::orange());
    } else if (preview_->usesPreparedPreview()) {
        previewStatus_->setText(QStringLiteral(
            "Using a temporary compatible preview; exports still use the original source."));
        setTextColor(previewStatus_, secondaryTextColor(palette()));
    } else {
        previewStatus_->clear();
    }
    previewStatus_->setVisible(!previewStatus_->text().isEmpty());

    const double frame = preview_->frameRate() > 1 ? 1 / preview_->frameRate() : 1.0;
    playhead_->setRange(0, int(std::lround(std::max(duration, frame) * sliderScale)));
    playhead_->setSingleStep(int(std::lround(sliderScale / std::max(preview_->frameRate(), 1.0))));
    if (!playhead_->isSliderDown()) {
        const QSignalBlocker blocker(playhead_);
        playhead_->setValue(int(std::lround(now * sliderScale)));
    }
    playhead_->setEnabled(duration > 0);
    play_->setEnabled(duration > 0);
    play_->setText(preview_->isPlaying() ? QStringLiteral("Pause") : QStringLiteral("Play"));
    play_->setIcon(symbolIcon(preview_->isPlaying() ? QStringLiteral("pause.fill")
                                                    : QStringLiteral("play.fill")));
    time_->setText(timecode(now) + QStringLiteral(" / ") + timecode(duration));
    cueLabel_->setText(active ? QStringLiteral("Cue %1").arg(active->id)
                              : QStringLiteral("No subtitle at playhead"));

    offset_->setText(QString::fromStdString(state.subtitleTimingOffsetText()));
    reset_->setEnabled(
        std::abs(state.subtitleTimingOffset - TranscriptionWorkspaceState::defaultTimingOffset) >=
        TranscriptionWorkspaceState::offsetTolerance);
    applyToAll_->setEnabled(state.transcribedSourceCount() >= 2);
    renderCueList(active);
}

void SubtitleSyncReviewSheet::keyPressEvent(QKeyEvent* event) {
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (isReturn && focusWidget() == cueList_) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void SubtitleSyncReviewSheet::done(int result) {
    refreshTimer_->stop();
    preview_->stop();
    QDialog::done(result);
}

}  // namespace tavrolin
