#pragma once

#include <QApplication>
#include <QByteArray>

namespace tavtest {

// The one QApplication of a widget test executable, made on first use. Widget tests run on the
// offscreen platform unless the environment names another.
inline QApplication& qtApplication() {
    static QApplication* application = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        static int argc = 1;
        static char name[] = "tavrolin-test";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *application;
}

}  // namespace tavtest
