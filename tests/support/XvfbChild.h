#pragma once

// Real-window tests: a parent case runs this test binary again under xvfb-run, where the child
// case (selected by a variable) builds the application's window on the xcb platform.
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

namespace tavtest {

inline bool hasProgram(const char* name) {
    return !QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty();
}

// The build folder: screenshots of the real-window tests are written there.
inline std::filesystem::path buildFolder() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path();
}

// Opens a parent case: skipped inside the child and where xvfb-run is missing.
#define TAVTEST_SKIP_UNLESS_XVFB_PARENT(childVariable) \
    if (qEnvironmentVariableIsSet(childVariable)) {    \
        GTEST_SKIP();                                  \
    }                                                  \
    if (!tavtest::hasProgram("xvfb-run")) {            \
        GTEST_SKIP() << "xvfb-run is not installed";   \
    }

// Runs the case `filter` of this binary under xvfb-run with `childVariable` set, `extra` added to
// its environment, and expects it to pass. `wrapper` (a command that runs its arguments, such as
// dbus-run-session) goes between xvfb-run and the binary.
inline void expectPassesUnderXvfb(const char* childVariable, const QString& filter,
                                  const QProcessEnvironment& extra = {},
                                  int timeoutMilliseconds = 120000,
                                  const QString& screen = QStringLiteral("1280x900x24"),
                                  const QStringList& wrapper = {}) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(childVariable), QStringLiteral("1"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    for (const QString& key : extra.keys()) {
        environment.insert(key, extra.value(key));
    }
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList command =
        QStringList{QStringLiteral("-a"), QStringLiteral("-s"),
                    QStringLiteral("-screen 0 ") + screen} +
        wrapper +
        QStringList{
            QString::fromStdString(std::filesystem::read_symlink("/proc/self/exe").string()),
            QStringLiteral("--gtest_filter=") + filter};
    child.start(QStringLiteral("xvfb-run"), command);
    const bool finished = child.waitForFinished(timeoutMilliseconds);
    if (!finished) {
        child.kill();
        child.waitForFinished(5000);
    }
    const std::string output = QString::fromUtf8(child.readAll()).toStdString();
    ASSERT_TRUE(finished) << output;
    EXPECT_EQ(child.exitCode(), 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
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
