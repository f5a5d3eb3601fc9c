#include "planning/RemuxIntentResolver.h"

#include <algorithm>
#include <utility>

namespace tavrolin {

namespace {

std::string kindWord(MediaStreamKind kind) {
    return std::string(rawValue(kind));
}

std::string tracks(std::size_t count) {
    return count == 1 ? "track" : "tracks";
}

bool hasCriteria(const RemuxStreamPredicate& predicate) {
    return !predicate.languages.empty() || !predicate.channelCounts.empty() ||
           !predicate.roles.empty() || !predicate.codecs.empty() || !predicate.titleTerms.empty();
}

std::vector<MediaStream> streamsOfKind(const std::vector<MediaStream>& streams,
                                       MediaStreamKind kind) {
    std::vector<MediaStream> result;
    std::copy_if(streams.begin(), streams.end(), std::back_inserter(result),
                 [kind](const MediaStream& stream) { return stream.kind == kind; });
    return result;
}

std::string numberedSummary(const MediaStream& stream) {
    return "#" + std::to_string(stream.index) + " " + stream.technicalSummary();
}

std::string groupingWords(RemuxStreamGrouping grouping) {
    switch (grouping) {
        case RemuxStreamGrouping::none:
            return "one combined group";
        case RemuxStreamGrouping::language:
            return "language";
        case RemuxStreamGrouping::role:
            return "role";
        case RemuxStreamGrouping::languageAndRole:
            return "language and role";
        case RemuxStreamGrouping::languageRoleAndChannels:
            return "language, role, and channel layout";
        case RemuxStreamGrouping::codec:
            return "codec";
    }
    return "one combined group";
}

std::string rankingWords(RemuxStreamRanking ranking) {
    switch (ranking) {
        case RemuxStreamRanking::sourceOrder:
            return "source order";
        case RemuxStreamRanking::defaultFirst:
            return "default status";
        case RemuxStreamRanking::defaultAtmosChannels:
            return "default status, Atmos, and channel count";
        case RemuxStreamRanking::highestChannelCount:
            return "channel count";
        case RemuxStreamRanking::codecQuality:
            return "codec quality";
    }
    return "source order";
}

}  // namespace

RemuxNaturalLanguageDraft RemuxIntentResolver::resolve(
    const std::string& instruction, const RemuxIntentPlan& plan,
    const std::vector<RemuxSource>& sources, std::optional<OutputContainer> currentContainer,
    std::optional<PlaybackTarget> currentTarget) const {
    RemuxNaturalLanguageDraft draft;
    draft.instruction = instruction;

    switch (plan.container.choice) {
        case RemuxContainerPreference::Choice::unchanged:
            draft.container = currentContainer;
            break;
        case RemuxContainerPreference::Choice::sameAsInput:
            draft.container = std::nullopt;
            break;
        case RemuxContainerPreference::Choice::container:
            draft.container = plan.container.container;
            break;
    }
    switch (plan.playback) {
        case RemuxPlaybackPreference::unchanged:
            draft.playbackTarget = currentTarget;
            break;
        case RemuxPlaybackPreference::containerCompatibilityOnly:
            draft.playbackTarget = std::nullopt;
            break;
        case RemuxPlaybackPreference::iPhone17Pro:
            draft.playbackTarget = PlaybackTarget::iPhone17Pro;
            break;
    }
    // Asking for the target picks a container it plays; a target kept from before leaves the
    // container as the plan says.
    if (plan.playback == RemuxPlaybackPreference::iPhone17Pro && !draft.container) {
        draft.container = OutputContainer::mp4;
    }
    if (draft.container != currentContainer) {
        draft.changes.push_back(draft.container
                                    ? "Use the " + displayName(*draft.container) + " container."
                                    : std::string("Keep each input's own container."));
    }
    if (draft.playbackTarget != currentTarget) {
        draft.changes.push_back(draft.playbackTarget
                                    ? "Check the tracks against " +
                                          displayName(*draft.playbackTarget) + " playback."
                                    : std::string("Check container compatibility only."));
    }

    static const std::vector<MediaStream> noStreams;
    for (const auto& source : sources) {
        const auto* ready = std::get_if<RemuxSource::Ready>(&source.inspectionState);
        Work work{source.url.filename().string(), ready ? &ready->streams : &noStreams,
                  source.selectedStreamIndices, &draft.changes, &draft.warnings};
        for (const auto& operation : plan.operations) {
            const auto before = work.selection;
            const auto changeCount = draft.changes.size();
            apply(operation, work);
            // An operation that changed nothing has nothing to apply; its warnings stay.
            if (work.selection == before) {
                draft.changes.resize(changeCount);
            }
        }
        warnAboutEmptyKinds(work);
        draft.selectedStreamIndicesBySource[source.url] = work.selection;
    }

    if (draft.changes.empty() && draft.warnings.empty()) {
        draft.warnings.push_back(
            plan.operations.empty()
                ? "The on-device language model did not identify a supported track-selection "
                  "operation. Nothing was changed."
                : "The current controls already match the interpreted plan. Nothing needs to be "
                  "applied.");
    }
    for (const auto& operation : plan.operations) {
        draft.interpretedPlan.push_back(planLine(operation));
    }
    return draft;
}

void RemuxIntentResolver::apply(const RemuxStreamOperation& operation, Work& work) const {
    const auto kindStreams = streamsOfKind(*work.streams, operation.kind);
    const std::string prefix = work.fileName + ": ";
    switch (operation.operation) {
        case RemuxStreamSetOperation::retainAll:
            for (const auto& stream : kindStreams) {
                work.selection.insert(stream.index);
            }
            work.changes->push_back(prefix + "keep all " + kindWord(operation.kind) + " tracks.");
            return;
        case RemuxStreamSetOperation::removeAll:
            for (const auto& stream : kindStreams) {
                work.selection.erase(stream.index);
            }
            work.changes->push_back(prefix + "remove all " + kindWord(operation.kind) + " tracks.");
            return;
        case RemuxStreamSetOperation::deduplicate:
            deduplicate(operation, work);
            return;
        case RemuxStreamSetOperation::retainOnly:
        case RemuxStreamSetOperation::include:
        case RemuxStreamSetOperation::exclude:
            applyMatching(operation, kindStreams, work);
            return;
    }
}

void RemuxIntentResolver::applyMatching(const RemuxStreamOperation& operation,
                                        const std::vector<MediaStream>& kindStreams,
                                        Work& work) const {
    const std::string prefix = work.fileName + ": ";
    if (!hasCriteria(operation.predicate)) {
        work.warnings->push_back(
            prefix + "a matching operation had no semantic criteria, so it was not applied.");
        return;
    }
    const std::string described = description(operation);
    std::vector<MediaStream> matches;
    std::copy_if(kindStreams.begin(), kindStreams.end(), std::back_inserter(matches),
                 [&](const MediaStream& stream) {
                     return semanticMatcher_.matches(stream, operation.kind, operation.predicate);
                 });
    if (matches.empty()) {
        applyFallback(operation, "no " + described + " was found", work);
        return;
    }
    const auto chosen = selectByCardinality(std::move(matches), operation, described, work);
    if (chosen.empty()) {
        applyFallback(operation, "the requested number of " + described + " was unavailable", work);
        return;
    }

    const std::string counted =
        std::to_string(chosen.size()) + " " + described + " " + tracks(chosen.size());
    if (operation.operation == RemuxStreamSetOperation::retainOnly) {
        for (const auto& stream : kindStreams) {
            work.selection.erase(stream.index);
        }
        for (const auto& stream : chosen) {
            work.selection.insert(stream.index);
        }
        work.changes->push_back(prefix + "keep " + counted + ".");
    } else if (operation.operation == RemuxStreamSetOperation::include) {
        for (const auto& stream : chosen) {
            work.selection.insert(stream.index);
        }
        work.changes->push_back(prefix + "include " + counted + ".");
    } else {
        for (const auto& stream : chosen) {
            work.selection.erase(stream.index);
        }
        work.changes->push_back(prefix + "remove " + counted + ".");
    }
}

void RemuxIntentResolver::deduplicate(const RemuxStreamOperation& operation, Work& work) const {
    const std::string kind = kindWord(operation.kind);
    const std::string prefix = work.fileName + ": ";
    if (operation.grouping == RemuxStreamGrouping::none) {
        work.warnings->push_back(prefix + "the draft did not say how to identify duplicate " +
                                 kind + " tracks, so nothing was removed.");
        return;
    }

    // Groups in order of their first member; members in source order.
    std::vector<std::pair<std::string, std::vector<MediaStream>>> groups;
    for (const auto& stream : streamsOfKind(*work.streams, operation.kind)) {
        if (!work.selection.contains(stream.index) ||
            !semanticMatcher_.matches(stream, operation.kind, operation.predicate)) {
            continue;
        }
        const auto signature = semanticMatcher_.groupSignature(stream, operation.grouping);
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const auto& entry) { return entry.first == signature; });
        if (group == groups.end()) {
            groups.push_back({signature, {stream}});
        } else {
            group->second.push_back(stream);
        }
    }

    std::vector<MediaStream> kept;
    std::set<std::int64_t> removed;
    for (const auto& [signature, members] : groups) {
        if (members.size() < 2) {
            continue;
        }
        const auto chosen = selectByCardinality(members, operation, "duplicate " + kind, work);
        if (chosen.empty()) {
            continue;
        }
        for (const auto& member : members) {
            const bool isChosen = std::any_of(
                chosen.begin(), chosen.end(),
                [&](const MediaStream& stream) { return stream.index == member.index; });
            if (isChosen) {
                kept.push_back(member);
            } else {
                removed.insert(member.index);
            }
        }
    }
    if (removed.empty()) {
        work.warnings->push_back(prefix + "no duplicate " + kind +
                                 " tracks matched this policy, so nothing was removed.");
        return;
    }
    for (auto index : removed) {
        work.selection.erase(index);
    }
    std::sort(kept.begin(), kept.end(),
              [](const MediaStream& a, const MediaStream& b) { return a.index < b.index; });
    std::string keptText;
    for (const auto& stream : kept) {
        keptText += (keptText.empty() ? "" : ", ") + numberedSummary(stream);
    }
    work.changes->push_back(prefix + "remove " + std::to_string(removed.size()) + " duplicate " +
                            kind + " " + tracks(removed.size()) + "; keep " + keptText + ".");
}

