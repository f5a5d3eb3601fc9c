#include "shell/WorkspaceSection.h"

namespace tavrolin {

std::string_view rawValue(WorkspaceSection section) {
    switch (section) {
        case WorkspaceSection::remux:
            return "remux";
        case WorkspaceSection::join:
            return "join";
        case WorkspaceSection::split:
            return "split";
        case WorkspaceSection::transcribe:
            return "transcribe";
        case WorkspaceSection::rename:
            return "rename";
        case WorkspaceSection::queue:
            return "queue";
    }
    return "remux";
}

std::optional<WorkspaceSection> workspaceSectionFromRaw(std::string_view raw) {
    for (WorkspaceSection section : allWorkspaceSections) {
        if (rawValue(section) == raw) {
            return section;
        }
    }
    return std::nullopt;
}

QString title(WorkspaceSection section) {
    switch (section) {
        case WorkspaceSection::remux:
            return QStringLiteral("Remux");
        case WorkspaceSection::join:
            return QStringLiteral("Join");
        case WorkspaceSection::split:
            return QStringLiteral("Split");
        case WorkspaceSection::transcribe:
            return QStringLiteral("Transcribe");
        case WorkspaceSection::rename:
            return QStringLiteral("Sequence Rename");
        case WorkspaceSection::queue:
            return QStringLiteral("Queue");
    }
    return {};
}

QString symbolName(WorkspaceSection section) {
    switch (section) {
        case WorkspaceSection::remux:
            return QStringLiteral("arrow.triangle.2.circlepath");
        case WorkspaceSection::join:
            return QStringLiteral("rectangle.2.swap");
        case WorkspaceSection::split:
            return QStringLiteral("scissors");
        case WorkspaceSection::transcribe:
            return QStringLiteral("captions.bubble");
        case WorkspaceSection::rename:
            return QStringLiteral("character.cursor.ibeam");
        case WorkspaceSection::queue:
            return QStringLiteral("list.bullet.rectangle");
    }
    return {};
}

QString sidebarGroup(WorkspaceSection section) {
    switch (section) {
        case WorkspaceSection::rename:
            return QStringLiteral("Files");
        case WorkspaceSection::queue:
            return QStringLiteral("Processing");
        default:
            return QStringLiteral("Video");
    }
}

WorkspaceSelectionStore::WorkspaceSelectionStore(std::shared_ptr<PreferencesStore> preferences)
    : preferences_(std::move(preferences)) {}

WorkspaceSection WorkspaceSelectionStore::restoredSection() const {
    if (!preferences_) {
        return WorkspaceSection::remux;
    }
    const auto stored = preferences_->string(key);
    if (!stored) {
        return WorkspaceSection::remux;
    }
    return workspaceSectionFromRaw(*stored).value_or(WorkspaceSection::remux);
}

void WorkspaceSelectionStore::save(WorkspaceSection section) {
    if (preferences_) {
        preferences_->setString(key, std::string(rawValue(section)));
    }
}

}  // namespace tavrolin
