#pragma once

#include <QListWidget>

#include <filesystem>
#include <memory>
#include <vector>

#include "widgets/FilePlaces.h"

namespace tavrolin {

class BlockingFileWork;

// The places beside a file dialog's listing: home at once, the rest once read on a thread of its
// own (readFilePlaces) when first shown. A click, or Return on one, asks to open it. GUI thread
// only; a reading still out when the list goes is abandoned.
class PlacesList : public QListWidget {
    Q_OBJECT

  public:
    explicit PlacesList(QWidget* parent = nullptr);
    ~PlacesList() override;

  signals:
    void placeChosen(const std::filesystem::path& place);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void showPlaces(const std::vector<FilePlace>& places);

    bool read_ = false;
    std::unique_ptr<BlockingFileWork> work_;
};

}  // namespace tavrolin