void RemuxIntentResolver::applyFallback(const RemuxStreamOperation& operation,
                                        const std::string& reason, Work& work) const {
    const std::string prefix = work.fileName + ": " + reason;
    switch (operation.fallback) {
        case RemuxStreamFallback::preserveCurrentAndWarn:
            work.warnings->push_back(prefix + ", so the current selection was preserved.");
            return;
        case RemuxStreamFallback::fail:
            work.warnings->push_back(prefix + ". This required operation was not applied.");
            return;
        case RemuxStreamFallback::keepBestAndWarn:
            break;
    }
    const auto kindStreams = streamsOfKind(*work.streams, operation.kind);
    if (kindStreams.empty()) {
        work.warnings->push_back(prefix + ", and no fallback track was available.");
        return;
    }
    // The best of every stream of the kind, not only of the matches.
    const MediaStream best = *std::min_element(
        kindStreams.begin(), kindStreams.end(), [&](const MediaStream& a, const MediaStream& b) {
            return semanticMatcher_.ranksBefore(a, b, operation.ranking);
        });
    for (const auto& stream : kindStreams) {
        work.selection.erase(stream.index);
    }
    work.selection.insert(best.index);
    work.warnings->push_back(prefix + "; kept " + numberedSummary(best) + " as the fallback.");
    // The change list must say what applying would do, or the panel would offer nothing.
    work.changes->push_back(work.fileName + ": keep " + numberedSummary(best) + " as the only " +
                            kindWord(operation.kind) + " track.");
}

