#pragma once

namespace tavrolin {

// How a Matroska file's chapter editions steer playback, beyond the marks ffprobe lists: an
// ordered edition plays only its chapters, in their order, and a chapter may play part of
// another file (a linked segment). Both false for every other file.
struct ChapterEditions {
    bool ordered = false;
    bool linksOtherSegments = false;

    friend bool operator==(const ChapterEditions&, const ChapterEditions&) = default;
};

}  // namespace tavrolin
