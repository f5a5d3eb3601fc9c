#pragma once

#include <filesystem>
#include <string_view>

#include "model/Uuid.h"

namespace tavrolin {

// File-system steps that never replace a file by accident. Failures are thrown as
// std::filesystem::filesystem_error.

// The longest file name the file systems we write to accept, in bytes.
inline constexpr std::size_t maximumFileNameBytes = 255;

// Moves the file `from` to `to` in one step and never replaces an existing `to` (an existing
// name, even a dangling symbolic link, fails with EEXIST). Uses renameat2 with
// RENAME_NOREPLACE; where the file system lacks it, link + unlink, which refuses an existing
// name as well. When neither is available the move fails rather than risk a replacement.
// The error names `to` first, then `from`.
void moveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

// The fallback of moveNoReplace on its own: link `to` to `from`, then unlink `from`.
void moveNoReplaceByLink(const std::filesystem::path& from, const std::filesystem::path& to);

// A hidden working name beside `target`: "." + stem + marker + UUID text + extension, for
// example /Movies/.Trip.tmp-tavrolin-<UUID>.mkv for marker ".tmp-tavrolin-". A target without an
// extension gives a name without one.
std::filesystem::path hiddenSiblingName(const std::filesystem::path& target,
                                        std::string_view marker, const Uuid& uuid);

// A hidden backup name beside `target`: "." + file name (extension included) + marker + UUID
// text, for example /Movies/.Trip.mkv.tavrolin-backup-<UUID>.
std::filesystem::path hiddenBackupName(const std::filesystem::path& target, std::string_view marker,
                                       const Uuid& uuid);

// Both names above stay within maximumFileNameBytes: the target's stem (or file name) is shortened
// at a character boundary; the marker, the UUID and the extension are kept whole. When even an
// empty stem would not fit, ENAMETOOLONG is thrown.

// Creates `path`, which must not exist yet, with `contents` as its bytes, and flushes it to disk
// (fsync) before returning. On failure nothing is left at `path`.
void writeNewFile(const std::filesystem::path& path, std::string_view contents);

// Whether anything, even a dangling symbolic link, has this name.
bool nameExists(const std::filesystem::path& path) noexcept;

// Whether an errno says the file system cannot do an operation at all (as opposed to refusing it
// for this file).
bool isUnsupportedOperation(int error) noexcept;

// Whether an errno says a write found no room: a full disk (ENOSPC), a quota (EDQUOT) or a
// file size limit (EFBIG).
bool isOutOfSpace(int error) noexcept;

// Removes a file and ignores every failure; for clean-up that must never hide the real outcome.
void removeQuietly(const std::filesystem::path& path) noexcept;

}  // namespace tavrolin
