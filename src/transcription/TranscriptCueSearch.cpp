#include "transcription/TranscriptCueSearch.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "model/TextMetrics.h"

namespace tavrolin {

std::string TranscriptCueSearch::foldedForSearch(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* compatibilityFold = icu::Normalizer2::getNFKCCasefoldInstance(status);
    const icu::Normalizer2* decompose = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status)) {
        return lowercased(text);
    }
    const icu::UnicodeString source = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    const icu::UnicodeString decomposed =
        decompose->normalize(compatibilityFold->normalize(source, status), status);
    if (U_FAILURE(status)) {
        return lowercased(text);
    }
    icu::UnicodeString folded;
    for (int32_t i = 0; i < decomposed.length(); i = decomposed.moveIndex32(i, 1)) {
        const UChar32 c = decomposed.char32At(i);
        if (u_charType(c) != U_NON_SPACING_MARK) {
            folded.append(c);
        }
    }
    std::string out;
    folded.toUTF8String(out);
    return out;
}

bool TranscriptCueSearch::matches(std::string_view cueText, std::string_view query) const {
    const std::string_view trimmed = trimWhitespace(query);
    if (trimmed.empty()) {
        return true;
    }
    return foldedForSearch(cueText).find(foldedForSearch(trimmed)) != std::string::npos;
}

std::vector<SubtitleCue> TranscriptCueSearch::filter(const std::vector<SubtitleCue>& cues,
                                                     std::string_view query) const {
    const std::string_view trimmed = trimWhitespace(query);
    if (trimmed.empty()) {
        return cues;
    }
    const std::string folded = foldedForSearch(trimmed);
    std::vector<SubtitleCue> found;
    for (const auto& cue : cues) {
        if (foldedForSearch(cue.text).find(folded) != std::string::npos) {
            found.push_back(cue);
        }
    }
    return found;
}

}  // namespace tavrolin
