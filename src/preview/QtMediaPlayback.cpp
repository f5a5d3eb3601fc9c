// The playback module: Qt Multimedia behind MediaPlayback, with its entry point.
//
// Qt Multimedia opens, reads and seeks the file inside the calls made to it (GStreamer changes the
// pipeline's state in the calling thread, and Qt asks whether the file exists first): on the GUI
// thread a slow or hung folder would hold the window there. So the player lives on a thread of
// its own. The calls below post to it and return at once; what the GUI thread reads back
// (playing, position) is kept on this side, the position as the player's thread last read it.
#include <QAudioDevice>
#include <QAudioOutput>
#include <QFile>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>

#include <atomic>
#include <chrono>
#include <mutex>
#include <type_traits>
#include <vector>

#include "preview/MediaPlayback.h"

namespace tavrolin {

namespace {

// What both threads share. Commands are counted as posted and as applied, so that the player's
// thread reports the position, and the GUI side heeds a stop, only once no later command waits.
struct Shared {
    std::atomic<qint64> position{0};
    std::atomic<long long> posted{0};
    std::atomic<long long> applied{0};
    // The player's thread is inside a command (opening a file in a hung folder may hold it).
    std::atomic<bool> inCommand{false};
    // The player is not made yet. Making it reads no file, so it ends however the folder is,
    // but on a loaded machine it may outlast a close's wait.
    std::atomic<bool> making{true};
    // The GUI side is gone: what is still queued for the player's thread is skipped, so that it
    // reaches the close at once (and a player never made is never made).
    std::atomic<bool> closing{false};
    std::mutex mutex;
    // None once the GUI side is gone; posting happens under the lock, so it stands meanwhile.
    QObject* receiver = nullptr;

    template <typename Work>
    void toGui(Work work) {
        const std::lock_guard lock(mutex);
        if (receiver != nullptr) {
            QMetaObject::invokeMethod(receiver, std::move(work), Qt::QueuedConnection);
        }
    }
};

// The player and its outputs: made, used and destroyed on the player's thread.
class Player : public QObject {
  public:
    // What the player's thread hands to the GUI side: a picture while playing, and that playback
    // stopped (at its end or not), stamped with the commands applied by then.
    struct Notices {
        std::function<void(QImage)> picture;
        std::function<void(long long applied, bool atEnd)> stopped;
    };

    Player(std::shared_ptr<Shared> shared, Notices notices)
        : shared_(std::move(shared)), notices_(std::move(notices)) {}
    ~Player() override { close(); }

    void open() {
        if (shared_->closing) {
            shared_->making = false;
            return;
        }
        // Made here, so that each belongs to this thread.
        poll_ = std::make_unique<QTimer>();
        poll_->setInterval(std::chrono::milliseconds(15));
        connect(poll_.get(), &QTimer::timeout, this, [this] { notePosition(); });
        sink_ = std::make_unique<QVideoSink>();
        media_ = std::make_unique<QMediaPlayer>();
        media_->setVideoSink(sink_.get());
        // Without an output device the player would fail to play at all; then it plays silently.
        if (!QMediaDevices::defaultAudioOutput().isNull()) {
            audio_ = std::make_unique<QAudioOutput>();
            media_->setAudioOutput(audio_.get());
        }
        connect(sink_.get(), &QVideoSink::videoFrameChanged, this,
                [this](const QVideoFrame& frame) {
                    if (playing() && frame.isValid()) {
                        shared_->toGui([picture = frame.toImage(), notify = notices_.picture] {
                            notify(picture);
                        });
                    }
                });
        connect(media_.get(), &QMediaPlayer::playbackStateChanged, this,
                [this](QMediaPlayer::PlaybackState state) {
                    if (state == QMediaPlayer::PlayingState) {
                        poll_->start();
                    } else {
                        poll_->stop();
                    }
                    if (state == QMediaPlayer::StoppedState) {
                        report(false);
                    }
                });
        connect(media_.get(), &QMediaPlayer::mediaStatusChanged, this,
                [this](QMediaPlayer::MediaStatus status) {
                    if (status == QMediaPlayer::EndOfMedia) {
                        report(true);
                    }
                });
        shared_->making = false;
    }

    // Runs one command posted by the GUI side.
    template <typename Command>
    void apply(Command command) {
        shared_->inCommand = true;
        if (media_ && !shared_->closing) {
            command(*media_);
        }
        shared_->inCommand = false;
        ++shared_->applied;
        notePosition();
    }

    void close() {
        if (media_) {
            disconnect(media_.get(), nullptr, this, nullptr);
            disconnect(sink_.get(), nullptr, this, nullptr);
            media_->stop();
        }
        // The player goes before the sink and output it uses.
        media_.reset();
        audio_.reset();
        sink_.reset();
        poll_.reset();
    }

  private:
    bool playing() const { return media_ && media_->playbackState() == QMediaPlayer::PlayingState; }
    void notePosition() {
        if (media_ && playing() && shared_->applied == shared_->posted) {
            shared_->position = media_->position();
        }
    }
    void report(bool atEnd) {
        shared_->toGui([applied = shared_->applied.load(), atEnd, notify = notices_.stopped] {
            notify(applied, atEnd);
        });
    }

