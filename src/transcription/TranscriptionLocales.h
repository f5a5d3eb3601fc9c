#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/Transcription.h"

namespace tavrolin {

// Locale identifiers of the speech recogniser, read through ICU. Pure functions; any thread.

// The BCP 47 form of an identifier: " EN_us " and "en-us" give "en-US". Empty for empty input.
std::string canonicalLocaleIdentifier(std::string_view identifier);

// The supported identifier that stands for `identifier`: the same locale, or for a bare language
// ("en") the supported locale of that language in its most likely region (en-US), else the first
// one listed. A locale of another region ("en-GB" when only en-US is supported) has none: its
// speech differs, and the workspace only offers what is installed.
std::optional<std::string> equivalentLocaleIdentifier(std::string_view identifier,
                                                      const std::vector<std::string>& supported);

// One picker row per identifier, named in `displayLocale` (ICU's default locale when empty),
// the identifier itself when ICU has no name; sorted by name as people sort ("Item 2" before
// "Item 10"), equal names keeping the given order.
std::vector<TranscriptionLocale> transcriptionLocales(const std::vector<std::string>& identifiers,
                                                      const std::string& displayLocale = {});

}  // namespace tavrolin
