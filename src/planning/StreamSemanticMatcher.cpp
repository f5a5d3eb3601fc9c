#include "planning/StreamSemanticMatcher.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <map>
#include <utility>

#include "planning/RemuxPlanVocabulary.h"

namespace tavrolin {

namespace {

icu::UnicodeString unicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string utf8(const icu::UnicodeString& text) {
    std::string result;
    text.toUTF8String(result);
    return result;
}

std::string lowercased(std::string_view text) {
    auto value = unicode(text);
    value.toLower(icu::Locale::getRoot());
    return utf8(value);
}

std::string uppercased(std::string_view text) {
    auto value = unicode(text);
    value.toUpper(icu::Locale::getRoot());
    return utf8(value);
}

std::string trimmed(std::string_view text) {
    const auto value = unicode(text);
    int32_t start = 0;
    int32_t end = value.length();
    while (start < end && u_isUWhiteSpace(value.char32At(start))) {
        start = value.moveIndex32(start, 1);
    }
    while (end > start) {
        const int32_t previous = value.moveIndex32(end, -1);
        if (!u_isUWhiteSpace(value.char32At(previous))) {
            break;
        }
        end = previous;
    }
    return utf8(value.tempSubStringBetween(start, end));
}

// Text from the model's plan or a file's tags as a line shows it: printable, without
// bidirectional formatting, trimmed and short.
std::string shownValue(std::string_view value, std::size_t maxCharacters) {
    return trimmed(RemuxPlanVocabulary::readableExcerpt(value, maxCharacters));
}

bool contains(std::string_view haystack, std::string_view needle) {
    return haystack.find(needle) != std::string_view::npos;
}

std::vector<std::string> words(const std::string& normalizedTitle) {
    std::vector<std::string> result;
    std::string::size_type start = 0;
    while (start <= normalizedTitle.size()) {
        auto end = normalizedTitle.find(' ', start);
        if (end == std::string::npos) {
            end = normalizedTitle.size();
        }
        if (end > start) {
            result.push_back(normalizedTitle.substr(start, end - start));
        }
        start = end + 1;
    }
    return result;
}

// Built once on first use; C++ guarantees thread-safe initialisation of function statics.
const std::map<std::string, std::string>& languageAliases() {
    static const std::map<std::string, std::string> table = [] {
        const std::vector<std::pair<std::string, std::vector<std::string>>> groups{
            {"de", {"de", "deu", "ger", "german", "deutsch"}},
            {"en", {"en", "eng", "english"}},
            {"es", {"es", "spa", "spanish", "espanol"}},
            {"fr", {"fr", "fra", "fre", "french", "francais"}},
            {"it", {"it", "ita", "italian", "italiano"}},
            {"ja", {"ja", "jpn", "japanese"}},
            {"ko", {"ko", "kor", "korean"}},
            {"nl", {"nl", "nld", "dut", "dutch"}},
            {"pt", {"pt", "por", "portuguese"}},
            {"zh", {"zh", "zho", "chi", "chinese"}},
        };
        std::map<std::string, std::string> aliases;
        for (const auto& [code, names] : groups) {
            for (const auto& name : names) {
                aliases.emplace(name, code);
            }
        }
        return aliases;
    }();
    return table;
}

const std::map<std::string, std::int64_t>& codecQualityScores() {
    static const std::map<std::string, std::int64_t> table{
        {"truehd", 40}, {"eac3", 35}, {"ac3", 30}, {"flac", 25},
        {"alac", 25},   {"opus", 20}, {"aac", 15}, {"mp3", 10},
    };
    return table;
}

bool roleHolds(RemuxStreamRole role, const std::set<std::string>& tokens) {
    switch (role) {
        case RemuxStreamRole::main:
            return tokens.empty();
        case RemuxStreamRole::commentary:
            return tokens.contains("commentary");
        case RemuxStreamRole::descriptive:
            return tokens.contains("description");
        case RemuxStreamRole::forced:
            return tokens.contains("forced");
        case RemuxStreamRole::sdh:
            return tokens.contains("sdh");
        case RemuxStreamRole::signsAndSongs:
            return tokens.contains("signs-songs");
    }
    return false;
}

// The raw value, except the two roles that read differently in a sentence.
std::string roleWord(RemuxStreamRole role) {
    switch (role) {
        case RemuxStreamRole::sdh:
            return "SDH";
        case RemuxStreamRole::signsAndSongs:
            return "signs and songs";
        default:
            return std::string(rawValue(role));
    }
}

std::string channelWord(std::int64_t count) {
    switch (count) {
        case 1:
            return "mono";
        case 2:
            return "stereo";
        case 6:
            return "5.1";
        case 8:
            return "7.1";
        default:
            return std::to_string(count) + "-channel";
    }
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string text;
    for (const auto& part : parts) {
        if (!text.empty()) {
            text += separator;
        }
        text += part;
    }
    return text;
}

}  // namespace

std::vector<std::string> splitLanguageTag(std::string_view text) {
    std::vector<std::string> pieces;
    std::string current;
    for (char c : text) {
        if (c == '-' || c == '_') {
            if (!current.empty()) {
                pieces.push_back(std::move(current));
            }
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) {
        pieces.push_back(std::move(current));
    }
    return pieces;
}

std::optional<std::string> StreamSemanticMatcher::normalizedLanguage(
    const std::optional<std::string>& text) const {
    if (!text) {
        return std::nullopt;
    }
    const auto pieces = splitLanguageTag(lowercased(trimmed(*text)));
    const std::string piece = pieces.empty() ? std::string{} : pieces.front();
    if (piece.empty() || piece == "und") {
        return std::nullopt;
    }
    const auto& aliases = languageAliases();
    if (auto found = aliases.find(piece); found != aliases.end()) {
        return found->second;
    }
    return piece;
}

std::string StreamSemanticMatcher::normalizedTitle(const std::optional<std::string>& title) const {
    if (!title) {
        return {};
    }
    auto value = unicode(*title);
    value.toLower(icu::Locale::getRoot());
    constexpr uint32_t alphanumeric = U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK;
    std::vector<std::string> pieces;
    icu::UnicodeString piece;
    for (int32_t i = 0; i < value.length(); i = value.moveIndex32(i, 1)) {
        const UChar32 c = value.char32At(i);
        if ((U_GET_GC_MASK(c) & alphanumeric) != 0) {
            piece.append(c);
        } else if (!piece.isEmpty()) {
            pieces.push_back(utf8(piece));
            piece.remove();
        }
    }
    if (!piece.isEmpty()) {
        pieces.push_back(utf8(piece));
    }
    return joined(pieces, " ");
}

std::optional<std::string> StreamSemanticMatcher::languageKey(const MediaStream& stream) const {
    if (auto code = normalizedLanguage(stream.language)) {
        return code;
    }
    const auto& aliases = languageAliases();
    for (const auto& word : words(normalizedTitle(stream.title))) {
        if (auto found = aliases.find(word); found != aliases.end()) {
            return found->second;
        }
    }
    return std::nullopt;
}

std::set<std::string> StreamSemanticMatcher::roleTokens(const MediaStream& stream) const {
    const std::string title = normalizedTitle(stream.title);
    std::set<std::string> tokens;
    if (contains(title, "commentary")) {
        tokens.insert("commentary");
    }
    if (contains(title, "audio description") || contains(title, "descriptive")) {
        tokens.insert("description");
    }
    if (stream.isForced || contains(title, "forced")) {
        tokens.insert("forced");
    }
    if (contains(title, "sdh") || contains(title, "hearing impaired") || contains(title, "hoh")) {
        tokens.insert("sdh");
    }
    if (contains(title, "signs") && contains(title, "songs")) {
        tokens.insert("signs-songs");
    }
    return tokens;
}

bool StreamSemanticMatcher::matches(const MediaStream& stream, MediaStreamKind kind,
                                    const RemuxStreamPredicate& predicate) const {
    if (stream.kind != kind) {
        return false;
    }
    std::vector<bool> results;
    if (!predicate.languages.empty()) {
        const auto key = languageKey(stream);
        bool found = false;
        for (const auto& entry : predicate.languages) {
            const auto code = normalizedLanguage(entry);
            if (code && key && *code == *key) {
                found = true;
            }
        }
        results.push_back(found);
    }
    if (!predicate.channelCounts.empty()) {
        results.push_back(stream.channelCount &&
                          std::find(predicate.channelCounts.begin(), predicate.channelCounts.end(),
                                    *stream.channelCount) != predicate.channelCounts.end());
    }
    if (!predicate.roles.empty()) {
        const auto tokens = roleTokens(stream);
        results.push_back(
            std::any_of(predicate.roles.begin(), predicate.roles.end(),
                        [&](RemuxStreamRole role) { return roleHolds(role, tokens); }));
    }
    if (!predicate.codecs.empty()) {
        const auto codec = lowercased(stream.codecName);
        results.push_back(
            std::any_of(predicate.codecs.begin(), predicate.codecs.end(),
                        [&](const std::string& entry) { return lowercased(entry) == codec; }));
    }
    if (!predicate.titleTerms.empty()) {
        const auto title = normalizedTitle(stream.title);
        results.push_back(std::any_of(predicate.titleTerms.begin(), predicate.titleTerms.end(),
                                      [&](const std::string& term) {
                                          const auto normalized = normalizedTitle(term);
                                          return !normalized.empty() && contains(title, normalized);
                                      }));
    }
    if (results.empty()) {
        return true;
    }
    if (predicate.matchMode == RemuxStreamMatchMode::all) {
        return std::all_of(results.begin(), results.end(), [](bool value) { return value; });
    }
    return std::any_of(results.begin(), results.end(), [](bool value) { return value; });
}

std::string StreamSemanticMatcher::predicateDescription(
    const std::vector<std::string>& languages, const std::vector<std::int64_t>& channelCounts,
    const std::vector<RemuxStreamRole>& roles, const std::vector<std::string>& codecs,
    const std::vector<std::string>& titleTerms, MediaStreamKind kind) const {
    std::vector<std::string> parts;
    if (!languages.empty()) {
        std::vector<std::string> names;
        for (const auto& entry : languages) {
            // A code of only unprintable characters shows as nothing.
            if (const auto code = normalizedLanguage(entry)) {
                if (auto name = languageDisplayName(*code); !name.empty()) {
                    names.push_back(std::move(name));
                }
            }
        }
        // Entries that all drop out leave nothing to show for the list.
        if (!names.empty()) {
            parts.push_back(joined(names, " or "));
        }
    }
    if (!channelCounts.empty()) {
        std::vector<std::string> names;
        for (auto count : channelCounts) {
            names.push_back(channelWord(count));
        }
        parts.push_back(joined(names, " or "));
    }
    if (!roles.empty()) {
        std::vector<std::string> names;
        for (auto role : roles) {
            names.push_back(roleWord(role));
        }
        parts.push_back(joined(names, " or "));
    }
    if (!codecs.empty()) {
        std::vector<std::string> names;
        for (const auto& codec : codecs) {
            names.push_back(uppercased(shownValue(codec, 24)));
        }
        parts.push_back(joined(names, " or "));
    }
    if (!titleTerms.empty()) {
        // The model's own words: shown short and printable.
        std::vector<std::string> terms;
        for (const auto& term : titleTerms) {
            terms.push_back(shownValue(term, 30));
        }
        parts.push_back("title matching \u2018" + joined(terms, "\u2019 or \u2018") + "\u2019");
    }
    parts.emplace_back(rawValue(kind));
    return joined(parts, " ");
}

std::string StreamSemanticMatcher::groupSignature(const MediaStream& stream,
                                                  RemuxStreamGrouping grouping) const {
    const auto language = [&] { return languageKey(stream).value_or("und"); };
    const auto roles = [&] {
        const auto tokens = roleTokens(stream);  // a std::set iterates in ascending order
        return joined(std::vector<std::string>(tokens.begin(), tokens.end()), ",");
    };
    switch (grouping) {
        case RemuxStreamGrouping::none:
            return "all";
        case RemuxStreamGrouping::language:
            return language();
        case RemuxStreamGrouping::role:
            return roles();
        case RemuxStreamGrouping::languageAndRole:
            return language() + "|" + roles();
        case RemuxStreamGrouping::languageRoleAndChannels:
            return language() + "|" + roles() + "|" +
                   std::to_string(stream.channelCount.value_or(0));
        case RemuxStreamGrouping::codec:
            return lowercased(stream.codecName);
    }
    return "all";
}

std::int64_t StreamSemanticMatcher::codecQualityScore(const std::string& codecName) {
    const auto& table = codecQualityScores();
    const auto found = table.find(lowercased(codecName));
    return found == table.end() ? 0 : found->second;
}

std::int64_t StreamSemanticMatcher::rankScore(const MediaStream& stream,
                                              RemuxStreamRanking ranking) const {
    const std::int64_t defaultScore = stream.isDefault ? 10000 : 0;
    const std::int64_t channels = stream.channelCount.value_or(0);
    const std::int64_t quality = codecQualityScore(stream.codecName);
    std::int64_t atmos = 0;
    if (stream.profile) {
        auto profile = unicode(*stream.profile);
        profile.toLower(icu::Locale::getDefault());
        if (profile.indexOf(icu::UnicodeString(u"atmos")) >= 0) {
            atmos = 50;
        }
    }
    const std::int64_t index = stream.index;
    switch (ranking) {
        case RemuxStreamRanking::sourceOrder:
            return -index;
        case RemuxStreamRanking::defaultFirst:
            return defaultScore - index;
        case RemuxStreamRanking::defaultAtmosChannels:
            return defaultScore + 100 * channels + atmos + quality - index;
        case RemuxStreamRanking::highestChannelCount:
            return 100 * channels - index;
        case RemuxStreamRanking::codecQuality:
            return 100 * quality - index;
    }
    return -index;
}

bool StreamSemanticMatcher::ranksBefore(const MediaStream& a, const MediaStream& b,
                                        RemuxStreamRanking ranking) const {
    const auto scoreA = rankScore(a, ranking);
    const auto scoreB = rankScore(b, ranking);
    if (scoreA != scoreB) {
        return scoreA > scoreB;
    }
    return a.index < b.index;
}

std::int64_t StreamSemanticMatcher::similarityScore(const MediaStream& candidate,
                                                    const MediaStream& reference) const {
    std::int64_t score = 0;
    const auto referenceTitle = normalizedTitle(reference.title);
    const auto candidateTitle = normalizedTitle(candidate.title);
    if (!referenceTitle.empty() && referenceTitle == candidateTitle) {
        score += 10;
    }
    const auto referenceWords = words(referenceTitle);
    const auto candidateWords = words(candidateTitle);
    const std::set<std::string> referenceSet(referenceWords.begin(), referenceWords.end());
    const std::set<std::string> candidateSet(candidateWords.begin(), candidateWords.end());
    for (const auto& word : referenceSet) {
        if (candidateSet.contains(word)) {
            score += 1;
        }
    }
    if (reference.channelCount && candidate.channelCount &&
        *reference.channelCount == *candidate.channelCount) {
        score += 4;
    }
    if (reference.channelLayout && candidate.channelLayout &&
        *reference.channelLayout == *candidate.channelLayout) {
        score += 3;
    }
    if (lowercased(reference.codecName) == lowercased(candidate.codecName)) {
        score += 2;
    }
    if (reference.isDefault == candidate.isDefault) {
        score += 1;
    }
    if (reference.isForced == candidate.isForced) {
        score += 2;
    }
    return score;
}

std::optional<MediaStream> StreamSemanticMatcher::matchingStream(
    const MediaStream& reference, const std::vector<MediaStream>& candidates) const {
    std::vector<MediaStream> sameKind;
    for (const auto& candidate : candidates) {
        if (candidate.kind == reference.kind) {
            sameKind.push_back(candidate);
        }
    }
    if (sameKind.empty()) {
        return std::nullopt;
    }

    const auto referenceLanguage = languageKey(reference);
    std::vector<MediaStream> sameLanguage;
    if (referenceLanguage) {
        for (const auto& candidate : sameKind) {
            if (languageKey(candidate) == referenceLanguage) {
                sameLanguage.push_back(candidate);
            }
        }
        if (sameLanguage.empty()) {
            return std::nullopt;
        }
    } else {
        sameLanguage = sameKind;
    }

    const auto referenceRoles = roleTokens(reference);
    std::vector<MediaStream> sameRoles;
    for (const auto& candidate : sameLanguage) {
        if (roleTokens(candidate) == referenceRoles) {
            sameRoles.push_back(candidate);
        }
    }
    if (sameRoles.empty()) {
        if (!referenceRoles.empty()) {
            return std::nullopt;
        }
        // A main reference falls back to every candidate of its language.
        sameRoles = sameLanguage;
    }

    if (sameRoles.size() == 1) {
        return sameRoles.front();
    }
    if (!referenceLanguage && normalizedTitle(reference.title).empty()) {
        return std::nullopt;
    }
    const MediaStream* best = nullptr;
    std::int64_t bestScore = 0;
    for (const auto& candidate : sameRoles) {
        const auto score = similarityScore(candidate, reference);
        if (best == nullptr || score > bestScore ||
            (score == bestScore && candidate.index < best->index)) {
            best = &candidate;
            bestScore = score;
        }
    }
    return *best;
}

std::string StreamSemanticMatcher::streamDescription(const MediaStream& stream) const {
    std::vector<std::string> parts;
    if (auto key = languageKey(stream)) {
        parts.push_back(languageDisplayName(*key));
    }
    const auto tokens = roleTokens(stream);
    if (tokens.contains("commentary")) {
        parts.emplace_back("commentary");
    }
    if (tokens.contains("description")) {
        parts.emplace_back("descriptive");
    }
    if (tokens.contains("forced")) {
        parts.emplace_back("forced");
    }
    if (tokens.contains("sdh")) {
        parts.emplace_back("SDH");
    }
    parts.emplace_back(rawValue(stream.kind));
    return joined(parts, " ");
}

std::string StreamSemanticMatcher::languageDisplayName(const std::string& code) {
    const icu::Locale language(code.c_str());
    icu::UnicodeString name;
    if (!language.isBogus()) {
        language.getDisplayLanguage(icu::Locale::getDefault(), name);
    }
    // ICU answers with the code itself when it knows no name.
    const std::string text = utf8(name);
    if (text.empty() || lowercased(text) == lowercased(code)) {
        return uppercased(shownValue(code, 24));
    }
    return shownValue(text, 40);
}

}  // namespace tavrolin
