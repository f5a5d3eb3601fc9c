#include "engine/JoinWarmUp.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "model/CancellationError.h"
#include "probe/PacketReadError.h"
#include "probe/PacketReports.h"
#include "probe/ProbeJson.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

// How far before its end a file's last packets are read: past the last keyframe of any stream.
constexpr double kEndRead = 6.0;
// How many packets of a file's start are read.
constexpr int kHeadPackets = 64;

// How far the sound may move pictures from following on, when it decides the placing.
constexpr double kPictureSlack = 0.008;

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

std::optional<double> sampleRateOf(const nlohmann::json& report, std::int64_t index) {
    for (const auto& stream : report.value("streams", nlohmann::json::array())) {
        if (stream.value("index", std::int64_t{-1}) == index) {
            return probejson::secondsIn(stream, "sample_rate");
        }
    }
    return std::nullopt;
}

// The start: whether the first audio packet is hidden (by an edit list or an MP3 header, which
// give the decoder samples to skip, or by Matroska's codec delay, which puts it before 0), and
// the first packet that shows any of its samples.
void readStart(const nlohmann::json& report, JoinInputTiming& timing) {
    const auto video = firstStreamOf(report, "video");
    for (const auto& packet : report.value("packets", nlohmann::json::array())) {
        const auto at = probejson::secondsIn(packet, "pts_time");
        if (video && at && packet.value("stream_index", std::int64_t{-1}) == *video) {
            timing.videoStart = std::min(timing.videoStart.value_or(*at), *at);
        }
    }
    const auto audio = firstStreamOf(report, "audio");
    if (!audio) {
        return;
    }
    std::vector<nlohmann::json> packets;
    for (const auto& packet : report.value("packets", nlohmann::json::array())) {
        if (packet.value("stream_index", std::int64_t{-1}) == *audio) {
            packets.push_back(packet);
        }
    }
    if (packets.empty()) {
        return;
    }
    const auto& first = packets.front();
    const double firstAt = probejson::secondsIn(first, "pts_time").value_or(0);
    const auto rate = sampleRateOf(report, *audio).value_or(0);
    const std::int64_t skipped = skippedSamples(first);
    timing.audioFrame = probejson::secondsIn(first, "duration_time").value_or(0);
    timing.hidesAudio = skipped > 0 ||
                        first.value("flags", std::string()).find('D') != std::string::npos ||
                        firstAt < -1e-6;
    if (skipped > 0 && rate > 0) {
        const double shown = firstAt + static_cast<double>(skipped) / rate;
        for (const auto& packet : packets) {
            const auto at = probejson::secondsIn(packet, "pts_time");
            if (at && *at <= shown + 1e-4) {
                timing.audioShown = *at;
            }
        }
        return;
    }
    for (const auto& packet : packets) {
        const auto at = probejson::secondsIn(packet, "pts_time");
        if (at && *at >= -1e-6) {
            timing.audioShown = *at;
            return;
        }
    }
}

std::vector<JoinAudioPacket> audioPackets(const nlohmann::json& report,
                                          std::optional<std::int64_t> audio) {
    std::vector<JoinAudioPacket> packets;
    for (const auto& packet : report.value("packets", nlohmann::json::array())) {
        const auto at = probejson::secondsIn(packet, "pts_time");
        if (audio && at && packet.value("stream_index", std::int64_t{-1}) == *audio) {
            packets.push_back({*at, packet.value("data_hash", std::string())});
        }
    }
    return packets;
}

void readEnd(const nlohmann::json& report, JoinInputTiming& timing) {
    const auto video = firstStreamOf(report, "video");
    const auto audio = firstStreamOf(report, "audio");
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
    timing.audioTail = audioPackets(report, audio);
}

// `file`'s packets from `from` seconds on, else its first `count`, each with a checksum of its
// bytes, read in-process; none when the file cannot be read or `stop` is requested.
std::optional<nlohmann::json> readPackets(const fs::path& file, std::optional<double> from,
                                          int count, std::stop_token stop) {
    try {
        return checksummedPackets(file, from, count, std::move(stop));
    } catch (const PacketReadError&) {
    } catch (const CancellationError&) {
    }
    return std::nullopt;
}

// Where `next`'s packet that repeats `before`'s last audio packet starts: the latest one whose
// packets before it, as far as both files reach, are `before`'s before its last.
std::optional<double> repeatedLastPacket(const JoinInputTiming& before,
                                         const JoinInputTiming& next) {
    const auto& tail = before.audioTail;
    const auto& head = next.audioHead;
    if (tail.empty() || tail.back().checksum.empty()) {
        return std::nullopt;
    }
    for (std::size_t at = head.size(); at-- > 0;) {
        bool same = true;
        for (std::size_t back = 0; same && back <= at && back < tail.size(); ++back) {
            same = head[at - back].checksum == tail[tail.size() - 1 - back].checksum;
        }
        if (same) {
            return head[at].start;
        }
    }
    return std::nullopt;
}

}  // namespace

