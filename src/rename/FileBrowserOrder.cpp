#include "rename/FileBrowserOrder.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

std::unique_ptr<icu::Collator> makeCollator() {
    UErrorCode status = U_ZERO_ERROR;
    // The C locale maps to POSIX collation, which puts every capital before every small letter;
    // file browsers use the root order there.
    icu::Locale locale = icu::Locale::getDefault();
    if (std::string_view(locale.getVariant()) == "POSIX") {
        locale = icu::Locale::getRoot();
    }
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status) || !collator) {
        return nullptr;
    }
    collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
    collator->setStrength(icu::Collator::SECONDARY);  // case-blind, as file browsers sort
    return collator;
}

// A key whose byte order is the collator's order; bytes that are not UTF-8 compare as U+FFFD.
std::string sortKey(const icu::Collator* collator, const std::string& text) {
    if (collator == nullptr) {
        return text;
    }
    const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    std::string key(64, '\0');
    for (;;) {
        const int32_t length = collator->getSortKey(unicode, reinterpret_cast<uint8_t*>(key.data()),
                                                    static_cast<int32_t>(key.size()));
        if (length <= static_cast<int32_t>(key.size())) {
            key.resize(length > 0 ? static_cast<std::size_t>(length - 1) : 0);  // without the NUL
            return key;
        }
        key.resize(static_cast<std::size_t>(length));
    }
}

}  // namespace

void sortInFileBrowserOrder(std::vector<fs::path>& files) {
    // Keys once per file: comparing through the collator in the sort would redo the work
    // O(n log n) times, which shows with thousands of files on the GUI thread. Full paths are
    // only keyed where names tie.
    const auto collator = makeCollator();
    struct Keyed {
        std::string nameKey;
        fs::path file;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(files.size());
    for (auto& file : files) {
        keyed.push_back({sortKey(collator.get(), file.filename().string()), std::move(file)});
    }
    std::sort(keyed.begin(), keyed.end(),
              [](const Keyed& a, const Keyed& b) { return a.nameKey < b.nameKey; });
    for (auto run = keyed.begin(); run != keyed.end();) {
        const auto end = std::find_if(run, keyed.end(),
                                      [&](const Keyed& k) { return k.nameKey != run->nameKey; });
        if (end - run > 1) {
            std::sort(run, end, [&](const Keyed& a, const Keyed& b) {
                return sortKey(collator.get(), a.file.string()) <
                       sortKey(collator.get(), b.file.string());
            });
        }
        run = end;
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        files[i] = std::move(keyed[i].file);
    }
}

}  // namespace tavrolin
