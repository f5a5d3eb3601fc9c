#pragma once

#include <QPointer>
#include <QWidget>
#include <filesystem>
#include <optional>

#include "preview/SplitVideoPreview.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QStackedLayout;
class QTimer;

namespace tavrolin {

class ElidedLabel;
class WrappingLabel;
class OutputFolderRow;
class SplitViewModel;

// The selected Split source's pane: its header, a frame-accurate preview, the operation with
// its times and, under each, the keyframe its cut really falls on, the container, the shared
// output folder, and the bar that queues every source. A file that is not media shows why in
// place of the preview and the settings.
// Holds no state of its own beyond the preview of the selected file, which it replaces when
// the selection moves to another file; a 50 ms timer refreshes that preview while there is one.
// GUI thread only.
class SplitSourceEditor : public QWidget {
    Q_OBJECT
  public:
    explicit SplitSourceEditor(SplitViewModel& viewModel, QWidget* parent = nullptr);
    ~SplitSourceEditor() override;

    SplitVideoPreview* preview() const { return preview_; }
    // Where the focus goes when the queue button holding it is disabled (pressed, the button
    // waits for the folder check, then the page empties): the page's "Add File".
    void setFocusHeir(QWidget* heir) { focusHeir_ = heir; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* buildContent();
    QWidget* buildSettings();
    QWidget* buildBottomBar();
    void render();
    void showPreviewFor(const std::filesystem::path& file);
    void dropPreview();
    // The preview, buttons and all, as tall as the settings area shows.
    void fitPreview();

    SplitViewModel& viewModel_;
    QStackedLayout* pages_;
    QWidget* placeholder_;
    QWidget* content_;
    WrappingLabel* fileName_;
    ElidedLabel* folder_;
    QScrollArea* settingsArea_;
    QGroupBox* previewBox_;
    QWidget* notMediaNote_;
    QLabel* notMediaText_;
    QPointer<SplitVideoPreview> preview_;
    std::optional<std::filesystem::path> previewFile_;
    // The source whose settings show; another one opens them scrolled to the top.
    std::optional<std::filesystem::path> shownFile_;
    QTimer* refreshTimer_;
    QGroupBox* settingsBox_;
    QLabel* settingsNote_;
    QComboBox* operation_;
    QLabel* startLabel_;
    QLineEdit* start_;
    QLabel* startNote_;
    QLabel* endLabel_;
    QLineEdit* end_;
    QLabel* endNote_;
    QLabel* splitLabel_;
    QLineEdit* splitPoint_;
    QLabel* splitNote_;
    QLabel* containerNote_;
    QComboBox* container_;
    OutputFolderRow* outputFolder_;
    QWidget* keyframeNote_;
    WrappingLabel* validation_;
    QPushButton* queueButton_;
    QWidget* focusHeir_ = nullptr;
};

}  // namespace tavrolin
