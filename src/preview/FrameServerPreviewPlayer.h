#pragma once

#include <QImage>
#include <QPointer>
#include <memory>
#include <optional>

#include "preview/PreviewPlayer.h"

namespace tavrolin {

class BlockingFileWork;
class FrameServer;
class MediaPlayback;

// The preview's player: Qt Multimedia plays with sound and gives the moving picture; while
// paused, every picture comes from a frame server over the same file, at the frame whose
// interval holds the position. Loading indexes the file on a worker thread; a file that libav
// cannot index fails to load. Both parts are modules loaded on first use: without either,
// every load fails with ModuleUnavailableError. GUI thread only; the frame server decodes on its
// own thread and its pictures are dropped once they are outdated or the player is gone. A load
// runs on a thread of its own that the player never waits for: one held by a hung folder is
// left behind, its result dropped.
class FrameServerPreviewPlayer : public PreviewPlayer {
    Q_OBJECT
  public:
    explicit FrameServerPreviewPlayer(QObject* parent = nullptr);
    ~FrameServerPreviewPlayer() override;

    void load(const std::filesystem::path& file, std::stop_token stop, Loaded loaded,
              Failed failed) override;
    void setMedia(PreviewMediaInfo media) override;
    void play() override;
    void pause() override;
    bool isPlaying() const override;
    bool hasEnded() const override { return hasEnded_; }
    double position() const override;
    void seek(double seconds) override;
    QImage picture() const override { return picture_; }

    // The frame index of the picture shown; -1 while playing or before the first picture.
    long long shownFrame() const { return shownFrame_; }

  private:
    void showFrameAt(double seconds);
    void showPicture(QImage picture, long long frame);

    std::unique_ptr<MediaPlayback> media_;  // absent when its module is
    std::exception_ptr missingPlayback_;    // why it is absent
    std::unique_ptr<FrameServer> frames_;
    PreviewMediaInfo info_;
    QImage picture_;
    long long shownFrame_ = -1;
    long long requestedFrame_ = -1;
    bool hasEnded_ = false;
    std::optional<double> pendingPosition_;  // where playback starts; set while paused
    // Indexing runs here. Declared last: destroyed first, so no load reports to a player going.
    std::unique_ptr<BlockingFileWork> loads_;
};

}  // namespace tavrolin
