#pragma once

#include <QStringList>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/OutputContainer.h"
#include "model/PreferencesStore.h"
#include "model/SubtitleCue.h"

class QWidget;

namespace tavrolin {

// Modal file dialogs shared by the workspaces. Each runs on the GUI thread and returns when the
// dialog closes; a cancelled dialog gives an empty list or no value. Every one is a PathDialog,
// which asks the file system nothing on the GUI thread: a slow or hung folder never holds the
// window, and the page that reads or writes checks the chosen files and folder after.
// `page` names the page that asks ("remux", "join", …): each dialog of a page opens where that
// page's dialog of its kind was last left (a starting folder given wins), kept across runs in
// the store given to rememberPanelFoldersIn.

// Where the dialogs keep their last folders; none keeps nothing. GUI thread, as the dialogs.
void rememberPanelFoldersIn(std::shared_ptr<PreferencesStore> preferences);

// The preference that holds the folder a page's dialog of a kind was last left in.
std::string lastFolderKey(std::string_view page, std::string_view kind);

std::vector<std::filesystem::path> chooseMediaFiles(std::string_view page,
                                                    bool allowsMultipleSelection,
                                                    QWidget* parent = nullptr);

std::optional<std::filesystem::path> chooseOutputFolder(
    std::string_view page, const std::optional<std::filesystem::path>& startingFolder,
    QWidget* parent = nullptr);

// Existing names are not confirmed: the operation that writes refuses an existing file itself.
std::optional<std::filesystem::path> chooseOutputFile(
    std::string_view page, const std::string& suggestedName, OutputContainer container,
    const std::optional<std::filesystem::path>& startingFolder, QWidget* parent = nullptr);

std::optional<std::filesystem::path> chooseSubtitleExportFile(
    std::string_view page, const std::string& suggestedName, SubtitleFileFormat format,
    const std::optional<std::filesystem::path>& startingFolder, QWidget* parent = nullptr);

std::optional<std::filesystem::path> chooseFFmpegExecutable(QWidget* parent = nullptr);

// The MIME-type filter of a save dialog for a file-name extension; empty when the MIME database
// knows no type for it.
QStringList contentTypeFilter(const QString& extension);

}  // namespace tavrolin
