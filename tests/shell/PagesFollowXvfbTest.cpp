// Every page does what it shows, in the application's real window on an X server of its own,
// with a window manager and an accessibility bus as on a desktop: a field's text set through the
// accessibility interface (as a screen reader or voice control sets it, without keys) is what
// the queued job uses; after a submission the focus stays on the page, with the window manager
// handing the activation back after a dialog; a reason that names a queued job's output goes
// when that job ends; what cannot be done is refused before queueing. One child process runs
// the cases on one display.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <sys/stat.h>

#include <fstream>

#include "../transcription/SpeechTestSupport.h"
#include "joinsplit/SplitView.h"
#include "remux/RemuxTestSupport.h"
#include "remux/RemuxView.h"
#include "remux/StreamSourceCard.h"
#include "rename/RenameView.h"
#include "shell/RootView.h"
#include "shell/TavrolinApp.h"
#include "support/IndexedClips.h"
#include "support/SaveDialogAnswer.h"
#include "support/StandInTools.h"
#include "support/TestAppConfiguration.h"
#include "support/WindowChecks.h"
#include "transcription/TranscriptionView.h"
#include "transcription/TranscriptionViewModel.h"
#include "widgets/FileRowList.h"

using namespace tavrolin;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Set in the child run by the parent case, whose filter names the child cases to run.
const char* const childVariable = "TAVROLIN_PAGES_CHILD";
const char* const folderVariable = "TAVROLIN_PAGES_FOLDER";
// The Python that Debian's python3-gi serves, whatever else is first on the path.
const char* const systemPython = "/usr/bin/python3";

// Sets the field named `name` to `text` through AT-SPI (set_text.py), serving this process's
// events meanwhile so that the reader's calls are answered.
bool setTextAccessibly(const QString& name, const QString& text) {
    QProcess setter;
    setter.setProcessChannelMode(QProcess::MergedChannels);
    setter.start(QString::fromLatin1(systemPython),
                 {QStringLiteral(TAVROLIN_TEST_SOURCE_DIR "/shell/set_text.py"),
                  QString::number(QCoreApplication::applicationPid()), name, text});
    const bool ended =
        tavtest::waitUntil([&] { return setter.state() == QProcess::NotRunning; }, 90s);
    if (!ended) {
        setter.kill();
        setter.waitForFinished(5000);
    }
    const QString said = QString::fromUtf8(setter.readAll()).trimmed();
    EXPECT_EQ(said, QStringLiteral("set")) << name.toStdString();
    return ended && setter.exitCode() == 0;
}

// Whether a label shown on `page` holds `text`.
bool pageSays(QWidget* page, const QString& text) {
    const auto labels = page->findChildren<QLabel*>();
    return std::any_of(labels.begin(), labels.end(), [&](QLabel* label) {
        return label->isVisibleTo(page) && label->text().contains(text);
    });
}

// Presses `button` by keyboard, as a person who tabbed to it does.
void pressByKeyboard(QPushButton* button) {
    button->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(tavtest::waitUntil([&] { return QApplication::focusWidget() == button; }));
    QTest::keyClick(button, Qt::Key_Space);
}

// Opens a child case: skipped unless the parent case started it on its display.
#define PAGES_CHILD_CASE()                                                                        \
    if (!qEnvironmentVariableIsSet(childVariable)) {                                              \
        GTEST_SKIP() << "runs only on its own X server, started by PagesWindow.FollowOnADesktop"; \
    }

// A folder of the child case's own for its files, under the one its parent gave.
fs::path childFolder(const char* name) {
    tavtest::prepareRemuxTest();
    const fs::path folder = fs::path(qEnvironmentVariable(folderVariable).toStdString()) / name;
    fs::create_directories(folder);
    return folder;
}

}  // namespace