const std::string joinStartEntries =
    "packet=stream_index,pts_time,duration_time,flags:packet_side_data=skip_samples:"
    "stream=sample_rate:stream_disposition=attached_pic";

JoinInputTiming readJoinStart(const std::string& json, double fileStart,
                              std::optional<double> duration) {
    JoinInputTiming timing;
    timing.fileStart = fileStart;
    timing.duration = duration;
    const auto report = nlohmann::json::parse(json, nullptr, false);
    if (!report.is_discarded()) {
        readStart(report, timing);
    }
    return timing;
}

void readJoinHead(const fs::path& file, std::stop_token stop, JoinInputTiming& timing) {
    if (const auto report = readPackets(file, std::nullopt, kHeadPackets, std::move(stop))) {
        timing.audioHead = audioPackets(*report, firstStreamOf(*report, "audio"));
    }
}

void readJoinEnd(const fs::path& file, std::stop_token stop, JoinInputTiming& timing) {
    const double from = std::max(timing.duration.value_or(0) + timing.fileStart - kEndRead, 0.0);
    if (const auto report = readPackets(file, from, 0, std::move(stop))) {
        readEnd(*report, timing);
    }
}

std::vector<std::optional<double>> joinInputLengths(const std::vector<JoinInputTiming>& inputs) {
    std::vector<std::optional<double>> lengths(inputs.size());
    for (std::size_t i = 1; i < inputs.size(); ++i) {
        const auto& before = inputs[i - 1];
        const auto& next = inputs[i];
        if (!before.duration) {
            continue;
        }
        // Where the next file's first timestamp goes, counted from this file's first.
        std::optional<double> length;
        bool matched = false;
        const auto repeated = next.hidesAudio ? repeatedLastPacket(before, next) : std::nullopt;
        const std::optional<double> byPictures =
            before.videoEnd && next.videoStart
                ? std::optional<double>(*before.videoEnd - *next.videoStart)
                : std::nullopt;
        if (repeated && (!byPictures || std::abs(before.audioTail.back().start - *repeated -
                                                 *byPictures) <= kPictureSlack)) {
            // The sound goes on without a gap, the pictures within a rounding of Matroska's
            // milliseconds of following on.
            length = before.audioTail.back().start - *repeated;
            matched = true;
        } else if (byPictures) {
            length = byPictures;
        } else if (!next.hidesAudio) {
            continue;
        } else if (before.audioEnd && next.audioShown) {
            length = *before.audioEnd - *next.audioShown;
        }
        if (!length) {
            continue;
        }
        *length += next.fileStart - before.fileStart;
        // The reader's own placing, less what the next file hides and the part of a frame that
        // would play twice, or that this file's sound runs past its last picture.
        const double hidden =
            next.hidesAudio ? std::max(next.audioShown.value_or(0) - next.fileStart, 0.0) : 0.0;
        const double earlier = *before.duration - *length;
        const bool near = earlier >= -0.001 &&
                          earlier <= hidden + std::max(next.audioFrame, before.audioFrame) + 0.001;
        if (*length > 0 && (matched || near)) {
            lengths[i - 1] = *length;
        }
    }
    return lengths;
}

bool joinNeedsEnd(const std::vector<JoinInputTiming>& inputs, std::size_t i) {
    return i + 1 < inputs.size() &&
           (inputs[i + 1].hidesAudio || (inputs[i].videoStart && inputs[i + 1].videoStart));
}

bool joinNeedsHead(const std::vector<JoinInputTiming>& inputs, std::size_t i) {
    return i > 0 && i < inputs.size() && inputs[i].hidesAudio;
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

std::string joinVorbisTimingFilter() {
    // libav's Ogg reader starts a short Vorbis block that follows a long one at a page start a
    // quarter of the two blocks' difference late (9 ms at 48 kHz), and ends it there: such a
    // packet, which starts that far past the end of the one before while the next follows on
    // from it, goes back to where the one before ends. A packet after a real gap so moved
    // leaves the gap after it. In Matroska's milliseconds, which the filter is handed.
    const std::string jump = "(PTS-PREV_INPTS-PREV_INDURATION)";
    const std::string placed = "if(gt(N\\,0)*gt(" + jump + "\\,4)*lt(" + jump +
                               "\\,22)*lte(abs(NEXT_PTS-PTS-DURATION)\\,1)\\,"
                               "PREV_INPTS+PREV_INDURATION\\,PTS)";
    return "setts=pts=" + placed + ":dts=" + placed;
}

}  // namespace tavrolin
