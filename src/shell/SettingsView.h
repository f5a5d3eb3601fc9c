#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tavrolin {

class AppUpdater;
class ElidedLabel;
class SettingsViewModel;
class WrappingLabel;

// Where a window whose frame has `frameSize` opens: centred over `over`, then moved inside
// `available` (the screen less its panels); when it cannot fit, its top left corner stays
// inside, so the title bar can always be reached.
QPoint windowPositionInside(const QRect& over, const QSize& frameSize, const QRect& available);

// The settings window: FFmpeg location and status, the licence notice, the local model server,
// the update settings and the support links. Opens centred over its parent's window, inside the
// screen; Escape and Ctrl+W close it.
class SettingsView : public QWidget {
    Q_OBJECT
  public:
    using URLOpener = std::function<bool(const QUrl&)>;
    using ExecutableChooser = std::function<std::optional<std::filesystem::path>()>;

    SettingsView(SettingsViewModel* viewModel, AppUpdater* updater, URLOpener openURL,
                 ExecutableChooser chooseExecutable, QWidget* parent = nullptr);

    SettingsViewModel* viewModel() const { return viewModel_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QWidget* makeModelServerSection();
    void render();
    void renderModelServer();
    void chooseFFmpeg();

    SettingsViewModel* viewModel_;
    AppUpdater* updater_;
    URLOpener openURL_;
    ExecutableChooser chooseExecutable_;

    QLabel* statusIcon_;
    QLabel* status_;
    ElidedLabel* customLocation_;
    WrappingLabel* choiceNote_;
    QPushButton* useAutomatic_;
    QLabel* licenseNotice_;
    QCheckBox* automaticChecks_;
    QCheckBox* automaticDownloads_;
    QPushButton* checkForUpdates_;
    QLineEdit* serverAddress_;
    QLabel* addressProblem_;
    QLineEdit* serverModel_;
    QLabel* serverStatus_;
};

}  // namespace tavrolin
