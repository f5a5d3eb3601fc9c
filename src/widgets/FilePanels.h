#pragma once

#include <QStringList>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "model/OutputContainer.h"
#include "model/SubtitleCue.h"

class QWidget;

namespace tavrolin {

// Modal file dialogs shared by the workspaces. Each runs on the GUI thread and returns when the
// dialog closes; a cancelled dialog gives an empty list or no value. Every one is a PathDialog,
// which asks the file system nothing on the GUI thread: a slow or hung folder never holds the
// window, and the page that reads or writes checks the chosen files and folder after.

std::vector<std::filesystem::path> chooseMediaFiles(bool allowsMultipleSelection,
                                                    QWidget* parent = nullptr);

std::optional<std::filesystem::path> chooseOutputFolder(
    const std::optional<std::filesystem::path>& startingFolder, QWidget* parent = nullptr);

// Existing names are not confirmed: the operation that writes refuses an existing file itself.
std::optional<std::filesystem::path> chooseOutputFile(
    const std::string& suggestedName, OutputContainer container,
    const std::optional<std::filesystem::path>& startingFolder, QWidget* parent = nullptr);

std::optional<std::filesystem::path> chooseSubtitleExportFile(
    const std::string& suggestedName, SubtitleFileFormat format,
    const std::optional<std::filesystem::path>& startingFolder, QWidget* parent = nullptr);

std::optional<std::filesystem::path> chooseFFmpegExecutable(QWidget* parent = nullptr);

// The MIME-type filter of a save dialog for a file-name extension; empty when the MIME database
// knows no type for it.
QStringList contentTypeFilter(const QString& extension);

}  // namespace tavrolin