std::vector<MediaStream> RemuxIntentResolver::selectByCardinality(
    std::vector<MediaStream> streams, const RemuxStreamOperation& operation,
    const std::string& described, Work& work) const {
    std::sort(streams.begin(), streams.end(), [&](const MediaStream& a, const MediaStream& b) {
        return semanticMatcher_.ranksBefore(a, b, operation.ranking);
    });
    const bool hasPositiveCount = operation.count && *operation.count >= 1;
    const auto n = static_cast<std::size_t>(hasPositiveCount ? *operation.count : 1);
    const auto firstOf = [](std::vector<MediaStream> list, std::size_t count) {
        list.resize(std::min(count, list.size()));
        return list;
    };
    const auto needsCount = [&](const char* word) {
        work.warnings->push_back(work.fileName + ": \u2018" + word +
                                 "\u2019 needs a positive count for " + described + ".");
        return std::vector<MediaStream>{};
    };
    const auto byIndex = [](bool ascending) {
        return [ascending](const MediaStream& a, const MediaStream& b) {
            return ascending ? a.index < b.index : a.index > b.index;
        };
    };

    switch (operation.cardinality) {
        case RemuxStreamCardinality::all:
            return streams;
        case RemuxStreamCardinality::best:
            return firstOf(std::move(streams), n);
        case RemuxStreamCardinality::first:
            std::sort(streams.begin(), streams.end(), byIndex(true));
            return firstOf(std::move(streams), n);
        case RemuxStreamCardinality::last:
            std::sort(streams.begin(), streams.end(), byIndex(false));
            return firstOf(std::move(streams), n);
        case RemuxStreamCardinality::exactly:
            if (!hasPositiveCount) {
                return needsCount("exactly");
            }
            return streams.size() < n ? std::vector<MediaStream>{} : firstOf(std::move(streams), n);
        case RemuxStreamCardinality::atMost:
            if (!hasPositiveCount) {
                return needsCount("at most");
            }
            return firstOf(std::move(streams), n);
        case RemuxStreamCardinality::atLeast:
            if (!hasPositiveCount) {
                return needsCount("at least");
            }
            return streams.size() < n ? std::vector<MediaStream>{} : streams;
    }
    return {};
}

