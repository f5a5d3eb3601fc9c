// A screen reader reading the window while cards and rows go. Every accessibility interface of
// every page answers an index past its children with none. On a real X server with its own
// session and accessibility buses, a reader process (screen_reader.py, through AT-SPI) reads the
// whole accessibility tree again and again while "Add to Queue" takes the Remux file (through its
// accessibility action and by clicks), Remux cards are removed, finished queue rows are cleared
// and a transcript's cue rows go; the program lives through all of it.
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAccessibleInterface>
#include <QEventLoop>
#include <QLineEdit>
#include <QListView>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "../transcription/SpeechTestSupport.h"
#include "queue/JobQueueViewModel.h"
#include "remux/RemuxTestSupport.h"
#include "remux/RemuxView.h"
#include "remux/StreamSourceCard.h"
#include "shell/QueueView.h"
#include "shell/RootView.h"
#include "shell/TavrolinApp.h"
#include "support/TempDir.h"
#include "support/TestAppConfiguration.h"
#include "support/XvfbChild.h"
#include "transcription/TranscriptCueList.h"
#include "transcription/TranscriptReviewArea.h"
#include "transcription/TranscriptionView.h"
#include "transcription/TranscriptionViewModel.h"

using namespace tavrolin;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const char* const childVariable = "TAVROLIN_SCREEN_READER_XVFB_CHILD";
const char* const folderVariable = "TAVROLIN_SCREEN_READER_XVFB_FOLDER";
// The Python that Debian's python3-gi serves, whatever else is first on the path.
const char* const systemPython = "/usr/bin/python3";

// Serves events until `condition` holds; false when `timeout` passed first. Waits in the event
// loop, so that each of the reader's calls is answered at once, as in the running program.
bool serveUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 60s) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (condition()) {
            loop.quit();
        }
    });
    check.start(5);
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    if (!condition()) {
        loop.exec();
    }
    return condition();
}

// The nodes a reader meets walking the program's accessibility tree from the application down
// to depth 60, as screen_reader.py walks it.
int accessibleNodes(QAccessibleInterface* node, int depth = 0) {
    if (node == nullptr || depth > 60) {
        return 0;
    }
    int nodes = 1;
    for (int i = 0; i < node->childCount(); ++i) {
        nodes += accessibleNodes(node->child(i), depth + 1);
    }
    return nodes;
}

int accessibleNodes() {
    return accessibleNodes(QAccessible::queryAccessibleInterface(qApp));
}

// screen_reader.py reading this process. Every wait serves this process's events, which answer
// the reader's calls, and ends early once the reader reported an error or ended.
class ScreenReader {
  public:
    ScreenReader() {
        reader_.start(QString::fromLatin1(systemPython),
                      {QStringLiteral(TAVROLIN_TEST_SOURCE_DIR "/shell/screen_reader.py"),
                       QString::number(QCoreApplication::applicationPid())});
    }
    ~ScreenReader() {
        reader_.closeWriteChannel();
        if (!serveUntil([&] { return reader_.state() == QProcess::NotRunning; }, 10s)) {
            reader_.kill();
            reader_.waitForFinished(5000);
        }
    }

    bool found() {
        return serve([&] { return found_; });
    }
    // `count` more whole reads of the tree, without an error.
    bool readsMore(int count) {
        const int target = reads_ + count;
        return serve([&] { return reads_ >= target; });
    }
    // A whole read while the tree holds still meets every node the program has. Reads during
    // which the tree changed are not judged.
    bool readsEveryNode() {
        for (int attempt = 0; attempt < 10; ++attempt) {
            const int nodes = accessibleNodes();
            // The read under way may have started before; the one after it starts after now.
            const int judged = reads_ + 2;
            if (!serve([&] { return reads_ >= judged; })) {
                return false;
            }
            if (accessibleNodes() == nodes) {
                shortfall_ = QStringLiteral("read %1 met %2 of %3 nodes")
                                 .arg(judged)
                                 .arg(counts_.value(judged))
                                 .arg(nodes);
                return counts_.value(judged) >= nodes;
            }
        }
        shortfall_ = QStringLiteral("the tree never held still for a whole read");
        return false;
    }
    // Presses the push button named `name` through its accessibility action.
    bool press(const QString& name) {
        answers_.clear();
        reader_.write(("press " + name + "\n").toUtf8());
        return serve([&] { return !answers_.isEmpty(); }) && answers_.front() == "pressed " + name;
    }
    // Ends the reader: whether it ended well after reading throughout.
    bool finish() {
        reader_.closeWriteChannel();
        return serveUntil([&] { return reader_.state() == QProcess::NotRunning; }, 30s) &&
               reader_.exitStatus() == QProcess::NormalExit && reader_.exitCode() == 0 &&
               errors_.isEmpty();
    }
    int reads() const { return reads_; }
    // What went wrong: the reader's errors, the last shortfall and its own error output.
    std::string problems() {
        take();
        return (errors_.join(u'\n') + u'\n' + shortfall_ + u'\n' +
                QString::fromUtf8(reader_.readAllStandardError()))
            .toStdString();
    }

