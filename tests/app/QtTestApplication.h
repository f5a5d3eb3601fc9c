#pragma once

#include <QApplication>
#include <QByteArray>
#include <QDeadlineTimer>
#include <QTest>

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

// Serves the GUI thread until `predicate` holds; false when `timeoutMs` passed first. (The QTRY
// macros report to Qt Test, not to GoogleTest, so they cannot fail a test here.)
template <typename Predicate>
bool waitUntil(Predicate predicate, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}

}  // namespace tavtest
