#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QTimer>
#include <chrono>
#include <thread>

#include <fontconfig/fontconfig.h>

#include "process/StartupGate.h"
#include "shell/ApplicationStyle.h"
#include "shell/QuitSignals.h"
#include "shell/TavrolinApp.h"

namespace {

// Opens the startup gate once the window's first picture is on the screen: the paint event
// comes before the frame is flushed, so the gate opens on the next turn of the event loop.
class FirstPaintWatcher : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [] {
                tavrolin::StartupGate::open();
                // Looking the icon up in the theme and reading its picture would hold up the
                // first picture by several milliseconds; the window manager takes it as it comes.
                QApplication::setWindowIcon(
                    QIcon::fromTheme(QStringLiteral("app.tavrolin.Tavrolin"),
                                     QIcon(QStringLiteral(":/tavrolin/app-icon.svg"))));
            });
        }
        return false;
    }
};

// Reading the font configuration takes milliseconds that the window's first text would wait
// for; it is read on a thread of its own while the application connects to the display. Qt
// takes the configuration it finds made.
class FontConfigurationPreload {
  public:
    FontConfigurationPreload() : thread_([] { FcInit(); }) {}
    ~FontConfigurationPreload() { wait(); }
    void wait() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }

  private:
    std::thread thread_;
};

// Whatever way main() is left, no check stays held back.
struct StartupGateReleaser {
    ~StartupGateReleaser() { tavrolin::StartupGate::open(); }
};

}  // namespace

int main(int argc, char** argv) {
    tavrolin::StartupGate::close();
    const StartupGateReleaser releaser;
    FontConfigurationPreload fonts;
    QApplication application(argc, argv);
    fonts.wait();
    QApplication::setStyle(new tavrolin::ApplicationStyle);
    QApplication::setOrganizationName(QStringLiteral("Tavrolin"));
    QApplication::setApplicationName(QStringLiteral("Tavrolin"));
    QApplication::setApplicationVersion(QStringLiteral(TAVROLIN_VERSION));
    // The installed desktop entry and icon carry this name.
    QApplication::setDesktopFileName(QStringLiteral("app.tavrolin.Tavrolin"));

    tavrolin::TavrolinApp app(tavrolin::TavrolinApp::standardConfiguration());
    // Quitting stops a running job and lets it remove its working files first; a check that
    // still waits for the first paint must not hold that up.
    QObject::connect(&application, &QCoreApplication::aboutToQuit, [&app] {
        tavrolin::StartupGate::open();
        app.shutdown(std::chrono::seconds(5));
    });
    // A termination signal quits the same way, with the same clean-up.
    tavrolin::QuitSignals quitSignals;
    QObject::connect(&quitSignals, &tavrolin::QuitSignals::quitRequested, &application,
                     &QApplication::quit);
    FirstPaintWatcher firstPaint;
    app.mainWindow()->installEventFilter(&firstPaint);
    app.mainWindow()->show();
    return QApplication::exec();
}
