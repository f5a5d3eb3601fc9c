#pragma once

#include <QWidget>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

class QPushButton;

namespace tavrolin {

class ElidedLabel;

// "Output folder" with the chosen folder's path (or "No folder selected") and "Choose…".
class OutputFolderRow : public QWidget {
    Q_OBJECT
  public:
    explicit OutputFolderRow(std::function<void()> choose, QWidget* parent = nullptr);

    // A folder with a `problem` (see `outputFolderProblem`) shows its path in orange with the
    // problem as tooltip and accessible description; the page shows the sentence inline.
    void setDirectory(const std::optional<std::filesystem::path>& directory,
                      const std::optional<std::string>& problem = std::nullopt);
    const std::optional<std::filesystem::path>& directory() const { return directory_; }

    ElidedLabel* pathLabel() const { return path_; }
    QPushButton* chooseButton() const { return choose_; }

  private:
    std::optional<std::filesystem::path> directory_;
    ElidedLabel* path_;
    QPushButton* choose_;
};

}  // namespace tavrolin
