#include "engine/JoinMetadata.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "model/ErrorMessage.h"
#include "model/MediaProcessingError.h"
#include "probe/ProbeJson.h"
#include "probe/ProbeText.h"

namespace tavrolin {

namespace {

// How far apart the two halves of a chapter may lie across a seam, by millisecond rounding.
constexpr double kSeamGap = 0.01;

SourceTags tagsOf(const nlohmann::json& object) {
    SourceTags tags;
    const auto read = object.value("tags", nlohmann::json::object());
    for (const auto& [key, value] : read.items()) {
        if (value.is_string()) {
            tags.emplace_back(key, value.get<std::string>());
        }
    }
    return tags;
}

// Whether `next`, which begins a file where `before` ends the file before it, is the rest of the
// chapter a split cut in two: the same tags and, in Matroska, the same ID, the source chapter's
// number that Split gives a part's chapters (ffmpeg's own count, which starts each file at 1,
// tells a file's first chapter apart from the last of one before it with more). Chapters without
// IDs are one only where the parts on both sides mark the same chapter cut at the seam.
bool sameChapter(const SourceChapter& before, const SourceChapter& next, std::uint8_t cutAtEnd,
                 std::uint8_t cutAtStart) {
    if (before.tags != next.tags) {
        return false;
    }
    if (before.uid != 0 || next.uid != 0) {
        return before.uid == next.uid;
    }
    return cutAtEnd != 0 && cutAtEnd == cutAtStart;
}

}  // namespace

const std::string joinedFileEntries =
    "format=start_time,duration,format_name:format_tags:chapter=id,start_time,end_time:"
    "chapter_tags:stream=nb_frames";

std::optional<JoinedFileFacts> parseJoinedFileFacts(std::string_view json,
                                                    const std::filesystem::path& file) {
    JoinedFileFacts facts;
    try {
        const auto report = nlohmann::json::parse(json);
        const auto format = report.at("format");
        // Only Matroska's chapter IDs are the file's own; other demuxers count them.
        const bool ownIds = format.value("format_name", std::string()).rfind("matroska", 0) == 0;
        for (const auto& chapter : report.value("chapters", nlohmann::json::array())) {
            const auto start = probejson::secondsIn(chapter, "start_time");
            const auto end = probejson::secondsIn(chapter, "end_time");
            const auto id = chapter.value("id", std::int64_t{0});
            if (start && end) {
                facts.chapters.push_back(
                    {*start, *end, tagsOf(chapter), ownIds ? static_cast<std::uint64_t>(id) : 0});
            }
        }
        bool videoSeen = false;
        for (const auto& stream : report.value("streams", nlohmann::json::array())) {
            if (stream.value("codec_type", std::string()) == "video" && !videoSeen) {
                videoSeen = true;
                const auto samples = parseFiniteNumber(stream.value("nb_frames", std::string()));
                if (format.value("format_name", std::string()).rfind("mov,", 0) == 0 && samples &&
                    *samples > 0) {
                    facts.videoSamples = static_cast<std::int64_t>(*samples);
                }
            }
            if (stream.value("codec_type", std::string()) == "data" &&
                stream.value("codec_tag_string", std::string()) == "text") {
                facts.chapterTracks.push_back(stream.at("index").get<std::int64_t>());
            }
        }
        const auto duration = probejson::secondsIn(format, "duration");
        facts.duration = duration && *duration > 0 ? duration : std::nullopt;
        facts.start = probejson::secondsIn(format, "start_time").value_or(0);
        facts.tags = tagsOf(format);
        if (!ownIds && !facts.chapters.empty()) {
            facts.chapterCuts = readPartChapterCuts(file);
        }
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
    return facts;
}

std::vector<SourceChapter> joinedChapters(const std::vector<std::filesystem::path>& files,
                                          const std::vector<JoinedFileFacts>& facts) {
    std::vector<SourceChapter> joined;
    double offset = 0;
    std::optional<std::filesystem::path> unplaced;
    std::uint8_t cutAtEnd = 0;  // what the file before marks of its end
    for (std::size_t i = 0; i < facts.size() && i < files.size(); ++i) {
        const JoinedFileFacts& file = facts[i];
        if (unplaced && !file.chapters.empty()) {
            throw MediaProcessingError::invalidRequest("Tavrolin could not read the length of " +
                                                       quotedName(*unplaced) +
                                                       ", so it cannot place the chapters of the "
                                                       "files after it. Join it last or remove it "
                                                       "from the list.");
        }
        // The concat reader starts each file's timestamps at its first one.
        for (const auto& chapter : file.chapters) {
            double start = std::max(chapter.start - file.start, 0.0);
            double end = chapter.end - file.start;
            if (file.duration) {
                end = std::min(end, *file.duration);
            }
            if (end <= start) {
                continue;
            }
            if (start < kSeamGap && !joined.empty() &&
                std::abs(joined.back().end - offset) < kSeamGap &&
                sameChapter(joined.back(), chapter, cutAtEnd, file.chapterCuts.atStart)) {
                joined.back().end = offset + end;
            } else {
                joined.push_back({offset + start, offset + end, chapter.tags, chapter.uid});
            }
        }
        cutAtEnd = file.chapterCuts.atEnd;
        if (file.duration) {
            offset += *file.duration;
        } else if (!unplaced) {
            unplaced = files[i];
        }
    }
    return joined;
}

}  // namespace tavrolin
