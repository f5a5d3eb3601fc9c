#include "engine/JoinWarmUp.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "engine/FFprobeQueries.h"
#include "engine/MillisecondTime.h"
#include "probe/ProbeJson.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

// How far before its end a file's last packets are read: past the last keyframe of any stream.
constexpr double kEndRead = 6.0;

bool isPicture(const nlohmann::json& stream) {
    return stream.value("disposition", nlohmann::json::object()).value("attached_pic", 0) != 0;
}

std::optional<std::int64_t> firstStreamOf(const nlohmann::json& report, const std::string& type) {
    for (const auto& stream : report.value("streams", nlohmann::json::array())) {
        if (stream.value("codec_type", std::string()) == type && !isPicture(stream)) {
            return stream.value("index", std::int64_t{-1});
        }
    }
    return std::nullopt;
}

std::int64_t skippedSamples(const nlohmann::json& packet) {
    for (const auto& data : packet.value("side_data_list", nlohmann::json::array())) {
        if (data.contains("skip_samples")) {
            return data.value("skip_samples", std::int64_t{0});
        }
    }
    return 0;
}

// The start: whether the first audio packet is hidden, and the first packet the first decoded
// frame lies in (a decoder that shows nothing of a packet hides it too).
void readStart(const nlohmann::json& report, JoinInputTiming& timing) {
    // Shown together, packets and frames come in one list.
    nlohmann::json packets = nlohmann::json::array();
    nlohmann::json frames = nlohmann::json::array();
    for (const auto& entry : report.value("packets_and_frames", nlohmann::json::array())) {
        (entry.value("type", std::string()) == "frame" ? frames : packets).push_back(entry);
    }
    if (packets.empty()) {
        return;
    }
    const auto& first = packets.front();
    const double firstAt = probejson::secondsIn(first, "pts_time").value_or(0);
    timing.audioFrame = probejson::secondsIn(first, "duration_time").value_or(0);
    timing.hidesAudio = skippedSamples(first) > 0 ||
                        first.value("flags", std::string()).find('D') != std::string::npos ||
                        firstAt < -1e-6;
    const double shown = frames.empty()
                             ? firstAt
                             : probejson::secondsIn(frames.front(), "pts_time").value_or(firstAt);
    for (const auto& packet : packets) {
        const auto at = probejson::secondsIn(packet, "pts_time");
        if (at && *at <= shown + 1e-4) {
            timing.audioShown = *at;
        }
    }
}

void readEnd(const nlohmann::json& report, JoinInputTiming& timing) {
    const auto video = firstStreamOf(report, "video");
    const auto audio = firstStreamOf(report, "audio");
    for (const auto& stream : report.value("streams", nlohmann::json::array())) {
        if (video && stream.value("index", std::int64_t{-1}) == *video) {
            timing.videoStart = probejson::secondsIn(stream, "start_time");
        }
    }
    for (const auto& packet : report.value("packets", nlohmann::json::array())) {
        const auto index = packet.value("stream_index", std::int64_t{-1});
        const auto at = probejson::secondsIn(packet, "pts_time");
        if (!at) {
            continue;
        }
        const double end = *at + probejson::secondsIn(packet, "duration_time").value_or(0);
        auto& kept = video && index == *video   ? timing.videoEnd
                     : audio && index == *audio ? timing.audioEnd
                                                : timing.duration;
        if (&kept != &timing.duration) {
            kept = std::max(kept.value_or(end), end);
        }
    }
}

std::optional<std::string> probed(ProcessRunning& runner, const fs::path& ffprobe,
                                  std::vector<std::string> arguments, const fs::path& file,
                                  std::stop_token stop) {
    arguments.insert(arguments.begin(), {"-v", "error", "-of", "json"});
    arguments.push_back(file.string());
    auto result = runBoundedFFprobe(runner, ffprobe, arguments, stop);
    if (result.terminationStatus != 0) {
        return std::nullopt;
    }
    return std::move(result.standardOutput);
}

}  // namespace

void readJoinTimingReport(const std::string& json, JoinInputTiming& timing, bool start) {
    const auto report = nlohmann::json::parse(json, nullptr, false);
    if (report.is_discarded()) {
        return;
    }
    const auto format = report.value("format", nlohmann::json::object());
    if (start) {
        timing.fileStart = probejson::secondsIn(format, "start_time").value_or(0);
        timing.duration = probejson::secondsIn(format, "duration");
        readStart(report, timing);
    } else {
        readEnd(report, timing);
    }
}

std::optional<JoinInputTiming> readJoinInputTiming(ProcessRunning& runner, const fs::path& file,
                                                   const fs::path& ffprobe, std::stop_token stop) {
    JoinInputTiming timing;
    const auto start =
        probed(runner, ffprobe,
               {"-select_streams", "a:0", "-read_intervals", "%+#64", "-show_entries",
                "format=start_time,duration:packet=pts_time,duration_time,flags:"
                "packet_side_data=skip_samples:frame=pts_time"},
               file, stop);
    if (!start) {
        return std::nullopt;
    }
    readJoinTimingReport(*start, timing, true);
    const double from = std::max(timing.duration.value_or(0) + timing.fileStart - kEndRead, 0.0);
    const auto end =
        probed(runner, ffprobe,
               {"-read_intervals", formatCommandLineSeconds(from) + "%", "-show_entries",
                "stream=index,codec_type,start_time:stream_disposition=attached_pic:"
                "packet=stream_index,pts_time,duration_time"},
               file, stop);
    if (!end) {
        return std::nullopt;
    }
    readJoinTimingReport(*end, timing, false);
    return timing;
}

std::vector<std::optional<double>> joinInputLengths(const std::vector<JoinInputTiming>& inputs) {
    std::vector<std::optional<double>> lengths(inputs.size());
    for (std::size_t i = 1; i < inputs.size(); ++i) {
        const auto& before = inputs[i - 1];
        const auto& next = inputs[i];
        if (!next.hidesAudio || !before.duration) {
            continue;
        }
        // Where the next file's first timestamp goes, counted from this file's first.
        std::optional<double> length;
        if (before.videoEnd && next.videoStart) {
            length = *before.videoEnd - *next.videoStart;
        } else if (before.audioEnd && next.audioShown) {
            length = *before.audioEnd - *next.audioShown;
        }
        if (!length) {
            continue;
        }
        *length += next.fileStart - before.fileStart;
        // The reader's own placing, less what the next file hides and the part of a frame it
        // would play twice.
        const double hidden = std::max(next.audioShown.value_or(0) - next.fileStart, 0.0);
        const double earlier = *before.duration - *length;
        if (*length > 0 && earlier >= -0.001 && earlier <= hidden + next.audioFrame + 0.001) {
            lengths[i - 1] = *length;
        }
    }
    return lengths;
}

bool joinDropsWarmUp(const std::vector<JoinInputTiming>& inputs) {
    return std::any_of(inputs.begin() + (inputs.empty() ? 0 : 1), inputs.end(),
                       [](const JoinInputTiming& input) { return input.hidesAudio; });
}

std::string joinWarmUpFilter() {
    // Register 0 holds the end of the audio written so far, register 1 whether there is any; a
    // packet that starts more than half its length before that end was played by the file before.
    return "noise=drop=ld(1)*lt(pts+duration/2\\,ld(0))"
           "+0*st(0\\,if(ld(1)\\,max(ld(0)\\,pts+duration)\\,pts+duration))+0*st(1\\,1)";
}

}  // namespace tavrolin
