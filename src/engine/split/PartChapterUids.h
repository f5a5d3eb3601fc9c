#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "engine/ChapterMetadataRenderer.h"

namespace tavrolin {

// A Matroska part's chapters carry as their ID the number of the source chapter each comes from
// (from 1), the same in every part a chapter reaches: a join knows by it the chapter a cut split
// in two. ffmpeg numbers a file's chapters from 1 as it writes them.

// The IDs of the chapters of the part from `from` to `to` (none: its end), in order.
std::vector<std::uint64_t> partChapterUids(const std::vector<SourceChapter>& chapters, double from,
                                           std::optional<double> to);

// Gives the chapters of the Matroska part `file`, in order, `uids`, and the tags that target
// them the same, each in the bytes ffmpeg wrote its own in. A file of another container, or one
// whose chapters are not as many or whose IDs do not fit, is left as it is. Throws
// std::runtime_error or fs::filesystem_error.
void writePartChapterUids(const std::filesystem::path& file,
                          const std::vector<std::uint64_t>& uids);

// The same on the finished part, a failure the split's sentence naming `output`.
void writeSplitPartChapterUids(const std::filesystem::path& file,
                               const std::filesystem::path& output,
                               const std::vector<std::uint64_t>& uids);

}  // namespace tavrolin
