#include "widgets/PlacesList.h"

#include <QDir>
#include <QStyle>

#include "widgets/AppStyle.h"
#include "widgets/BlockingFileWork.h"

namespace tavrolin {

PlacesList::PlacesList(QWidget* parent)
    : QListWidget(parent), work_(std::make_unique<BlockingFileWork>(this)) {
    setObjectName(QStringLiteral("placesList"));
    setAccessibleName(QStringLiteral("Places"));
    showPlaces({{FilePlace::Kind::home, QStringLiteral("Home"), toPath(QDir::homePath())}});
    const auto choose = [this](QListWidgetItem* item) {
        emit placeChosen(toPath(item->data(Qt::UserRole).toString()));
    };
    connect(this, &QListWidget::itemClicked, this, choose);
    connect(this, &QListWidget::itemActivated, this, choose);
}

PlacesList::~PlacesList() = default;

void PlacesList::showEvent(QShowEvent* event) {
    if (!read_) {
        read_ = true;
        work_->start([this, sources = FilePlaceSources::standard()] {
            return [this, places = readFilePlaces(sources)] { showPlaces(places); };
        });
    }
    QListWidget::showEvent(event);
}

void PlacesList::showPlaces(const std::vector<FilePlace>& places) {
    clear();
    for (const FilePlace& place : places) {
        QStyle::StandardPixmap icon = QStyle::SP_DirIcon;
        if (place.kind == FilePlace::Kind::home) {
            icon = QStyle::SP_DirHomeIcon;
        } else if (place.kind == FilePlace::Kind::drive) {
            icon = QStyle::SP_DriveHDIcon;
        }
        auto* item = new QListWidgetItem(style()->standardIcon(icon), place.label, this);
        item->setData(Qt::UserRole, toQString(place.path));
        item->setToolTip(plainToolTip(toQString(place.path)));
    }
}

}  // namespace tavrolin
