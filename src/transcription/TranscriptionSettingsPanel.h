#pragma once

#include <QWidget>

#include <optional>
#include <string>

#include "transcription/TranscriptionWorkspaceState.h"

class QComboBox;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;

namespace tavrolin {

class ElidedLabel;
class StatusLine;
class TranscriptionViewModel;
class WrappingLabel;

// A fraction is known while audio is prepared or speech transcribed with a reported fraction.
std::optional<double> knownProgressFraction(const BatchTranscriptionSource* source);
// truncate(fraction × 100) followed by "%".
std::string truncatedPercentText(double fraction);

// The availability of on-device transcription as one line. GUI thread only.
class TranscriptionAvailabilityNote : public QWidget {
    Q_OBJECT

  public:
    explicit TranscriptionAvailabilityNote(QWidget* parent = nullptr);
    void render(const TranscriptionWorkspaceAvailability& availability);

  private:
    QLabel* icon_;
    QLabel* text_;
    QProgressBar* busy_;
};

// The title, batch text, percentage and bar of the selected source's progress. GUI thread only.
class TranscriptionProgressBlock : public QWidget {
    Q_OBJECT

  public:
    // `withNote`: the setup card's version, with the note about long files.
    TranscriptionProgressBlock(bool withNote, QWidget* parent = nullptr);
    void render(const TranscriptionWorkspaceState& state);

  private:
    QLabel* title_;
    QLabel* batchText_;
    QLabel* percent_;
    QProgressBar* bar_;
};

// The error or, failing that, the notice of the workspace. GUI thread only.
class TranscriptionStatusMessages : public QWidget {
    Q_OBJECT

  public:
    explicit TranscriptionStatusMessages(QWidget* parent = nullptr);
    void render(const TranscriptionWorkspaceState& state);

  private:
    StatusLine* line_;
};

// The card shown before the selected source has cues: availability, source summary, audio track
// and spoken language, progress and messages. Each control is one view-model call; GUI thread
// only.
class TranscriptionSetupCard : public QWidget {
    Q_OBJECT

  public:
    explicit TranscriptionSetupCard(TranscriptionViewModel& viewModel, QWidget* parent = nullptr);
    void render();

  private:
    TranscriptionViewModel& viewModel_;
    TranscriptionAvailabilityNote* availability_;
    WrappingLabel* sourceName_;
    ElidedLabel* folder_;
    QProgressBar* inspecting_;
    QComboBox* audioTrack_;
    QComboBox* language_;
    QPushButton* applyToAll_;
    QWidget* progressGroup_;
    TranscriptionProgressBlock* progress_;
    TranscriptionStatusMessages* messages_;
};

// The bottom bar: cancel, queued, clear or transcribe in the first slot, then the subtitle and
// media exports once there are cues. GUI thread only.
class TranscriptionActionBar : public QWidget {
    Q_OBJECT

  public:
    explicit TranscriptionActionBar(TranscriptionViewModel& viewModel, QWidget* parent = nullptr);
    void render();
    // Takes the focus from a button that a render disables or hides.
    void setFocusHeir(QWidget* heir) { focusHeir_ = heir; }

  signals:
    void clearRequested();

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    enum class FirstSlot { cancel, queued, clear, transcribe };
    void firstSlotClicked();
    // One row when the buttons fit, else the media export moves to a second row.
    void arrangeRows();

    TranscriptionViewModel& viewModel_;
    FirstSlot firstSlot_ = FirstSlot::transcribe;
    QPushButton* first_;
    QPushButton* exportSubtitles_;
    QComboBox* container_;
    QPushButton* exportMedia_;
    StatusLine* exportReason_;
    QHBoxLayout* topRow_;
    QHBoxLayout* bottomRow_;
    bool twoRows_ = false;
    QWidget* focusHeir_ = nullptr;
};

}  // namespace tavrolin
