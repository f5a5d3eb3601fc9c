#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/SubtitleCue.h"

namespace tavrolin {

// Checks a cue list and writes it as a SubRip or WebVTT document.
class SubtitleDocumentRenderer {
  public:
    // The document text, lines ending in a line feed. Throws TranscriptionError::noSpeech for an
    // empty list and TranscriptionError::invalidCues for bad times, overlaps or empty texts.
    std::string render(const std::vector<SubtitleCue>& cues, SubtitleFileFormat format) const;
};

// Text as WebVTT cue text: "&", "<" and ">" as character references.
std::string escapeWebVTT(std::string_view text);

}  // namespace tavrolin
