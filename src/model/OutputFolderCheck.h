#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace tavrolin {

// The probe file's name: this prefix and a fresh UUID.
inline constexpr std::string_view writeCheckPrefix = ".tavrolin-write-check-";
// What a page shows where the folder's problem would be while a check takes long.
inline constexpr std::string_view checkingFolderText = "Checking the folder\u2026";

// What a page shows for a folder whose check has had no answer for a while (a hung mount).
std::string folderNotAnsweringText(const std::filesystem::path& folder);

// Whether new files can be made in an output folder. Asked by creating a hidden probe file
// (".tavrolin-write-check-<UUID>") and removing it at once, the one question that answers for
// read-only mounts, permission bits, ACLs and root alike. Probes that an earlier check left
// (killed between creating and removing) are removed first. A folder that does not exist yet
// has no problem here: the job creates it and reports its own failure. Blocking file-system
// calls that a stalled mount can hold indefinitely: never on the GUI thread. Returns the user's
// sentence when the folder cannot be written, none when it can.
std::optional<std::string> outputFolderProblem(const std::filesystem::path& folder);

// The probe itself: the error of creating a hidden file in an existing folder, empty when one
// could be created (or a file of that name already stood there).
std::error_code folderWriteError(const std::filesystem::path& folder);

// "<stem><extension>", then "<stem> 2<extension>", "<stem> 3<extension>", …: the first name
// that `taken` does not refuse (or the last tried, after ten thousand).
std::string firstFreeName(const std::string& stem, const std::string& extension,
                          const std::function<bool(const std::string& name)>& taken);

// Whether the name is one of a probe's, exactly.
bool isWriteCheckName(std::string_view name);

// Removes every probe in the folder. A live check of this process or another loses nothing by
// it: its own removal then finds the name gone. Failures are ignored; the next check retries.
void removeWriteChecks(const std::filesystem::path& folder);

}  // namespace tavrolin
