#pragma once

#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "process/ProcessRunning.h"

namespace tavrolin {

// How one join input is timed at its ends, in its own timestamps, as the concat reader hands
// them on: enough to undo the audio warm-up a file hides (an MP4 edit list, Matroska's codec
// delay, an MP3 header's encoder delay), whose frames the concat reader would otherwise play.
// Plain values; `readJoinStart` and `readJoinEnd` fill them.
struct JoinInputTiming {
    double fileStart = 0;  // the file's first timestamp, which the concat reader starts it at
    std::optional<double> duration;
    // The first video stream's first presentation time (among the first packets) and the end of
    // its last picture.
    std::optional<double> videoStart;
    std::optional<double> videoEnd;
    // The first audio stream: whether the file hides frames at its start, where the first
    // packet it shows (wholly or in part) starts, the end of its last packet, one frame's length.
    bool hidesAudio = false;
    std::optional<double> audioShown;
    std::optional<double> audioEnd;
    double audioFrame = 0;

    friend bool operator==(const JoinInputTiming&, const JoinInputTiming&) = default;
};

// ffprobe's entries (-show_entries syntax) for the start, read beside the join's inspection of
// the file's streams and first 64 packets.
extern const std::string joinStartEntries;

// The start from that inspection's JSON report, with the file's first timestamp and length.
JoinInputTiming readJoinStart(const std::string& json, double fileStart,
                              std::optional<double> duration);

// Reads the end of `file` (its last seconds) into `timing`; left as it is when ffprobe cannot.
void readJoinEnd(ProcessRunning& runner, const std::filesystem::path& file,
                 const std::filesystem::path& ffprobe, std::stop_token stop,
                 JoinInputTiming& timing);

// Whether input `i`'s end matters: the next one hides audio.
bool joinNeedsEnd(const std::vector<JoinInputTiming>& inputs, std::size_t i);

// Per input, the concat reader's `duration` for it: set where the next input hides audio that
// this one already plays, so that the next one's pictures follow this one's, or its first shown
// audio packet this one's last where there are no pictures. None elsewhere: the reader's own
// placing. A placing more than one audio frame from the reader's own is not taken.
std::vector<std::optional<double>> joinInputLengths(const std::vector<JoinInputTiming>& inputs);

// Whether any input after the first hides audio at its start: the join then drops, per audio
// stream, every packet that starts before the end of the audio already written.
bool joinDropsWarmUp(const std::vector<JoinInputTiming>& inputs);

// The bit-stream filter that does so.
std::string joinWarmUpFilter();

}  // namespace tavrolin
