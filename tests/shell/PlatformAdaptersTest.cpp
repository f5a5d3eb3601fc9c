#include <gtest/gtest.h>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <thread>

#include "shell/DesktopFileRevealer.h"
#include "shell/QtPreferencesStore.h"
#include "shell/SupportLinks.h"
#include "support/QtTestApplication.h"
#include "support/TempDir.h"

using namespace tavrolin;

namespace {

// Stands in for the desktop's file manager on a private session bus.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
  public:
    QList<QStringList> shown;
    QStringList startupIDs;

  public slots:
    void ShowItems(const QStringList& uris, const QString& startupID) {
        shown.append(uris);
        startupIDs.append(startupID);
    }
};

// A dbus-daemon of the test's own, so nothing depends on a desktop session.
class PrivateBus {
  public:
    PrivateBus() {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (daemon_.waitForStarted(5000) && daemon_.waitForReadyRead(5000)) {
            address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        }
    }
    ~PrivateBus() {
        for (const QString& name : names_) {
            QDBusConnection::disconnectFromBus(name);
        }
        daemon_.terminate();
        daemon_.waitForFinished(5000);
    }
    bool isRunning() const { return !address_.isEmpty(); }
    QDBusConnection connect(const QString& name) {
        names_.append(name);
        return QDBusConnection::connectToBus(address_, name);
    }

  private:
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

class PlatformAdapters : public ::testing::Test {
  protected:
    QApplication& application = tavtest::qtApplication();
};

}  // namespace

TEST_F(PlatformAdapters, PreferencesPersistAcrossStoresAndRemovalDeletesTheKey) {
    tavtest::TempDir folder;
    const QString file = QString::fromStdString((folder / "settings.ini").string());
    {
        QtPreferencesStore store(file);
        EXPECT_EQ(store.string("customFFmpegPath"), std::nullopt);
        store.setString("customFFmpegPath", "/opt/ffmpeg/bin/ffmpeg");
        store.setString("lastWorkspaceSection", "join");
        store.setString("transcription.lastLocaleIdentifier", "de-DE");
        store.setString("empty", "");
        store.remove("customFFmpegPath");
        store.sync();
    }
    QtPreferencesStore reopened(file);
    EXPECT_EQ(reopened.string("customFFmpegPath"), std::nullopt);
    EXPECT_EQ(reopened.string("lastWorkspaceSection"), "join");
    EXPECT_EQ(reopened.string("transcription.lastLocaleIdentifier"), "de-DE");
    EXPECT_EQ(reopened.string("empty"), "");  // an empty text is a value, not an absence
}

TEST_F(PlatformAdapters, PreferencesTakeConcurrentWritersAndKeepUtf8) {
    tavtest::TempDir folder;
    QtPreferencesStore store(QString::fromStdString((folder / "settings.ini").string()));
    std::vector<std::jthread> writers;
    for (int writer = 0; writer < 4; ++writer) {
        writers.emplace_back([&store, writer] {
            for (int i = 0; i < 200; ++i) {
                store.setString("key" + std::to_string(writer), "Überschrift " + std::to_string(i));
                (void)store.string("key" + std::to_string((writer + 1) % 4));
            }
        });
    }
    writers.clear();
    for (int writer = 0; writer < 4; ++writer) {
        EXPECT_EQ(store.string("key" + std::to_string(writer)), "Überschrift 199");
    }
}

TEST_F(PlatformAdapters, RevealerAsksTheFileManagerOverDBusElseOpensTheFolder) {
    PrivateBus bus;
    if (!bus.isRunning()) {
        GTEST_SKIP() << "dbus-daemon is not available";
    }
    QList<QUrl> opened;
    const auto record = [&](const QUrl& folder) {
        opened.append(folder);
        return true;
    };
    DesktopFileRevealer revealer(bus.connect("client"), record);
    // No file manager answers yet.
    revealer.reveal("/srv/out/result.mp4");
    ASSERT_TRUE(tavtest::waitUntil([&] { return opened.size() == 1; }, 5000));
    EXPECT_EQ(opened[0], QUrl::fromLocalFile("/srv/out"));

    QDBusConnection service = bus.connect("file-manager");
    FakeFileManager fileManager;
    ASSERT_TRUE(service.registerObject("/org/freedesktop/FileManager1", &fileManager,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService("org.freedesktop.FileManager1"));
    revealer.reveal("/home/user/Movies/a film #1.mkv");
    ASSERT_TRUE(tavtest::waitUntil([&] { return fileManager.shown.size() == 1; }, 5000));
    EXPECT_EQ(fileManager.shown[0], QStringList{"file:///home/user/Movies/a%20film%20%231.mkv"});
    EXPECT_EQ(fileManager.startupIDs[0], "");
    QTest::qWait(50);
    EXPECT_EQ(opened.size(), 1);

    // Without any bus the folder opens at once.
    DesktopFileRevealer offline(QDBusConnection(QStringLiteral("not-connected")), record);
    offline.reveal("/srv/out/other.mp4");
    EXPECT_EQ(opened.size(), 2);

    // Nothing opens the folder either: the user is told where it is.
    QList<QUrl> told;
    DesktopFileRevealer nowhere(
        QDBusConnection(QStringLiteral("not-connected")), [](const QUrl&) { return false; },
        [&](const QUrl& folder) { told.append(folder); });
    nowhere.reveal("/srv/out/other.mp4");
    ASSERT_EQ(told, QList<QUrl>{QUrl::fromLocalFile("/srv/out")});
    EXPECT_EQ(linkNotOpenedText(told[0]),
              "No file manager opened the folder \u201Cout\u201D. Open it yourself at /srv/out.");
}

#include "PlatformAdaptersTest.moc"
