#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "engine/SafeFileReplacement.h"
#include "engine/split/SplitSourceLayout.h"

namespace tavrolin {

// The layouts of the sources split lately, by path and state, without their end cut's packets:
// the parts of one source read its streams, chapters and duration once. Used by one thread at a
// time (the processor's job); a plain value.
class SplitLayoutCache {
  public:
    std::optional<SplitSourceLayout> find(const std::filesystem::path& input,
                                          const SourceFileFingerprint& state) const;
    void keep(const std::filesystem::path& input, const SourceFileFingerprint& state,
              SplitSourceLayout layout);

  private:
    struct Entry {
        std::filesystem::path input;
        SourceFileFingerprint state;
        SplitSourceLayout layout;
    };
    std::vector<Entry> entries_;  // the latest last
};

}  // namespace tavrolin
