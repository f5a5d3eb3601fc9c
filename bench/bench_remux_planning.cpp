// Times the deterministic half of a natural-language draft, which runs on the GUI thread when
// the model has answered: decoding a typical answer, and resolving a six-operation plan against
// 300 sources of 12 streams each. Prints the median of several rounds.

#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "planning/GeneratedRemuxPlan.h"
#include "planning/LanguageModelRemuxIntentParser.h"
#include "planning/RemuxIntentResolver.h"

using namespace tavrolin;
using benchsupport::Clock;
using benchsupport::median;
using benchsupport::seconds;

namespace {

constexpr int kSources = 300;
constexpr int kRounds = 9;

std::vector<MediaStream> streamsOfOneFile() {
    const std::vector<std::string> languages{"eng", "fre", "ger", "spa", "jpn"};
    std::vector<MediaStream> streams;
    MediaStream video;
    video.codecName = "hevc";
    streams.push_back(video);
    for (int i = 0; i < 6; ++i) {
        MediaStream audio;
        audio.index = static_cast<std::int64_t>(streams.size());
        audio.kind = MediaStreamKind::audio;
        audio.codecName = i % 2 ? "aac" : "truehd";
        audio.channelCount = i % 2 ? 2 : 8;
        audio.language = languages[static_cast<std::size_t>(i) % languages.size()];
        audio.title = i == 5 ? std::optional<std::string>("Director's Commentary") : std::nullopt;
        audio.isDefault = i == 0;
        streams.push_back(audio);
    }
    for (int i = 0; i < 5; ++i) {
        MediaStream subtitle;
        subtitle.index = static_cast<std::int64_t>(streams.size());
        subtitle.kind = MediaStreamKind::subtitle;
        subtitle.codecName = "subrip";
        subtitle.language = languages[static_cast<std::size_t>(i)];
        subtitle.isForced = i == 1;
        streams.push_back(subtitle);
    }
    return streams;
}

}  // namespace

int main() {
    const auto answer = nlohmann::ordered_json::parse(R"({
      "container": "mp4", "playback": "iPhone17Pro", "videoOperations": [{"type": "retainAll"}],
      "audioOperations": [
        {"type": "exclude", "predicate": {"conditions": [{"type": "role", "value": "commentary"}],
         "matchMode": "all"}, "cardinality": "all", "ranking": "sourceOrder",
         "fallback": "preserveCurrentAndWarn"},
        {"type": "deduplicate", "predicate": {"conditions": [], "matchMode": "all"},
         "grouping": "languageAndRole", "cardinality": "best", "ranking": "defaultAtmosChannels",
         "fallback": "preserveCurrentAndWarn"},
        {"type": "retainOnly", "predicate": {"conditions": [{"type": "language", "value": "English"},
         {"type": "language", "value": "French"}], "matchMode": "any"}, "cardinality": "all",
         "ranking": "sourceOrder", "fallback": "keepBestAndWarn"}],
      "subtitleOperations": [
        {"type": "retainOnly", "predicate": {"conditions": [{"type": "language", "value": "en"}],
         "matchMode": "all"}, "cardinality": "first", "count": 1, "ranking": "sourceOrder",
         "fallback": "preserveCurrentAndWarn"},
        {"type": "include", "predicate": {"conditions": [{"type": "role", "value": "forced"}],
         "matchMode": "all"}, "cardinality": "all", "ranking": "sourceOrder",
         "fallback": "preserveCurrentAndWarn"}]})");

    std::vector<double> decodeTimes;
    RemuxIntentPlan plan;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = Clock::now();
        for (int i = 0; i < 1000; ++i) {
            plan = LanguageModelRemuxIntentParser::convert(decodeGeneratedRemuxPlan(answer));
        }
        decodeTimes.push_back(seconds(Clock::now() - start) / 1000);
    }

    const auto streams = streamsOfOneFile();
    std::vector<RemuxSource> sources;
    for (int i = 0; i < kSources; ++i) {
        RemuxSource source{
            "/media/show/episode " + std::to_string(i) + ".mkv", RemuxSource::Ready{streams}, {}};
        for (const auto& stream : streams) {
            source.selectedStreamIndices.insert(stream.index);
        }
        sources.push_back(std::move(source));
    }
    const RemuxIntentResolver resolver;
    std::vector<double> resolveTimes;
    std::size_t lines = 0;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = Clock::now();
        const auto draft = resolver.resolve("typed", plan, sources, std::nullopt, std::nullopt);
        resolveTimes.push_back(seconds(Clock::now() - start));
        lines = draft.changes.size() + draft.warnings.size();
    }
    std::printf("decode + convert one answer: %.1f us\n", median(decodeTimes) * 1e6);
    std::printf("resolve %zu operations x %d sources x %zu streams: %.1f ms (%zu lines)\n",
                plan.operations.size(), kSources, streams.size(), median(resolveTimes) * 1e3,
                lines);
    return 0;
}
