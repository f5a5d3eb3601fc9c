#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/SubtitleCue.h"

namespace tavrolin {

// The transcript search: a cue matches when its text contains the trimmed query, ignoring case,
// accents and character width ("cafe" finds "Café", "ＡＢ" finds "ab"); an empty query matches
// every cue. Locale-independent and pure; any thread.
struct TranscriptCueSearch {
    bool matches(std::string_view cueText, std::string_view query) const;
    std::vector<SubtitleCue> filter(const std::vector<SubtitleCue>& cues,
                                    std::string_view query) const;

    // Text folded for the comparison: compatibility forms, case folding, accents removed.
    static std::string foldedForSearch(std::string_view text);
};

}  // namespace tavrolin
