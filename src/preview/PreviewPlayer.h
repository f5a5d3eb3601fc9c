#pragma once

#include <QImage>
#include <QObject>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <stop_token>

namespace tavrolin {

class FrameDecoder;

// What loading a file found: its length and nominal rate, and what the player needs to show it.
struct PreviewMediaInfo {
    std::filesystem::path file;
    double duration = 0;                    // seconds, 0 when unknown
    double frameRate = 0;                   // nominal frames per second, 0 when the file names none
    double lastFrameTime = 0;               // seconds from the start to the last frame
    bool hasVideo = true;                   // false for a file of audio alone
    std::shared_ptr<FrameDecoder> decoder;  // absent for files without video
};

// The player behind one preview: loads a file, plays it with sound, pauses, reports where it
// is, seeks exactly and paints the current picture. GUI thread only; callbacks run on the GUI
// thread. Destroying it drops pending callbacks.
class PreviewPlayer : public QObject {
    Q_OBJECT
  public:
    using Loaded = std::function<void(PreviewMediaInfo)>;
    using Failed = std::function<void(std::exception_ptr)>;

    using QObject::QObject;

    // Inspects `file` off the GUI thread, then calls one of the two callbacks; neither runs
    // once `stop` was requested.
    virtual void load(const std::filesystem::path& file, std::stop_token stop, Loaded loaded,
                      Failed failed) = 0;
    // Makes a loaded file the current item, paused at its start.
    virtual void setMedia(PreviewMediaInfo media) = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual bool isPlaying() const = 0;
    // True once playback ran to the end of the media and stopped there.
    virtual bool hasEnded() const = 0;
    // Seconds; may be NaN while nothing is loaded.
    virtual double position() const = 0;
    // Exact: a paused player shows the frame whose interval holds `seconds`.
    virtual void seek(double seconds) = 0;
    virtual QImage picture() const = 0;

  signals:
    void pictureChanged();
};

// Calls back once after a delay on the GUI thread; scheduling again replaces the pending call.
class FrameRepeatClock {
  public:
    virtual ~FrameRepeatClock() = default;
    virtual void schedule(double seconds, std::function<void()> fire) = 0;
    virtual void cancel() = 0;
};

}  // namespace tavrolin
