#pragma once

#include <QDialog>

#include <memory>
#include <optional>

#include "model/SubtitleCue.h"
#include "preview/SplitVideoPreview.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;
class QStackedWidget;
class QTimer;
class QToolButton;

namespace tavrolin {

class PreviewPlayer;
class SplitPreviewViewModel;
class TranscriptionViewModel;

// The active cue: the first whose start ≤ time < end.
std::optional<SubtitleCue> activeCue(const std::vector<SubtitleCue>& cues, double time);

// The player's picture letterboxed on black with the active cue's text painted over it in the
// same pass. GUI thread only.
class SubtitleSyncPlayerSurface : public SplitPlayerSurface {
    Q_OBJECT

  public:
    explicit SubtitleSyncPlayerSurface(PreviewPlayer& player, QWidget* parent = nullptr);
    void setCueText(const QString& text);
    QString cueText() const { return cueText_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString cueText_;
};

// The sheet that plays the selected source with its active cue over the picture and nudges all
// its cues earlier or later. Owns its preview model; nothing plays until Play is pressed. A 50 ms
// timer keeps the playhead in step; closing stops the preview (which pauses it). GUI thread only.
class SubtitleSyncReviewSheet : public QDialog {
    Q_OBJECT

  public:
    SubtitleSyncReviewSheet(TranscriptionViewModel& transcription,
                            std::unique_ptr<SplitPreviewViewModel> preview,
                            QWidget* parent = nullptr);
    ~SubtitleSyncReviewSheet() override;

    SplitPreviewViewModel& preview() const { return *preview_; }
    void render();

  protected:
    void done(int result) override;
    // Return on a cue row seeks to it rather than closing the sheet.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QWidget* makeVideoPane();
    QWidget* makeTranscriptPane();
    void renderCueList(const std::optional<SubtitleCue>& active);

    TranscriptionViewModel& transcription_;
    std::unique_ptr<SplitPreviewViewModel> preview_;
    QTimer* refreshTimer_;
    std::optional<std::int64_t> followedCueID_;
    std::vector<SubtitleCue> listedCues_;

    SubtitleSyncPlayerSurface* surface_;
    QLabel* previewStatus_;
    QSlider* playhead_;
    QPushButton* play_;
    QLabel* time_;
    QLabel* cueLabel_;
    QLabel* offset_;
    QPushButton* reset_;
    QPushButton* applyToAll_;
    QLabel* count_;
    QLineEdit* search_;
    QToolButton* clearSearch_;
    QStackedWidget* listStack_;
    QListWidget* cueList_;
};

}  // namespace tavrolin
