#include "preview/SplitVideoPreview.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "preview/PreviewTimeFormat.h"
#include "preview/SplitPreviewViewModel.h"
#include "widgets/AppStyle.h"
#include "widgets/PercentFormat.h"
#include "widgets/SymbolIcons.h"
#include "widgets/SymbolLabel.h"

namespace tavrolin {

namespace {

// Keys without modifiers belong to a text field while it has the focus.
bool textFieldHasFocus() {
    QWidget* focus = QApplication::focusWidget();
    return qobject_cast<QLineEdit*>(focus) || qobject_cast<QAbstractSpinBox*>(focus) ||
           qobject_cast<QTextEdit*>(focus);
}

// Space presses a focused button or box and picks in a focused list: there it is theirs, not
// the player's.
bool focusTakesSpace() {
    QWidget* focus = QApplication::focusWidget();
    return textFieldHasFocus() || qobject_cast<QAbstractButton*>(focus) ||
           qobject_cast<QComboBox*>(focus) || qobject_cast<QAbstractItemView*>(focus);
}

QPushButton* symbolButton(const QString& text, const QString& symbol) {
    auto* button = new QPushButton(symbolIcon(symbol), text);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

AcceleratingFrameButton::AcceleratingFrameButton(const QString& title, const QString& symbol,
                                                 const QString& shortcutText,
                                                 std::function<void()> stepOnce,
                                                 std::function<void()> beginRepeating,
                                                 std::function<void()> endRepeating,
                                                 QWidget* parent)
    : QPushButton(symbolIcon(symbol), title, parent),
      stepOnce_(std::move(stepOnce)),
      beginRepeating_(std::move(beginRepeating)),
      endRepeating_(std::move(endRepeating)),
      longPress_(new QTimer(this)) {
    setAutoDefault(false);
    setToolTip(plainToolTip(title + QStringLiteral(" (") + shortcutText +
                            QStringLiteral("); hold to accelerate to real-time speed")));
    longPress_->setSingleShot(true);
    longPress_->setInterval(350);
    connect(longPress_, &QTimer::timeout, this, [this] {
        suppressReleaseStep_ = true;
        beginRepeating_();
    });
    connect(this, &QPushButton::released, this, [this] {
        longPress_->stop();
        endRepeating_();
        // The click that a release still delivers finds the flag set and adds no step.
        QTimer::singleShot(0, this, [this] { suppressReleaseStep_ = false; });
    });
    connect(this, &QPushButton::clicked, this, [this] {
        if (suppressReleaseStep_) {
            suppressReleaseStep_ = false;
            return;
        }
        stepOnce_();
    });
}

void AcceleratingFrameButton::mousePressEvent(QMouseEvent* event) {
    QPushButton::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && isDown()) {
        pressedAt_ = event->position().toPoint();
        longPress_->start();
    }
}

void AcceleratingFrameButton::mouseMoveEvent(QMouseEvent* event) {
    QPushButton::mouseMoveEvent(event);
    if (longPress_->isActive() &&
        (event->position().toPoint() - pressedAt_).manhattanLength() > 24) {
        longPress_->stop();
    }
}

SplitPlayerSurface::SplitPlayerSurface(PreviewPlayer& player, QWidget* parent)
    : QWidget(parent), player_(player) {
    setMinimumHeight(280);
    setMaximumHeight(340);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAccessibleName(QStringLiteral("Video preview"));
    connect(&player_, &PreviewPlayer::pictureChanged, this, qOverload<>(&QWidget::update));
}

void SplitPlayerSurface::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath frame;
    frame.addRoundedRect(QRectF(rect()), 8, 8);
    painter.setClipPath(frame);
    painter.fillRect(rect(), Qt::black);
    const QImage picture = player_.picture();
    if (!picture.isNull()) {
        QSize size = picture.size().scaled(this->size(), Qt::KeepAspectRatio);
        QRect target(QPoint(0, 0), size);
        target.moveCenter(rect().center());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, picture);
    }
}

SplitVideoPreview::SplitVideoPreview(const std::filesystem::path& url,
                                     std::shared_ptr<PreviewPreparing> previewService,
                                     Actions actions, QWidget* parent)
    : SplitVideoPreview(std::make_unique<SplitPreviewViewModel>(url, std::move(previewService)),
                        std::move(actions), parent) {}

SplitVideoPreview::SplitVideoPreview(std::unique_ptr<SplitPreviewViewModel> model, Actions actions,
                                     QWidget* parent)
    : QWidget(parent), model_(std::move(model)), actions_(std::move(actions)) {
    build();
    connect(model_.get(), &SplitPreviewViewModel::changed, this, &SplitVideoPreview::render);
    render();
}

SplitVideoPreview::~SplitVideoPreview() {
    disconnect(model_.get(), nullptr, this, nullptr);
    model_->stop();
}

