#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "engine/split/PartPacketIndex.h"
#include "support/TestMedia.h"

namespace tavtest {

namespace packetindex {

inline std::optional<double> secondsIn(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string() || *found == "N/A") {
        return std::nullopt;
    }
    return std::stod(found->get<std::string>());
}

inline void expectNear(const std::optional<double>& read, const std::optional<double>& shown) {
    ASSERT_EQ(read.has_value(), shown.has_value());
    if (read) {
        EXPECT_NEAR(*read, *shown, 1.5e-6);
    }
}

}  // namespace packetindex

// What the real ffprobe shows of `file`'s first video stream (`video`), else its first audio
// stream: each packet's time, length and flags, and the format's start and length.
inline tavrolin::PartPacketIndex probedPacketIndex(const std::filesystem::path& file, bool video) {
    using packetindex::secondsIn;
    std::string text;
    EXPECT_EQ(runTool({"ffprobe", "-fflags", "+genpts", "-v", "error", "-select_streams",
                       video ? "V:0" : "a:0", "-show_entries",
                       "packet=pts_time,duration_time,flags:format=start_time,duration", "-of",
                       "json", file.string()},
                      &text),
              0);
    const auto report = nlohmann::json::parse(text);
    tavrolin::PartPacketIndex index;
    for (const auto& packet : report.value("packets", nlohmann::json::array())) {
        const std::string flags = packet.at("flags");
        index.packets.push_back(
            {secondsIn(packet, "pts_time").value(), secondsIn(packet, "duration_time"),
             flags.find('K') != std::string::npos, flags.find('D') != std::string::npos});
    }
    index.start = secondsIn(report.at("format"), "start_time");
    index.duration = secondsIn(report.at("format"), "duration");
    return index;
}

// `read`, a file's own index, holds what ffprobe shows of it, within the microsecond it prints.
inline void expectAsProbed(const tavrolin::PartPacketIndex& read, const std::filesystem::path& file,
                           bool video) {
    using packetindex::expectNear;
    const auto shown = probedPacketIndex(file, video);
    ASSERT_EQ(read.packets.size(), shown.packets.size());
    for (std::size_t at = 0; at < shown.packets.size(); ++at) {
        SCOPED_TRACE(at);
        const auto& [time, duration, keyframe, discard] = read.packets[at];
        EXPECT_NEAR(time, shown.packets[at].time, 1.5e-6);
        expectNear(duration, shown.packets[at].duration);
        EXPECT_EQ(keyframe, shown.packets[at].keyframe);
        EXPECT_EQ(discard, shown.packets[at].discard);
    }
    expectNear(read.start, shown.start);
    expectNear(read.duration, shown.duration);
}

}  // namespace tavtest
