#include "shell/AppUpdater.h"

#include <QPointer>

namespace tavrolin {

AppUpdater::AppUpdater(UpdateController::Configuration configuration, bool startingUpdater,
                       QObject* parent)
    : QObject(parent), controller_(new UpdateController(std::move(configuration), this)) {
    if (startingUpdater) {
        controller_->startUpdater();
    }
    observe(&UpdateController::canCheckForUpdatesChanged, &UpdateController::canCheckForUpdates,
            &AppUpdater::canCheckForUpdates_);
    observe(&UpdateController::automaticallyChecksForUpdatesChanged,
            &UpdateController::automaticallyChecksForUpdates,
            &AppUpdater::automaticallyChecksForUpdates_);
    observe(&UpdateController::automaticallyDownloadsUpdatesChanged,
            &UpdateController::automaticallyDownloadsUpdates,
            &AppUpdater::automaticallyDownloadsUpdates_);
}

void AppUpdater::observe(void (UpdateController::*signal)(), bool (UpdateController::*read)() const,
                         bool AppUpdater::*flag) {
    auto refresh = [this, read, flag] {
        // Queued: the value is read when the GUI thread gets to it, not when the change fired.
        QMetaObject::invokeMethod(
            this,
            [this, read, flag] {
                const bool value = (controller_->*read)();
                if (this->*flag != value) {
                    this->*flag = value;
                    emit changed();
                }
            },
            Qt::QueuedConnection);
    };
    connect(controller_, signal, this, refresh);
    refresh();
}

}  // namespace tavrolin
