#include "planning/LanguageModelRemuxIntentParser.h"

#include "model/CancellationError.h"
#include "model/TextMetrics.h"
#include "planning/RemuxPlanVocabulary.h"

namespace tavrolin {

namespace {

namespace vocabulary = RemuxPlanVocabulary;

// The Generated enumerations list their cases in the order of the app's own enumerations.
template <typename Target, typename Source>
Target sameCase(Source value) {
    return static_cast<Target>(static_cast<int>(value));
}

RemuxStreamPredicate convertPredicate(const GeneratedStreamPredicate& generated) {
    using Case = GeneratedPredicateCondition::Case;
    RemuxStreamPredicate predicate;
    for (const auto& condition : generated.conditions) {
        switch (condition.type) {
            case Case::language:
                predicate.languages.push_back(std::get<std::string>(condition.value));
                break;
            case Case::channelCount:
                predicate.channelCounts.push_back(std::get<std::int64_t>(condition.value));
                break;
            case Case::role:
                predicate.roles.push_back(
                    sameCase<RemuxStreamRole>(std::get<GeneratedStreamRole>(condition.value)));
                break;
            case Case::codec:
                predicate.codecs.push_back(std::get<std::string>(condition.value));
                break;
            case Case::titleContains:
                predicate.titleTerms.push_back(std::get<std::string>(condition.value));
                break;
            case Case::mono:
                predicate.channelCounts.push_back(1);
                break;
            case Case::stereo:
                predicate.channelCounts.push_back(2);
                break;
            case Case::surround51:
                predicate.channelCounts.push_back(6);
                break;
            case Case::surround71:
                predicate.channelCounts.push_back(8);
                break;
        }
    }
    predicate.matchMode = sameCase<RemuxStreamMatchMode>(generated.matchMode);
    return predicate;
}

RemuxStreamOperation convertOperation(const GeneratedKindOperation& generated,
                                      MediaStreamKind kind) {
    RemuxStreamOperation operation;
    operation.kind = kind;
    operation.operation = sameCase<RemuxStreamSetOperation>(generated.type);
    if (generated.matching) {
        const auto& matching = *generated.matching;
        operation.predicate = convertPredicate(matching.predicate);
        operation.cardinality = sameCase<RemuxStreamCardinality>(matching.cardinality);
        operation.count = matching.count;
        if (generated.type == GeneratedKindOperation::Case::deduplicate) {
            operation.grouping = sameCase<RemuxStreamGrouping>(matching.grouping);
        }
        operation.ranking = sameCase<RemuxStreamRanking>(matching.ranking);
        operation.fallback = sameCase<RemuxStreamFallback>(matching.fallback);
    }
    return operation;
}

}  // namespace

RemuxIntentParserError RemuxIntentParserError::unavailable() {
    return {Case::unavailable, std::string(vocabulary::unavailableMessage)};
}

RemuxIntentParserError RemuxIntentParserError::emptyInstruction() {
    return {Case::emptyInstruction, std::string(vocabulary::emptyInstructionMessage)};
}

LanguageModelRemuxIntentParser::LanguageModelRemuxIntentParser(std::shared_ptr<LanguageModel> model)
    : model_(std::move(model)), availability_(availabilityFor(model_->availability())) {}

LanguageModelRemuxIntentParser::LanguageModelRemuxIntentParser(std::shared_ptr<LanguageModel> model,
                                                               LanguageModelAvailability known)
    : model_(std::move(model)), availability_(availabilityFor(known)) {}

RemuxIntentParserAvailability LanguageModelRemuxIntentParser::availabilityFor(
    LanguageModelAvailability model) {
    using Reason = LanguageModelAvailability::Reason;
    switch (model.reason) {
        case Reason::available:
            return RemuxIntentParserAvailability::available();
        case Reason::deviceNotEligible:
            return RemuxIntentParserAvailability::unavailable(
                std::string(vocabulary::deviceNotEligibleMessage));
        case Reason::notEnabled:
            return RemuxIntentParserAvailability::unavailable(
                std::string(vocabulary::notEnabledMessage));
        case Reason::modelNotReady:
            return RemuxIntentParserAvailability::unavailable(
                std::string(vocabulary::modelNotReadyMessage));
        case Reason::other:
            break;
    }
    return RemuxIntentParserAvailability::unavailable(
        std::string(vocabulary::otherUnavailableMessage));
}

RemuxIntentPlan LanguageModelRemuxIntentParser::parse(const std::string& instruction,
                                                      std::stop_token stop) const {
    const std::string trimmed(trimWhitespace(instruction));
    if (trimmed.empty()) {
        throw RemuxIntentParserError::emptyInstruction();
    }
    if (!availability_.isAvailable) {
        throw RemuxIntentParserError::unavailable();
    }
    LanguageModelRequest request{vocabulary::instructions(),
                                 std::string(vocabulary::promptPrefix) + trimmed,
                                 remuxPlanOutputSchema()};
    const auto answer = model_->respond(request, stop);
    if (stop.stop_requested()) {
        throw CancellationError();
    }
    return convert(decodeGeneratedRemuxPlan(answer));
}

RemuxIntentPlan LanguageModelRemuxIntentParser::convert(const GeneratedRemuxPlan& generated) {
    RemuxIntentPlan plan;
    switch (generated.container) {
        case GeneratedContainerPreference::unchanged:
            plan.container = RemuxContainerPreference::unchanged();
            break;
        case GeneratedContainerPreference::sameAsInput:
            plan.container = RemuxContainerPreference::sameAsInput();
            break;
        case GeneratedContainerPreference::mp4:
        case GeneratedContainerPreference::mov:
        case GeneratedContainerPreference::mkv:
        case GeneratedContainerPreference::m4v:
        case GeneratedContainerPreference::webm:
            plan.container = RemuxContainerPreference::named(
                static_cast<OutputContainer>(static_cast<int>(generated.container) -
                                             static_cast<int>(GeneratedContainerPreference::mp4)));
            break;
    }
    plan.playback = sameCase<RemuxPlaybackPreference>(generated.playback);
    const std::pair<const std::vector<GeneratedKindOperation>*, MediaStreamKind> lists[] = {
        {&generated.videoOperations, MediaStreamKind::video},
        {&generated.audioOperations, MediaStreamKind::audio},
        {&generated.subtitleOperations, MediaStreamKind::subtitle}};
    for (const auto& [operations, kind] : lists) {
        for (const auto& operation : *operations) {
            plan.operations.push_back(convertOperation(operation, kind));
        }
    }
    return plan;
}

}  // namespace tavrolin
