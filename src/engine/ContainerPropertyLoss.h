#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/ChapterEditions.h"
#include "model/MediaStream.h"
#include "model/OutputContainer.h"

namespace tavrolin {

// One property of a source that a stream copy into a container will not keep.
struct PropertyLoss {
    enum class Kind { language, title, forcedFlag, chapterOrder, segmentLinks };
    Kind kind = Kind::language;
    // The stream that loses it; none for the file's chapters.
    std::optional<std::int64_t> streamIndex;
    // What is lost and why, as one line of the confirmation: "#3 audio: MOV cannot store the
    // language “deu”."
    std::string sentence;

    friend bool operator==(const PropertyLoss&, const PropertyLoss&) = default;
};

// Which stream and chapter properties the installed FFmpeg's muxers keep in each container, as
// read back with ffprobe after a copy: Matroska and WebM keep every language, title and forced
// flag; MP4 and M4V keep three-letter lower-case languages and forced flags but no titles; MOV
// keeps no titles, no forced flags and only the languages of its own short list. No muxer writes
// an ordered edition or a link to another segment: the marks stay, the order and the links go.
// Pure functions; any thread.
class ContainerPropertyLoss {
  public:
    static bool keepsLanguage(OutputContainer container, std::string_view language);
    static bool keepsTitles(OutputContainer container);
    static bool keepsForcedFlag(OutputContainer container);

    // What copying `streams` and a file with `chapters` into the container loses: the streams'
    // properties in stream order, then the chapters'.
    static std::vector<PropertyLoss> losses(const std::vector<MediaStream>& streams,
                                            const ChapterEditions& chapters,
                                            OutputContainer container);
    // "2 languages, a title and the chapters' order": what `losses` names, counted by kind.
    static std::string inventory(const std::vector<PropertyLoss>& losses);
};

}  // namespace tavrolin
