#pragma once

#include <QWidget>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "model/PreferencesStore.h"
#include "model/RemuxPlan.h"
#include "process/FFmpegToolchain.h"
#include "shell/WorkspacePage.h"
#include "shell/WorkspaceSection.h"

class QSplitter;
class QStackedWidget;

namespace tavrolin {

class JobQueueViewModel;
class MainNavigationSidebar;
class PreviewPreparing;

// The content of the main window: the workspace sidebar beside the selected workspace, the
// workspaces with their own services, the remembered selection and the window's drop target.
class RootView : public QWidget {
    Q_OBJECT
  public:
    RootView(JobQueueViewModel& queue, std::shared_ptr<PreferencesStore> preferences,
             QWidget* parent = nullptr);
    ~RootView() override;

    std::optional<WorkspaceSection> selection() const { return selection_; }
    // Selecting another section remembers it; selecting the current one writes nothing.
    void select(WorkspaceSection section);
    // The section shown (no selection shows Remux).
    WorkspaceSection shownSection() const;

    // Routes dropped URLs to the shown workspace; only local files are passed on. False on the
    // queue, or when the workspace took nothing.
    bool handleDrop(const QList<QUrl>& urls);
    bool isDropTargeted() const { return isDropTargeted_; }

    // Replaces a workspace's page (each workspace plugs in here).
    void setWorkspacePage(WorkspaceSection section, std::unique_ptr<WorkspacePage> page);
    // The page of `section`, made now when it was not yet.
    WorkspacePage* workspacePage(WorkspaceSection section) const;

    MainNavigationSidebar* sidebar() const { return sidebar_; }
    RemuxIntentParserAvailability remuxIntentParserAvailability() const;
    const std::shared_ptr<PreviewPreparing>& transcriptionPreviewService() const {
        return transcriptionPreviewService_;
    }

  signals:
    void settingsRequested();

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void showSection();
    void setDropTargeted(bool targeted);
    void updateQueueCount();

    JobQueueViewModel& queue_;
    std::optional<WorkspaceSection> selection_;
    bool isDropTargeted_ = false;
    WorkspaceSelectionStore workspaceSelectionStore_;
    std::shared_ptr<PreviewPreparing> transcriptionPreviewService_;
    // Pages are made on first use, from their makers.
    mutable std::map<WorkspaceSection, std::unique_ptr<WorkspacePage>> pages_;
    mutable std::map<WorkspaceSection, std::function<std::unique_ptr<WorkspacePage>()>> makers_;

    QSplitter* splitter_;
    MainNavigationSidebar* sidebar_;
    QStackedWidget* detail_;
    QWidget* dropOverlay_;
};

}  // namespace tavrolin
