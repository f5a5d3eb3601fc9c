// The Split workspace in the application's real window on an X server: a clip dropped on the
// window, a frame chosen with the slider and the frame buttons, and a screenshot of the preview
// whose pixels name the model's current frame. The test runs itself again under xvfb-run.
#include <gtest/gtest.h>

#include <QMimeData>
#include <QProcess>
#include <QScreen>
#include <QSlider>
#include <QStandardPaths>

#include "app/RootView.h"
#include "app/TavrolinApp.h"
#include "joinsplit/IndexedClips.h"
#include "joinsplit/SplitPreviewViewModel.h"
#include "joinsplit/SplitSourceEditor.h"
#include "joinsplit/SplitView.h"
#include "remux/RemuxTestSupport.h"
#include "support/TestAppConfiguration.h"
#include "support/XvfbChild.h"

using namespace tavrolin;
namespace fs = std::filesystem;

namespace {

const char* const childVariable = "TAVROLIN_SPLIT_XVFB_CHILD";

// The frame index drawn in the surface, read from a screenshot of the window.
int indexOnScreen(QWidget* window, SplitPlayerSurface* surface, const QImage& picture) {
    const QImage shot = window->screen()
                            ->grabWindow(window->winId())
                            .toImage()
                            .convertToFormat(QImage::Format_RGB32);
    QRect target(QPoint(0, 0), picture.size().scaled(surface->size(), Qt::KeepAspectRatio));
    target.moveCenter(surface->rect().center());
    target.moveTopLeft(surface->mapTo(window, target.topLeft()));
    const QImage area = shot.copy(target);
    return tavtest::indexShownIn(area.constBits(), area.width(), area.height(),
                                 static_cast<int>(area.bytesPerLine()));
}

}  // namespace

TEST(SplitWindow, Child) {
    if (!qEnvironmentVariableIsSet(childVariable)) {
        GTEST_SKIP() << "runs only under xvfb-run, started by SplitWindow.ScreenshotShowsTheFrame";
    }
    tavtest::prepareRemuxTest();
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    const fs::path clip = tavtest::indexedClips()[1].file;
    tavtest::TempDir home;
    TavrolinApp app(tavtest::appConfiguration(home.path()));
    MainWindow* window = app.mainWindow();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window, 10000));
    window->rootView()->select(WorkspaceSection::split);
    ASSERT_TRUE(
        window->rootView()->handleDrop({QUrl::fromLocalFile(QString::fromStdString(clip))}));

    auto* view = window->findChild<SplitView*>();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(tavtest::waitUntil([&] { return view->editor()->preview() != nullptr; }));
    SplitVideoPreview* preview = view->editor()->preview();
    SplitPreviewViewModel& model = preview->model();
    ASSERT_TRUE(tavtest::waitUntil([&] { return model.duration() > 0; }));
    auto* surface = preview->findChild<SplitPlayerSurface*>();
    ASSERT_TRUE(tavtest::waitUntil([&] { return surface->isVisible(); }));

    for (int frame : {37, 36, 90}) {
        SCOPED_TRACE(frame);
        if (frame == 36) {
            for (auto* button : preview->findChildren<AcceleratingFrameButton*>()) {
                if (button->text() == "Previous Frame") {
                    QTest::mouseClick(button, Qt::LeftButton);
                }
            }
        } else {
            preview->findChild<QSlider*>()->setValue(frame);
        }
        ASSERT_EQ(model.currentFrame(), frame);
        EXPECT_TRUE(tavtest::waitUntil(
            [&] { return indexOnScreen(window, surface, model.player().picture()) == frame; }));
    }
}

TEST(SplitWindow, ScreenshotShowsTheFrame) {
    TAVTEST_SKIP_UNLESS_XVFB_PARENT(childVariable);
    tavtest::expectPassesUnderXvfb(childVariable, "SplitWindow.Child");
}
