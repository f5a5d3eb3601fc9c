#pragma once

// Real-window tests: a parent case runs this test binary again on an X server of its own (see
// PrivateDisplay.h), where the child case (selected by a variable) builds the application's
// window on the xcb platform.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <QWidget>

#include <filesystem>
#include <vector>

#include "support/PrivateDisplay.h"

namespace tavtest {

inline bool hasProgram(const char* name) {
    return !QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty();
}

inline bool hasWindowManager() {
    return hasProgram("openbox") && hasProgram("xprop");
}

inline QUrl urlOf(const std::filesystem::path& file) {
    return QUrl::fromLocalFile(QString::fromStdString(file.string()));
}

// A child's environment whose home, cache and state are inside `folder`.
inline QProcessEnvironment homeIn(const std::filesystem::path& folder) {
    QProcessEnvironment environment;
    const auto in = [&](const char* sub) {
        return QString::fromStdString((folder / sub).string());
    };
    environment.insert(QStringLiteral("HOME"), in(""));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), in("cache"));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), in("state"));
    return environment;
}

// The build folder: screenshots of the real-window tests are written there.
inline std::filesystem::path buildFolder() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path();
}

// Opens a parent case: skipped inside the child and where Xvfb is missing.
#define TAVTEST_SKIP_UNLESS_XVFB_PARENT(childVariable) \
    if (qEnvironmentVariableIsSet(childVariable)) {    \
        GTEST_SKIP();                                  \
    }                                                  \
    if (!tavtest::hasProgram("Xvfb")) {                \
        GTEST_SKIP() << "Xvfb is not installed";       \
    }

// Runs `program` with `arguments` on `display` with `extra` added to its environment, tied to
// this process, and expects it to end with status 0 within the time; `output` is what it wrote.
inline void expectRunsOnDisplay(const PrivateDisplay& display, const QString& program,
                                const QStringList& arguments, const QProcessEnvironment& extra,
                                int timeoutMilliseconds, QString& output) {
    ASSERT_TRUE(display.ready()) << display.error().toStdString();
    QProcess child;
    QProcessEnvironment environment = display.environment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    for (const QString& key : extra.keys()) {
        environment.insert(key, extra.value(key));
    }
    child.setProcessChannelMode(QProcess::MergedChannels);
    startTiedToThisProcess(child, program, arguments, environment);
    const bool finished = child.waitForFinished(timeoutMilliseconds);
    if (!finished) {
        kill(static_cast<pid_t>(-child.processId()), SIGKILL);
        child.waitForFinished(5000);
    }
    output = QString::fromUtf8(child.readAll());
    ASSERT_TRUE(finished) << output.toStdString();
    ASSERT_TRUE(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0)
        << "status " << child.exitCode() << "\n"
        << output.toStdString();
}

// Runs the cases `filter` (joined by ':') of this binary on a display of its own with
// `childVariable` set and `extra` added to its environment, and expects them all to pass.
inline void expectPassesUnderXvfb(const char* childVariable, const QString& filter,
                                  const QProcessEnvironment& extra = {},
                                  int timeoutMilliseconds = 120000,
                                  const PrivateDisplay::Options& options = {}) {
    PrivateDisplay display(options);
    QProcessEnvironment environment = extra;
    environment.insert(QString::fromLatin1(childVariable), QStringLiteral("1"));
    QString output;
    ASSERT_NO_FATAL_FAILURE(expectRunsOnDisplay(
        display, QString::fromStdString(std::filesystem::read_symlink("/proc/self/exe").string()),
        {QStringLiteral("--gtest_filter=") + filter}, environment, timeoutMilliseconds, output));
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] %1 test").arg(filter.count(u':') + 1)))
        << output.toStdString();
}

// Drops `files` on `target` as a file manager would.
inline void dropFiles(QWidget* target, const std::vector<std::filesystem::path>& files) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const auto& file : files) {
        urls.append(QUrl::fromLocalFile(QString::fromStdString(file.string())));
    }
    mime.setUrls(urls);
    const QPoint position = target->rect().center();
    QDragEnterEvent enter(position, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(position), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    ASSERT_TRUE(drop.isAccepted());
}

}  // namespace tavtest