TEST(PagesWindow, SetTextChild) {
    PAGES_CHILD_CASE();
    const fs::path folder = childFolder("set-text");
    // Keyframes every second, so a cut at 2 s is a cut at 2 s.
    const fs::path clip = tavtest::indexedClip(
        "pages-keyframes.mp4", "25", 100, {"-c:v", "libx264", "-g", "25", "-keyint_min", "25"});
    const fs::path film = folder / "film.mkv";
    fs::copy_file(tavtest::TestMedia::shared().matroska, film);
    fs::create_directories(folder / "outA");
    fs::create_directories(folder / "outB");
    TavrolinApp app(tavtest::appConfiguration(folder));
    MainWindow* window = app.mainWindow();
    ASSERT_TRUE(tavtest::showActive(window));
    ASSERT_TRUE(tavtest::waitUntil([] { return QAccessible::isActive(); }, 30s))
        << "the accessibility bridge never connected";
    RootView* root = window->rootView();

    struct Row {
        WorkspaceSection page;
        fs::path source;
        const char* button;
        // Typed first, then replaced through the accessibility interface.
        const char* field;
        QString accessibleName;
        std::string typed;
        std::string set;
        std::function<void(const ProcessingRequest&)> expect;
    };
    const std::vector<Row> rows{
        {WorkspaceSection::remux, film, "addToQueueButton", "folderField",
         QStringLiteral("Output folder"), (folder / "outA").string(), (folder / "outB").string(),
         [&](const ProcessingRequest& request) {
             EXPECT_EQ(request.output().parent_path(), folder / "outB");
         }},
        {WorkspaceSection::split, clip, "queueButton", "startField",
         QStringLiteral("Start (seconds)"), "1", "2",
         [&](const ProcessingRequest& request) {
             const auto* split = request.as<SplitRequest>();
             ASSERT_NE(split, nullptr);
             EXPECT_DOUBLE_EQ(split->startTime, 2.0);
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(rawValue(row.page));
        root->select(row.page);
        QWidget* page = root->workspacePage(row.page)->view();
        ASSERT_TRUE(root->handleDrop({tavtest::urlOf(row.source)}));
        auto* button = page->findChild<QPushButton*>(QString::fromLatin1(row.button));
        auto* field = page->findChild<QLineEdit*>(QString::fromLatin1(row.field));
        ASSERT_TRUE(button && field);
        ASSERT_TRUE(tavtest::waitUntil([&] { return button->isEnabled(); }, 60s));
        field->setFocus(Qt::TabFocusReason);
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, QString::fromStdString(row.typed));
        field->clearFocus();
        ASSERT_TRUE(setTextAccessibly(row.accessibleName, QString::fromStdString(row.set)));
        ASSERT_EQ(field->text().toStdString(), row.set);
        const auto jobs = app.queue().jobs().size();
        ASSERT_TRUE(tavtest::waitUntil([&] { return button->isEnabled(); }, 60s));
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(tavtest::waitUntil([&] { return app.queue().jobs().size() > jobs; }, 60s));
        row.expect(app.queue().jobs().back().request);
    }
}

TEST(PagesWindow, FocusChild) {
    PAGES_CHILD_CASE();
    const fs::path folder = childFolder("focus");
    fs::create_directories(folder / "shows");
    const fs::path talk = folder / "talk.mkv";
    fs::copy_file(tavtest::makeSpeech("pages-talk.mkv", "The weather today is sunny and warm.",
                                      {"-c:a", "aac"}),
                  talk);
    for (const char* name : {"ep 1.mkv", "ep 2.mkv"}) {
        std::ofstream(folder / "shows" / name) << name;
    }
    TavrolinApp app(tavtest::appConfiguration(folder));
    MainWindow* window = app.mainWindow();
    window->resize(tavtest::windowSizes[1]);
    ASSERT_TRUE(tavtest::showActive(window));
    RootView* root = window->rootView();
    root->select(WorkspaceSection::transcribe);
    auto* transcription = window->findChild<TranscriptionView*>();
    const auto& state = transcription->viewModel().state();
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return state.availability != TranscriptionWorkspaceAvailability{}; }, 30s));
    ASSERT_TRUE(root->handleDrop({tavtest::urlOf(talk)}));
    auto* rename = dynamic_cast<RenameView*>(root->workspacePage(WorkspaceSection::rename)->view());
    ASSERT_NE(rename, nullptr);

    struct Row {
        const char* name;
        WorkspaceSection page;
        std::function<void()> setUp;
        const char* button;
        std::function<bool()> done;
    };
    const std::vector<Row> rows{
        {"Transcribe", WorkspaceSection::transcribe, [] {}, "firstSlot",
         [&] { return !state.isTranscribing && !state.cues().empty(); }},
        {"Export Media", WorkspaceSection::transcribe,
         [&] { tavtest::answerSaveDialog(folder / "talk out.mkv"); }, "exportMedia",
         [&] { return state.message == "Added 1 file to the queue: talk out.mkv."; }},
        {"Rename refused", WorkspaceSection::rename,
         [&] {
             ASSERT_TRUE(root->handleDrop({tavtest::urlOf(folder / "shows" / "ep 1.mkv"),
                                           tavtest::urlOf(folder / "shows" / "ep 2.mkv")}));
             auto* name = rename->findChild<QLineEdit*>(QStringLiteral("showNameField"));
             QTest::keyClicks(name, QStringLiteral("Show"));
             ASSERT_TRUE(tavtest::waitUntil([&] {
                 return rename->findChild<QPushButton*>(QStringLiteral("renameButton"))
                     ->isEnabled();
             }));
             // Taken after the plan was shown: the rename refuses it.
             std::ofstream(folder / "shows" / "Show - S01E02.mkv") << "the user's";
         },
         "renameButton",
         [&] { return rename->findChild<QWidget*>(QStringLiteral("previewError"))->isVisible(); }},
        {"Rename done", WorkspaceSection::rename,
         [&] {
             fs::remove(folder / "shows" / "Show - S01E02.mkv");
             // Tabbed to, the field's number is selected: typing replaces it.
             auto* season = rename->findChild<QLineEdit*>(QStringLiteral("seasonField"));
             season->setFocus(Qt::TabFocusReason);
             QTest::keyClicks(season, QStringLiteral("2"));
         },
         "renameButton", [&] { return fs::exists(folder / "shows" / "Show - S02E01.mkv"); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        root->select(row.page);
        QWidget* page = root->workspacePage(row.page)->view();
        ASSERT_NO_FATAL_FAILURE(row.setUp());
        auto* button = page->findChild<QPushButton*>(QString::fromLatin1(row.button));
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(tavtest::waitUntil([&] { return button->isEnabled(); }, 60s))
            << state.availability.message;
        ASSERT_NO_FATAL_FAILURE(pressByKeyboard(button));
        ASSERT_TRUE(tavtest::waitUntil(row.done, 150s));
        ASSERT_TRUE(QTest::qWaitForWindowActive(window, 10000));
        // Renders follow on later turns; the focus is looked at once they are done.
        ASSERT_TRUE(tavtest::settled(window));
        QWidget* focused = QApplication::focusWidget();
        EXPECT_TRUE(focused != nullptr && page->isAncestorOf(focused))
            << tavtest::describeWidget(focused);
    }
    ASSERT_TRUE(tavtest::waitUntil([&] { return !app.queue().isWorkerActive(); }, 60s));
}

TEST(PagesWindow, ClaimsChild) {
    PAGES_CHILD_CASE();
    const fs::path folder = childFolder("claims");
    const auto& media = tavtest::TestMedia::shared();
    for (const auto& [from, name] :
         {std::pair{media.matroska, "film.mkv"}, std::pair{media.mp4ClipA, "a.mp4"},
          std::pair{media.mp4ClipB, "b.mp4"}}) {
        fs::copy_file(from, folder / name);
    }
    // The job writing "blocked.mkv" waits on a pipe nobody writes until it is cancelled: every
    // job the pages queue waits behind it. The others run the real ffmpeg.
    const fs::path pipe = folder / "gate";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    tavtest::standInTools(folder / "tools", "case \"${@: -1}\" in *blocked*) read -r _ < '" +
                                                pipe.string() +
                                                "';; esac\nexec /usr/bin/ffmpeg \"$@\"\n");
    auto configuration = tavtest::appConfiguration(folder);
    configuration.preferences->setString("customFFmpegPath",
                                         (folder / "tools" / "ffmpeg").string());
    TavrolinApp app(configuration);
    MainWindow* window = app.mainWindow();
    ASSERT_TRUE(tavtest::showActive(window));
    RootView* root = window->rootView();
    JobQueueViewModel& queue = app.queue();
    queue.enqueue({RemuxRequest{folder / "film.mkv",
                                folder / "blocked.mkv",
                                {tavtest::makeStream(0, MediaStreamKind::video, "h264")},
                                {},
                                {}}});
    queue.startWorkerIfNeeded();
    ASSERT_TRUE(tavtest::waitUntil([&] { return queue.hasRunningJob(); }));

    const auto page = [&](WorkspaceSection section) {
        return root->workspacePage(section)->view();
    };
    TranscriptionViewModel& transcribe =
        dynamic_cast<TranscriptionView*>(page(WorkspaceSection::transcribe))->viewModel();
    const auto press = [&](WorkspaceSection section, const char* name) {
        auto* button = page(section)->findChild<QPushButton*>(QString::fromLatin1(name));
        ASSERT_TRUE(tavtest::waitUntil([&] { return button->isEnabled(); }, 60s));
        QTest::mouseClick(button, Qt::LeftButton);
    };
    // Presses and waits for the job it queues.
    const auto submit = [&](WorkspaceSection section, const char* name) {
        const auto jobs = queue.jobs().size();
        ASSERT_NO_FATAL_FAILURE(press(section, name));
        ASSERT_TRUE(tavtest::waitUntil([&] { return queue.jobs().size() > jobs; }, 60s))
            << transcribe.state().errorMessage.value_or("");
    };
    const QList<QUrl> film{tavtest::urlOf(folder / "film.mkv")},
        a{tavtest::urlOf(folder / "a.mp4")},
        ab{tavtest::urlOf(folder / "a.mp4"), tavtest::urlOf(folder / "b.mp4")};
    struct Row {
        WorkspaceSection section;
        QList<QUrl> files;  // dropped in each round
        const char* button;
        // The save dialog's answer; the second round presses again to ask for it.
        std::function<fs::path()> saveAs = nullptr;
        std::function<void()> setUp = [] {};
    };
    const std::vector<Row> rows{
        {WorkspaceSection::remux, film, "addToQueueButton"},
        {WorkspaceSection::split, a, "queueButton"},
        {WorkspaceSection::join, ab, "queueButton", [&] { return folder / "joined.mp4"; }},
        {WorkspaceSection::transcribe,
         {},
         "exportMedia",
         [&] {
             return folder /
                    ("b out." + std::string(rawValue(transcribe.state().mediaOutputContainer())));
         },
         [&] {
             ASSERT_TRUE(root->handleDrop({tavtest::urlOf(folder / "b.mp4")}));
             ASSERT_TRUE(tavtest::waitUntil([&] {
                 return !transcribe.isInspecting() && transcribe.state().selectedSource();
             }));
             transcribe.setCues({{1, 0.5, 1.5, "hello", {}}});
         }},
    };
    // Queues a job from the page, then asks the page for the same output again.
    const auto queueTwice = [&](const Row& row) {
        ASSERT_NO_FATAL_FAILURE(row.setUp());
        for (int round = 0; round < 2; ++round) {
            if (!row.files.isEmpty()) {
                ASSERT_TRUE(root->handleDrop(row.files));
            }
            if (row.saveAs) {
                tavtest::answerSaveDialog(row.saveAs());
            }
            if (round == 0) {
                submit(row.section, row.button);
            } else if (row.saveAs) {
                press(row.section, row.button);
            }
        }
    };
    const QString waiting = QStringLiteral("is already the output of a job waiting in the queue.");
    for (const auto& row : rows) {
        SCOPED_TRACE(rawValue(row.section));
        root->select(row.section);
        ASSERT_NO_FATAL_FAILURE(queueTwice(row));
        EXPECT_TRUE(tavtest::waitUntil([&] { return pageSays(page(row.section), waiting); }, 60s));
    }
    ASSERT_EQ(queue.jobs().size(), 5u);
    queue.cancelRunningJob();
    ASSERT_TRUE(tavtest::waitUntil([&] { return !queue.isWorkerActive(); }, 120s));
    for (const auto& job : std::vector(queue.jobs().begin() + 1, queue.jobs().end())) {
        EXPECT_EQ(job.status.kind, ProcessingJob::Status::Kind::completed) << job.status.message;
    }
    for (const auto& row : rows) {
        SCOPED_TRACE(rawValue(row.section));
        root->select(row.section);
        EXPECT_TRUE(tavtest::waitUntil([&] {
            return !pageSays(page(row.section), QStringLiteral("is already the output of"));
        }));
    }
}

// Refused before anything is queued: a Split part that exists, whether there when the page
// was filled or made just before the press, keeps the source and its times on the page; a
// named pipe dropped on Split or Remux is refused with a sentence and holds no inspection: the
// page goes on with the file dropped with it.
TEST(PagesWindow, RefusalsChild) {
    PAGES_CHILD_CASE();
    const fs::path folder = childFolder("refusals");
    // Keyframes every second, so it can be split at 1 s.
    fs::copy_file(tavtest::indexedClip("pages-keyframes.mp4", "25", 100,
                                       {"-c:v", "libx264", "-g", "25", "-keyint_min", "25"}),
                  folder / "a.mp4");
    fs::copy_file(tavtest::TestMedia::shared().matroska, folder / "film.mkv");
    const fs::path pipe = folder / "pipe.mp4";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::ofstream(folder / "a-part-2.mp4") << "the user's";
    TavrolinApp app(tavtest::appConfiguration(folder));
    MainWindow* window = app.mainWindow();
    ASSERT_TRUE(tavtest::showActive(window));
    RootView* root = window->rootView();

    root->select(WorkspaceSection::split);
    QWidget* split = root->workspacePage(WorkspaceSection::split)->view();
    ASSERT_TRUE(root->handleDrop({tavtest::urlOf(folder / "a.mp4")}));
    auto* splitButton = split->findChild<QPushButton*>(QStringLiteral("queueButton"));
    auto* start = split->findChild<QLineEdit*>(QStringLiteral("startField"));
    ASSERT_TRUE(tavtest::waitUntil([&] { return splitButton->isEnabled(); }, 60s));
    start->setFocus(Qt::TabFocusReason);
    start->selectAll();
    QTest::keyClicks(start, QStringLiteral("1"));
    ASSERT_TRUE(tavtest::waitUntil([&] { return splitButton->isEnabled(); }, 60s));
    std::ofstream(folder / "a-clip.mp4") << "the user's";
    ASSERT_NO_FATAL_FAILURE(pressByKeyboard(splitButton));
    const auto exists = [](const char* name) {
        return QStringLiteral("An output named \u201C%1\u201D already exists.").arg(name);
    };
    ASSERT_TRUE(tavtest::waitUntil([&] { return pageSays(split, exists("a-clip.mp4")); }, 60s));
    EXPECT_TRUE(app.queue().jobs().empty());
    EXPECT_EQ(start->text(), QStringLiteral("1"));
    EXPECT_FALSE(splitButton->isEnabled());
    // Split at a point, its second part is there already: said before any press.
    auto* operation = split->findChild<QComboBox*>(QStringLiteral("operationPicker"));
    operation->setCurrentIndex(1);
    emit operation->activated(1);
    QTest::keyClicks(split->findChild<QLineEdit*>(QStringLiteral("splitField")),
                     QStringLiteral("1"));
    EXPECT_TRUE(tavtest::waitUntil([&] { return pageSays(split, exists("a-part-2.mp4")); }, 60s))
        << split->findChild<QLabel*>(QStringLiteral("validationMessage"))->text().toStdString();
    EXPECT_FALSE(splitButton->isEnabled());

    // The pipe is no source either: nothing previews or reads it, and the page says why.
    ASSERT_TRUE(root->handleDrop({tavtest::urlOf(pipe)}));
    FileRowList* sources = dynamic_cast<SplitView*>(split)->sourceList()->list();
    ASSERT_TRUE(tavtest::waitUntil([&] { return sources->files().size() == 2; }));
    sources->setFocus(Qt::TabFocusReason);
    QTest::keyClick(sources, Qt::Key_Down);
    auto* note = split->findChild<QLabel*>(QStringLiteral("notMediaNote"));
    EXPECT_TRUE(tavtest::waitUntil(
        [&] { return note->isVisible() && note->text().contains(QStringLiteral("named pipe")); },
        60s));

    root->select(WorkspaceSection::remux);
    auto* remux = dynamic_cast<RemuxView*>(root->workspacePage(WorkspaceSection::remux)->view());
    ASSERT_NE(remux, nullptr);
    ASSERT_TRUE(root->handleDrop({tavtest::urlOf(pipe), tavtest::urlOf(folder / "film.mkv")}));
    QLabel* refusal = nullptr;
    ASSERT_TRUE(tavtest::waitUntil(
        [&] {
            auto* card = remux->cardFor(pipe);
            refusal = card ? card->findChild<QLabel*>(QStringLiteral("failedMessage")) : nullptr;
            return refusal != nullptr && remux->cardFor(folder / "film.mkv") != nullptr &&
                   remux->cardFor(folder / "film.mkv")->findChild<QCheckBox*>() != nullptr;
        },
        60s));
    EXPECT_EQ(refusal->text(), QStringLiteral("\u201Cpipe.mp4\u201D is a named pipe, not a video "
                                              "or audio file, so Tavrolin did not read it. Remove "
                                              "it, then add the media file itself."));
    auto* remove = remux->cardFor(pipe)->findChild<QToolButton*>(QStringLiteral("removeButton"));
    remove->setFocus(Qt::TabFocusReason);
    QTest::keyClick(remove, Qt::Key_Space);
    ASSERT_TRUE(tavtest::waitUntil([&] { return remux->cardFor(pipe) == nullptr; }));
    EXPECT_TRUE(tavtest::waitUntil(
        [&] {
            return remux->findChild<QPushButton*>(QStringLiteral("addToQueueButton"))->isEnabled();
        },
        60s));
}

// A case whose tools are missing is left out, and the whole is then reported skipped.
TEST(PagesWindow, FollowOnADesktop) {
    TAVTEST_SKIP_UNLESS_XVFB_PARENT(childVariable);
    tavtest::PrivateDisplay::Options options;
    options.accessibilityBus = tavtest::hasProgram("dbus-daemon") &&
                               fs::exists("/usr/libexec/at-spi-bus-launcher") &&
                               tavtest::runTool({systemPython, "-c",
                                                 "import gi; gi.require_version('Atspi', '2.0'); "
                                                 "from gi.repository import Atspi"}) == 0;
    options.windowManager = tavtest::hasWindowManager();
    QStringList cases{QStringLiteral("PagesWindow.ClaimsChild"),
                      QStringLiteral("PagesWindow.RefusalsChild")};
    QStringList leftOut;
    (options.accessibilityBus ? cases : leftOut) << QStringLiteral("PagesWindow.SetTextChild");
    (options.windowManager ? cases : leftOut) << QStringLiteral("PagesWindow.FocusChild");

    tavtest::TempDir folder;
    QProcessEnvironment environment = tavtest::homeIn(folder.path());
    environment.insert(folderVariable, QString::fromStdString(folder.path().string()));
    environment.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    ASSERT_NO_FATAL_FAILURE(tavtest::expectPassesUnderXvfb(childVariable, cases.join(u':'),
                                                           environment, 540000, options));
    if (!leftOut.isEmpty()) {
        GTEST_SKIP() << leftOut.join(QStringLiteral(", ")).toStdString()
                     << " left out: needs dbus, at-spi2-core, python3-gi and gir1.2-atspi-2.0, "
                        "or openbox and xprop";
    }
}
