#pragma once

// An X server of a test's own, with its own session bus: Xvfb picks a free display number
// itself and reports it (-displayfd), so tests started together never share or race for one.
// Clients need the server's cookie (-auth). Everything started here dies with the test process
// and is stopped when the object goes, on every path.
#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <sys/prctl.h>

#include <unistd.h>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace tavtest {

// One entry of an Xauthority file that fits any host: family "wild", then the length-prefixed
// (big-endian 16-bit) address, display number, scheme name and cookie.
inline QByteArray xauthorityEntry(const QByteArray& displayNumber, const QByteArray& cookie) {
    QByteArray entry;
    const auto field = [&](const QByteArray& bytes) {
        entry.append(static_cast<char>((bytes.size() >> 8) & 0xff));
        entry.append(static_cast<char>(bytes.size() & 0xff));
        entry.append(bytes);
    };
    entry.append("\xff\xff", 2);
    field({});
    field(displayNumber);
    field(QByteArrayLiteral("MIT-MAGIC-COOKIE-1"));
    field(cookie);
    return entry;
}

// Starts `program` in a process group of its own that gets SIGTERM when this process dies (a
// test killed on its timeout leaves no server behind).
inline void startTiedToThisProcess(QProcess& process, const QString& program,
                                   const QStringList& arguments,
                                   const QProcessEnvironment& environment) {
    const pid_t parent = getpid();
    process.setChildProcessModifier([parent] {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(127);
        }
    });
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
}

// The first line `process` writes to its standard output, without the line break; empty when it
// ends or `timeoutMilliseconds` pass first.
inline QString firstLine(QProcess& process, int timeoutMilliseconds) {
    if (!process.waitForStarted(timeoutMilliseconds)) {
        return {};
    }
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(timeoutMilliseconds)) {
            return {};
        }
    }
    return QString::fromLocal8Bit(process.readLine()).trimmed();
}

class PrivateDisplay {
  public:
    struct Options {
        QString screen = QStringLiteral("1280x900x24");
        // The accessibility bus is started at once (a screen reader is about to read).
        bool accessibilityBus = false;
        // A window manager (openbox) runs on the display, so that activation and focus go as on
        // a desktop, also when a dialog closes.
        bool windowManager = false;
    };

    PrivateDisplay() : PrivateDisplay(Options{}) {}

