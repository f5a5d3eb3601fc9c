#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "model/MediaStream.h"
#include "model/OutputContainer.h"
#include "model/RemuxPlan.h"
#include "model/RemuxSource.h"
#include "planning/StreamSemanticMatcher.h"

namespace tavrolin {

// Applies a file-independent plan to the probed streams of every remux source and explains each
// decision: the resulting container, playback target and per-source selections, one line per
// operation, the changes against the current controls and the warnings. Stateless and pure; any
// thread may call it. It never fails: every problem becomes a warning line.
class RemuxIntentResolver {
  public:
    RemuxNaturalLanguageDraft resolve(const std::string& instruction, const RemuxIntentPlan& plan,
                                      const std::vector<RemuxSource>& sources,
                                      std::optional<OutputContainer> currentContainer,
                                      std::optional<PlaybackTarget> currentTarget) const;

    // How many `noun` tracks the operation picks: "the English audio tracks", "the best audio
    // track", "the first 2 audio tracks", "at most 1 audio track".
    std::string cardinalityPhrase(const RemuxStreamOperation& operation,
                                  const std::string& noun) const;
    // One sentence per operation: "Keep only the English audio tracks."
    std::string planLine(const RemuxStreamOperation& operation) const;

  private:
    // One source's streams and selection while the operations run over it.
    struct Work {
        std::string fileName;
        const std::vector<MediaStream>* streams;
        std::set<std::int64_t> selection;
        std::vector<std::string>* changes;
        std::vector<std::string>* warnings;
    };

    void apply(const RemuxStreamOperation& operation, Work& work) const;
    // retainOnly, include and exclude.
    void applyMatching(const RemuxStreamOperation& operation,
                       const std::vector<MediaStream>& kindStreams, Work& work) const;
    void deduplicate(const RemuxStreamOperation& operation, Work& work) const;
    void applyFallback(const RemuxStreamOperation& operation, const std::string& reason,
                       Work& work) const;
    std::vector<MediaStream> selectByCardinality(std::vector<MediaStream> streams,
                                                 const RemuxStreamOperation& operation,
                                                 const std::string& description, Work& work) const;
    void warnAboutEmptyKinds(Work& work) const;
    std::string description(const RemuxStreamOperation& operation) const;

    StreamSemanticMatcher semanticMatcher_;
};

}  // namespace tavrolin
