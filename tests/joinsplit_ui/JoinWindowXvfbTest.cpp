// The Join workspace in the application's real window on an X server: empty, then with two
// files, at the minimum and the default window size, walked with Tab; and the two rows followed
// as the window shrinks. The test runs itself again on an X server of its own.
#include <gtest/gtest.h>

#include <QListView>
#include <QTimer>

#include "joinsplit/JoinView.h"
#include "queue/JobQueueViewModel.h"
#include "remux/RemuxTestSupport.h"
#include "shell/MainNavigationSidebar.h"
#include "shell/RootView.h"
#include "shell/TavrolinApp.h"
#include "shell/WorkspacePage.h"
#include "support/TestAppConfiguration.h"
#include "support/WindowChecks.h"
#include "widgets/FileListEditor.h"
#include "widgets/PathDialog.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

const char* const childVariable = "TAVROLIN_JOIN_XVFB_CHILD";

}  // namespace

TEST(JoinWindow, Child) {
    if (!qEnvironmentVariableIsSet(childVariable)) {
        GTEST_SKIP() << "runs only on its own X server, started by JoinWindow.FitsAndWalks";
    }
    tavtest::prepareRemuxTest();
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    tavtest::TempDir home;
    TavrolinApp app(tavtest::appConfiguration(home.path()));
    MainWindow* window = app.mainWindow();
    window->resize(tavtest::windowSizes[1]);
    ASSERT_TRUE(tavtest::showActive(window));
    RootView* root = window->rootView();
    root->select(WorkspaceSection::join);
    auto* view = window->findChild<JoinView*>();
    ASSERT_NE(view, nullptr);
    SidebarRow* start = root->sidebar()->row(WorkspaceSection::join);
    tavtest::expectFits(window, view, "join-empty");
    tavtest::expectKeyboardWalk(start, view);
    tavtest::expectNamedAccessibleTree(window);

    const auto& media = tavtest::TestMedia::shared();
    ASSERT_TRUE(
        root->workspacePage(WorkspaceSection::join)->addFiles({media.mp4ClipA, media.mp4ClipB}));
    auto* list = view->findChild<FileListEditor*>(QStringLiteral("fileList"));
    ASSERT_TRUE(tavtest::waitUntil(
        [&] { return view->findChild<QPushButton*>(QStringLiteral("queueButton"))->isEnabled(); }));
    // Shrunk from the default size, the rows follow the list: every button stays in view.
    window->resize(tavtest::windowSizes[1]);
    ASSERT_TRUE(tavtest::settled(window, tavtest::windowSizes[1]));
    window->resize(tavtest::windowSizes[0]);
    ASSERT_TRUE(tavtest::settled(window, tavtest::windowSizes[0]));
    for (int row = 0; row < 2; ++row) {
        for (auto button : {FileListEditor::Button::moveEarlier, FileListEditor::Button::moveLater,
                            FileListEditor::Button::remove}) {
            EXPECT_LE(list->buttonRect(row, button).right(), list->listView()->viewport()->width())
                << row;
        }
    }
    tavtest::expectFits(window, view, "join-two-files");
    tavtest::expectKeyboardWalk(start, view);
    tavtest::expectNamedAccessibleTree(window);

    // Queued by keyboard through the real save panel: once the panel closes and the list
    // empties, the focus is back on the page, where the next files come in. A window manager
    // gives the window its activation back only a while after the panel closes; another
    // window holds it meanwhile here.
    auto* queueButton = view->findChild<QPushButton*>(QStringLiteral("queueButton"));
    queueButton->setFocus(Qt::TabFocusReason);
    const QString output = QString::fromStdString((home.path() / "together.mp4").string());
    QWidget elsewhere;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* panel = qobject_cast<PathDialog*>(QApplication::activeModalWidget())) {
            answer.stop();
            panel->selectName(output);
            panel->accept();
            elsewhere.show();
            QApplication::setActiveWindow(&elsewhere);
        }
    });
    answer.start(20);
    QTest::keyClick(queueButton, Qt::Key_Space);
    ASSERT_TRUE(tavtest::waitUntil([&] { return app.queue().jobs().size() == 1u; }));
    EXPECT_EQ(app.queue().jobs()[0].request.output().string(), output.toStdString());
    elsewhere.hide();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(tavtest::waitUntil([&] { return window->isActiveWindow(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), view->findChild<QPushButton*>("addFilesButton"))
        << tavtest::describeWidget(QApplication::focusWidget());
}

TEST(JoinWindow, FitsAndWalks) {
    TAVTEST_SKIP_UNLESS_XVFB_PARENT(childVariable);
    tavtest::expectPassesUnderXvfb(childVariable, "JoinWindow.Child");
}
