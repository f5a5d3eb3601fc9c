#include "preview/SplitPreviewViewModel.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <utility>

#include "engine/PreviewPreparing.h"
#include "model/CancellationError.h"
#include "model/ErrorMessage.h"
#include "preview/FrameServerPreviewPlayer.h"
#include "preview/PreviewTiming.h"
#include "process/ModuleLoader.h"

namespace tavrolin {

namespace {

// A precise single-shot timer on the GUI thread.
class QtFrameRepeatClock : public FrameRepeatClock {
  public:
    QtFrameRepeatClock() {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (fire_) {
                fire_();
            }
        });
    }
    void schedule(double seconds, std::function<void()> fire) override {
        fire_ = std::move(fire);
        timer_.start(static_cast<int>(std::lround(seconds * 1000)));
    }
    void cancel() override {
        timer_.stop();
        fire_ = nullptr;
    }

  private:
    QTimer timer_;
    std::function<void()> fire_;
};

// Runs `work` on the GUI thread, unless the model is gone or its task was stopped by then.
template <typename Work>
void postToModel(QPointer<SplitPreviewViewModel> model, std::stop_token stop, Work work) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [model, stop, work = std::move(work)]() mutable {
            if (model && !stop.stop_requested()) {
                work(*model);
            }
        },
        Qt::QueuedConnection);
}

}  // namespace

SplitPreviewViewModel::SplitPreviewViewModel(std::filesystem::path url,
                                             std::shared_ptr<PreviewPreparing> service,
                                             QObject* parent)
    : SplitPreviewViewModel(std::move(url), std::move(service),
                            std::make_unique<FrameServerPreviewPlayer>(),
                            std::make_unique<QtFrameRepeatClock>(), parent) {}

SplitPreviewViewModel::SplitPreviewViewModel(std::filesystem::path url,
                                             std::shared_ptr<PreviewPreparing> service,
                                             std::unique_ptr<PreviewPlayer> player,
                                             std::unique_ptr<FrameRepeatClock> clock,
                                             QObject* parent)
    : QObject(parent),
      url_(std::move(url)),
      previewService_(std::move(service)),
      player_(std::move(player)),
      repeatClock_(std::move(clock)) {
    load();
}

SplitPreviewViewModel::~SplitPreviewViewModel() {
    // A preparation still running terminates its child; its late result finds no model.
    metadataTask_.request_stop();
    repeatClock_->cancel();
}

long long SplitPreviewViewModel::currentFrame() const {
    return previewFrameNumber(currentTime_, frameRate_);
}

void SplitPreviewViewModel::setCurrentTime(double seconds) {
    currentTime_ = seconds;
    emit changed();
}

void SplitPreviewViewModel::setPlaying(bool playing) {
    isPlaying_ = playing;
    emit changed();
}

void SplitPreviewViewModel::load() {
    player_->load(
        url_, metadataTask_.get_token(),
        [this](PreviewMediaInfo media) { applyLoadedMedia(std::move(media)); },
        [this](std::exception_ptr error) {
            if (holdsError<ModuleUnavailableError>(error)) {
                // A prepared copy would need the same player.
                failPreparation(error);
            } else if (!isCancellation(error)) {
                loadPreparedPreview();
            }
        });
}

void SplitPreviewViewModel::applyLoadedMedia(PreviewMediaInfo media) {
    duration_ = std::isfinite(media.duration) ? std::max(media.duration, 0.0) : 0;
    frameRate_ = media.frameRate > 0 ? media.frameRate : 30.0;
    hasVideo_ = media.hasVideo;
    lastFrameTime_ = snappedPreviewTime(media.lastFrameTime, frameRate_, duration_);
    currentTime_ = 0;
    player_->setMedia(std::move(media));
    emit changed();
}

void SplitPreviewViewModel::loadPreparedPreview() {
    isPreparingPreview_ = true;
    preparationProgress_ = 0;
    errorMessage_.reset();
    emit changed();

    QPointer<SplitPreviewViewModel> self(this);
    const std::stop_token stop = metadataTask_.get_token();
    workers_.start([self, stop, service = previewService_, source = url_] {
        std::filesystem::path prepared;
        std::exception_ptr error;
        try {
            prepared = service->preparePreview(
                source,
                [self, stop](double fraction) {
                    postToModel(self, stop, [fraction](SplitPreviewViewModel& model) {
                        model.reportPreparationProgress(fraction);
                    });
                },
                stop);
        } catch (...) {
            error = std::current_exception();
        }
        postToModel(self, stop, [prepared, error, stop](SplitPreviewViewModel& model) {
            if (error) {
                model.failPreparation(error);
                return;
            }
            model.player_->load(
                prepared, stop,
                [&model](PreviewMediaInfo media) {
                    model.usesPreparedPreview_ = true;
                    model.isPreparingPreview_ = false;
                    model.applyLoadedMedia(std::move(media));
                },
                [&model](std::exception_ptr failure) { model.failPreparation(failure); });
        });
    });
}