    std::shared_ptr<Shared> shared_;
    Notices notices_;
    std::unique_ptr<QTimer> poll_;
    std::unique_ptr<QVideoSink> sink_;
    std::unique_ptr<QAudioOutput> audio_;
    std::unique_ptr<QMediaPlayer> media_;
};

// How long closing a player is waited for: long enough for a player that closes at once, short
// enough not to hold the window. Closing a file playing from a folder that stopped answering
// never ends (its reading thread is stuck in a read, and stopping waits for it).
constexpr std::chrono::milliseconds closeWait{250};

// Players' threads that were let go while closing: each ends on its own once its player has
// closed, which a hung folder may hold for good. Looked at whenever another is let go; at exit
// they are given one moment together to end, so that none tears its player down while the
// process's statics go, and those still held end with the process.
class RetiredThreads {
  public:
    static RetiredThreads& instance() {
        static RetiredThreads threads;
        return threads;
    }
    void keep(QThread* thread) {
        const std::lock_guard lock(mutex_);
        std::erase_if(threads_, [](QThread* kept) {
            if (!kept->isFinished()) {
                return false;
            }
            delete kept;
            return true;
        });
        threads_.push_back(thread);
    }
    ~RetiredThreads() {
        const std::lock_guard lock(mutex_);
        const QDeadlineTimer deadline(closeWait);
        for (QThread* thread : threads_) {
            if (thread->wait(deadline)) {
                delete thread;
            }
        }
    }

  private:
    std::mutex mutex_;
    std::vector<QThread*> threads_;
};

class QtMediaPlayback final : public MediaPlayback {
  public:
    explicit QtMediaPlayback(Callbacks callbacks)
        : callbacks_(std::move(callbacks)), shared_(std::make_shared<Shared>()) {
        shared_->receiver = &receiver_;
        player_ = new Player(shared_, {[this](QImage picture) {
                                           if (playing_ && callbacks_.picture) {
                                               callbacks_.picture(std::move(picture));
                                           }
                                       },
                                       [this](long long applied, bool atEnd) {
                                           // A command posted since then decides.
                                           if (applied != shared_->posted) {
                                               return;
                                           }
                                           playing_ = false;
                                           if (atEnd && callbacks_.ended) {
                                               callbacks_.ended();
                                           }
                                       }});
        thread_ = new QThread;
        thread_->setObjectName(QStringLiteral("Preview playback"));
        player_->moveToThread(thread_);
        // Deleted on its own thread once that has ended.
        QObject::connect(thread_, &QThread::finished, player_, &QObject::deleteLater);
        thread_->start();
        QMetaObject::invokeMethod(
            player_, [player = player_] { player->open(); }, Qt::QueuedConnection);
    }
    ~QtMediaPlayback() override {
        {
            const std::lock_guard lock(shared_->mutex);
            shared_->receiver = nullptr;
        }
        shared_->closing = true;
        // Waiting a moment for the close keeps a player's teardown from overlapping the
        // application's; commands still queued are skipped. One still in a command may be held
        // by a hung folder, and so may closing a file that plays from one: such a player is not
        // waited for (or not for long), and closes whenever the folder lets it.
        const bool idle = !shared_->inCommand;
        // A player still being made is waited for: let go, it would go on loading Qt's media
        // plugins while the process's statics go.
        const bool making = shared_->making;
        QMetaObject::invokeMethod(
            player_,
            [player = player_] {
                player->close();
                QThread::currentThread()->quit();
            },
            Qt::QueuedConnection);
        if (idle && thread_->wait(making ? QDeadlineTimer(QDeadlineTimer::Forever)
                                         : QDeadlineTimer(closeWait))) {
            delete thread_;
        } else {
            RetiredThreads::instance().keep(thread_);
        }
    }

    void setSource(const std::filesystem::path& file) override {
        hasSource_ = !file.empty();
        playing_ = false;
        shared_->position = 0;
        post([url = QUrl::fromLocalFile(QFile::decodeName(file.c_str()))](QMediaPlayer& media) {
            media.setSource(url);
        });
    }
    bool hasSource() const override { return hasSource_; }
    void play() override {
        playing_ = true;
        post([](QMediaPlayer& media) { media.play(); });
    }
    void pause() override {
        playing_ = false;
        post([](QMediaPlayer& media) { media.pause(); });
    }
    bool isPlaying() const override { return playing_; }
    qint64 positionMilliseconds() const override { return shared_->position; }
    void setPositionMilliseconds(qint64 position) override {
        shared_->position = position;
        post([position](QMediaPlayer& media) { media.setPosition(position); });
    }

  private:
    template <typename Command>
    void post(Command command) {
        ++shared_->posted;
        QMetaObject::invokeMethod(
            player_, [player = player_, command] { player->apply(command); }, Qt::QueuedConnection);
    }

    Callbacks callbacks_;
    std::shared_ptr<Shared> shared_;
    // Where the player's thread posts to; its going drops what is still on the way.
    QObject receiver_;
    Player* player_ = nullptr;
    QThread* thread_ = nullptr;
    bool hasSource_ = false;
    bool playing_ = false;
};

}  // namespace

}  // namespace tavrolin

extern "C" tavrolin::MediaPlayback* tavrolin_create_media_playback(
    tavrolin::MediaPlayback::Callbacks callbacks) {
    return new tavrolin::QtMediaPlayback(std::move(callbacks));
}

static_assert(
    std::is_same_v<decltype(&tavrolin_create_media_playback), tavrolin::MediaPlaybackModuleEntry>);
