#include "engine/StreamCopyCompatibility.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "engine/MillisecondTime.h"
#include "engine/split/PresentationTimes.h"
#include "model/TextMetrics.h"

namespace tavrolin {

namespace {

using CodecSet = std::unordered_set<std::string_view>;

// Every set is built once, on first use, and only read afterwards.
struct CodecSets {
    CodecSet mp4Video{"apv",  "av1",      "avs3",  "dirac", "evc",        "ffv1",       "h264",
                      "hevc", "jpeg2000", "lcevc", "mjpeg", "mpeg1video", "mpeg2video", "mpeg4",
                      "png",  "tscc2",    "vc1",   "vp9",   "vvc"};
    CodecSet movVideoAdditions{"cinepak", "dnxhd",  "dvvideo",    "gif",   "h263",
                               "mjpegb",  "prores", "prores_raw", "qtrle", "rawvideo",
                               "targa",   "tiff",   "vp8"};
    CodecSet mp4Audio{"aac", "ac3",    "alac",           "dts",  "eac3",  "evrc",   "flac",  "mp2",
                      "mp3", "mp4als", "mpegh_3d_audio", "opus", "qcelp", "truehd", "vorbis"};
    CodecSet movAudioAdditions{"adpcm_ima_qt", "adpcm_ima_wav", "adpcm_ms", "amr_nb", "amr_wb",
                               "mace3",        "mace6",         "qdm2",     "qdmc",   "wmapro"};
    CodecSet mp4Pcm{"pcm_f32be", "pcm_f32le", "pcm_f64be", "pcm_f64le", "pcm_s16be",
                    "pcm_s16le", "pcm_s24be", "pcm_s24le", "pcm_s32be", "pcm_s32le"};
    CodecSet mp4Subtitles{"mov_text", "ttml"};
    CodecSet movSubtitles{"eia_608", "mov_text"};
    CodecSet webmVideo{"av1", "vp8", "vp9"};
    CodecSet webmAudio{"opus", "vorbis"};
    CodecSet convertibleText{"ass", "ssa", "srt", "subrip", "text", "webvtt"};
    CodecSet iPhoneVideo{"av1", "h264", "hevc", "prores", "prores_raw"};
    CodecSet iPhoneAudio{"aac", "ac3", "alac", "apac", "eac3", "flac", "mp3"};
    CodecSet movVideo;
    CodecSet movAudio;

