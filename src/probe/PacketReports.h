#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <stop_token>
#include <string>

namespace tavrolin {

// What the in-process packet reader reads, written as ffprobe writes those reports, for the
// reads whose parsers take ffprobe's text. Each reads `file` in-process (see PacketReading.h):
// throws PacketReadError when it cannot be opened or read, ModuleUnavailableError, or
// CancellationError once `stop` is requested. Any thread.

// `-select_streams v:0 -show_entries packet=pts_time,dts_time,duration_time,size,flags:
// stream=codec_name,has_b_frames:format=duration -of csv=p=0`, with `-fflags +genpts` when
// `generateTimes`: a line per packet of the first video stream, then that stream's line, then
// the container's duration.
std::string firstVideoPacketLines(const std::filesystem::path& file, bool generateTimes,
                                  std::stop_token stop);

// `-select_streams a:0 -show_entries packet=pts_time -of csv=p=0`: the first audio stream's
// packet times, one a line.
std::string firstAudioPacketTimes(const std::filesystem::path& file, std::stop_token stop);

// `-read_intervals <interval> -show_data_hash CRC32 -show_entries stream=index,codec_type:
// stream_disposition=attached_pic:packet=stream_index,pts_time,duration_time,data_hash -of json`,
// where the interval is the first `count` packets (`%+#<count>`) or, with `from`, the packets
// from the keyframe at or before `from` seconds to the end (`<from>%`).
nlohmann::json checksummedPackets(const std::filesystem::path& file, std::optional<double> from,
                                  int count, std::stop_token stop);

}  // namespace tavrolin
