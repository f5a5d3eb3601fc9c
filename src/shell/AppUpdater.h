#pragma once

#include <QObject>

#include "shell/UpdateController.h"

namespace tavrolin {

// Mirrors the updater's three properties for the menu and the settings window. The flags change
// only when the controller reports a change; each report rereads the current value on the GUI
// thread, so several quick changes end on the last value.
class AppUpdater : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY changed)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates NOTIFY changed)
    Q_PROPERTY(bool automaticallyDownloadsUpdates READ automaticallyDownloadsUpdates NOTIFY changed)
  public:
    AppUpdater(UpdateController::Configuration configuration, bool startingUpdater,
               QObject* parent = nullptr);

    bool canCheckForUpdates() const { return canCheckForUpdates_; }
    bool automaticallyChecksForUpdates() const { return automaticallyChecksForUpdates_; }
    bool automaticallyDownloadsUpdates() const { return automaticallyDownloadsUpdates_; }

    // The settings toggles write here; the flags above follow through the observation.
    UpdateController* controller() const { return controller_; }
    // A user-initiated check.
    void checkForUpdates() { controller_->checkForUpdates(); }

  signals:
    void changed();

  private:
    void observe(void (UpdateController::*signal)(), bool (UpdateController::*read)() const,
                 bool AppUpdater::*flag);

    bool canCheckForUpdates_ = false;
    bool automaticallyChecksForUpdates_ = false;
    bool automaticallyDownloadsUpdates_ = false;
    UpdateController* controller_;
};

}  // namespace tavrolin
