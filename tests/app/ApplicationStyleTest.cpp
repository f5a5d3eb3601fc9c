#include <gtest/gtest.h>
#include <QGroupBox>
#include <QMenuBar>
#include <QStyleFactory>
#include <fstream>
#include <string>

#include "QtTestApplication.h"
#include "app/ApplicationStyle.h"

using namespace tavrolin;

namespace {

bool mapsImageFormatPlugins() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find("plugins/imageformats/") != std::string::npos) {
            return true;
        }
    }
    return false;
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
    struct Row {
        const char* title;
        bool checkable;
    };
    const Row rows[] = {{"", false}, {"Preview", false}, {"Output", true}};
    std::vector<QImage> ours;
    for (const Row& row : rows) {
        ours.push_back(rendered(style, row.title, row.checkable));
    }
    EXPECT_FALSE(mapsImageFormatPlugins());
    // Fusion's own drawing reads its picture with probing, so it comes last.
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].title);
        EXPECT_EQ(ours[i], rendered(fusion.get(), rows[i].title, rows[i].checkable));
    }
}
