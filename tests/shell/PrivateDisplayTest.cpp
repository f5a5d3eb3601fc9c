// The X servers of the real-window tests: started together, each gets a number of its own that
// only its own cookie opens, and each ends with its owner, however the owner ends.
#include <gtest/gtest.h>

#include <QProcess>
#include <QThread>

#include <poll.h>
#include <sys/syscall.h>

#include <iostream>
#include <latch>
#include <mutex>
#include <set>

#include "support/PrivateDisplay.h"
#include "support/QtTestApplication.h"
#include "support/XvfbChild.h"

namespace fs = std::filesystem;

namespace {

const char* const childVariable = "TAVROLIN_PRIVATE_DISPLAY_CHILD";

// Whether process `id` is gone within `milliseconds`: waits on its pidfd, which turns readable
// when it ends.
bool endsWithin(qint64 id, int milliseconds) {
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(id), 0));
    if (pidfd < 0) {
        return errno == ESRCH;
    }
    pollfd watch{pidfd, POLLIN, 0};
    const bool ended = poll(&watch, 1, milliseconds) == 1;
    close(pidfd);
    return ended;
}

// Whether `xdpyinfo` reaches the display in `environment`.
bool clientConnects(const QProcessEnvironment& environment) {
    QProcess client;
    client.setProcessEnvironment(environment);
    client.start(QStringLiteral("xdpyinfo"), {});
    return client.waitForFinished(60000) && client.exitStatus() == QProcess::NormalExit &&
           client.exitCode() == 0;
}

struct Seen {
    QString display;
    bool opensWithItsCookie = false;
    bool refusesWithoutIt = false;
    std::vector<qint64> processes;
    bool lockGone = false;
};

}  // namespace

TEST(PrivateDisplay, DisplaysStartedTogetherAreTheirOwnAndStopWithTheirObject) {
    if (!tavtest::hasProgram("Xvfb") || !tavtest::hasProgram("xdpyinfo")) {
        GTEST_SKIP() << "needs Xvfb and xdpyinfo";
    }
    tavtest::qtApplication();
    constexpr int count = 6;
    std::vector<Seen> seen(count);
    std::latch allUp(count);
    std::vector<QThread*> threads;
    for (int i = 0; i < count; ++i) {
        threads.push_back(QThread::create([&, i] {
            Seen& mine = seen[static_cast<size_t>(i)];
            {
                tavtest::PrivateDisplay display;
                allUp.arrive_and_wait();  // every server runs at once
                if (!display.ready()) {
                    mine.display = display.error();
                    return;
                }
                mine.display = display.display();
                mine.processes = display.processIds();
                mine.opensWithItsCookie = clientConnects(display.environment());
                QProcessEnvironment stranger = display.environment();
                stranger.insert(QStringLiteral("XAUTHORITY"), QStringLiteral("/dev/null"));
                mine.refusesWithoutIt = !clientConnects(stranger);
            }
            mine.lockGone = !fs::exists("/tmp/.X" + mine.display.mid(1).toStdString() + "-lock");
        }));
        threads.back()->start();
    }
    for (QThread* thread : threads) {
        thread->wait();
        delete thread;
    }
    std::set<QString> displays;
    for (const Seen& one : seen) {
        SCOPED_TRACE(one.display.toStdString());
        ASSERT_TRUE(one.display.startsWith(u':'));
        displays.insert(one.display);
        EXPECT_TRUE(one.opensWithItsCookie);
        EXPECT_TRUE(one.refusesWithoutIt);
        EXPECT_TRUE(one.lockGone) << "the server removes its lock as it stops";
        for (const qint64 process : one.processes) {
            EXPECT_GT(process, 0);
            EXPECT_TRUE(endsWithin(process, 0)) << "process " << process << " outlived its object";
        }
    }
    EXPECT_EQ(displays.size(), static_cast<size_t>(count));
}

// Holds a display until killed.
TEST(PrivateDisplay, Child) {
    if (!qEnvironmentVariableIsSet(childVariable)) {
        GTEST_SKIP() << "runs only when started by PrivateDisplay.EndsWhenItsOwnerIsKilled";
    }
    tavtest::qtApplication();
    tavtest::PrivateDisplay display;
    ASSERT_TRUE(display.ready()) << display.error().toStdString();
    for (const qint64 process : display.processIds()) {
        std::cout << "helper " << process << std::endl;
    }
    std::cout << "ready" << std::endl;
    std::string line;
    std::getline(std::cin, line);  // the owner kills this process first
}

TEST(PrivateDisplay, EndsWhenItsOwnerIsKilled) {
    TAVTEST_SKIP_UNLESS_XVFB_PARENT(childVariable);
    tavtest::qtApplication();
    QProcess owner;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(childVariable, "1");
    owner.setProcessEnvironment(environment);
    owner.start(QString::fromStdString(fs::read_symlink("/proc/self/exe").string()),
                {"--gtest_filter=PrivateDisplay.Child"});
    std::vector<qint64> helpers;
    QString line;
    while (line != "ready") {
        ASSERT_TRUE(owner.canReadLine() || owner.waitForReadyRead(60000))
            << QString::fromUtf8(owner.readAll()).toStdString();
        if (owner.canReadLine()) {
            line = QString::fromUtf8(owner.readLine()).trimmed();
            if (line.startsWith("helper ")) {
                helpers.push_back(line.section(u' ', 1).toLongLong());
            }
        }
    }
    ASSERT_EQ(helpers.size(), 2u);
    owner.kill();
    ASSERT_TRUE(owner.waitForFinished(30000));
    for (const qint64 helper : helpers) {
        EXPECT_GT(helper, 0);
        EXPECT_TRUE(endsWithin(helper, 30000)) << "process " << helper << " outlived its owner";
    }
}
