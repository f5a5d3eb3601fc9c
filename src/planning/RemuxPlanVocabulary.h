#pragma once

#include <array>
#include <string>
#include <string_view>

namespace tavrolin {

// Every fixed text of the remux plan request in one place: the model's instructions, the prompt
// prefix, the output schema's type names, descriptions and choices, and the messages of the
// parser, the availability check and the answer decoding. Golden files pin them.
namespace RemuxPlanVocabulary {

// The session instructions: 24 lines joined by line feeds, no final line feed.
const std::string& instructions();
inline constexpr std::string_view promptPrefix = "User request: ";

// Schema type names and descriptions.
inline constexpr std::string_view planTypeName = "GeneratedRemuxPlan";
inline constexpr std::string_view kindOperationTypeName = "GeneratedKindOperation";
inline constexpr std::string_view predicateTypeName = "GeneratedStreamPredicate";
inline constexpr std::string_view conditionTypeName = "GeneratedPredicateCondition";
inline constexpr std::string_view containerTypeName = "GeneratedContainerPreference";
inline constexpr std::string_view playbackTypeName = "GeneratedPlaybackPreference";
inline constexpr std::string_view cardinalityTypeName = "GeneratedCardinality";
inline constexpr std::string_view rankingTypeName = "GeneratedRanking";
inline constexpr std::string_view fallbackTypeName = "GeneratedFallback";
inline constexpr std::string_view roleTypeName = "GeneratedStreamRole";
inline constexpr std::string_view matchModeTypeName = "GeneratedMatchMode";
inline constexpr std::string_view groupingTypeName = "GeneratedGrouping";

inline constexpr std::string_view planDescription =
    "A declarative, review-only plan for configuring a lossless media remux.";
inline constexpr std::string_view containerDescription =
    "The requested output container, or unchanged when omitted.";
inline constexpr std::string_view playbackDescription =
    "The requested playback target, or unchanged when omitted.";
inline constexpr std::string_view videoOperationsDescription =
    "Video operations only. Empty when the user did not request a video-track change.";
inline constexpr std::string_view audioOperationsDescription =
    "Audio operations only. Empty when the user did not request an audio-track change.";
inline constexpr std::string_view subtitleOperationsDescription =
    "Subtitle operations only. 'Only' means retainOnly, never include or retainAll. Empty only "
    "when the user did not request a subtitle change.";
inline constexpr std::string_view kindOperationDescription =
    "One strongly typed operation for the media kind named by its parent property.";
inline constexpr std::string_view predicateDescription =
    "A semantic predicate containing only conditions explicitly stated by the user.";
inline constexpr std::string_view conditionsDescription =
    "Only semantic conditions explicitly stated in the request. Do not add plausible media "
    "properties.";
inline constexpr std::string_view conditionDescription =
    "One stream property explicitly present in the user's request.";

// Choices, in the order the schema offers them and the decoders compare them. The order of each
// list is the order of the matching Generated enumeration.
inline constexpr std::array<std::string_view, 6> kindOperationTypes{
    "retainAll", "removeAll", "retainOnly", "include", "exclude", "deduplicate"};
inline constexpr std::array<std::string_view, 9> conditionTypes{
    "language",     "mono", "stereo", "surround51",   "surround71",
    "channelCount", "role", "codec",  "titleContains"};
inline constexpr std::array<std::string_view, 7> containerChoices{
    "unchanged", "sameAsInput", "mp4", "mov", "mkv", "m4v", "webm"};
inline constexpr std::array<std::string_view, 3> playbackChoices{
    "unchanged", "containerCompatibilityOnly", "iPhone17Pro"};
inline constexpr std::array<std::string_view, 7> cardinalityChoices{
    "all", "best", "first", "last", "exactly", "atMost", "atLeast"};
inline constexpr std::array<std::string_view, 5> rankingChoices{
    "sourceOrder", "defaultFirst", "defaultAtmosChannels", "highestChannelCount", "codecQuality"};
inline constexpr std::array<std::string_view, 3> fallbackChoices{"preserveCurrentAndWarn",
                                                                 "keepBestAndWarn", "fail"};
inline constexpr std::array<std::string_view, 6> roleChoices{
    "main", "commentary", "descriptive", "forced", "sdh", "signsAndSongs"};
inline constexpr std::array<std::string_view, 2> matchModeChoices{"all", "any"};
inline constexpr std::array<std::string_view, 6> groupingChoices{
    "none", "language", "role", "languageAndRole", "languageRoleAndChannels", "codec"};

// Parser errors and availability messages.
inline constexpr std::string_view unavailableMessage =
    "The on-device language model is not available right now. You can still configure Remux "
    "manually.";
inline constexpr std::string_view emptyInstructionMessage =
    "Enter an instruction before creating a draft.";
// No model server is set; the one set does not answer or does not offer its model.
inline constexpr std::string_view deviceNotEligibleMessage =
    "No local model server is set. Enter its address and model name in Settings to create "
    "drafts, or configure Remux manually.";
inline constexpr std::string_view notEnabledMessage =
    "Turn on the on-device language model in Settings to create natural-language drafts.";
inline constexpr std::string_view modelNotReadyMessage =
    "The model server set in Settings has not answered yet, or does not offer its model. Start "
    "it, or check its address and model name in Settings.";
inline constexpr std::string_view otherUnavailableMessage =
    "The on-device language model is unavailable right now. You can still configure Remux "
    "manually.";

// Decoding failures, in words: "The model's answer did not fit the plan format: " + what was
// wrong + what to do. `word` is "type" for the discriminated objects, "value" for plain choices.
std::string unexpectedCaseMessage(std::string_view word, std::string_view received,
                                  std::string_view typeName);
std::string missingPropertyMessage(std::string_view property, std::string_view typeName);
// `expected` is "a string", "an integer", "a list" or "an object".
std::string wrongKindMessage(std::string_view property, std::string_view typeName,
                             std::string_view expected);
// A list of the plan longer than any request needs; `property` names the list.
std::string tooManyEntriesMessage(std::string_view property, std::size_t count, std::size_t limit);
// A text value (a language, codec or title term) longer than any request needs, or with nothing
// left to show once readableExcerpt has cleaned it.
std::string valueTooLongMessage(std::string_view property, std::string_view typeName);
std::string unprintableValueMessage(std::string_view property, std::string_view typeName);
// A text value holding a character that holdsUnprintable finds: shown without it, the value
// would read as another than the one matched against the tracks.
std::string controlCharactersMessage(std::string_view property, std::string_view typeName);

// A request names a few operations per kind and a few conditions per operation; an answer with
// more is a model that ran away, not a plan.
inline constexpr std::size_t maxOperationsPerKind = 10;
inline constexpr std::size_t maxConditionsPerPredicate = 10;
// Bytes of one text value; a language, codec or title term is a few words.
inline constexpr std::size_t maxValueBytes = 256;

// The model's own text as a message or a draft line may show it: control characters (C0, DEL,
// C1) and line and paragraph separators become spaces, runs of spaces one space, bidirectional
// formatting characters are left out, and text past `maxCharacters` is cut at a character
// boundary with "…".
std::string readableExcerpt(std::string_view text, std::size_t maxCharacters = 40);
// Whether the text holds a character that readableExcerpt replaces or leaves out.
bool holdsUnprintable(std::string_view text);

}  // namespace RemuxPlanVocabulary

}  // namespace tavrolin
