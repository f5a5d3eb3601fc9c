#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "engine/ChapterMetadataRenderer.h"

namespace tavrolin {

// A Matroska part's chapters carry as their ID the number of the source chapter each comes from
// (from 1), the same in every part a chapter reaches: a join knows by it the chapter a cut split
// in two. ffmpeg numbers a file's chapters from 1 as it writes them. The MP4 family's chapters
// have no IDs: there a part marks which of its ends cut a chapter, and that chapter's number
// (modulo 15, from 1), in the byte of its Nero chapter list that every reader skips.

struct PartChapterIds {
    std::vector<std::uint64_t> uids;  // in order
    // The number of the chapter cut at the part's start, and at its end; 0 where none is.
    std::uint64_t cutAtStart = 0;
    std::uint64_t cutAtEnd = 0;

    friend bool operator==(const PartChapterIds&, const PartChapterIds&) = default;
};

// Which of its ends a part cut a chapter at, as a join reads it back: each number from 1 to 15,
// 0 where the part cut none there or says nothing.
struct PartChapterCuts {
    std::uint8_t atStart = 0;
    std::uint8_t atEnd = 0;

    friend bool operator==(const PartChapterCuts&, const PartChapterCuts&) = default;
};

// The IDs of the chapters of the part from `from` to `to` (none: its end).
PartChapterIds partChapterUids(const std::vector<SourceChapter>& chapters, double from,
                               std::optional<double> to);

// Gives the chapters of the Matroska part `file`, in order, `ids.uids`, and the tags that target
// them the same, each in the bytes ffmpeg wrote its own in; in an MP4 family part, marks the
// chapters its ends cut. A file of another container, or one whose chapters are not as many or
// whose IDs do not fit, is left as it is. Throws std::runtime_error or fs::filesystem_error.
void writePartChapterUids(const std::filesystem::path& file, const PartChapterIds& ids);

// The same on the finished part, a failure the split's sentence naming `output`.
void writeSplitPartChapterUids(const std::filesystem::path& file,
                               const std::filesystem::path& output, const PartChapterIds& ids);

// What an MP4 family part marked so; nothing from a file that cannot be read or holds no mark.
PartChapterCuts readPartChapterCuts(const std::filesystem::path& file);

}  // namespace tavrolin
