#include "probe/PacketCensus.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

#include "probe/ProbeText.h"

namespace tavrolin {

namespace {

// How far apart two copies of a stream may end: muxers round the last packet's duration
// differently (MP4 derives it from the next sample, Matroska stores it).
constexpr double endTolerance = 0.5;
// How many seconds at the end of a file are listed: every stream that plays to the end has its
// last packets there, whatever its interleaving.
constexpr double tailSeconds = 30;

StreamPackets packetsOf(const PacketCensus& census, std::int64_t stream) {
    const auto found = census.find(stream);
    return found == census.end() ? StreamPackets{} : found->second;
}

std::optional<std::int64_t> wholeNumber(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size() && !text.empty()
               ? std::optional<std::int64_t>(value)
               : std::nullopt;
}

// Calls `use` with the first `N` comma-separated fields of each line of `report` and how many
// there were.
template <std::size_t N, typename Use>
void forEachLine(std::string_view report, Use use) {
    while (!report.empty()) {
        const auto lineEnd = report.find('\n');
        std::string_view line = report.substr(0, lineEnd);
        report.remove_prefix(lineEnd == std::string_view::npos ? report.size() : lineEnd + 1);
        std::string_view fields[N];
        std::size_t count = 0;
        for (; count < N && !line.empty(); ++count) {
            const auto comma = line.find(',');
            fields[count] = line.substr(0, comma);
            line.remove_prefix(comma == std::string_view::npos ? line.size() : comma + 1);
        }
        use(fields, count);
    }
}

}  // namespace

std::vector<std::string> censusOutlineArguments(const std::filesystem::path& file) {
    return {"-v",
            "error",
            "-show_entries",
            "format=start_time,duration:stream=index,codec_type:stream_disposition=attached_pic",
            "-of",
            "json",
            file.string()};
}

std::optional<CensusOutline> parseCensusOutline(std::string_view json) {
    const auto secondsIn = [](const nlohmann::json& object, const char* key) {
        const auto found = object.find(key);
        return found != object.end() && found->is_string()
                   ? parseFiniteNumber(found->get_ref<const std::string&>())
                   : std::nullopt;
    };
    CensusOutline outline;
    try {
        const auto report = nlohmann::json::parse(json);
        for (const auto& stream : report.at("streams")) {
            const auto disposition = stream.value("disposition", nlohmann::json::object());
            if (stream.value("codec_type", std::string()) == "attachment" ||
                disposition.value("attached_pic", 0) != 0) {
                outline.untimed.insert(stream.at("index").get<std::int64_t>());
            }
        }
        const auto format = report.value("format", nlohmann::json::object());
        const auto duration = secondsIn(format, "duration");
        if (duration) {
            outline.end = secondsIn(format, "start_time").value_or(0) + *duration;
        }
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
    return outline;
}

std::vector<std::string> packetCountArguments(const std::filesystem::path& file) {
    return {"-v",
            "error",
            "-count_packets",
            "-show_entries",
            "stream=index,nb_read_packets:format=duration",
            "-of",
            "csv=p=1",
            file.string()};
}

PacketCensus parsePacketCounts(std::string_view report) {
    PacketCensus census;
    forEachLine<3>(report, [&census](const std::string_view* fields, std::size_t count) {
        const auto stream =
            count == 3 && fields[0] == "stream" ? wholeNumber(fields[1]) : std::nullopt;
        const auto packets = stream ? wholeNumber(fields[2]) : std::nullopt;
        if (packets && *packets >= 0) {
            census[*stream].count = static_cast<std::size_t>(*packets);
        }
    });
    return census;
}

std::optional<double> parseCountedDuration(std::string_view report) {
    std::optional<double> duration;
    forEachLine<2>(report, [&duration](const std::string_view* fields, std::size_t count) {
        if (count == 2 && fields[0] == "format") {
            duration = parseFiniteNumber(fields[1]);
        }
    });
    return duration;
}

std::optional<double> censusTailStart(const CensusOutline& outline) {
    return outline.end ? std::optional<double>(*outline.end - tailSeconds) : std::nullopt;
}

std::vector<std::string> packetListArguments(const std::filesystem::path& file,
                                             std::optional<std::int64_t> stream,
                                             std::optional<double> from) {
    std::vector<std::string> arguments = {"-v", "error"};
    if (stream) {
        arguments.insert(arguments.end(), {"-select_streams", std::to_string(*stream)});
    }
    if (from && *from >= 1) {
        // Whole seconds, written alike in any locale; the read starts at a keyframe before.
        arguments.insert(arguments.end(),
                         {"-read_intervals",
                          std::to_string(static_cast<std::int64_t>(std::floor(*from))) + "%"});
    }
    arguments.insert(arguments.end(),
                     {"-show_entries", "packet=stream_index,pts_time,dts_time,duration_time", "-of",
                      "csv=p=0", file.string()});
    return arguments;
}

std::map<std::int64_t, double> parsePacketEnds(std::string_view report,
                                               std::optional<double> from) {
    std::map<std::int64_t, double> ends;
    forEachLine<4>(report, [&](const std::string_view* fields, std::size_t count) {
        const auto stream = count >= 3 ? wholeNumber(fields[0]) : std::nullopt;
        if (!stream) {
            return;
        }
        auto start = parseFiniteNumber(fields[1]);
        if (!start) {
            start = parseFiniteNumber(fields[2]);
        }
        if (!start || (from && *start < *from)) {
            return;
        }
        const double end = *start + parseFiniteNumber(fields[3]).value_or(0);
        const auto [at, added] = ends.try_emplace(*stream, end);
        if (!added) {
            at->second = std::max(at->second, end);
        }
    });
    return ends;
}

bool holdsEveryPacket(const PacketCensus& source, const PacketCensus& copy,
                      const std::vector<CopiedStream>& streams) {
    return std::all_of(streams.begin(), streams.end(), [&](const CopiedStream& stream) {
        const auto original = packetsOf(source, stream.source);
        const auto copied = packetsOf(copy, stream.copy);
        return copied.count == original.count &&
               std::abs(copied.end - original.end) <= endTolerance;
    });
}

}  // namespace tavrolin
