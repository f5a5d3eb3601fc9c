#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ChapterMetadataRenderer.h"
#include "engine/split/PartChapterUids.h"

namespace tavrolin {

// What a join keeps of one file besides its packets, as ffprobe reads it: where the concat
// reader places the next file (this one's start and length), the file's own tags and its
// chapters, and which of its streams are the MP4 family's text track of those chapters. A plain
// value.
struct JoinedFileFacts {
    std::optional<double> duration;
    double start = 0;
    SourceTags tags;
    std::vector<SourceChapter> chapters;
    std::vector<std::int64_t> chapterTracks;
    // The MP4 family's count of its first video stream's samples, from its header: its packets.
    // Other demuxers' counts may be estimates, so their files are counted by reading them.
    std::optional<std::int64_t> videoSamples = std::nullopt;
    // The chapters an MP4 family part of a split cut at its ends, as it marks them.
    PartChapterCuts chapterCuts;

    friend bool operator==(const JoinedFileFacts&, const JoinedFileFacts&) = default;
};

// ffprobe's entries (-show_entries syntax) for those facts, read beside each stream's index, type
// and tag.
extern const std::string joinedFileEntries;

// Reads them from ffprobe's JSON report, and what `file` marks of its chapters; none when the
// report is not one.
std::optional<JoinedFileFacts> parseJoinedFileFacts(std::string_view json,
                                                    const std::filesystem::path& file);

// The joined file's chapters: each file's, clipped to the file, at its place in the join, which
// is after the lengths of the files before it (the concat reader's own placing); a file's first
// chapter that goes on from the one before's last makes one chapter with it where both have the
// same tags and are known as the chapter a split cut there: by their Matroska chapter ID, or in
// the MP4 family by the mark of both parts (see PartChapterUids.h). Elsewhere both marks stay.
// Throws MediaProcessingError::invalidRequest naming a file whose length is unknown when a later
// file has chapters, which could then not be placed.
std::vector<SourceChapter> joinedChapters(const std::vector<std::filesystem::path>& files,
                                          const std::vector<JoinedFileFacts>& facts);

}  // namespace tavrolin
