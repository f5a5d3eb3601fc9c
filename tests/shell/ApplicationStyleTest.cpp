#include <gtest/gtest.h>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QMenuBar>
#include <QPushButton>
#include <QStyleFactory>
#include <QTest>
#include <fstream>
#include <iterator>
#include <string>

#include "shell/ApplicationStyle.h"
#include "support/QtTestApplication.h"

using namespace tavrolin;

namespace {

bool mapsImageFormatPlugins() {
    std::ifstream maps("/proc/self/maps");
    const std::string mapped{std::istreambuf_iterator<char>(maps), {}};
    return mapped.find("plugins/imageformats/") != std::string::npos;
}

QImage rendered(QStyle* style, const QString& title, bool checkable) {
    QGroupBox box(title);
    box.setStyle(style);
    box.setCheckable(checkable);
    box.resize(180, 90);
    QImage image(box.size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    box.render(&image);
    return image;
}

}  // namespace

// Group boxes and a menu bar look as under Fusion, and no image-format plugin is loaded for them.
TEST(ApplicationStyle, DrawsAsFusionWithoutLoadingImagePlugins) {
    tavtest::qtApplication();
    ApplicationStyle* style = new ApplicationStyle;
    QApplication::setStyle(style);
    if (style->baseStyle()->name() != "fusion") {
        GTEST_SKIP() << "the desktop style here is not Fusion";
    }
    QMenuBar bar;
    bar.addMenu("File");
    std::unique_ptr<QStyle> fusion(QStyleFactory::create("Fusion"));
    // A box without title, one with, and a checkable one.
    const std::pair<QString, bool> rows[] = {{"", false}, {"Preview", false}, {"Output", true}};
    std::vector<QImage> ours;
    for (const auto& [title, checkable] : rows) {
        ours.push_back(rendered(style, title, checkable));
    }
    EXPECT_FALSE(mapsImageFormatPlugins());
    // Fusion's own drawing reads its picture with probing, so it comes last.
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].first.toStdString());
        EXPECT_EQ(ours[i], rendered(fusion.get(), rows[i].first, rows[i].second));
    }
}

// Return and Enter press a focused push button anywhere, once, as Space does; nothing else.
TEST(ApplicationStyle, ReturnPressesTheFocusedButton) {
    tavtest::qtApplication();
    QApplication::setStyle(new ApplicationStyle);
    QWidget window;
    QDialog dialog;
    auto* plain = new QPushButton("Clear Finished", &window);
    auto* disabled = new QPushButton("Start", &window);
    disabled->setEnabled(false);
    auto* box = new QCheckBox("Keep", &window);
    auto* inDialog = new QPushButton("Choose", &dialog);
    struct Row {
        const char* name;
        QAbstractButton* button;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int clicks;
    };
    const Row rows[] = {
        {"Return", plain, Qt::Key_Return, Qt::NoModifier, 1},
        {"keypad Enter", plain, Qt::Key_Enter, Qt::KeypadModifier, 1},
        {"Space as before", plain, Qt::Key_Space, Qt::NoModifier, 1},
        {"with Control", plain, Qt::Key_Return, Qt::ControlModifier, 0},
        {"disabled", disabled, Qt::Key_Return, Qt::NoModifier, 0},
        {"check box", box, Qt::Key_Return, Qt::NoModifier, 0},
        {"dialog button", inDialog, Qt::Key_Return, Qt::NoModifier, 1},
    };
    window.show();
    dialog.show();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QApplication::setActiveWindow(row.button->window());
        row.button->setFocus();
        int clicks = 0;
        const auto connection =
            QObject::connect(row.button, &QAbstractButton::clicked, [&] { ++clicks; });
        QTest::keyClick(row.button, row.key, row.modifiers);
        QObject::disconnect(connection);
        EXPECT_EQ(clicks, row.clicks);
    }
}
