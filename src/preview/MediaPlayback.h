#pragma once

#include <QImage>
#include <QtGlobal>
#include <filesystem>
#include <functional>
#include <memory>

namespace tavrolin {

// Plays one file with sound and hands over its moving picture: Qt Multimedia, in a module
// loaded on first use so that it and its audio libraries load only when a preview plays.
// Created, used and destroyed on the GUI thread; callbacks run there. No call touches the file
// on the calling thread nor waits for it: the player opens, reads and seeks on a thread of its
// own, and isPlaying and the position are what was last asked for or last reported.
class MediaPlayback {
  public:
    struct Callbacks {
        std::function<void(QImage)> picture;  // each picture while playing
        std::function<void()> ended;          // playback ran to the end of the media
    };

    virtual ~MediaPlayback() = default;

    virtual void setSource(const std::filesystem::path& file) = 0;
    virtual bool hasSource() const = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual bool isPlaying() const = 0;
    virtual qint64 positionMilliseconds() const = 0;
    virtual void setPositionMilliseconds(qint64 position) = 0;
};

// A new player from the playback module. Throws ModuleUnavailableError when it is missing.
std::unique_ptr<MediaPlayback> createMediaPlayback(MediaPlayback::Callbacks callbacks);

inline constexpr const char* mediaPlaybackModuleFile = "libtavrolin-playback.so";
inline constexpr const char* mediaPlaybackModuleEntry = "tavrolin_create_media_playback";
using MediaPlaybackModuleEntry = MediaPlayback* (*)(MediaPlayback::Callbacks callbacks);

}  // namespace tavrolin