    CodecSets() {
        movVideo = mp4Video;
        movVideo.insert(movVideoAdditions.begin(), movVideoAdditions.end());
        movAudio = mp4Audio;
        movAudio.insert(movAudioAdditions.begin(), movAudioAdditions.end());
    }
};

const CodecSets& sets() {
    static const CodecSets instance;
    return instance;
}

// Codec names are ASCII; the sets are matched after ASCII lower-casing.
std::string asciiLowercased(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return result;
}

bool contains(const CodecSet& set, const std::string& codec) {
    return set.contains(codec);
}

bool isPcm(const std::string& codec) {
    return codec.starts_with("pcm_");
}

StreamCopyDecision copyIf(bool condition) {
    return condition ? StreamCopyDecision::copy() : StreamCopyDecision::incompatible();
}

// A subtitle that the container takes as it is copies; a text subtitle is converted to the
// container's own text codec; anything else is dropped.
StreamCopyDecision subtitleDecision(bool copies, const std::string& codec, const char* conversion) {
    if (copies) {
        return StreamCopyDecision::copy();
    }
    if (contains(sets().convertibleText, codec)) {
        return StreamCopyDecision::convert(conversion);
    }
    return StreamCopyDecision::incompatible();
}

bool isPlaybackContainer(OutputContainer container) {
    return container == OutputContainer::mp4 || container == OutputContainer::m4v ||
           container == OutputContainer::mov;
}

// Pairs the rules allow that an FFmpeg release refuses to write, or writes so that it cannot
// read the stream back, measured by remuxing one generated stream of each codec family into
// each container. A codec ending in "_" names every codec with that prefix but the exceptions;
// the first row that matches names the codec ("" names it by its own upper-cased name).
struct KnownRefusal {
    FFmpegRelease from;
    FFmpegRelease until;  // exclusive
    std::string_view codec;
    std::string_view name;
    std::initializer_list<OutputContainer> containers;
    std::initializer_list<std::string_view> except = {};
    // The release writes the pair when told to use its experimental writers ("-strict -2").
    bool experimental = false;
};

constexpr FFmpegRelease release51{5, 1};
constexpr FFmpegRelease release60{6, 0};
using enum OutputContainer;

const KnownRefusal knownRefusals[] = {
    // Disc LPCM has no tag in either writer; MOV writes Blu-ray's as a track it cannot read.
    {release51, release60, "pcm_bluray", "Blu-ray LPCM", {mp4, m4v, mov, mkv}},
    {release51, release60, "pcm_dvd", "DVD LPCM", {mp4, m4v, mov, mkv}},
    {release51, release60, "pcm_", "PCM", {mp4, m4v}},
    // QuickTime's sound descriptions name these; another (planar, unsigned wider than 8 bits,
    // 64-bit integer) is refused or read back as something else.
    {release51,
     release60,
     "pcm_",
     "",
     {mov},
     {"pcm_alaw", "pcm_f32be", "pcm_f32le", "pcm_f64be", "pcm_f64le", "pcm_mulaw", "pcm_s16be",
      "pcm_s16le", "pcm_s24be", "pcm_s24le", "pcm_s32be", "pcm_s32le", "pcm_s8", "pcm_u8"}},
    // Matroska takes PCM by its own codec IDs or a WAVE format tag; these have either.
    {release51,
     release60,
     "pcm_",
     "",
     {mkv},
     {"pcm_alaw", "pcm_f32le", "pcm_f64le", "pcm_mulaw", "pcm_s16be", "pcm_s16le", "pcm_s24be",
      "pcm_s24le", "pcm_s32be", "pcm_s32le", "pcm_s64le", "pcm_u8"}},
    {release51, release60, "s302m", "SMPTE 302M", {mkv}},
    {release51, release60, "adpcm_ima_qt", "QuickTime IMA ADPCM", {mkv}},
    {release51, release60, "gsm", "GSM", {mkv}},
    {release51, release60, "nellymoser", "Nellymoser", {mkv}},
    {release51, release60, "comfortnoise", "Comfort noise", {mkv}},
    {release51, release60, "flac", "FLAC", {mp4, m4v}, {}, true},
    {release51, release60, "flac", "FLAC", {mov}},
    {release51, release60, "truehd", "TrueHD", {mp4, m4v, mov}},
    {release51, release60, "ffv1", "FFV1", {mp4, m4v}},
    {release51, release60, "opus", "Opus", {mov}},
    {release51, release60, "av1", "AV1", {mov}},
    {release51, release60, "vp8", "VP8", {mov}},
    {release51, release60, "vp9", "VP9", {mov}},
    {release51, release60, "adpcm_ms", "MS ADPCM", {mov}},
    {release51, release60, "mov_text", "MOV_TEXT", {mkv}},
    {release51, release60, "qtrle", "QuickTime Animation", {mkv}},
};

bool namesCodec(const KnownRefusal& refusal, const std::string& codec) {
    if (!refusal.codec.ends_with('_')) {
        return codec == refusal.codec;
    }
    return codec.starts_with(refusal.codec) &&
           std::find(refusal.except.begin(), refusal.except.end(), codec) == refusal.except.end();
}

}  // namespace

std::optional<std::string> StreamCopyCompatibility::installedRefusal(
    const MediaStream& stream, OutputContainer container) const {
    if (!installed_) {
        return std::nullopt;
    }
    const std::string codec = asciiLowercased(stream.codecName);
    for (const auto& refusal : knownRefusals) {
        if (refusal.experimental && writers_ == Writers::experimental) {
            continue;
        }
        if (*installed_ >= refusal.from && *installed_ < refusal.until &&
            namesCodec(refusal, codec) &&
            std::find(refusal.containers.begin(), refusal.containers.end(), container) !=
                refusal.containers.end()) {
            const std::string name =
                refusal.name.empty() ? uppercased(stream.codecName) : std::string(refusal.name);
            return name + " " + std::string(rawValue(stream.kind)) + " cannot be copied into " +
                   uppercased(rawValue(container)) + " by FFmpeg " + installed_->text() + ".";
        }
    }
    return std::nullopt;
}

bool StreamCopyCompatibility::isExperimentalCopy(const std::string& codec,
                                                 OutputContainer container) {
    const std::string name = asciiLowercased(codec);
    return std::any_of(std::begin(knownRefusals), std::end(knownRefusals), [&](const auto& row) {
        return row.experimental && namesCodec(row, name) &&
               std::find(row.containers.begin(), row.containers.end(), container) !=
                   row.containers.end();
    });
}

StreamCopyDecision StreamCopyCompatibility::copyDecision(const MediaStream& stream,
                                                         OutputContainer container) const {
    if (installedRefusal(stream, container)) {
        return StreamCopyDecision::incompatible();
    }
    const auto& s = sets();
    const std::string codec = asciiLowercased(stream.codecName);
    switch (container) {
        case OutputContainer::mkv:
            return StreamCopyDecision::copy();
        case OutputContainer::mp4:
        case OutputContainer::m4v:
            switch (stream.kind) {
                case MediaStreamKind::video:
                    return copyIf(contains(s.mp4Video, codec));
                case MediaStreamKind::audio:
                    return copyIf(contains(s.mp4Audio, codec) ||
                                  (isPcm(codec) && contains(s.mp4Pcm, codec)));
                case MediaStreamKind::subtitle:
                    return subtitleDecision(contains(s.mp4Subtitles, codec), codec, "mov_text");
            }
            break;
        case OutputContainer::mov:
            switch (stream.kind) {
                case MediaStreamKind::video:
                    return copyIf(contains(s.movVideo, codec));
                case MediaStreamKind::audio:
                    return copyIf(contains(s.movAudio, codec) || isPcm(codec));
                case MediaStreamKind::subtitle:
                    return subtitleDecision(contains(s.movSubtitles, codec), codec, "mov_text");
            }
            break;
        case OutputContainer::webm:
            switch (stream.kind) {
                case MediaStreamKind::video:
                    return copyIf(contains(s.webmVideo, codec));
                case MediaStreamKind::audio:
                    return copyIf(contains(s.webmAudio, codec));
                case MediaStreamKind::subtitle:
                    return subtitleDecision(codec == "webvtt", codec, "webvtt");
            }
            break;
        case OutputContainer::mp3:
            return copyIf(stream.kind == MediaStreamKind::audio && codec == "mp3");
    }
    return StreamCopyDecision::incompatible();
}

StreamCopyDecision StreamCopyCompatibility::playbackProfileDecision(const MediaStream& stream,
                                                                    OutputContainer container,
                                                                    Target target) const {
    const StreamCopyDecision decision = copyDecision(stream, container);
    if (decision.isIncompatible() || !target) {
        return decision;
    }
    const auto& s = sets();
    const std::string carried = decision.kind == StreamCopyDecision::Kind::convert
                                    ? asciiLowercased(decision.codec)
                                    : asciiLowercased(stream.codecName);
    bool fits = false;
    switch (stream.kind) {
        case MediaStreamKind::video:
            fits = contains(s.iPhoneVideo, carried);
            break;
        case MediaStreamKind::audio:
            fits = contains(s.iPhoneAudio, carried);
            break;
        case MediaStreamKind::subtitle:
            fits = carried == "mov_text";
            break;
    }
    return fits ? decision : StreamCopyDecision::incompatible();
}

std::optional<std::string> StreamCopyCompatibility::issueMessage(const MediaStream& stream,
                                                                 OutputContainer container,
                                                                 Target target) const {
    if (auto refusal = installedRefusal(stream, container)) {
        return refusal;
    }
    const std::string kind(rawValue(stream.kind));
    if (copyDecision(stream, container).isIncompatible()) {
        return uppercased(stream.codecName) + " " + kind + " cannot be written to " +
               uppercased(rawValue(container)) + " by FFmpeg.";
    }
    if (!target) {
        return std::nullopt;
    }
    if (playbackProfileDecision(stream, container, target).isIncompatible()) {
        return uppercased(stream.codecName) + " " + kind +
               " is not compatible with the iPhone 17 Pro playback profile.";
    }
    return std::nullopt;
}

std::optional<std::string> StreamCopyCompatibility::playbackContainerMessage(
    OutputContainer container, Target target) const {
    if (!target || isPlaybackContainer(container)) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (auto playback : {OutputContainer::mp4, OutputContainer::m4v, OutputContainer::mov}) {
        names.push_back(uppercased(rawValue(playback)));
    }
    std::sort(names.begin(), names.end());
    std::string text = "iPhone 17 Pro playback requires one of these containers: ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : ", ") + names[i];
    }
    return text + ".";
}