  private:
    // Serves until `condition` holds; false when the reader reported an error or ended first.
    bool serve(const std::function<bool()>& condition) {
        serveUntil(
            [&] {
                take();
                return condition() || !errors_.isEmpty() || reader_.state() == QProcess::NotRunning;
            },
            60s);
        return condition() && errors_.isEmpty();
    }

    void take() {
        pending_ += QString::fromUtf8(reader_.readAllStandardOutput());
        qsizetype end = 0;
        while ((end = pending_.indexOf(u'\n')) >= 0) {
            const QString line = pending_.left(end);
            pending_.remove(0, end + 1);
            if (line == "found") {
                found_ = true;
            } else if (line.startsWith("read ")) {
                reads_ = line.section(u' ', 1, 1).toInt();
                counts_.insert(reads_, line.section(u' ', 2, 2).toInt());
            } else if (line.startsWith("error ")) {
                errors_.append(line);
            } else {
                answers_.append(line);
            }
        }
    }

    QProcess reader_;
    QString pending_;
    bool found_ = false;
    int reads_ = 0;
    QHash<int, int> counts_;
    QStringList errors_;
    QString shortfall_;
    QStringList answers_;
};

bool scrollBarShown(QAbstractScrollArea* area) {
    return area->verticalScrollBar()->isVisible();
}

// Checks every accessibility interface under `node` (each once): an index past its children
// answers no child, and each child knows its own index. A reader asks by indices it counted a
// moment before, when the children may have changed.
void expectChildrenByIndex(QAccessibleInterface* node, QSet<QAccessibleInterface*>& seen) {
    if (node == nullptr || seen.contains(node)) {
        return;
    }
    seen.insert(node);
    const QObject* object = node->object();
    const std::string name = object ? object->metaObject()->className() : "(no object)";
    const int count = node->childCount();
    for (const int beyond : {count, count + 1}) {
        EXPECT_EQ(node->child(beyond), nullptr) << name << " child " << beyond << " of " << count;
    }
    for (int i = 0; i < count; ++i) {
        QAccessibleInterface* child = node->child(i);
        ASSERT_NE(child, nullptr) << name << " child " << i << " of " << count;
        EXPECT_EQ(node->indexOfChild(child), i) << name;
        expectChildrenByIndex(child, seen);
    }
}

}  // namespace

TEST(ScreenReader, EveryInterfaceAnswersByIndexOnEveryPage) {
    if (qEnvironmentVariableIsSet(childVariable)) {
        GTEST_SKIP();
    }
    tavtest::prepareRemuxTest();
    tavtest::TempDir folder;
    TavrolinApp app(tavtest::appConfiguration(folder.path()));
    MainWindow* window = app.mainWindow();
    window->show();
    const auto& media = tavtest::TestMedia::shared();
    for (WorkspaceSection section : allWorkspaceSections) {
        SCOPED_TRACE(rawValue(section));
        window->rootView()->select(section);
        if (section != WorkspaceSection::queue) {
            window->rootView()->handleDrop(
                {QUrl::fromLocalFile(QString::fromStdString(media.matroska.string())),
                 QUrl::fromLocalFile(QString::fromStdString(media.mp4ClipA.string()))});
        }
        // Inspected: once the drop is shown, no busy bar is left.
        QCoreApplication::processEvents();
        ASSERT_TRUE(serveUntil([&] {
            const auto bars = window->findChildren<QProgressBar*>();
            return std::none_of(bars.begin(), bars.end(), [](QProgressBar* bar) {
                return bar->isVisible() && bar->maximum() == 0;
            });
        }));
        QSet<QAccessibleInterface*> seen;
        expectChildrenByIndex(QAccessible::queryAccessibleInterface(window), seen);
        EXPECT_GT(seen.size(), 100);
    }
}

