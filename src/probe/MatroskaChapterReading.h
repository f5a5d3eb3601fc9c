#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "model/ChapterEditions.h"

namespace tavrolin {

// Reads the Chapters element of a Matroska or WebM file, which ffprobe flattens into plain
// marks, to tell whether an edition is ordered or a chapter links another segment. Reads at
// most a few hundred kilobytes whatever the file says about its sizes; any other file, an
// unreadable one or a malformed element gives no flags. Never throws; any thread.
ChapterEditions readMatroskaChapterEditions(const std::filesystem::path& file) noexcept;

// The flags found in the body of a Chapters element (its children, without the element's own
// identifier and size). Stops at the first malformed child, keeping what it read before.
ChapterEditions parseMatroskaChapters(std::span<const std::uint8_t> body);

}  // namespace tavrolin
