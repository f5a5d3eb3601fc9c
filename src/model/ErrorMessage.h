#pragma once

#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tavrolin {

// The user-facing text of an error: a file-system error reads “file name”: reason (the
// strerror text); every other error its what().
std::string userMessage(const std::exception& error);
std::string userMessage(std::exception_ptr error);

// A file or folder's name in curly quotes, as messages show it: the last component (a folder
// given with a trailing slash is named too), the whole path when it has no name ("/").
std::string quotedName(const std::filesystem::path& path);

// The sentence for a file that is no longer where the user chose it, naming the file and its
// folder: "“gone.mp4” is no longer in “Movies”. Add it again, or choose another file."
std::string missingFileMessage(const std::filesystem::path& file);

// Whether nothing is at `file` any more: no such name, or a symbolic link to nothing. Touches
// the disk; any thread.
bool isFileGone(const std::filesystem::path& file) noexcept;

// What stands at `file` when it is neither a regular file nor a link to one: "a folder", "a named
// pipe", "a device", "a socket" or "a link that leads back to itself" (a loop of links); none
// for a regular file or when nothing is there. Asks with stat(), which never opens the file, so
// a named pipe with no writer cannot hold the caller. Touches the disk; any thread.
std::optional<std::string_view> specialFileKind(const std::filesystem::path& file) noexcept;

// The sentence for a chosen or dropped `file` that is `kind` (see specialFileKind).
std::string notRegularFileMessage(const std::filesystem::path& file, std::string_view kind);

// Whether `message` names `fileName` in curly quotes, as a sentence about that file does: such
// a message stands without a lead that names the file again.
bool namesFile(std::string_view message, std::string_view fileName);

}  // namespace tavrolin
