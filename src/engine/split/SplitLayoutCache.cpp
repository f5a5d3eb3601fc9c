#include "engine/split/SplitLayoutCache.h"

#include <algorithm>

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

// Sources a queue of splits comes back to: the parts of one, or of a few side by side.
constexpr std::size_t kCachedLayouts = 4;

}  // namespace

std::optional<SplitSourceLayout> SplitLayoutCache::find(const fs::path& input,
                                                        const SourceFileFingerprint& state) const {
    for (const auto& entry : entries_) {
        if (entry.input == input && entry.state == state) {
            return entry.layout;
        }
    }
    return std::nullopt;
}

void SplitLayoutCache::keep(const fs::path& input, const SourceFileFingerprint& state,
                            SplitSourceLayout layout) {
    std::erase_if(entries_, [&](const Entry& entry) { return entry.input == input; });
    if (entries_.size() >= kCachedLayouts) {
        entries_.erase(entries_.begin());
    }
    layout.videoEnd.reset();  // the end cut's own
    layout.videoLastFrame.reset();
    entries_.push_back({input, state, std::move(layout)});
}

}  // namespace tavrolin