std::vector<MediaStream> StreamCopyCompatibility::unsupportedStreams(
    const std::vector<MediaStream>& streams, OutputContainer container, Target target) const {
    std::vector<MediaStream> result;
    for (const auto& stream : streams) {
        if (playbackProfileDecision(stream, container, target).isIncompatible()) {
            result.push_back(stream);
        }
    }
    return result;
}

std::vector<MediaStream> StreamCopyCompatibility::supportedStreams(
    const std::vector<MediaStream>& streams, OutputContainer container, Target target) const {
    std::vector<MediaStream> result;
    for (const auto& stream : streams) {
        if (!playbackProfileDecision(stream, container, target).isIncompatible()) {
            result.push_back(stream);
        }
    }
    return result;
}

std::vector<OutputContainer> StreamCopyCompatibility::containersHoldingUnchanged(
    const std::vector<MediaStream>& streams) const {
    std::vector<OutputContainer> holding;
    for (const OutputContainer container : joinOutputContainers) {
        if (std::all_of(streams.begin(), streams.end(),
                        [&](const MediaStream& stream) {
                            return copyDecision(stream, container).kind ==
                                   StreamCopyDecision::Kind::copy;
                        }) &&
            !streamCountMessage(streams, container, {})) {
            holding.push_back(container);
        }
    }
    return holding;
}