void RemuxIntentResolver::warnAboutEmptyKinds(Work& work) const {
    for (auto kind : allMediaStreamKinds) {
        const auto kindStreams = streamsOfKind(*work.streams, kind);
        const bool noneSelected = std::none_of(
            kindStreams.begin(), kindStreams.end(),
            [&](const MediaStream& stream) { return work.selection.contains(stream.index); });
        if (!kindStreams.empty() && noneSelected) {
            work.warnings->push_back(work.fileName + ": the draft leaves no " + kindWord(kind) +
                                     " tracks selected.");
        }
    }
}

std::string RemuxIntentResolver::description(const RemuxStreamOperation& operation) const {
    const auto& predicate = operation.predicate;
    return semanticMatcher_.predicateDescription(predicate.languages, predicate.channelCounts,
                                                 predicate.roles, predicate.codecs,
                                                 predicate.titleTerms, operation.kind);
}

std::string RemuxIntentResolver::cardinalityPhrase(const RemuxStreamOperation& operation,
                                                   const std::string& noun) const {
    // Best, first and last pick one stream unless a positive count says otherwise.
    const bool hasCount = operation.count && *operation.count >= 1;
    const std::int64_t n = hasCount ? *operation.count : 1;
    const auto counted = [&](const std::string& lead, std::int64_t number) {
        return lead + std::to_string(number) + " " + noun + " " +
               (number == 1 ? "track" : "tracks");
    };
    const auto ranked = [&](const std::string& word) {
        return n == 1 ? "the " + word + " " + noun + " track" : counted("the " + word + " ", n);
    };
    const std::int64_t stated = operation.count.value_or(0);
    switch (operation.cardinality) {
        case RemuxStreamCardinality::all:
            return "the " + noun + " tracks";
        case RemuxStreamCardinality::best:
            return ranked("best");
        case RemuxStreamCardinality::first:
            return ranked("first");
        case RemuxStreamCardinality::last:
            return ranked("last");
        case RemuxStreamCardinality::exactly:
            return counted("exactly ", stated);
        case RemuxStreamCardinality::atMost:
            return counted("at most ", stated);
        case RemuxStreamCardinality::atLeast:
            return counted("at least ", stated);
    }
    return "the " + noun + " tracks";
}

std::string RemuxIntentResolver::planLine(const RemuxStreamOperation& operation) const {
    const std::string kind = kindWord(operation.kind);
    switch (operation.operation) {
        case RemuxStreamSetOperation::retainAll:
            return "Keep every " + kind + " track.";
        case RemuxStreamSetOperation::removeAll:
            return "Remove every " + kind + " track.";
        case RemuxStreamSetOperation::retainOnly:
            return "Keep only " + cardinalityPhrase(operation, description(operation)) + ".";
        case RemuxStreamSetOperation::include:
            return "Also include " + cardinalityPhrase(operation, description(operation)) + ".";
        case RemuxStreamSetOperation::exclude:
            return "Remove " + cardinalityPhrase(operation, description(operation)) + ".";
        case RemuxStreamSetOperation::deduplicate: {
            const std::string kept = operation.cardinality == RemuxStreamCardinality::all
                                         ? "every " + kind + " track"
                                         : cardinalityPhrase(operation, kind);
            return "Keep " + kept + " per " + groupingWords(operation.grouping) + ", ranked by " +
                   rankingWords(operation.ranking) + ".";
        }
    }
    return "Keep every " + kind + " track.";
}

}  // namespace tavrolin
