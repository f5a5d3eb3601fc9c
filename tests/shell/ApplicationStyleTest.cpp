#include <gtest/gtest.h>
#include <QGroupBox>
#include <QMenuBar>
#include <QStyleFactory>
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
