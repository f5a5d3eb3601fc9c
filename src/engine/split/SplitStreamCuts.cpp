#include "engine/split/SplitStreamCuts.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "engine/MillisecondTime.h"
#include "model/TextMetrics.h"

namespace tavrolin {

double splitSubtitleLookBack(const SplitSourceLayout& layout) {
    const bool subtitles =
        std::any_of(layout.streams.begin(), layout.streams.end(), [](const SplitStream& stream) {
            return stream.role == SplitStreamRole::timed && stream.kind == "subtitle";
        });
    const bool seeksEachStream = layout.formatName.rfind("mov,", 0) == 0;
    return subtitles && !seeksEachStream ? kSubtitleLookBack : 0;
}

namespace {

// Opus's longest packet, in seconds.
constexpr double kOpusLongestPacket = 0.12;

enum class WarmUpHiding { none, timestamps, mp3Header, opusPreSkip, opusCodecDelay };

WarmUpHiding warmUpHiding(const SplitStream& stream, const std::filesystem::path& output) {
    const std::string extension = lowercased(output.extension().string());
    const auto among = [&](std::initializer_list<std::string_view> names) {
        return std::find(names.begin(), names.end(), extension) != names.end();
    };
    if (stream.kind != "audio" || stream.role != SplitStreamRole::timed) {
        return WarmUpHiding::none;
    }
    // Lossless codecs decode every frame on its own.
    const std::string& codec = stream.codec;
    if (codec.empty() || codec == "flac" || codec == "alac" || codec.rfind("pcm_", 0) == 0 ||
        codec == "truehd" || codec == "mlp" || codec == "tta" || codec == "wavpack") {
        return WarmUpHiding::none;
    }
    if (among({".mp4", ".m4v", ".m4a", ".m4b", ".mov", ".3gp", ".3g2"})) {
        return WarmUpHiding::timestamps;  // an edit list
    }
    if (codec == "mp3" && extension == ".mp3") {
        return WarmUpHiding::mp3Header;
    }
    if (codec == "opus" && among({".ogg", ".opus", ".oga"})) {
        return WarmUpHiding::opusPreSkip;
    }
    if (codec == "opus" && among({".mkv", ".mka", ".mk3d", ".webm"})) {
        return WarmUpHiding::opusCodecDelay;
    }
    return WarmUpHiding::none;
}

// MPEG-1 frames (32 kHz and up) hold 1152 samples, the others 576.
double mp3FrameSamples(const SplitStream& stream) {
    return stream.sampleRate >= 32000 ? 1152 : 576;
}

}  // namespace

std::int64_t mp3CutFrame(const SplitStream& stream, double cut) {
    if (stream.sampleRate <= 0) {
        return 0;
    }
    // An MP3 file's frames lie on that grid from its first at 0.
    const double frame = mp3FrameSamples(stream) / static_cast<double>(stream.sampleRate);
    return static_cast<std::int64_t>(std::ceil(cut / frame - 1e-6));
}

int mp3WarmUpFrames(const SplitStream& stream) {
    const int most =
        (kMp3MostEncoderDelay + kMp3DecoderDelay) / static_cast<int>(mp3FrameSamples(stream));
    return std::min(stream.mp3WarmUpFrames.value_or(kMp3WarmUpFrames), most);
}

double splitAudioWarmUpStart(const SplitStream& stream, const std::filesystem::path& output,
                             double cut, bool warmCopy) {
    const double rate = stream.sampleRate > 0 ? static_cast<double>(stream.sampleRate) : 0;
    switch (warmUpHiding(stream, output)) {
        case WarmUpHiding::none:
            return cut;
        case WarmUpHiding::mp3Header: {
            if (rate <= 0) {
                return cut;
            }
            const double frame = mp3FrameSamples(stream) / rate;
            return (static_cast<double>(mp3CutFrame(stream, cut) - mp3WarmUpFrames(stream)) - 0.5) *
                   frame;
        }
        case WarmUpHiding::opusPreSkip:
            if (!warmCopy) {
                return cut - kOpusLongestPacket;
            }
            [[fallthrough]];
        case WarmUpHiding::opusCodecDelay:
            // Opus asks for 80 ms; its output matches the source's closely only after longer.
            return cut - 0.25;
        case WarmUpHiding::timestamps:
            // At least two frames of any of these codecs (AAC's 1024 or 2048 samples, MP3's
            // 1152, AC-3's 1536). Opus only from the frame that holds the cut, as ffmpeg's own
            // copy starts: GStreamer ends a part earlier by all its edit list hides.
            if (stream.codec == "opus") {
                return cut - kOpusLongestPacket;
            }
            return cut - (rate > 0 ? 4096 / rate : 0.1);
    }
    return cut;
}

bool splitAudioFromCutFrame(const SplitStream& stream, const std::filesystem::path& output,
                            bool warmCopy) {
    const WarmUpHiding hiding = warmUpHiding(stream, output);
    return stream.codec == "opus" && (hiding == WarmUpHiding::timestamps ||
                                      (hiding == WarmUpHiding::opusPreSkip && !warmCopy));
}

bool splitWarmUpInOggCopy(const SplitStream& stream, const std::filesystem::path& output) {
    return warmUpHiding(stream, output) == WarmUpHiding::opusCodecDelay;
}

bool splitWarmUpInMp3Header(const SplitStream& stream, const std::filesystem::path& output) {
    return warmUpHiding(stream, output) == WarmUpHiding::mp3Header;
}

double splitLookBack(const SplitSourceLayout& layout, const std::filesystem::path& output,
                     double cut) {
    double lookBack = splitSubtitleLookBack(layout);
    for (const auto& stream : layout.streams) {
        lookBack = std::max(lookBack, cut - splitAudioWarmUpStart(stream, output, cut));
    }
    // Whole ticks of the video's time base, as the cut's lead, so that its keyframe still
    // lands at the part's time 0 exactly, not a tick before it where players hide it.
    for (const auto& stream : layout.streams) {
        if (stream.role == SplitStreamRole::video && stream.timeBase.den > 0 &&
            stream.timeBase.num > 0) {
            const double tick =
                static_cast<double>(stream.timeBase.num) / static_cast<double>(stream.timeBase.den);
            return tick > 1e-6 ? std::ceil(lookBack / tick - 1e-9) * tick : lookBack;
        }
    }
    return lookBack;
}

std::string subtitleCutFilters(std::optional<double> from, std::optional<double> to) {
    if (!from && !to) {
        return {};
    }
    // Times in the stream's ticks, as setts counts them.
    const auto ticks = [](double seconds) { return formatCommandLineSeconds(seconds) + "/TB"; };
    std::string drop;
    std::string start = "PTS";
    std::string decoding = "DTS";
    std::string end = "PTS+DURATION";
    if (from) {
        drop = "lte((pts+duration)*tb\\," + formatCommandLineSeconds(*from) + ")";
        start = "max(PTS\\," + ticks(*from) + ")";
        decoding = "max(DTS\\," + ticks(*from) + ")";
    }
    if (to) {
        drop += (drop.empty() ? "" : "+") + std::string("gte(pts*tb\\,") +
                formatCommandLineSeconds(*to) + ")";
        end = "min(PTS+DURATION\\," + ticks(*to) + ")";
    }
    return "noise=drop=" + drop + ",setts=pts=" + start + ":dts=" + decoding + ":duration=" + end +
           "-" + start;
}

namespace {

struct TimecodeRate {
    std::int64_t perSecond = 0;  // the nominal count: 30 for 29.97
    std::int64_t dropped = 0;    // frame numbers skipped each minute but every tenth
};

std::optional<std::int64_t> wholeNumber(std::string_view digits) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<std::string> shiftedTimecode(std::string_view timecode, StreamTimeBase rate,
                                           double seconds) {
    if (rate.num <= 0 || rate.den <= 0 || !std::isfinite(seconds) || timecode.size() != 11) {
        return std::nullopt;
    }
    const double exact = static_cast<double>(rate.num) / static_cast<double>(rate.den);
    const char separator = timecode[8];
    TimecodeRate counting{std::llround(exact), 0};
    if (separator == ';' || separator == '.') {
        // Drop-frame counting exists only for the NTSC rates.
        if (counting.perSecond != 30 && counting.perSecond != 60) {
            return std::nullopt;
        }
        counting.dropped = counting.perSecond / 15;
    } else if (separator != ':') {
        return std::nullopt;
    }
    const auto hours = wholeNumber(timecode.substr(0, 2));
    const auto minutes = wholeNumber(timecode.substr(3, 2));
    const auto secs = wholeNumber(timecode.substr(6, 2));
    const auto frames = wholeNumber(timecode.substr(9, 2));
    if (timecode[2] != ':' || timecode[5] != ':' || !hours || !minutes || !secs || !frames ||
        *minutes > 59 || *secs > 59 || *frames >= counting.perSecond || counting.perSecond < 1) {
        return std::nullopt;
    }
    const std::int64_t perMinute = counting.perSecond * 60;
    const std::int64_t perDay = perMinute * 60 * 24 - counting.dropped * (24 * 60 - 24 * 6);
    const std::int64_t totalMinutes = *hours * 60 + *minutes;
    std::int64_t number = totalMinutes * perMinute + *secs * counting.perSecond + *frames -
                          counting.dropped * (totalMinutes - totalMinutes / 10);
    number = ((number + std::llround(seconds * exact)) % perDay + perDay) % perDay;
    if (counting.dropped > 0) {
        // Back to the labels, which skip the dropped numbers.
        const std::int64_t perTenMinutes = perMinute * 10 - counting.dropped * 9;
        const std::int64_t tens = number / perTenMinutes;
        const std::int64_t rest = number % perTenMinutes;
        number += counting.dropped * 9 * tens;
        if (rest > counting.dropped) {
            number +=
                counting.dropped * ((rest - counting.dropped) / (perMinute - counting.dropped));
        }
    }
    char text[96];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld%c%02lld",
                  static_cast<long long>(number / (perMinute * 60)),
                  static_cast<long long>(number / perMinute % 60),
                  static_cast<long long>(number / counting.perSecond % 60), separator,
                  static_cast<long long>(number % counting.perSecond));
    return std::string(text);
}

}  // namespace tavrolin
