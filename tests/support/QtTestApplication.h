#pragma once

#include <QApplication>
#include <QByteArray>
#include <QDeadlineTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>

namespace tavtest {

inline QtMessageHandler standardMessageHandler = nullptr;

// A symbol the code names but the resources lack shows as an empty button: fail the test.
inline void failOnMissingIcon(QtMsgType type, const QMessageLogContext& context,
                              const QString& message) {
    if (message.contains(QStringLiteral(":/tavrolin/icons/"))) {
        ADD_FAILURE() << message.toStdString();
    }
    if (standardMessageHandler) {
        standardMessageHandler(type, context, message);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    }
}

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
        standardMessageHandler = qInstallMessageHandler(failOnMissingIcon);
        return new QApplication(argc, argv);
    }();
    return *application;
}

// Serves the GUI thread until `predicate` holds; false when `timeoutMs` passed first. (The QTRY
// macros report to Qt Test, not to GoogleTest, so they cannot fail a test here.) The default
// deadline only ends a wait that would never succeed: on two busy cores, child processes that
// start in milliseconds on an idle machine can take seconds.
template <typename Predicate>
[[nodiscard]] bool waitUntil(Predicate predicate, int timeoutMs = 60000) {
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