std::optional<std::string> StreamCopyCompatibility::streamCountMessage(
    const std::vector<MediaStream>& streams, OutputContainer container,
    const std::string& fileName) {
    if (container != OutputContainer::mp3 || streams.size() <= 1) {
        return std::nullopt;
    }
    return "\u201C" + fileName + "\u201D holds " + std::to_string(streams.size()) +
           " streams, and an MP3 file holds one, its audio.";
}

StreamCodecOverrides StreamCopyCompatibility::subtitleCodecOverrides(
    const std::vector<MediaStream>& streams, OutputContainer container, Target target) const {
    StreamCodecOverrides overrides;
    for (const auto& stream : streams) {
        const auto decision = playbackProfileDecision(stream, container, target);
        if (decision.kind == StreamCopyDecision::Kind::convert) {
            overrides[stream.index] = decision.codec;
        }
    }
    return overrides;
}

std::optional<std::string> StreamCopyCompatibility::rotationMessage(
    const std::vector<MediaStream>& streams, OutputContainer container,
    const std::string& fileName) {
    // The MP4 family writes the display matrix; the Matroska writer has no place for it.
    if (isPlaybackContainer(container)) {
        return std::nullopt;
    }
    for (const auto& stream : streams) {
        if (stream.kind == MediaStreamKind::video && stream.rotation) {
            return "\u201C" + fileName + "\u201D is shown turned " +
                   std::to_string(*stream.rotation) + "\u00B0 clockwise, and " +
                   displayName(container) +
                   " cannot keep that turn. Choose MP4 or MOV to keep it upright.";
        }
    }
    return std::nullopt;
}

std::optional<double> StreamCopyCompatibility::trimmedStart(
    const std::vector<MediaStream>& streams) {
    // AAC primes with up to 2,112 samples, MP3 and Opus with fewer. Audio also hides its own
    // priming, so the video says how much was cut where there is one.
    constexpr double priming = 0.1;
    double video = 0;
    double audio = 0;
    for (const auto& stream : streams) {
        if (stream.kind == MediaStreamKind::subtitle) {
            continue;
        }
        double& hidden = stream.kind == MediaStreamKind::video ? video : audio;
        hidden = std::max(hidden, stream.hiddenStart);
    }
    if (video > 0) {
        return video;
    }
    return audio > priming ? std::optional(audio) : std::nullopt;
}

std::optional<std::string> StreamCopyCompatibility::trimmedStartMessage(
    const std::vector<MediaStream>& streams, OutputContainer container,
    const std::string& fileName) {
    const auto trimmed = trimmedStart(streams);
    if (!trimmed || isPlaybackContainer(container)) {
        return std::nullopt;
    }
    return "“" + fileName + "” hides its first " + secondsText(*trimmed) +
           " with an edit list, and " + displayName(container) +
           " cannot hide them. Choose MP4 or MOV to keep them hidden.";
}

std::optional<std::string> StreamCopyCompatibility::untimedVideoMessage(
    const std::vector<MediaStream>& streams, OutputContainer container,
    const std::string& fileName) {
    for (const auto& stream : streams) {
        if (stream.kind == MediaStreamKind::video && stream.lacksPresentationTimes &&
            stream.reordersFrames && !generatesPresentationTimes(stream.codecName)) {
            return "\u201C" + fileName + "\u201D can't be copied into " + displayName(container) +
                   " without re-encoding because its video frames have no presentation times.";
        }
    }
    return std::nullopt;
}

std::string StreamCopyCompatibility::secondsText(double seconds) {
    std::string text = formatCommandLineSeconds(seconds);
    text.resize(text.size() - 3);  // milliseconds
    while (text.back() == '0') {
        text.pop_back();
    }
    if (text.back() == '.') {
        text += '0';
    }
    return text + " s";
}

StreamCodecOverrides StreamCopyCompatibility::videoCodecTagOverrides(
    const std::vector<MediaStream>& streams, OutputContainer container, Target target) const {
    StreamCodecOverrides overrides;
    if (!target || !isPlaybackContainer(container)) {
        return overrides;
    }
    for (const auto& stream : streams) {
        if (stream.kind == MediaStreamKind::video && asciiLowercased(stream.codecName) == "hevc") {
            overrides[stream.index] = "hvc1";
        }
    }
    return overrides;
}

}  // namespace tavrolin
