#include "joinsplit/FrameServerPreviewPlayer.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QCoreApplication>
#include <QFile>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QThreadPool>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>
#include <cmath>

#include "joinsplit/FrameServer.h"
#include "joinsplit/LibavFrameDecoder.h"

namespace tavrolin {

FrameServerPreviewPlayer::FrameServerPreviewPlayer(QObject* parent)
    : PreviewPlayer(parent), media_(new QMediaPlayer(this)), sink_(new QVideoSink(this)) {
    media_->setVideoSink(sink_);
    // Without an output device the player would fail to play at all; then it plays silently.
    if (!QMediaDevices::defaultAudioOutput().isNull()) {
        audio_ = new QAudioOutput(this);
        media_->setAudioOutput(audio_);
    }
    connect(sink_, &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame& frame) {
        if (isPlaying() && frame.isValid()) {
            showPicture(frame.toImage(), -1);
        }
    });
    connect(media_, &QMediaPlayer::mediaStatusChanged, this,
            [this](QMediaPlayer::MediaStatus status) {
                if (status == QMediaPlayer::EndOfMedia) {
                    hasEnded_ = true;
                    showFrameAt(info_.lastFrameTime);
                }
            });
}

FrameServerPreviewPlayer::~FrameServerPreviewPlayer() {
    // The server stops its worker within one packet; no picture arrives after this.
    frames_.reset();
}

void FrameServerPreviewPlayer::load(const std::filesystem::path& file, std::stop_token stop,
                                    Loaded loaded, Failed failed) {
    QPointer<FrameServerPreviewPlayer> self(this);
    loader_.start([self, file, stop, loaded, failed] {
        PreviewMediaInfo media;
        std::exception_ptr error;
        try {
            media.file = file;
            media.decoder = std::make_shared<LibavFrameDecoder>(file, stop);
            const VideoFrameIndex& index = media.decoder->index();
            media.duration = index.duration;
            media.frameRate = index.frameRate;
            media.lastFrameTime = index.count() > 0 ? index.time(index.count() - 1) : 0;
            if (index.count() == 0) {
                media.decoder.reset();
            }
        } catch (...) {
            error = std::current_exception();
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, stop, media = std::move(media), error, loaded, failed]() mutable {
                if (!self || stop.stop_requested()) {
                    return;
                }
                if (error) {
                    failed(error);
                } else {
                    loaded(std::move(media));
                }
            },
            Qt::QueuedConnection);
    });
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
    media_->setSource(QUrl::fromLocalFile(QFile::decodeName(info_.file.c_str())));
    showFrameAt(0);
}

void FrameServerPreviewPlayer::play() {
    hasEnded_ = false;
    if (pendingPosition_) {
        media_->setPosition(static_cast<qint64>(std::llround(*pendingPosition_ * 1000)));
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
    return media_->playbackState() == QMediaPlayer::PlayingState;
}

double FrameServerPreviewPlayer::position() const {
    if (pendingPosition_) {
        return *pendingPosition_;
    }
    return media_->source().isEmpty() ? std::nan("") : media_->position() / 1000.0;
}

void FrameServerPreviewPlayer::seek(double seconds) {
    hasEnded_ = false;
    if (isPlaying()) {
        media_->setPosition(static_cast<qint64>(std::llround(seconds * 1000)));
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
