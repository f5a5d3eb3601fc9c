#pragma once

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QUrl>
#include <filesystem>
#include <functional>
#include <memory>
#include <stop_token>

#include "model/PreferencesStore.h"
#include "planning/LanguageModelServerSettings.h"
#include "process/FFmpegToolchain.h"
#include "process/ProcessRunning.h"

namespace tavrolin {

class BlockingFileWork;
class SettingsModelServer;

// The settings window's state: which ffmpeg is in use, the user's choice of executable, the
// licence notice of the FFmpeg in use, and the local model server. GUI thread only. The tools
// are looked for, and a chosen file checked, each on a thread of its own, since the folders
// they are in may be slow or hang; the window never waits for them, nor does the destructor.
class SettingsViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString customPath READ customPath NOTIFY changed)
    Q_PROPERTY(QString status READ status NOTIFY changed)
    Q_PROPERTY(bool isAvailable READ isAvailable NOTIFY changed)
    Q_PROPERTY(QString licenseNotice READ licenseNotice NOTIFY changed)
    Q_PROPERTY(QString choiceNote READ choiceNote NOTIFY changed)
  public:
    static constexpr const char* customFFmpegPathKey = "customFFmpegPath";

    struct Dependencies {
        std::shared_ptr<PreferencesStore> preferences;
        // Where the tools are looked for; its preferences are `preferences`.
        ToolLocations locations;
        // Runs `ffmpeg -version` for the licence notice, off the GUI thread.
        std::shared_ptr<ProcessRunning> runner;
        std::function<bool(const QUrl&)> openURL;
        // The notice installed with a bundled ffmpeg.
        std::filesystem::path bundledNotice;
        std::filesystem::path systemNotice = "/usr/share/doc/ffmpeg/copyright";
        // Where the model server's settings come from when the preferences hold none.
        LanguageModelServerSettings::Environment environment =
            LanguageModelServerSettings::processEnvironment;
    };

    // Reads "customFFmpegPath" and starts checking the tools.
    explicit SettingsViewModel(Dependencies dependencies, QObject* parent = nullptr);
    ~SettingsViewModel() override;

    QString customPath() const { return customPath_; }
    QString status() const { return status_; }
    bool isAvailable() const { return isAvailable_; }
    // While the tools are being looked for; `status` then reads "Checking…".
    bool isChecking() const { return isChecking_; }
    // Empty until `ffmpeg -version` has answered.
    QString licenseNotice() const { return licenseNotice_; }

    // What became of the last chosen file: "Checking “ffmpeg”…" while it is checked, why it
    // cannot be used when it was refused, else empty.
    QString choiceNote() const { return choiceNote_; }
    bool choiceRefused() const { return choiceRefused_; }

    // Shows "Checking…", resolves the tools anew in the background, then shows what was found
    // and rereads the licence.
    void refreshStatus();
    // "Choose ffmpeg…" confirmed: checks the file in the background; only a file that runs as
    // ffmpeg is stored and used, else the one in use stays and `choiceNote` says why.
    void chooseFFmpeg(const std::filesystem::path& executable);
    // "Use Automatic Location": removes the stored path and rechecks.
    void useAutomaticLocation();
    // The notice of the ffmpeg in use: the bundled one, else the system package's.
    QUrl licenseURL() const;
    void openFFmpegLicense();

    // The local model server's fields and status.
    SettingsModelServer* modelServer() const { return modelServer_; }

  signals:
    void changed();

  private:
    struct Resolution;
    void showResolution(const Resolution& resolution);
    void useChoice(const std::filesystem::path& executable);
    void readLicense(const std::filesystem::path& ffmpeg, bool isBundled);

    Dependencies dependencies_;
    QString customPath_;
    QString status_;
    bool isAvailable_ = false;
    bool isChecking_ = false;
    bool usesBundledFFmpeg_ = false;
    QString licenseNotice_;
    QString choiceNote_;
    bool choiceRefused_ = false;
    SettingsModelServer* modelServer_;
    quint64 statusGeneration_ = 0;
    quint64 choiceGeneration_ = 0;
    std::stop_source choiceTask_;
    std::unique_ptr<BlockingFileWork> checks_;
    std::stop_source licenseTask_;
    quint64 licenseGeneration_ = 0;
    // Declared last: destroyed first, joining a read whose ffmpeg the stop has ended.
    QThreadPool licensePool_;
};

}  // namespace tavrolin
