#pragma once

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

// The settings window: FFmpeg location and status, the licence notice, the local model server,
// the update settings and the support links. Opens centred over its parent's window; Escape and
// Ctrl+W close it.
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
