#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "model/ChapterEditions.h"
#include "model/MediaStream.h"

namespace tavrolin {

// One source file of the remux workspace; its identity is `url`.
struct RemuxSource {
    struct Loading {
        friend bool operator==(const Loading&, const Loading&) = default;
    };
    struct Ready {
        Ready() = default;
        explicit(false)
            Ready(std::vector<MediaStream> streams, ChapterEditions chapterEditions = {})
            : streams(std::move(streams)), chapterEditions(chapterEditions) {}

        std::vector<MediaStream> streams;
        ChapterEditions chapterEditions;
        friend bool operator==(const Ready&, const Ready&) = default;
    };
    struct Failed {
        std::string message;
        // False when the file itself is the cause, so inspecting it again cannot help.
        bool retryMayHelp = true;
        friend bool operator==(const Failed&, const Failed&) = default;
    };
    using InspectionState = std::variant<Loading, Ready, Failed>;

    std::filesystem::path url;
    InspectionState inspectionState = Loading{};
    std::set<std::int64_t> selectedStreamIndices;

    const std::filesystem::path& id() const { return url; }

    // The ready streams, in list order, whose index is selected; empty unless ready.
    std::vector<MediaStream> selectedStreams() const {
        std::vector<MediaStream> result;
        if (const auto* ready = std::get_if<Ready>(&inspectionState)) {
            for (const auto& stream : ready->streams) {
                if (selectedStreamIndices.contains(stream.index)) {
                    result.push_back(stream);
                }
            }
        }
        return result;
    }

    friend bool operator==(const RemuxSource&, const RemuxSource&) = default;
};

}  // namespace tavrolin
