#include <QApplication>
#include <QIcon>
#include <chrono>

#include "app/QuitSignals.h"
#include "app/TavrolinApp.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tavrolin"));
    QApplication::setApplicationName(QStringLiteral("Tavrolin"));
    QApplication::setApplicationVersion(QStringLiteral(TAVROLIN_VERSION));
    // The installed desktop entry and icon carry this name.
    QApplication::setDesktopFileName(QStringLiteral("app.tavrolin.Tavrolin"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("app.tavrolin.Tavrolin"),
                                                 QIcon(QStringLiteral(":/tavrolin/app-icon.svg"))));

    tavrolin::TavrolinApp app(tavrolin::TavrolinApp::standardConfiguration());
    // Quitting stops a running job and lets it remove its working files first.
    QObject::connect(&application, &QCoreApplication::aboutToQuit,
                     [&app] { app.shutdown(std::chrono::seconds(5)); });
    // A termination signal quits the same way, with the same clean-up.
    tavrolin::QuitSignals quitSignals;
    QObject::connect(&quitSignals, &tavrolin::QuitSignals::quitRequested, &application,
                     &QApplication::quit);
    app.mainWindow()->show();
    return QApplication::exec();
}