void SplitPreviewViewModel::reportPreparationProgress(double fraction) {
    if (!isPreparingPreview_) {
        return;
    }
    preparationProgress_ = fraction > 0 ? std::min(fraction, 1.0) : 0;
    emit changed();
}

void SplitPreviewViewModel::failPreparation(std::exception_ptr error) {
    isPreparingPreview_ = false;
    if (!isCancellation(error)) {
        errorMessage_ = "Preview unavailable: " + userMessage(error) +
                        " You can still enter start and end times manually.";
    }
    emit changed();
}

void SplitPreviewViewModel::togglePlayback() {
    // Nothing loaded yet, or nothing could be: there is nothing to play, and the button must
    // keep saying Play.
    if (!(duration_ > 0)) {
        isPlaying_ = false;
        emit changed();
        return;
    }
    if (player_->isPlaying()) {
        // Paused where the player stopped, on the frame grid, so the picture and the frame
        // number agree.
        const double position = player_->position();
        player_->pause();
        isPlaying_ = false;
        if (std::isfinite(position)) {
            seek(position, false);
        } else {
            emit changed();
        }
        return;
    }
    // After playback ran to its end the position rests on the last frame: play from the start.
    if (currentTime_ >= duration_ || player_->hasEnded()) {
        seek(0, false);
    }
    player_->play();
    isPlaying_ = true;
    emit changed();
}

void SplitPreviewViewModel::seek(double seconds, bool keepPlaying) {
    const bool resume = keepPlaying && isPlaying_;
    if (!resume) {
        player_->pause();
        isPlaying_ = false;
    }
    currentTime_ = snappedPreviewTime(seconds, frameRate_, duration_);
    player_->seek(currentTime_);
    if (resume) {
        player_->play();
        isPlaying_ = true;
    }
    emit changed();
}

void SplitPreviewViewModel::stepFrame(int frames) {
    seek(currentTime_ + frames / std::max(frameRate_, 1.0), false);
}

void SplitPreviewViewModel::beginFrameRepeat(int direction) {
    if (!(duration_ > 0)) {
        return;
    }
    endFrameRepeat();
    stepFrame(direction);
    isRepeating_ = true;
    repeatDirection_ = direction;
    repeatElapsed_ = 0;
    repeatInterval_ = frameRepeatInterval(frameRate_, repeatElapsed_);
    repeatClock_->schedule(repeatInterval_, [this] { repeatStep(); });
}

void SplitPreviewViewModel::repeatStep() {
    if (!isRepeating_) {
        return;
    }
    stepFrame(repeatDirection_);
    // The ramp follows the pauses asked for, not the time measured.
    repeatElapsed_ += repeatInterval_;
    repeatInterval_ = frameRepeatInterval(frameRate_, repeatElapsed_);
    repeatClock_->schedule(repeatInterval_, [this] { repeatStep(); });
}

void SplitPreviewViewModel::endFrameRepeat() {
    isRepeating_ = false;
    repeatClock_->cancel();
}

void SplitPreviewViewModel::syncCurrentTime() {
    if (!player_->isPlaying()) {
        if (isPlaying_ && player_->hasEnded()) {
            isPlaying_ = false;
            currentTime_ = lastFrameTime_;
            emit changed();
        }
        return;
    }
    const double position = player_->position();
    if (!std::isfinite(position)) {
        return;
    }
    currentTime_ = std::min(std::max(duration_, 0.0), std::max(position, 0.0));
    isPlaying_ = player_->isPlaying();
    emit changed();
}

void SplitPreviewViewModel::stop() {
    metadataTask_.request_stop();
    endFrameRepeat();
    // Only this model's own preparation ends; the service may serve other previews.
    isPreparingPreview_ = false;
    player_->pause();
    isPlaying_ = false;
    emit changed();
}

}  // namespace tavrolin
