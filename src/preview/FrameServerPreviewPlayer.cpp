#include "preview/FrameServerPreviewPlayer.h"

#include <QCoreApplication>
#include <QTransform>
#include <cmath>
#include <stdexcept>

#include "preview/FrameServer.h"
#include "preview/MediaPlayback.h"
#include "widgets/BlockingFileWork.h"

namespace tavrolin {

namespace {

// A playing picture turned upright as the frame grid says, unless the player turned it already
// (a sideways turn shows in the picture's shape).
QImage upright(QImage picture, const VideoFrameIndex& index) {
    const bool shapeMatches = (picture.width() > picture.height()) == (index.width > index.height);
    if (index.rotation == 0 || (index.rotation % 180 != 0 && shapeMatches)) {
        return picture;
    }
    return picture.transformed(QTransform().rotate(index.rotation));
}

}  // namespace

FrameServerPreviewPlayer::FrameServerPreviewPlayer(QObject* parent)
    : PreviewPlayer(parent), loads_(std::make_unique<BlockingFileWork>(this)) {
    try {
        media_ = createMediaPlayback({[this](QImage picture) {
                                          if (info_.decoder) {
                                              picture = upright(std::move(picture),
                                                                info_.decoder->index());
                                          }
                                          showPicture(std::move(picture), -1);
                                      },
                                      [this] {
                                          hasEnded_ = true;
                                          showFrameAt(info_.lastFrameTime);
                                      }});
    } catch (...) {
        missingPlayback_ = std::current_exception();
    }
}

FrameServerPreviewPlayer::~FrameServerPreviewPlayer() {
    // The server's worker is told to stop and not waited for; no picture arrives after this.
    frames_.reset();
}

void FrameServerPreviewPlayer::load(const std::filesystem::path& file, std::stop_token stop,
                                    Loaded loaded, Failed failed) {
    const bool started = loads_->start([file, stop, loaded, failed, missing = missingPlayback_] {
        PreviewMediaInfo media;
        std::exception_ptr error;
        try {
            if (missing) {
                std::rethrow_exception(missing);
            }
            media.file = file;
            media.decoder = openFrameDecoder(file, stop);
            const VideoFrameIndex& index = media.decoder->index();
            media.duration = index.duration;
            media.frameRate = index.frameRate;
            media.lastFrameTime = index.count() > 0 ? index.time(index.count() - 1) : 0;
            media.hasVideo = index.count() > 0;
            if (!media.hasVideo) {
                media.decoder.reset();
            }
        } catch (...) {
            error = std::current_exception();
        }
        return [stop, media = std::move(media), error, loaded, failed]() mutable {
            if (stop.stop_requested()) {
                return;
            }
            if (error) {
                failed(error);
            } else {
                loaded(std::move(media));
            }
        };
    });
    if (!started) {
        QMetaObject::invokeMethod(
            this,
            [stop, failed] {
                if (!stop.stop_requested()) {
                    failed(std::make_exception_ptr(
                        std::runtime_error("Tavrolin could not start loading the preview.")));
                }
            },
            Qt::QueuedConnection);
    }
}

void FrameServerPreviewPlayer::setMedia(PreviewMediaInfo media) {
    frames_.reset();
    info_ = std::move(media);
    hasEnded_ = false;
    pendingPosition_.reset();
    shownFrame_ = -1;
    requestedFrame_ = -1;
    if (info_.decoder) {
        QPointer<FrameServerPreviewPlayer> self(this);
        frames_ = std::make_unique<FrameServer>(info_.decoder, [self](VideoFrame frame) {
            QImage picture(frame.bgra.data(), frame.width, frame.height, frame.width * 4,
                           QImage::Format_RGB32);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, picture = picture.copy(), index = frame.index] {
                    // Only the newest request's picture is shown, and never over playback.
                    if (self && !self->isPlaying() &&
                        static_cast<long long>(index) == self->requestedFrame_) {
                        self->showPicture(picture, static_cast<long long>(index));
                    }
                },
                Qt::QueuedConnection);
        });
    }
    if (media_) {
        media_->setSource(info_.file);
    }
    showFrameAt(0);
}

void FrameServerPreviewPlayer::play() {
    hasEnded_ = false;
    if (!media_) {
        return;
    }
    if (pendingPosition_) {
        media_->setPositionMilliseconds(
            static_cast<qint64>(std::llround(*pendingPosition_ * 1000)));
        pendingPosition_.reset();
    }
    media_->play();
}

void FrameServerPreviewPlayer::pause() {
    if (!isPlaying()) {
        return;
    }
    media_->pause();
    showFrameAt(position());
}

bool FrameServerPreviewPlayer::isPlaying() const {
    return media_ && media_->isPlaying();
}

double FrameServerPreviewPlayer::position() const {
    if (pendingPosition_) {
        return *pendingPosition_;
    }
    return !media_ || !media_->hasSource() ? std::nan("") : media_->positionMilliseconds() / 1000.0;
}

void FrameServerPreviewPlayer::seek(double seconds) {
    hasEnded_ = false;
    if (isPlaying()) {
        media_->setPositionMilliseconds(static_cast<qint64>(std::llround(seconds * 1000)));
        return;
    }
    // Seeking the paused media player can stall the GUI thread for hundreds of milliseconds;
    // the frame server shows the picture, and the player moves only when playback starts.
    pendingPosition_ = seconds;
    showFrameAt(seconds);
}

void FrameServerPreviewPlayer::showFrameAt(double seconds) {
    if (!frames_ || !std::isfinite(seconds)) {
        return;
    }
    const std::size_t frame = frames_->index().frameCovering(seconds);
    if (static_cast<long long>(frame) == requestedFrame_ && shownFrame_ == requestedFrame_) {
        return;
    }
    requestedFrame_ = static_cast<long long>(frame);
    frames_->request(frame);
}

void FrameServerPreviewPlayer::showPicture(QImage picture, long long frame) {
    picture_ = std::move(picture);
    shownFrame_ = frame;
    emit pictureChanged();
}

}  // namespace tavrolin
