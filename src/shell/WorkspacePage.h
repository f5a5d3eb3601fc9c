#pragma once

#include <QPointer>
#include <QWidget>
#include <filesystem>
#include <vector>

namespace tavrolin {

// A workspace's place in the main window: its view, and where dropped files go. Each workspace
// brings its own page; the root view only switches between them and routes drops.
class WorkspacePage {
  public:
    virtual ~WorkspacePage() = default;
    virtual QWidget* view() const = 0;
    // Hands dropped files to the workspace; true when it took any.
    virtual bool addFiles(const std::vector<std::filesystem::path>& files) = 0;
};

}  // namespace tavrolin
