#pragma once

#include <string>
#include <string_view>

namespace tavrolin {

// Decodes bytes as UTF-8, replacing every maximal ill-formed subsequence with one U+FFFD.
// Never fails; the result is always well-formed UTF-8.
std::string repairUtf8(std::string_view bytes);

// The same, reusing the buffer when it is already well-formed (no copy for large outputs).
std::string repairUtf8InPlace(std::string&& bytes);

}  // namespace tavrolin
