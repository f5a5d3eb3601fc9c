#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tavrolin {

// Text helpers over UTF-8. "Characters" are user-perceived characters (extended grapheme
// clusters), so an accented letter or an emoji sequence counts once and is never cut in half.
// White space is the Unicode White_Space set (spaces, tabs and every kind of line break).

// The number of grapheme clusters in `text`.
std::size_t graphemeCount(std::string_view text);
// The first `count` grapheme clusters of `text` (all of it when it has fewer).
std::string graphemePrefix(std::string_view text, std::size_t count);
// The last grapheme cluster of `text`; empty for empty text.
std::string_view lastGrapheme(std::string_view text);
// The length in bytes of the longest prefix of `text` that ends at a cluster boundary and holds
// at most `maxBytes` bytes. Bytes that are not valid UTF-8 count as characters of their own.
std::size_t graphemePrefixBytes(std::string_view text, std::size_t maxBytes);

bool isUnicodeWhitespace(char32_t character);
// `text` without white space at either end.
std::string_view trimWhitespace(std::string_view text);
// The text with every NUL byte left out.
std::string withoutNulBytes(std::string_view text);
// The pieces of `text` between runs of white space, joined with one space.
std::string collapseWhitespace(std::string_view text);

// Full Unicode case mapping, independent of the process locale (a Turkish locale must not turn
// "fin" into "FİN"). Text that is not valid UTF-8 is mapped in its ASCII letters only.
std::string uppercased(std::string_view text);
std::string lowercased(std::string_view text);

}  // namespace tavrolin
