#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rename/FileManaging.h"

namespace tavrolin {

// The hidden file a rename leaves in its folder until it has finished or been undone: which file
// (by identity) went to which temporary name, from which old name, for which new one. A crash
// between the moves leaves it behind, and the next plan of the folder offers to restore the names.
inline constexpr std::string_view renameJournalName = ".tavrolin-rename-journal";

// One file of the rename; names are file names within the journal's folder.
struct RenameJournalEntry {
    FileIdentity identity;
    std::string temporaryName;
    std::string sourceName;
    std::string destinationName;
    friend bool operator==(const RenameJournalEntry&, const RenameJournalEntry&) = default;
};

// Text form: a header line, then one line per entry with its fields separated by spaces; bytes
// that could break a line or a field are percent-escaped, so any file name survives. Pure.
std::string renderRenameJournal(const std::vector<RenameJournalEntry>& entries);
// None when the text is not a journal (damaged or of another version). Pure.
std::optional<std::vector<RenameJournalEntry>> parseRenameJournal(std::string_view text);

}  // namespace tavrolin
