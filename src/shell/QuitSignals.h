#pragma once

#include <QObject>
#include <csignal>
#include <vector>

class QSocketNotifier;

namespace tavrolin {

// Turns SIGTERM, SIGINT and SIGHUP into an orderly quit on the GUI thread, so a session logout
// or a kill from a terminal also stops the running job and lets it clean up. The handler only
// writes one byte into a socket pair; the GUI thread reads it and emits `quitRequested`.
// One instance per process; the previous handlers come back when it goes away.
class QuitSignals : public QObject {
    Q_OBJECT
  public:
    explicit QuitSignals(std::vector<int> signalNumbers = {SIGTERM, SIGINT, SIGHUP},
                         QObject* parent = nullptr);
    ~QuitSignals() override;

  signals:
    void quitRequested(int signalNumber);

  private:
    std::vector<int> signalNumbers_;
    std::vector<struct sigaction> previous_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace tavrolin