void SplitVideoPreview::build() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    SplitPreviewViewModel& model = *model_;

    surface_ = new SplitPlayerSurface(model.player());
    layout->addWidget(surface_);

    errorRow_ = symbolLabel(QStringLiteral("exclamationmark.triangle"), {}, &errorText_);
    layout->addWidget(errorRow_);

    preparingBox_ = new QWidget;
    auto* preparing = new QVBoxLayout(preparingBox_);
    preparing->setContentsMargins(0, 0, 0, 0);
    preparing->setSpacing(8);
    auto* preparingTitle = new QHBoxLayout;
    preparingTitle->addWidget(symbolLabel(QStringLiteral("externaldrive.badge.timemachine"),
                                          QStringLiteral("Preparing a compatible local preview…"),
                                          nullptr, TextStyle::body));
    preparingTitle->addStretch();
    preparingPercent_ = new QLabel;
    preparingPercent_->setObjectName(QStringLiteral("preparationPercent"));
    preparingTitle->addWidget(preparingPercent_);
    preparing->addLayout(preparingTitle);
    preparingBar_ = new QProgressBar;
    preparingBar_->setRange(0, 1000);
    preparingBar_->setTextVisible(false);
    preparing->addWidget(preparingBar_);
    auto* preparingNote = new QHBoxLayout;
    auto* note =
        new QLabel(QStringLiteral("The source is read once. Network files can take "
                                  "longer; the preview is reused this session."));
    note->setWordWrap(true);
    note->setFont(fontFor(TextStyle::caption));
    setTextColor(note, secondaryTextColor(palette()));
    preparingNote->addWidget(note, 1);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, [this] { model_->stop(); });
    preparingNote->addWidget(cancel);
    preparing->addLayout(preparingNote);
    layout->addWidget(preparingBox_);

    preparedNote_ = symbolLabel(
        QStringLiteral("checkmark.circle"),
        QStringLiteral("Using a temporary compatible preview; splitting still uses the original "
                       "file."));
    layout->addWidget(preparedNote_);

    slider_ = new QSlider(Qt::Horizontal);
    connect(slider_, &QSlider::valueChanged, this,
            [this](int frame) { model_->seek(frame / std::max(model_->frameRate(), 1.0), false); });
    layout->addWidget(slider_);

    // The time under the slider's start, the frame and rate under its end; then the transport,
    // then the buttons that take the time and the selection they make. Each on a row of its own,
    // so the preview fits a narrow window.
    auto* times = new QHBoxLayout;
    timeText_ = new QLabel;
    timeText_->setObjectName(QStringLiteral("timeText"));
    times->addWidget(timeText_);
    times->addStretch();
    frameText_ = new QLabel;
    frameText_->setObjectName(QStringLiteral("frameText"));
    frameText_->setAlignment(Qt::AlignRight);
    frameText_->setFont(fontFor(TextStyle::caption));
    setTextColor(frameText_, secondaryTextColor(palette()));
    times->addWidget(frameText_);
    layout->addLayout(times);

    auto* transport = new QHBoxLayout;
    transport->setSpacing(10);
    playButton_ = symbolButton(QStringLiteral("Play"), QStringLiteral("play.fill"));
    connect(playButton_, &QPushButton::clicked, this, [this] { model_->togglePlayback(); });
    transport->addWidget(playButton_);
    previousButton_ = new AcceleratingFrameButton(
        QStringLiteral("Previous Frame"), QStringLiteral("backward.frame.fill"),
        QStringLiteral(","), [this] { model_->stepFrame(-1); },
        [this] { model_->beginFrameRepeat(-1); }, [this] { model_->endFrameRepeat(); });
    transport->addWidget(previousButton_);
    nextButton_ = new AcceleratingFrameButton(
        QStringLiteral("Next Frame"), QStringLiteral("forward.frame.fill"), QStringLiteral("."),
        [this] { model_->stepFrame(1); }, [this] { model_->beginFrameRepeat(1); },
        [this] { model_->endFrameRepeat(); });
    transport->addWidget(nextButton_);
    transport->addStretch();
    layout->addLayout(transport);

    auto* actions = new QHBoxLayout;
    setStartButton_ = symbolButton(QStringLiteral("Set Start"),
                                   QStringLiteral("inset.filled.leadinghalf.rectangle"));
    connect(setStartButton_, &QPushButton::clicked, this,
            [this] { actions_.setStart(model_->currentTime()); });
    actions->addWidget(setStartButton_);
    setEndButton_ = symbolButton(QStringLiteral("Set End"),
                                 QStringLiteral("inset.filled.trailinghalf.rectangle"));
    connect(setEndButton_, &QPushButton::clicked, this,
            [this] { actions_.setEnd(model_->currentTime()); });
    actions->addWidget(setEndButton_);
    splitHereButton_ = symbolButton(QStringLiteral("Split Here"), QStringLiteral("scissors"));
    connect(splitHereButton_, &QPushButton::clicked, this,
            [this] { actions_.splitHere(model_->currentTime()); });
    actions->addWidget(splitHereButton_);
    actions->addStretch();
    layout->addLayout(actions);
    // Why "Split Here" is disabled while the media is shown.
    splitHereReason_ = secondaryLabel();
    splitHereReason_->setObjectName(QStringLiteral("splitHereReason"));
    splitHereReason_->setWordWrap(true);
    layout->addWidget(splitHereReason_);
    summary_ = new QLabel;
    summary_->setObjectName(QStringLiteral("selectionSummary"));
    summary_->setTextFormat(Qt::PlainText);
    summary_->setWordWrap(true);
    summary_->setFont(fontFor(TextStyle::caption));
    setTextColor(summary_, secondaryTextColor(palette()));
    layout->addWidget(summary_);

    for (QLabel* label : {timeText_, frameText_, preparingPercent_}) {
        label->setTextFormat(Qt::PlainText);
    }

    addShortcut(QKeySequence(Qt::Key_Space), playButton_);
    addShortcut(QKeySequence(Qt::Key_Comma), previousButton_);
    addShortcut(QKeySequence(Qt::Key_Period), nextButton_);
}

