#include "model/TextMetrics.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

namespace tavrolin {

namespace {

// A character break iterator set to `text`. Creating one is costly, so each thread keeps its own.
class GraphemeBreaks {
  public:
    explicit GraphemeBreaks(std::string_view text) {
        UErrorCode status = U_ZERO_ERROR;
        utext_ = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
        iterator_ = &threadIterator();
        iterator_->setText(utext_, status);
        if (U_FAILURE(status)) {
            utext_close(utext_);
            throw std::runtime_error("Text could not be divided into characters.");
        }
    }
    ~GraphemeBreaks() { utext_close(utext_); }
    GraphemeBreaks(const GraphemeBreaks&) = delete;
    GraphemeBreaks& operator=(const GraphemeBreaks&) = delete;

    icu::BreakIterator* operator->() { return iterator_; }

  private:
    static icu::BreakIterator& threadIterator() {
        thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
            UErrorCode status = U_ZERO_ERROR;
            std::unique_ptr<icu::BreakIterator> created{
                icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status)};
            if (U_FAILURE(status) || !created) {
                throw std::runtime_error("The character break rules could not be loaded.");
            }
            return created;
        }();
        return *iterator;
    }

    UText* utext_ = nullptr;
    icu::BreakIterator* iterator_ = nullptr;
};

bool isValidUtf8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) {
            return false;
        }
    }
    return true;
}

template <typename Mapping>
std::string mapCase(std::string_view text, Mapping mapping, char (*asciiMapping)(char)) {
    // ASCII maps the same in the root locale, and most text here (codecs, extensions) is ASCII:
    // it need not wake ICU's case tables.
    const bool ascii = std::all_of(text.begin(), text.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii || text.size() > static_cast<std::size_t>(INT32_MAX) || !isValidUtf8(text)) {
        std::string result{text};
        for (char& c : result) {
            c = asciiMapping(c);
        }
        return result;
    }
    icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    mapping(unicode);
    std::string result;
    unicode.toUTF8String(result);
    return result;
}

char asciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::size_t graphemeCount(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    GraphemeBreaks breaks{text};
    std::size_t count = 0;
    breaks->first();
    while (breaks->next() != icu::BreakIterator::DONE) {
        ++count;
    }
    return count;
}

std::string graphemePrefix(std::string_view text, std::size_t count) {
    if (text.empty() || count == 0) {
        return {};
    }
    GraphemeBreaks breaks{text};
    breaks->first();
    int32_t end = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int32_t next = breaks->next();
        if (next == icu::BreakIterator::DONE) {
            return std::string{text};
        }
        end = next;
    }
    return std::string{text.substr(0, static_cast<std::size_t>(end))};
}

std::string_view lastGrapheme(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    GraphemeBreaks breaks{text};
    breaks->last();
    const int32_t start = breaks->previous();
    return text.substr(static_cast<std::size_t>(start == icu::BreakIterator::DONE ? 0 : start));
}

std::size_t graphemePrefixBytes(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text.size();
    }
    // ICU moves an offset inside a code point to its start before it looks for the preceding
    // boundary, which would lose the character before; so start at a code point ourselves.
    std::size_t start = maxBytes;
    while (start > 0 && maxBytes - start < 3 && U8_IS_TRAIL(static_cast<uint8_t>(text[start]))) {
        --start;
    }
    // Stray continuation bytes are characters of their own: those before the cut, and those
    // after a lead whose sequence ends before it.
    if (start < maxBytes) {
        const auto lead = static_cast<uint8_t>(text[start]);
        if (!U8_IS_LEAD(lead) || start + 1 + U8_COUNT_TRAIL_BYTES(lead) <= maxBytes) {
            start = maxBytes;
        }
    }
    GraphemeBreaks breaks{text};
    if (breaks->isBoundary(static_cast<int32_t>(start))) {
        return start;
    }
    const int32_t boundary = breaks->preceding(static_cast<int32_t>(start));
    return boundary == icu::BreakIterator::DONE ? 0 : static_cast<std::size_t>(boundary);
}

bool isUnicodeWhitespace(char32_t character) {
    return u_isUWhiteSpace(static_cast<UChar32>(character));
}

std::string withoutNulBytes(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (c != '\0') {
            result += c;
        }
    }
    return result;
}

std::string_view trimWhitespace(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !u_isUWhiteSpace(c)) {
            break;
        }
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(bytes, 0, previous, c);
        if (c < 0 || !u_isUWhiteSpace(c)) {
            break;
        }
        end = previous;
    }
    return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

std::string collapseWhitespace(std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    std::string result;
    result.reserve(text.size());
    bool pendingSpace = false;
    int32_t i = 0;
    while (i < length) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c >= 0 && u_isUWhiteSpace(c)) {
            pendingSpace = !result.empty();
            continue;
        }
        if (pendingSpace) {
            result.push_back(' ');
            pendingSpace = false;
        }
        result.append(
            text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
    }
    return result;
}

std::string uppercased(std::string_view text) {
    return mapCase(
        text, [](icu::UnicodeString& s) { s.toUpper(icu::Locale::getRoot()); }, asciiUpper);
}

std::string lowercased(std::string_view text) {
    return mapCase(
        text, [](icu::UnicodeString& s) { s.toLower(icu::Locale::getRoot()); }, asciiLower);
}

}  // namespace tavrolin
