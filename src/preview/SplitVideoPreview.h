#pragma once

#include <QPushButton>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QSlider;
class QTimer;

namespace tavrolin {

class PreviewPlayer;
class PreviewPreparing;
class SplitPreviewViewModel;

// A frame button: a click (or its shortcut) steps once; a press held for 0.35 s without moving
// more than 24 points starts the model's accelerating repeat, which ends at once on release
// with no extra step.
class AcceleratingFrameButton : public QPushButton {
    Q_OBJECT
  public:
    AcceleratingFrameButton(const QString& title, const QString& symbol,
                            const QString& shortcutText, std::function<void()> stepOnce,
                            std::function<void()> beginRepeating,
                            std::function<void()> endRepeating, QWidget* parent = nullptr);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    std::function<void()> stepOnce_;
    std::function<void()> beginRepeating_;
    std::function<void()> endRepeating_;
    QTimer* longPress_;
    QPoint pressedAt_;
    bool suppressReleaseStep_ = false;
};

// Paints the player's picture letterboxed on black in a rounded frame.
class SplitPlayerSurface : public QWidget {
    Q_OBJECT
  public:
    explicit SplitPlayerSurface(PreviewPlayer& player, QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    PreviewPlayer& player_;
};

// The frame-accurate player of the split editor: the picture, position slider, play/pause,
// frame buttons with their shortcuts ("," "." and Space, never while a text field has the
// focus), time, frame number and rate, and the buttons that hand the position to the parent.
// For audio alone it shows no picture, frame number, rate or frame buttons: the time only.
// Owns one preview model for its file; destroying the view stops the model. GUI thread only.
class SplitVideoPreview : public QWidget {
    Q_OBJECT
  public:
    struct Actions {
        std::function<void(double)> setStart;
        std::function<void(double)> setEnd;
        std::function<void(double)> splitHere;
    };

    SplitVideoPreview(std::unique_ptr<SplitPreviewViewModel> model, Actions actions,
                      QWidget* parent = nullptr);
    SplitVideoPreview(const std::filesystem::path& url,
                      std::shared_ptr<PreviewPreparing> previewService, Actions actions,
                      QWidget* parent = nullptr);
    ~SplitVideoPreview() override;

    SplitPreviewViewModel& model() const { return *model_; }
    void setSelectionSummary(const QString& summary);
    // Gives the picture `height`, within 160 and 340: the owner fits the whole preview, its
    // buttons included, into the height it shows.
    void setPictureHeight(int height);
    int pictureHeight() const;
    // One refresh tick of the owner's timer.
    void refresh();

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    void build();
    void render();
    void addShortcut(const QKeySequence& key, QAbstractButton* button);

    std::unique_ptr<SplitPreviewViewModel> model_;
    Actions actions_;
    SplitPlayerSurface* surface_;
    QWidget* errorRow_;
    QLabel* errorText_;
    QWidget* preparingBox_;
    QLabel* preparingPercent_;
    QProgressBar* preparingBar_;
    QWidget* preparedNote_;
    QSlider* slider_;
    QPushButton* playButton_;
    AcceleratingFrameButton* previousButton_;
    AcceleratingFrameButton* nextButton_;
    QLabel* timeText_;
    QLabel* frameText_;
    QPushButton* setStartButton_;
    QPushButton* setEndButton_;
    QPushButton* splitHereButton_;
    QLabel* splitHereReason_;
    QLabel* summary_;
};

}  // namespace tavrolin
