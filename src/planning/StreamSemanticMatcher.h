#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "model/MediaStream.h"
#include "model/RemuxPlan.h"

namespace tavrolin {

// The pieces of a language tag between every "-" and "_", empty pieces dropped.
std::vector<std::string> splitLanguageTag(std::string_view text);

// Tells what a stream is in a person's terms (language, role, channels, codec, title words)
// and finds the corresponding stream in another file. Stateless; every operation is a pure
// function of its arguments. Language names are shown in ICU's default locale, which follows
// the user interface's locale.
class StreamSemanticMatcher {
  public:
    // A language tag or name ("eng", "en-GB", "French") as a short code; none for "und" or empty.
    std::optional<std::string> normalizedLanguage(const std::optional<std::string>& text) const;
    // Lower-cased alphanumeric words joined with one space.
    std::string normalizedTitle(const std::optional<std::string>& title) const;
    // The stream's language, or a language named by a word of its title.
    std::optional<std::string> languageKey(const MediaStream& stream) const;
    // "commentary", "description", "forced", "sdh", "signs-songs"; empty for a main stream.
    std::set<std::string> roleTokens(const MediaStream& stream) const;

    bool matches(const MediaStream& stream, MediaStreamKind kind,
                 const RemuxStreamPredicate& predicate) const;
    std::string predicateDescription(const std::vector<std::string>& languages,
                                     const std::vector<std::int64_t>& channelCounts,
                                     const std::vector<RemuxStreamRole>& roles,
                                     const std::vector<std::string>& codecs,
                                     const std::vector<std::string>& titleTerms,
                                     MediaStreamKind kind) const;
    std::string groupSignature(const MediaStream& stream, RemuxStreamGrouping grouping) const;
    std::int64_t rankScore(const MediaStream& stream, RemuxStreamRanking ranking) const;
    // Higher score first, then lower index: the order never depends on a sort's stability.
    bool ranksBefore(const MediaStream& a, const MediaStream& b, RemuxStreamRanking ranking) const;
    std::int64_t similarityScore(const MediaStream& candidate, const MediaStream& reference) const;
    // The candidate that corresponds to `reference`, or none without a confident match.
    std::optional<MediaStream> matchingStream(const MediaStream& reference,
                                              const std::vector<MediaStream>& candidates) const;
    // "English commentary audio", "French forced subtitle", "video".
    std::string streamDescription(const MediaStream& stream) const;

    // The display name of a language code in the interface locale, else the code upper-cased.
    static std::string languageDisplayName(const std::string& code);
    // The codec's score in the quality table; 0 for an unknown codec.
    static std::int64_t codecQualityScore(const std::string& codecName);
};

}  // namespace tavrolin