    explicit PrivateDisplay(const Options& options) {
        std::filesystem::permissions(folder_.path(), std::filesystem::perms::owner_all);
        environment_ = QProcessEnvironment::systemEnvironment();
        environment_.remove(QStringLiteral("AT_SPI_BUS_ADDRESS"));
        environment_.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        environment_.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment_.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(""));
        environment_.insert(QStringLiteral("XAUTHORITY"), path("Xauthority"));
        if (!startServer(options.screen) || !startSessionBus() ||
            (options.accessibilityBus && !startAccessibilityBus()) ||
            (options.windowManager && !startWindowManager())) {
            stop();
        }
    }

    ~PrivateDisplay() { stop(); }
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    bool ready() const { return error_.isEmpty(); }
    // What failed, with the helpers' own words.
    const QString& error() const { return error_; }
    // The system environment with this display, its cookie and its buses in place of any other.
    const QProcessEnvironment& environment() const { return environment_; }
    // The server's and the session bus's (and the window manager's), while they run.
    std::vector<qint64> processIds() const {
        std::vector<qint64> ids{server_.processId(), bus_.processId()};
        if (windowManager_.processId() > 0) {
            ids.push_back(windowManager_.processId());
        }
        return ids;
    }
    QString display() const { return environment_.value(QStringLiteral("DISPLAY")); }

  private:
    QString path(const char* name) const {
        return QString::fromStdString((folder_.path() / name).string());
    }

    bool fail(const QString& what, QProcess& process) {
        error_ = what + QStringLiteral(": ") + process.errorString() + QStringLiteral("\n") +
                 QString::fromLocal8Bit(process.readAllStandardError());
        return false;
    }

    void writeAuthority(const QByteArray& displayNumber) {
        std::ofstream(folder_.path() / "Xauthority", std::ios::binary | std::ios::trunc)
            << xauthorityEntry(displayNumber, cookie_).toStdString();
    }

    bool startServer(const QString& screen) {
        std::random_device random;
        for (int i = 0; i < 16; ++i) {
            cookie_.append(static_cast<char>(random() & 0xff));
        }
        // The server takes every cookie in the file whatever its number; clients look for theirs.
        writeAuthority({});
        startTiedToThisProcess(
            server_, QStringLiteral("Xvfb"),
            {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-auth"),
             path("Xauthority"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
             QStringLiteral("-noreset"), QStringLiteral("-screen"), QStringLiteral("0"), screen},
            environment_);
        const QString number = firstLine(server_, 60000);
        if (number.isEmpty()) {
            return fail(QStringLiteral("Xvfb reported no display"), server_);
        }
        writeAuthority(number.toLatin1());
        environment_.insert(QStringLiteral("DISPLAY"), QStringLiteral(":") + number);
        return true;
    }

    // Without dbus-daemon no bus is named, so nothing reaches another session's bus.
    bool startSessionBus() {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
            return true;
        }
        startTiedToThisProcess(bus_, QStringLiteral("dbus-daemon"),
                               {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")},
                               environment_);
        const QString address = firstLine(bus_, 60000);
        if (address.isEmpty()) {
            return fail(QStringLiteral("dbus-daemon reported no address"), bus_);
        }
        environment_.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        return true;
    }

    // The session bus starts the accessibility bus on the first request for its address.
    bool startAccessibilityBus() {
        QProcess ask;
        ask.setProcessEnvironment(environment_);
        ask.start(QStringLiteral("dbus-send"),
                  {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                   QStringLiteral("--dest=org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                   QStringLiteral("org.a11y.Bus.GetAddress")});
        if (!ask.waitForFinished(60000) || ask.exitStatus() != QProcess::NormalExit ||
            ask.exitCode() != 0) {
            ask.kill();
            ask.waitForFinished(5000);
            return fail(QStringLiteral("the accessibility bus did not start"), ask);
        }
        return true;
    }

    // Ready once it names itself on the root window, as a window manager does when it has
    // taken the screen.
    bool startWindowManager() {
        startTiedToThisProcess(windowManager_, QStringLiteral("openbox"),
                               {QStringLiteral("--sm-disable")}, environment_);
        if (!windowManager_.waitForStarted(60000)) {
            return fail(QStringLiteral("openbox did not start"), windowManager_);
        }
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 60000 && windowManager_.state() == QProcess::Running) {
            QProcess ask;
            ask.setProcessEnvironment(environment_);
            ask.start(QStringLiteral("xprop"),
                      {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
            if (ask.waitForFinished(60000) && ask.readAll().contains("window id")) {
                return true;
            }
            usleep(20000);
        }
        return fail(QStringLiteral("openbox did not take the screen"), windowManager_);
    }

    // The window manager and the bus first (the bus's services are in its group), then the
    // server; what ignores SIGTERM is killed.
    void stop() {
        for (QProcess* process : {&windowManager_, &bus_, &server_}) {
            const qint64 group = process->processId();
            if (group <= 0) {
                continue;
            }
            kill(static_cast<pid_t>(-group), SIGTERM);
            if (!process->waitForFinished(10000)) {
                process->kill();
                process->waitForFinished(5000);
            }
            kill(static_cast<pid_t>(-group), SIGKILL);
        }
    }

    TempDir folder_;
    QByteArray cookie_;
    QProcessEnvironment environment_;
    QProcess server_;
    QProcess bus_;
    QProcess windowManager_;
    QString error_;
};

}  // namespace tavtest