TEST(ScreenReaderWindow, Child) {
    if (!qEnvironmentVariableIsSet(childVariable)) {
        GTEST_SKIP()
            << "runs only on its own X server, started by ScreenReaderWindow.ReadsWhileRowsGo";
    }
    tavtest::prepareRemuxTest();
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    const fs::path folder = qEnvironmentVariable(folderVariable).toStdString();
    const auto& media = tavtest::TestMedia::shared();
    const auto speech = tavtest::makeSpeech(
        "reader-talk.m4a",
        "The weather today is sunny and warm. <break time=\"2s\"/> We will go to the market "
        "tomorrow morning.",
        {"-c:a", "aac"});
    // Each Remux round takes its own copy: a queued output name is not offered twice.
    int copies = 0;
    const auto film = [&] {
        const fs::path copy = folder / ("film-" + std::to_string(copies++) + ".mkv");
        fs::copy_file(media.matroska, copy);
        return QUrl::fromLocalFile(QString::fromStdString(copy.string()));
    };

    TavrolinApp app(tavtest::appConfiguration(folder));
    MainWindow* window = app.mainWindow();
    window->resize(1100, 720);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window, 10000));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window, 10000));
    ASSERT_TRUE(serveUntil([] { return QAccessible::isActive(); }, 30s))
        << "the accessibility bridge never connected";
    ScreenReader reader;
    ASSERT_TRUE(reader.found()) << reader.problems();
    ASSERT_TRUE(reader.readsMore(1)) << reader.problems();
    ASSERT_TRUE(reader.readsEveryNode()) << reader.problems();

    // Remux: one file on the page, queued while the tree is read; the page then no longer
    // scrolls, so the reader meets a scroll bar that went. First through the button's
    // accessibility action, then by clicks.
    RootView* root = window->rootView();
    root->select(WorkspaceSection::remux);
    auto* remux = window->findChild<RemuxView*>();
    ASSERT_NE(remux, nullptr);
    auto* page = remux->findChild<QScrollArea*>(QStringLiteral("scroll"));
    auto* addToQueue = remux->findChild<QPushButton*>(QStringLiteral("addToQueueButton"));
    const auto cards = [&] { return remux->findChildren<StreamSourceCard*>().size(); };
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(root->handleDrop({film()}));
        ASSERT_TRUE(serveUntil([&] { return addToQueue->isEnabled(); }, 60s));
        ASSERT_TRUE(reader.readsMore(1)) << reader.problems();
        // Laid out a turn or more after the file shows.
        EXPECT_TRUE(serveUntil([&] { return scrollBarShown(page); }, 30s))
            << "the page scrolls while it shows the file";
        if (round == 0) {
            ASSERT_TRUE(reader.press(QStringLiteral("Add to Queue"))) << reader.problems();
        } else {
            QTest::mouseClick(addToQueue, Qt::LeftButton);
        }
        ASSERT_TRUE(serveUntil([&] { return cards() == 0; }, 30s));
        // The layout settles a turn or more after the last card goes.
        EXPECT_TRUE(serveUntil([&] { return !scrollBarShown(page); }, 30s));
        ASSERT_TRUE(reader.readsMore(3)) << reader.problems();
        ASSERT_TRUE(reader.readsEveryNode()) << reader.problems();
    }
    ASSERT_EQ(app.queue().jobs().size(), 4u);

    // Remux cards removed one by one.
    ASSERT_TRUE(root->handleDrop({film(), film(), film()}));
    ASSERT_TRUE(serveUntil([&] { return addToQueue->isEnabled(); }, 60s));
    while (cards() > 0) {
        ASSERT_TRUE(reader.readsMore(1)) << reader.problems();
        QTest::mouseClick(remux->findChildren<StreamSourceCard*>().front()->findChild<QToolButton*>(
                              QStringLiteral("removeButton")),
                          Qt::LeftButton);
        const auto before = cards();
        ASSERT_TRUE(serveUntil([&] { return cards() < before; }, 30s));
    }
    ASSERT_TRUE(reader.readsMore(3)) << reader.problems();
    ASSERT_TRUE(reader.readsEveryNode()) << reader.problems();

    // Queue: enough finished jobs that the list scrolls, cleared while the tree is read.
    for (int k = 0; k < 10; ++k) {
        RemuxRequest request;
        request.input = media.mp4ClipA;
        request.output = folder / ("queued-" + std::to_string(k) + ".mp4");
        request.selectedStreams = {tavtest::makeStream(0, MediaStreamKind::video, "h264")};
        app.queue().enqueue({request});
    }
    root->select(WorkspaceSection::queue);
    auto* queueView = window->findChild<QueueView*>();
    ASSERT_NE(queueView, nullptr);
    ASSERT_TRUE(reader.press(QStringLiteral("Start Queue"))) << reader.problems();
    ASSERT_TRUE(serveUntil(
        [&] {
            return !app.queue().hasQueuedJobs() && !app.queue().hasRunningJob() &&
                   queueView->rows().size() == 14;
        },
        120s));
    for (const auto& job : app.queue().jobs()) {
        EXPECT_EQ(job.status.kind, ProcessingJob::Status::Kind::completed) << job.status.message;
    }
    EXPECT_TRUE(scrollBarShown(queueView->findChild<QScrollArea*>()));
    ASSERT_TRUE(reader.readsMore(1)) << reader.problems();
    ASSERT_TRUE(reader.press(QStringLiteral("Clear Finished"))) << reader.problems();
    ASSERT_TRUE(serveUntil([&] { return app.queue().jobs().empty(); }, 30s));
    ASSERT_TRUE(reader.readsMore(3)) << reader.problems();
    ASSERT_TRUE(reader.readsEveryNode()) << reader.problems();

    // Transcribe: a transcript's cue rows, filtered by a search, then gone with their source.
    root->select(WorkspaceSection::transcribe);
    auto* transcription = window->findChild<TranscriptionView*>();
    ASSERT_NE(transcription, nullptr);
    const auto& state = transcription->viewModel().state();
    ASSERT_TRUE(serveUntil(
        [&] { return state.availability != TranscriptionWorkspaceAvailability{}; }, 30s));
    ASSERT_TRUE(root->handleDrop({QUrl::fromLocalFile(QString::fromStdString(speech.string()))}));
    auto* transcribe = transcription->findChild<QPushButton*>(QStringLiteral("firstSlot"));
    ASSERT_TRUE(serveUntil(
        [&] { return transcribe->isEnabled() && transcribe->text() == "Transcribe"; }, 30s))
        << state.availability.message;
    QTest::mouseClick(transcribe, Qt::LeftButton);
    ASSERT_TRUE(serveUntil([&] { return !state.isTranscribing; }, 150s));
    ASSERT_GE(state.cues().size(), 2u) << state.sources.at(0).status.message;
    auto* cueList = transcription->reviewArea()->cueList();
    ASSERT_TRUE(serveUntil([&] { return cueList->isVisible(); }, 30s));
    ASSERT_TRUE(reader.readsMore(2)) << reader.problems();
    auto* search = transcription->findChild<QLineEdit*>(QStringLiteral("transcriptSearch"));
    QTest::keyClicks(search, "e");
    ASSERT_TRUE(reader.readsMore(2)) << reader.problems();
    search->selectAll();
    QTest::keyClick(search, Qt::Key_Backspace);
    ASSERT_TRUE(serveUntil([&] { return cueList->isVisible(); }, 30s));
    ASSERT_TRUE(reader.readsMore(2)) << reader.problems();
    auto* sources = transcription->findChild<QListView*>(QStringLiteral("sourceList"));
    sources->setCurrentIndex(sources->model()->index(0, 0));
    sources->setFocus();
    QTest::keyClick(sources, Qt::Key_Delete);
    ASSERT_TRUE(serveUntil([&] { return state.sources.empty(); }, 30s));
    ASSERT_TRUE(serveUntil([&] { return !cueList->isVisible(); }, 30s));
    ASSERT_TRUE(reader.readsMore(3)) << reader.problems();
    ASSERT_TRUE(reader.readsEveryNode()) << reader.problems();

    const int reads = reader.reads();
    EXPECT_TRUE(reader.finish()) << reader.problems();
    EXPECT_GE(reads, 30);
}

