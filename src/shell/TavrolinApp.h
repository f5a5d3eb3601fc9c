#pragma once

#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

#include "model/PreferencesStore.h"

class QAction;

namespace tavrolin {

class AppUpdater;
class FileRevealing;
class JobQueueViewModel;
class MediaProcessing;
class RootView;
class SettingsView;
struct UpdateCheckReport;

// The one main window: the root view and the menus.
class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    MainWindow(JobQueueViewModel& queue, std::shared_ptr<PreferencesStore> preferences,
               AppUpdater& updater, std::function<bool(const QUrl&)> openURL,
               QWidget* parent = nullptr);

    RootView* rootView() const { return rootView_; }
    QAction* checkForUpdatesAction() const { return checkForUpdates_; }

  signals:
    void settingsRequested();

  private:
    void showAbout();

    RootView* rootView_;
    QAction* checkForUpdates_;
    std::function<bool(const QUrl&)> openURL_;
};

// The objects that live as long as the process: the job queue with the one processor that runs
// queued jobs, the updater, the main window and, once opened, the settings window.
class TavrolinApp : public QObject {
    Q_OBJECT
  public:
    struct Configuration {
        std::shared_ptr<PreferencesStore> preferences;
        std::shared_ptr<FileRevealing> revealer;
        QUrl appcastURL;
        QString downloadFolder;
        std::function<bool(const QUrl&)> openURL;
        bool startsUpdater = true;
        // Where jobs record their working names; empty records none and cleans nothing at start.
        std::filesystem::path jobRecords;
    };
    // The user's settings, the desktop's file manager and browser, the build's update feed.
    static Configuration standardConfiguration();

    explicit TavrolinApp(Configuration configuration, QObject* parent = nullptr);
    ~TavrolinApp() override;

    MainWindow* mainWindow() const { return mainWindow_; }
    JobQueueViewModel& queue() const { return *queue_; }
    AppUpdater& updater() const { return *updater_; }
    // Opens (creating on first use) the settings window.
    SettingsView* showSettings();
    SettingsView* settingsView() const;

    // For quitting: stops the running job and waits up to `timeout` for its clean-up, then
    // closes the windows, whose pages stop their tasks, and gives the tasks that are ending up
    // to `settleAtQuit` of what is left; one held by a hung folder is not waited for. Returns
    // whether the job ended.
    bool shutdown(std::chrono::milliseconds timeout);
    static constexpr std::chrono::milliseconds settleAtQuit{500};

  private:
    void presentUpdateReport(const UpdateCheckReport& report);

    Configuration configuration_;
    std::shared_ptr<MediaProcessing> processor_;
    std::unique_ptr<JobQueueViewModel> queue_;
    std::unique_ptr<AppUpdater> updater_;
    QPointer<MainWindow> mainWindow_;
    QPointer<SettingsView> settingsView_;
};

}  // namespace tavrolin
