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
// One audio packet: where it starts and a checksum of its bytes, to find the same packet copied
// into another file.
struct JoinAudioPacket {
    double start = 0;
    std::string checksum;

    friend bool operator==(const JoinAudioPacket&, const JoinAudioPacket&) = default;
};

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
    // The first audio stream's first packets and those of its last seconds, with checksums:
    // where a file's hidden warm-up holds the one before's last packets.
    std::vector<JoinAudioPacket> audioHead;
    std::vector<JoinAudioPacket> audioTail;

    friend bool operator==(const JoinInputTiming&, const JoinInputTiming&) = default;
};

// ffprobe's entries (-show_entries syntax) for the start, read beside the join's inspection of
// the file's streams and first 64 packets.
extern const std::string joinStartEntries;

// The start from that inspection's JSON report, with the file's first timestamp and length.
JoinInputTiming readJoinStart(const std::string& json, double fileStart,
                              std::optional<double> duration);

// Reads the first packets of `file` with their checksums into `timing`, in-process; left as it
// is when the file cannot be read there or `stop` is requested.
void readJoinHead(const std::filesystem::path& file, std::stop_token stop, JoinInputTiming& timing);

// Reads the end of `file` (its last seconds) the same way.
void readJoinEnd(const std::filesystem::path& file, std::stop_token stop, JoinInputTiming& timing);

// Whether input `i`'s end matters: the next one hides audio, or both have pictures, which the
// next one's follow.
bool joinNeedsEnd(const std::vector<JoinInputTiming>& inputs, std::size_t i);

// Whether input `i`'s first packets matter: it hides audio the one before may hold.
bool joinNeedsHead(const std::vector<JoinInputTiming>& inputs, std::size_t i);

// Per input, the concat reader's `duration` for it, which places the next input. Where the next
// one hides audio, the packet of its warm-up that is this one's last lands on it, found by
// checksum, so the sound goes on unbroken, as long as pictures then still follow on within
// Matroska's rounding. Else, where both have pictures, the next one's first follows this one's
// last (the reader's own placing follows the longest stream, and sound may run past the last
// picture); without, its first shown audio packet follows this one's last. None elsewhere: the
// reader's own placing. A placing not found by checksum more than the hidden audio and one audio
// frame before the reader's own is not taken.
std::vector<std::optional<double>> joinInputLengths(const std::vector<JoinInputTiming>& inputs);

// Whether any input after the first hides audio at its start: the join then drops, per audio
// stream, every packet that starts before the end of the audio already written.
bool joinDropsWarmUp(const std::vector<JoinInputTiming>& inputs);

// The bit-stream filter that does so.
std::string joinWarmUpFilter();

// The bit-stream filter that puts back each Vorbis packet the Ogg reader placed late (see the
// definition), for joins with Vorbis sound into Matroska or WebM.
std::string joinVorbisTimingFilter();

}  // namespace tavrolin