TEST(ScreenReaderWindow, ReadsWhileRowsGo) {
    TAVTEST_SKIP_UNLESS_XVFB_PARENT(childVariable);
    if (!tavtest::hasProgram("dbus-daemon") || !tavtest::hasProgram("dbus-send") ||
        !fs::exists("/usr/libexec/at-spi-bus-launcher") ||
        tavtest::runTool({systemPython, "-c",
                          "import gi; gi.require_version('Atspi', '2.0'); "
                          "from gi.repository import Atspi"}) != 0) {
        GTEST_SKIP() << "needs dbus, at-spi2-core, python3-gi and gir1.2-atspi-2.0";
    }
    tavtest::TempDir folder;
    tavtest::TempDir home;
    const auto inHome = [&](const char* name) {
        return QString::fromStdString((home / name).string());
    };
    QProcessEnvironment environment;
    environment.insert(folderVariable, QString::fromStdString(folder.path().string()));
    environment.insert("HOME", inHome(""));
    environment.insert("XDG_CACHE_HOME", inHome("cache"));
    environment.insert("XDG_CONFIG_HOME", inHome("config"));
    environment.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    tavtest::PrivateDisplay::Options options;
    options.accessibilityBus = true;
    tavtest::expectPassesUnderXvfb(childVariable, "ScreenReaderWindow.Child", environment, 240000,
                                   options);
}
