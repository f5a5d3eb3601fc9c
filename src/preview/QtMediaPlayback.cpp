// The playback module: Qt Multimedia behind MediaPlayback, with its entry point.
#include <QAudioDevice>
#include <QAudioOutput>
#include <QFile>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>
#include <type_traits>

#include "preview/MediaPlayback.h"

namespace tavrolin {

namespace {

class QtMediaPlayback final : public MediaPlayback {
  public:
    explicit QtMediaPlayback(Callbacks callbacks) : callbacks_(std::move(callbacks)) {
        media_.setVideoSink(&sink_);
        // Without an output device the player would fail to play at all; then it plays silently.
        if (!QMediaDevices::defaultAudioOutput().isNull()) {
            audio_ = std::make_unique<QAudioOutput>();
            media_.setAudioOutput(audio_.get());
        }
        QObject::connect(&sink_, &QVideoSink::videoFrameChanged, &sink_,
                         [this](const QVideoFrame& frame) {
                             if (isPlaying() && frame.isValid() && callbacks_.picture) {
                                 callbacks_.picture(frame.toImage());
                             }
                         });
        QObject::connect(&media_, &QMediaPlayer::mediaStatusChanged, &media_,
                         [this](QMediaPlayer::MediaStatus status) {
                             if (status == QMediaPlayer::EndOfMedia && callbacks_.ended) {
                                 callbacks_.ended();
                             }
                         });
    }
    ~QtMediaPlayback() override {
        QObject::disconnect(&sink_, nullptr, &sink_, nullptr);
        QObject::disconnect(&media_, nullptr, &media_, nullptr);
        media_.stop();
    }

    void setSource(const std::filesystem::path& file) override {
        media_.setSource(QUrl::fromLocalFile(QFile::decodeName(file.c_str())));
    }
    bool hasSource() const override { return !media_.source().isEmpty(); }
    void play() override { media_.play(); }
    void pause() override { media_.pause(); }
    bool isPlaying() const override { return media_.playbackState() == QMediaPlayer::PlayingState; }
    qint64 positionMilliseconds() const override { return media_.position(); }
    void setPositionMilliseconds(qint64 position) override { media_.setPosition(position); }

  private:
    Callbacks callbacks_;
    // The sink and output outlive the player that uses them.
    QVideoSink sink_;
    std::unique_ptr<QAudioOutput> audio_;
    QMediaPlayer media_;
};

}  // namespace

}  // namespace tavrolin

extern "C" tavrolin::MediaPlayback* tavrolin_create_media_playback(
    tavrolin::MediaPlayback::Callbacks callbacks) {
    return new tavrolin::QtMediaPlayback(std::move(callbacks));
}

static_assert(
    std::is_same_v<decltype(&tavrolin_create_media_playback), tavrolin::MediaPlaybackModuleEntry>);
