#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/FileIdentity.h"

namespace tavrolin {

// The hidden file a rename leaves in its folder until it has finished or been undone: which file
// went to which temporary name, from which old name, for which new one. A crash between the
// moves leaves it behind, and the folder then offers to restore the names.
inline constexpr std::string_view renameJournalName = ".tavrolin-rename-journal";
// Every temporary name of a renamed file begins so, followed by a UUID and the file's extension.
inline constexpr std::string_view renameTemporaryPrefix = ".tavrolin-rename-";

// What confirms that a file found at a recorded name is the recorded file: a new file at the same
// name differs in size or modification time, and an inode is compared only on the same device
// (a disk mounted again may number devices and inodes differently).
struct FileFingerprint {
    FileIdentity identity;
    // Absent in journals of the first format.
    std::optional<std::uint64_t> size;
    std::optional<std::int64_t> modifiedNanoseconds;
    friend bool operator==(const FileFingerprint&, const FileFingerprint&) = default;
};

// Whether what is found now agrees with what was recorded, as far as the record can tell. Only
// `strictly` compares inodes (on the same device): FAT file systems renumber them when mounted
// again. A record without size and time (the first format) confirms only the same device and
// inode, strictly or not.
bool confirmsFingerprint(const FileFingerprint& recorded, const FileFingerprint& found,
                         bool strictly);

// Whether the name is one this program gives a file during a rename: the prefix, an upper-case
// UUID, then nothing or an extension.
bool isRenameTemporaryName(std::string_view name);

// One file of the rename; names are file names within the journal's folder.
struct RenameJournalEntry {
    FileFingerprint fingerprint;
    std::string temporaryName;
    std::string sourceName;
    std::string destinationName;
    friend bool operator==(const RenameJournalEntry&, const RenameJournalEntry&) = default;
};

struct RenameJournal {
    std::vector<RenameJournalEntry> entries;
    // A journal of the first format has no count or checksum: when cut short at a line end it
    // looks whole, so it is trusted only when it names every temporary name of its folder.
    bool provablyWhole = true;
};

// Text form: a header line, the entry count, one line per entry with its fields separated by
// spaces, and a checksum of everything before it. Bytes that could break a line or a field are
// percent-escaped, so any file name survives. Pure.
std::string renderRenameJournal(const std::vector<RenameJournalEntry>& entries);
// None when the text is not a whole journal: cut short, with anything appended, with a wrong
// checksum, or naming one file, name or identity twice. Reads the first format too. Pure.
std::optional<RenameJournal> parseRenameJournal(std::string_view text);

// The escaping of names in the journal, for other small records of paths.
void appendEscapedName(std::string& out, std::string_view name);
std::optional<std::string> unescapedName(std::string_view field);

}  // namespace tavrolin
