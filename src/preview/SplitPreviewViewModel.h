#pragma once

#include <QObject>
#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "preview/PreviewPlayer.h"
#include "widgets/WorkerPool.h"

namespace tavrolin {

class PreviewPreparing;

// The model of one frame-accurate preview of one file: loads the file's length and frame rate,
// keeps every seek on the frame grid, plays and pauses, steps single frames and repeats steps
// with acceleration while a button is held, and follows the player's position on the owner's
// refresh tick. When the player cannot open the file it shows a copy made by the preview
// service, reporting its progress. Never changes the source, and knows nothing of the view
// that owns it.
//
// GUI thread only. Loading and preparation run on worker threads; their results come back to
// the GUI thread and are dropped once stop() was called or the model is gone. stop() ends
// all work: loading, this model's own preparation (its child process is terminated) and the
// repeat loop; it never blocks.
class SplitPreviewViewModel : public QObject {
    Q_OBJECT
  public:
    // Starts loading at once with the real player and clock.
    SplitPreviewViewModel(std::filesystem::path url, std::shared_ptr<PreviewPreparing> service,
                          QObject* parent = nullptr);
    // For tests: any player and clock.
    SplitPreviewViewModel(std::filesystem::path url, std::shared_ptr<PreviewPreparing> service,
                          std::unique_ptr<PreviewPlayer> player,
                          std::unique_ptr<FrameRepeatClock> clock, QObject* parent = nullptr);
    ~SplitPreviewViewModel() override;

    PreviewPlayer& player() const { return *player_; }
    const std::filesystem::path& url() const { return url_; }
    double duration() const { return duration_; }
    double frameRate() const { return frameRate_; }
    // False once loading found no video (audio alone): there is no picture, and the frame rate
    // is only the grid that seeks keep to, not the file's.
    bool hasVideo() const { return hasVideo_; }
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }
    double currentTime() const { return currentTime_; }
    bool isPlaying() const { return isPlaying_; }
    bool isPreparingPreview() const { return isPreparingPreview_; }
    double preparationProgress() const { return preparationProgress_; }
    bool usesPreparedPreview() const { return usesPreparedPreview_; }
    long long currentFrame() const;

    // Two-way bindings of owners that drive the fields themselves.
    void setCurrentTime(double seconds);
    void setPlaying(bool playing);

    void togglePlayback();
    void seek(double seconds, bool keepPlaying);
    void stepFrame(int frames);
    void beginFrameRepeat(int direction);
    void endFrameRepeat();
    void syncCurrentTime();
    void stop();

  signals:
    void changed();

  private:
    void load();
    void applyLoadedMedia(PreviewMediaInfo media);
    void loadPreparedPreview();
    void reportPreparationProgress(double fraction);
    void failPreparation(std::exception_ptr error);
    void repeatStep();

    const std::filesystem::path url_;
    std::shared_ptr<PreviewPreparing> previewService_;
    std::unique_ptr<PreviewPlayer> player_;
    std::unique_ptr<FrameRepeatClock> repeatClock_;
    std::stop_source metadataTask_;

    double duration_ = 0;
    double frameRate_ = 30.0;
    bool hasVideo_ = true;
    std::optional<std::string> errorMessage_;
    double currentTime_ = 0;
    bool isPlaying_ = false;
    bool isPreparingPreview_ = false;
    double preparationProgress_ = 0;
    bool usesPreparedPreview_ = false;
    double lastFrameTime_ = 0;

    bool isRepeating_ = false;
    int repeatDirection_ = 0;
    double repeatElapsed_ = 0;
    double repeatInterval_ = 0;
    // Preparations run here. Declared last: let go first, after the destructor requested stop,
    // which ends the preparation's ffmpeg child; nothing waits for it.
    WorkerPool workers_;
};

}  // namespace tavrolin
