#pragma once

#include <QString>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "model/PreferencesStore.h"

namespace tavrolin {

// The workspaces of the sidebar, in sidebar order.
enum class WorkspaceSection { remux, join, split, transcribe, rename, queue };

inline constexpr std::array<WorkspaceSection, 6> allWorkspaceSections{
    WorkspaceSection::remux,      WorkspaceSection::join,   WorkspaceSection::split,
    WorkspaceSection::transcribe, WorkspaceSection::rename, WorkspaceSection::queue};

std::string_view rawValue(WorkspaceSection section);
// Exact, case-sensitive: "Join" is no section.
std::optional<WorkspaceSection> workspaceSectionFromRaw(std::string_view raw);
QString title(WorkspaceSection section);
QString symbolName(WorkspaceSection section);
// "Video", "Files" or "Processing".
QString sidebarGroup(WorkspaceSection section);

// Remembers the selected workspace under "lastWorkspaceSection".
class WorkspaceSelectionStore {
  public:
    static constexpr const char* key = "lastWorkspaceSection";

    explicit WorkspaceSelectionStore(std::shared_ptr<PreferencesStore> preferences);

    // Remux when nothing, or nothing known, is stored.
    WorkspaceSection restoredSection() const;
    void save(WorkspaceSection section);

  private:
    std::shared_ptr<PreferencesStore> preferences_;
};

}  // namespace tavrolin
