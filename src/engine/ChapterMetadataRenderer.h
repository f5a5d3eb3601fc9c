#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/ChapterMarker.h"

namespace tavrolin {

// Tags as ffprobe reports them, in its order.
using SourceTags = std::vector<std::pair<std::string, std::string>>;

// A chapter of a source file as ffprobe reports it: seconds from the file's time zero, and
// every tag.
struct SourceChapter {
    double start = 0;
    double end = 0;
    SourceTags tags;
    // Matroska's ChapterUID; 0 where the file has none (other containers).
    std::uint64_t uid = 0;

    friend bool operator==(const SourceChapter&, const SourceChapter&) = default;
};

// The chapters of the part of a file from `from` to `to` (none: its end) that overlap it, in
// whole milliseconds, as indices into `chapters`.
std::vector<std::size_t> chaptersInPart(const std::vector<SourceChapter>& chapters, double from,
                                        std::optional<double> to);

// One `key=value` line of an FFMETADATA file, escaped so that ffmpeg reads back exactly this key
// and value, whatever bytes they hold but NUL, which a tag cannot hold and is left out. Empty
// when the key is (a tag needs a name).
std::string ffmetadataTagLine(std::string_view key, std::string_view value);

// Writes chapter markers as the text of an FFmpeg FFMETADATA (version 1) file, and decides
// whether a chapter list can be written at all.
class ChapterMetadataRenderer {
  public:
    // The complete file text, lines ending in a line feed, times in milliseconds. Each chapter
    // ends where the next one starts; the last ends at `duration` (seconds). Throws
    // MediaProcessingError::invalidRequest when the duration or a marker cannot be written.
    std::string render(const std::vector<ChapterMarker>& chapters, double duration) const;

    // The chapters of the part of a file from `from` to `to` (none: its end): those that
    // overlap it, shifted to its start and clipped to its ends, in milliseconds, with all their
    // tags. None when no chapter overlaps the part.
    std::optional<std::string> renderPart(const std::vector<SourceChapter>& chapters, double from,
                                          std::optional<double> to) const;

    // A whole file's metadata: `tags` as the file's own, then `chapters` as they are, in
    // milliseconds, with all their tags; a chapter that ends by its start is left out.
    std::string renderFile(const SourceTags& tags,
                           const std::vector<SourceChapter>& chapters) const;
};

}  // namespace tavrolin