void SplitVideoPreview::addShortcut(const QKeySequence& key, QAbstractButton* button) {
    auto* shortcut = new QShortcut(key, this);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, button, [button] {
        if (button->isEnabled() && !textFieldHasFocus()) {
            button->click();
        }
    });
    if (key == QKeySequence(Qt::Key_Space)) {
        // Off while the focus takes Space itself: a shortcut would swallow the key.
        const auto follow = [shortcut] { shortcut->setEnabled(!focusTakesSpace()); };
        connect(qApp, &QApplication::focusChanged, shortcut, follow);
        follow();
    }
}

void SplitVideoPreview::setPictureHeight(int height) {
    surface_->setFixedHeight(std::clamp(height, 160, 340));
}

int SplitVideoPreview::pictureHeight() const {
    return surface_->height();
}

void SplitVideoPreview::setSelectionSummary(const QString& summary) {
    summary_->setText(summary);
}

void SplitVideoPreview::refresh() {
    model_->syncCurrentTime();
}

void SplitVideoPreview::hideEvent(QHideEvent* event) {
    // Another workspace took the window: playback pauses, the model stays ready.
    if (model_->isPlaying()) {
        model_->togglePlayback();
    }
    QWidget::hideEvent(event);
}

void SplitVideoPreview::render() {
    const SplitPreviewViewModel& model = *model_;
    const double rate = std::max(model.frameRate(), 1.0);
    const bool hasMedia = model.duration() > 0;
    // Audio alone has no picture and no frames: the preview shows its time only.
    const bool hasVideo = model.hasVideo();
    surface_->setVisible(hasVideo);
    slider_->setAccessibleName(hasVideo ? QStringLiteral("Video playhead")
                                        : QStringLiteral("Audio playhead"));

    errorRow_->setVisible(model.errorMessage().has_value());
    errorText_->setText(QString::fromStdString(model.errorMessage().value_or("")));
    preparingBox_->setVisible(model.isPreparingPreview());
    preparingPercent_->setText(percentText(model.preparationProgress()));
    preparingBar_->setValue(static_cast<int>(std::lround(model.preparationProgress() * 1000)));
    preparedNote_->setVisible(!model.isPreparingPreview() && model.usesPreparedPreview());

    {
        const QSignalBlocker blocker(slider_);
        const double length = std::max(model.duration(), 1 / rate);
        slider_->setRange(0, std::max(1, static_cast<int>(std::lround(length * rate))));
        slider_->setSingleStep(1);
        slider_->setPageStep(std::max(1, static_cast<int>(std::lround(rate))));
        slider_->setValue(static_cast<int>(std::lround(model.currentTime() * rate)));
    }
    slider_->setEnabled(hasMedia);

    // Nothing loaded, or nothing could be: there is nothing to play.
    playButton_->setEnabled(hasMedia);
    playButton_->setText(model.isPlaying() ? QStringLiteral("Pause") : QStringLiteral("Play"));
    playButton_->setIcon(
        symbolIcon(model.isPlaying() ? QStringLiteral("pause.fill") : QStringLiteral("play.fill")));
    for (AcceleratingFrameButton* button : {previousButton_, nextButton_}) {
        button->setVisible(hasVideo);
        button->setEnabled(hasMedia && hasVideo);
    }
    timeText_->setText(QString::fromStdString(formatPreviewTimecode(model.currentTime()) + " / " +
                                              formatPreviewTimecode(model.duration())));
    frameText_->setText(QStringLiteral("Frame %1 \u00B7 %2 fps")
                            .arg(model.currentFrame())
                            .arg(QLocale().toString(model.frameRate(), 'f', 3)));
    frameText_->setVisible(hasVideo);

    setStartButton_->setEnabled(hasMedia);
    setEndButton_->setEnabled(hasMedia);
    const bool canSplitHere = model.currentTime() > 0 && model.currentTime() < model.duration();
    splitHereButton_->setEnabled(hasMedia && canSplitHere);
    splitHereReason_->setText(
        hasVideo
            ? QStringLiteral("Split Here takes a frame after the first and before the end.")
            : QStringLiteral("Split Here takes a time after the beginning and before the end."));
    splitHereReason_->setVisible(hasMedia && !canSplitHere);
}

}  // namespace tavrolin
