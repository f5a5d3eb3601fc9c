#include "engine/FFmpegCommandBuilder.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "engine/FFmpegArgumentList.h"
#include "engine/MillisecondTime.h"
#include "engine/StreamCopyCompatibility.h"
#include "engine/split/PresentationTimes.h"
#include "engine/split/SplitStreamCuts.h"
#include "model/MediaProcessingError.h"
#include "model/OutputContainer.h"
#include "model/TextMetrics.h"

// The split's command lines: one run per part, a filter per stream.

namespace tavrolin {

namespace {

using argumentlist::append;
using argumentlist::streamMap;

using argumentlist::appendOutput;

}  // namespace

namespace {

// ffmpeg reads this far past a part's end, well beyond its last packet in any stream: the
// filters below decide what is kept.
constexpr double splitReadPast = 1.0;

// Whether a part starts where its source does (ffmpeg then counts the input from the source's
// first timestamp, as it does without a seek), rather than at a cut.
bool splitFromBeginning(const SplitRequest& request, const SplitSourceLayout& layout) {
    return request.startTime <= layout.start;
}

// Where a split's input starts: timestamps count from here. A cut starts a whole number of the
// video's ticks before its keyframe, and `lookBack` more before it for what began earlier
// (subtitle cues), though never before the source's first timestamp.
double splitOrigin(const SplitRequest& request, const SplitSourceLayout& layout,
                   double lookBack = 0) {
    if (splitFromBeginning(request, layout)) {
        return splitSourceZero(layout);
    }
    const double origin = request.startTime - splitCutLead(layout);
    return lookBack > 0 ? std::max(origin - lookBack, layout.start) : origin;
}

// A transport stream's muxer delays every timestamp by twice this (1.4 s by default): none,
// so that the part starts at 0 there too.
bool isTransportStream(const std::filesystem::path& output) {
    const std::string extension = lowercased(output.extension().string());
    return extension == ".ts" || extension == ".m2ts" || extension == ".mts" || extension == ".m2t";
}

// Drops every packet outside [from, to) of the input's timestamps, or with `fromEnd` every one
// that ends by `from` (a packet that tells no length counts as Opus's usual 20 ms). A packet
// without a presentation time (the filter reads it as the most negative number) is placed by its
// decoding time, never dropped or kept for want of one.
std::string keptBetween(std::optional<double> from, std::optional<double> to,
                        bool fromEnd = false) {
    const std::string time = "if(eq(pts\\,nopts)\\,dts\\,pts)*tb";
    std::string drop;
    if (from && fromEnd) {
        drop = "lte(" + time + "+if(duration\\,duration*tb\\,0.02)\\," +
               formatCommandLineSeconds(*from) + ")";
    } else if (from) {
        drop = "lt(" + time + "\\," + formatCommandLineSeconds(*from) + ")";
    }
    if (to) {
        drop += (drop.empty() ? "" : "+") + std::string("gte(") + time + "\\," +
                formatCommandLineSeconds(*to) + ")";
    }
    return "noise=drop=" + drop;
}

// The time base the output's muxer gives a copy of `stream`. ffmpeg 5.1 starts a stream's
// bit-stream filter with the time base the stream has before the muxer chooses its own, then
// hands it packets in the muxer's: named in advance, the two agree. Matroska counts
// milliseconds; the MP4 family and Ogg count audio in samples, the MP4 family video in at least
// 10,000 ticks a second, doubling the source's; other muxers keep the source's.
std::optional<std::string> muxerTimeBase(const std::filesystem::path& output,
                                         const SplitStream& stream) {
    const std::string extension = lowercased(output.extension().string());
    const auto among = [&](std::initializer_list<std::string_view> names) {
        return std::find(names.begin(), names.end(), extension) != names.end();
    };
    if (among({".mkv", ".mka", ".mks", ".mk3d", ".webm"})) {
        return "1/1000";
    }
    if (stream.timeBase.den <= 0) {
        return std::nullopt;
    }
    const bool ogg = among({".ogg", ".oga", ".opus", ".spx"});
    if (ogg || among({".mp4", ".m4v", ".m4a", ".m4b", ".mov", ".3gp", ".3g2", ".ismv", ".f4v"})) {
        if (stream.kind == "audio" && stream.sampleRate > 0) {
            return "1/" + std::to_string(stream.sampleRate);
        }
        std::int64_t den = stream.timeBase.den;
        while (stream.kind == "video" && den < 10000) {
            den *= 2;
        }
        return "1/" + std::to_string(den);
    }
    return std::to_string(stream.timeBase.num) + "/" + std::to_string(stream.timeBase.den);
}

// Where a timed stream's packets are kept from, in the input's timestamps: `from` itself, or
// earlier for audio whose decoder the part's container lets start warm. An MP3 file without
// room for its warm-up frames gets no header that would claim them.
std::optional<double> audioFrom(std::optional<double> from, const SplitStream& stream,
                                const std::filesystem::path& output, double cut, bool warmCopy,
                                bool& writesMp3Header) {
    if (!from) {
        return from;
    }
    const double warmUp = cut - splitAudioWarmUpStart(stream, output, cut, warmCopy);
    if (warmUp <= 0) {
        return from;
    }
    // Rounding aside, the input starts no later than the warm-up unless the source starts after.
    if (*from - warmUp < -1e-6 && splitWarmUpInMp3Header(stream, output)) {
        writesMp3Header = false;
        return from;
    }
    return std::max(*from - warmUp, 0.0);
}

// The attachment a saved picture becomes: the source attachment's own type and name, else
// ones made from its codec.
void appendAttachment(std::vector<std::string>& arguments, const SplitStream& picture,
                      const std::filesystem::path& file, int position) {
    const bool jpeg = picture.codec == "mjpeg";
    const std::string codec = picture.codec.empty() ? "png" : picture.codec;
    const std::string type = !picture.mimeType.empty() ? picture.mimeType
                             : jpeg                    ? "image/jpeg"
                                                       : "image/" + codec;
    const std::string name =
        !picture.fileName.empty() ? picture.fileName : "cover." + (jpeg ? "jpg" : codec);
    const std::string at = "-metadata:s:" + std::to_string(position);
    append(arguments, {"-attach", file.string(), at, "mimetype=" + type, at, "filename=" + name});
}

// A subtitle stream's cues across a cut go into both parts, clipped: its packets from before the
// start are copied too (ffmpeg drops them otherwise), and its filters cut at the exact times.
void appendSubtitleCut(std::vector<std::string>& arguments, std::optional<double> from,
                       std::optional<double> to, const SplitStream& stream, const std::string& at,
                       const std::filesystem::path& output) {
    if (from) {
        append(arguments, {"-copypriorss:" + at, "1"});
    }
    if (auto timeBase = muxerTimeBase(output, stream)) {
        append(arguments, {"-time_base:" + at, *timeBase});
    }
    append(arguments, {"-bsf:" + at, subtitleCutFilters(from, to)});
}

// A video's timecode counts on from the part's start, and the timecode track the muxer writes
// from it lasts as long as the part.
void appendTimecode(std::vector<std::string>& arguments, const SplitStream& stream,
                    const std::string& at, double start) {
    if (stream.kind != "video" || stream.timecode.empty()) {
        return;
    }
    if (auto shifted = shiftedTimecode(stream.timecode, stream.frameRate, start)) {
        append(arguments, {"-metadata:s:" + at, "timecode=" + *shifted});
    }
}

}  // namespace

double FFmpegCommandBuilder::splitLeadIn(const SplitRequest& request,
                                         const SplitSourceLayout& layout) {
    const double lookBack =
        splitLookBack(layout, request.output, request.startTime - splitCutLead(layout));
    return std::max(request.startTime - splitOrigin(request, layout, lookBack), 0.0);
}

double FFmpegCommandBuilder::splitPartZero(const std::filesystem::path& output) {
    const std::string extension = lowercased(output.extension().string());
    return extension == ".mpg" || extension == ".mpeg" ? 1.0 : 0.0;
}

bool FFmpegCommandBuilder::splitAttachesPictures(const std::filesystem::path& output) {
    return containerForFile(output) == OutputContainer::mkv;
}

std::vector<std::string> FFmpegCommandBuilder::splitPictureArguments(
    const std::filesystem::path& input,
    const std::map<std::int64_t, std::filesystem::path>& pictures) {
    std::vector<std::string> arguments = {"-nostdin", "-hide_banner", "-n",          "-v",
                                          "error",    "-i",           input.string()};
    for (const auto& [index, file] : pictures) {
        append(arguments, {"-map", streamMap(index), "-c", "copy", "-frames:0", "1", "-f", "image2",
                           file.string()});
    }
    return arguments;
}

namespace {

// Where a part lies in its split's input, whose timestamps count from `origin` (seconds in the
// source's time); the bounds are in those timestamps, none where the part reaches the source's
// start or end.
struct SplitSpan {
    bool fromBeginning = false;
    double lead = 0;
    double cut = 0;  // where the part's own audio starts, in the source's time
    double origin = 0;
    double lookedBack = 0;  // how much more than the lead is read before the cut
    bool warmCopy = false;  // the Ogg copy of a Matroska part's audio (see splitAudioWarmUpStart)
    std::optional<double> from;
    std::optional<double> to;
    std::optional<double> videoTo;
    // Subtitle cues are cut at the exact times, so a cue across a cut goes into both parts.
    std::optional<double> subtitlesFrom;
    std::optional<double> subtitlesTo;
    // Where the page counted the part's frames (so its start is a keyframe) and that keyframe has
    // no leading pictures, ffmpeg itself can start the video there.
    bool videoCounted = false;
    // The first video stream goes without the filter: ffmpeg starts it at its start keyframe,
    // no other keyframe lying within the look-back, and stops reading it at `videoStop` (this
    // input's time) in an input of its own, between its last packet and its end keyframe.
    bool videoUnfiltered = false;
    std::optional<double> videoStop;
};

// Whether the part's video can go without the filter (see SplitSpan).
void placeVideoWithoutFilter(SplitSpan& span, const SplitRequest& request,
                             const SplitSourceLayout& layout) {
    if (!span.videoCounted || request.stillPicture) {
        return;
    }
    const SplitFrameCount& frames = *request.frames;
    // ffmpeg keeps what its input starts with from the first keyframe on, so one before the cut
    // and within the look-back would be kept.
    const double lookedBack = request.startTime - span.origin;
    if (span.from && *span.from > 1e-9 && frames.keyframeGap <= lookedBack + kSplitCutMargin) {
        return;
    }
    if (request.endTime) {
        const double end = *request.endTime;
        // Where ffmpeg's clock of an input runs from its streams read (transport and program
        // streams), an input read for its video alone counts from another time.
        const bool matroska = layout.formatName == "matroska,webm";
        const bool mp4Family = layout.formatName.starts_with("mov,mp4,");
        // A second reading of Matroska reads every byte of the source again, the filter copies
        // every byte of the video: at 220 kbit/s the filter costs less (0.06 s less CPU for 40
        // minutes), at 13.7 Mbit/s far more (0.17 s more for 3 minutes). The MP4 family's
        // reader reads only the samples of the streams mapped from it, so there the second
        // reading costs less at any rate (0.10 s less CPU for 40 minutes at 220 kbit/s).
        constexpr double kSecondReadingBitRate = 2e6;
        const bool secondReadingCostsLess =
            mp4Family || (matroska && layout.bitRate >= kSecondReadingBitRate);
        if (!secondReadingCostsLess || !frames.stop || frames.lostAtEnd != 0 ||
            layout.videoEnd.value_or(end) < end - kSplitCutMargin) {
            return;
        }
        // Without a seek, ffmpeg counts a stop from the source's first timestamp.
        span.videoStop = *frames.stop - (span.fromBeginning ? layout.start : span.origin);
    }
    span.videoUnfiltered = true;
}

SplitSpan splitSpan(const SplitRequest& request, const SplitSourceLayout& layout,
                    const std::filesystem::path& output) {
    // Written so that a start or end that is not a finite number fails too.
    const bool valid = std::isfinite(request.startTime) &&
                       request.startTime >= std::min(layout.start, 0.0) &&
                       (!request.endTime ||
                        (std::isfinite(*request.endTime) && request.startTime < *request.endTime));
    if (!valid) {
        throw MediaProcessingError::invalidRequest(
            "The end time must be later than the start time.");
    }
    SplitSpan span;
    span.fromBeginning = splitFromBeginning(request, layout);
    span.lead = splitCutLead(layout);
    span.cut = request.startTime - span.lead;
    span.origin = splitOrigin(request, layout, splitLookBack(layout, output, span.cut));
    // Exactly 0 without a look-back.
    span.lookedBack = span.fromBeginning ? 0 : span.cut - span.origin;
    if (!span.fromBeginning) {
        span.from = span.lookedBack;
        span.subtitlesFrom = request.startTime - span.origin;
    }
    const auto video = std::find_if(
        layout.streams.begin(), layout.streams.end(),
        [](const SplitStream& stream) { return stream.role == SplitStreamRole::video; });
    // Without leading pictures, whatever lies before the start keyframe in presentation order
    // lies before it in decoding order too.
    span.videoCounted =
        request.frames && request.frames->lostAtStart == 0 && video != layout.streams.end();
    if (request.endTime) {
        span.to = *request.endTime - span.lead - span.origin;
        span.videoTo = layout.videoEnd.value_or(*request.endTime) - span.lead - span.origin;
        span.subtitlesTo = *request.endTime - span.origin;
    }
    placeVideoWithoutFilter(span, request, layout);
    return span;
}

// The seek and the source as input; the layout's times and the cuts are presentation times,
// generated where the source has none, as its probes read them.
std::vector<std::string> splitInputArguments(const SplitRequest& request,
                                             const SplitSourceLayout& layout,
                                             const SplitSpan& span) {
    std::vector<std::string> arguments;
    if (!span.fromBeginning) {
        append(arguments, {"-seek_timestamp", "1", "-ss", formatCommandLineSeconds(span.origin)});
    } else if (span.origin == 0) {
        // The part keeps the source's own timestamps; else ffmpeg counts them from the first.
        append(arguments, {"-copyts"});
    }
    for (const auto& stream : layout.streams) {
        if (stream.role == SplitStreamRole::video) {
            const auto generated = presentationTimeArguments(stream.codec);
            arguments.insert(arguments.end(), generated.begin(), generated.end());
        }
    }
    append(arguments, {"-i", request.input.string()});
    return arguments;
}

// How one timed stream is cut: the muxer's time base named in advance and the drop filter. The
// filter copies every packet it passes, so the video, which holds the most bytes, goes without
// it where ffmpeg keeps the same packets itself. An MP3 file without room for its warm-up frames
// gets no header that would claim them.
std::vector<std::string> splitTimedCut(const SplitStream& stream, const std::string& at,
                                       const SplitSpan& span, const std::filesystem::path& output,
                                       bool& writesMp3Header) {
    std::vector<std::string> arguments;
    if (!span.from && !span.to) {
        return arguments;
    }
    if (stream.kind == "subtitle") {
        appendSubtitleCut(arguments, span.subtitlesFrom, span.subtitlesTo, stream, at, output);
        return arguments;
    }
    const bool video = stream.role == SplitStreamRole::video;
    if (video && span.videoUnfiltered) {
        if (span.from) {
            // Told to, ffmpeg drops what lies before its input's start up to the first keyframe
            // it keeps.
            append(arguments, {"-copypriorss:" + at, "0"});
        }
        return arguments;
    }
    const bool fromCutFrame = !video && splitAudioFromCutFrame(stream, output, span.warmCopy);
    const auto from = video || fromCutFrame ? span.from
                                            : audioFrom(span.from, stream, output, span.cut,
                                                        span.warmCopy, writesMp3Header);
    const auto to = video ? span.videoTo : span.to;
    if (!from && !to) {
        return arguments;
    }
    if (auto timeBase = muxerTimeBase(output, stream)) {
        append(arguments, {"-time_base:" + at, *timeBase});
    }
    append(arguments, {"-bsf:" + at, keptBetween(from, to, fromCutFrame)});
    return arguments;
}

// A still picture (one over longer sound) goes into every part at its time 0 and lasts as long
// as the part: its packet from before a cut is copied too, and moved to the cut.
std::vector<std::string> stillPictureCut(const SplitRequest& request,
                                         const SplitSourceLayout& layout, const SplitStream& stream,
                                         const std::string& at, const SplitSpan& span,
                                         const std::filesystem::path& output) {
    std::vector<std::string> arguments;
    std::string times;
    if (span.subtitlesFrom) {
        const std::string zero = formatCommandLineSeconds(*span.subtitlesFrom) + "/TB";
        append(arguments, {"-copypriorss:" + at, "1"});
        times = "pts=" + zero + ":dts=" + zero + ":";
    }
    const double start = std::max(request.startTime, layout.start);
    const auto end = request.endTime   ? request.endTime
                     : layout.duration ? std::optional(layout.start + *layout.duration)
                                       : std::nullopt;
    if (end && *end > start) {
        times += "duration=" + formatCommandLineSeconds(*end - start) + "/TB";
    }
    if (!times.empty()) {
        if (auto timeBase = muxerTimeBase(output, stream)) {
            append(arguments, {"-time_base:" + at, *timeBase});
        }
        append(arguments, {"-bsf:" + at, "setts=" + times});
    }
    return arguments;
}

// The maps and per-stream options of a split's command, the streams that `only` names (all
// when it is empty), and the attachments after them. Side files are inputs from
// `firstSideInput` on: chapters, then each warm copy in the order of `files.warmCopies`.
struct SplitStreams {
    std::vector<std::string> maps;
    std::vector<std::string> options;
    bool writesMp3Header = true;
    bool needsExperimentalWriters = false;
};

SplitStreams splitStreams(const SplitRequest& request, const SplitSourceLayout& layout,
                          const SplitSideFiles& files, const std::filesystem::path& output,
                          const SplitSpan& span, std::optional<std::int64_t> only) {
    // Fonts travel as attachments, which only Matroska holds; WebM holds no pictures.
    const auto container = containerForFile(output);
    const bool keepsAttachments = containerForFile(request.input) == OutputContainer::mkv &&
                                  container == OutputContainer::mkv;
    SplitStreams streams;
    std::vector<const SplitStream*> attached;
    int position = 0;
    int warmInput = files.chapters ? 2 : 1;
    const int videoInput = warmInput + static_cast<int>(files.warmCopies.size());
    for (const auto& stream : layout.streams) {
        if (only && stream.index != *only) {
            continue;
        }
        const std::string at = std::to_string(position);
        std::string map = streamMap(stream.index);
        switch (stream.role) {
            case SplitStreamRole::chapterTrack:
            case SplitStreamRole::timecode:  // the muxer writes the part's from the video's tag
                continue;
            case SplitStreamRole::attachment:
                if (!keepsAttachments) {
                    continue;
                }
                break;
            case SplitStreamRole::picture:
                if (files.pictures.count(stream.index) != 0) {
                    attached.push_back(&stream);
                    continue;
                }
                if (container == OutputContainer::webm) {
                    continue;
                }
                // Its one packet written, ffmpeg need not read on for it.
                append(streams.options, {"-frames:" + at, "1"});
                break;
            case SplitStreamRole::video:
            case SplitStreamRole::timed:
                if (stream.kind == "data" && !splitPartCarriesData(stream.codec, container)) {
                    continue;  // the page names what it leaves out
                }
                streams.needsExperimentalWriters =
                    streams.needsExperimentalWriters ||
                    (container &&
                     StreamCopyCompatibility::isExperimentalCopy(stream.codec, *container));
                appendTimecode(streams.options, stream, at,
                               span.fromBeginning ? 0 : request.startTime - layout.start);
                if (files.warmCopies.count(stream.index) != 0) {
                    // Already cut; its tags are the source stream's.
                    map = std::to_string(warmInput++) + ":0";
                    append(streams.options,
                           {"-map_metadata:s:" + at, "0:s:" + std::to_string(stream.index)});
                } else if (request.stillPicture && stream.role == SplitStreamRole::video) {
                    const auto still = stillPictureCut(request, layout, stream, at, span, output);
                    streams.options.insert(streams.options.end(), still.begin(), still.end());
                } else {
                    if (stream.role == SplitStreamRole::video && span.videoStop) {
                        map = std::to_string(videoInput) + ":" + std::to_string(stream.index);
                    }
                    const auto cut =
                        splitTimedCut(stream, at, span, output, streams.writesMp3Header);
                    streams.options.insert(streams.options.end(), cut.begin(), cut.end());
                }
                break;
        }
        append(streams.maps, {"-map", map});
        ++position;
    }
    for (const SplitStream* picture : attached) {
        appendAttachment(streams.options, *picture, files.pictures.at(picture->index), position++);
    }
    return streams;
}

// What the output is: how far it is read, where its time 0 lies, and the muxer's options.
std::vector<std::string> splitOutputArguments(const SplitRequest& request, const SplitSpan& span,
                                              const SplitStreams& streams,
                                              const std::filesystem::path& output) {
    std::vector<std::string> arguments;
    if (request.endTime) {
        append(arguments,
               {"-to", formatCommandLineSeconds(*request.endTime - span.origin + splitReadPast)});
    }
    // The start keyframe, which lies the lead (and any look-back) after the origin, is the
    // part's time 0.
    const double offset = FFmpegCommandBuilder::splitPartZero(output) -
                          (span.fromBeginning ? 0 : span.lead + span.lookedBack);
    if (offset != 0) {
        append(arguments, {"-output_ts_offset", formatCommandLineSeconds(offset)});
    }
    if (!span.fromBeginning && !streams.writesMp3Header) {
        append(arguments, {"-write_xing", "0"});
    }
    if (isTransportStream(output)) {
        append(arguments, {"-muxdelay", "0"});
    }
    if (streams.needsExperimentalWriters) {
        append(arguments, {"-strict", "experimental"});
    }
    append(arguments, {"-avoid_negative_ts", "disabled"});
    appendOutput(arguments, output);
    return arguments;
}

}  // namespace

std::vector<std::string> FFmpegCommandBuilder::splitArguments(
    const SplitRequest& request, const SplitSourceLayout& layout, const SplitSideFiles& files,
    const std::filesystem::path& output) const {
    const SplitSpan span = splitSpan(request, layout, output);
    auto arguments = baseArguments();
    const auto input = splitInputArguments(request, layout, span);
    arguments.insert(arguments.end(), input.begin(), input.end());
    if (files.chapters) {
        append(arguments, {"-f", "ffmetadata", "-i", files.chapters->string()});
    }
    for (const auto& [index, copy] : files.warmCopies) {
        // Its first shown sample lands where the source's lies in this input's timestamps, and
        // as Matroska's reader takes the codec delay off the times it reads, it is written that
        // much later (ffmpeg 5.1 adds it only in shifting the whole file to start at 0).
        append(arguments, {"-itsoffset",
                           formatCommandLineSeconds(copy.shownAt + copy.codecDelay + span.lead +
                                                    span.lookedBack),
                           "-i", copy.file.string()});
    }
    if (span.videoStop) {
        // The same input again, read for the video alone, which it stops reading at its end.
        auto video = input;
        std::erase(video, "-copyts");  // global, given once
        video.insert(video.end() - 2, {"-t", formatCommandLineSeconds(*span.videoStop)});
        arguments.insert(arguments.end(), video.begin(), video.end());
    }
    const SplitStreams streams = splitStreams(request, layout, files, output, span, std::nullopt);
    arguments.insert(arguments.end(), streams.maps.begin(), streams.maps.end());
    append(arguments,
           {"-map_metadata", "0", "-map_chapters", files.chapters ? "1" : "-1", "-c", "copy"});
    arguments.insert(arguments.end(), streams.options.begin(), streams.options.end());
    const auto out = splitOutputArguments(request, span, streams, output);
    arguments.insert(arguments.end(), out.begin(), out.end());
    return arguments;
}

std::vector<std::int64_t> FFmpegCommandBuilder::splitWarmCopyStreams(
    const SplitRequest& request, const SplitSourceLayout& layout,
    const std::filesystem::path& output) {
    std::vector<std::int64_t> indices;
    if (splitFromBeginning(request, layout)) {
        return indices;
    }
    for (const auto& stream : layout.streams) {
        if (splitWarmUpInOggCopy(stream, output)) {
            indices.push_back(stream.index);
        }
    }
    return indices;
}

std::vector<std::string> FFmpegCommandBuilder::splitWarmCopyArguments(
    const SplitRequest& request, const SplitSourceLayout& layout,
    const std::filesystem::path& output, std::int64_t stream, const std::filesystem::path& copy) {
    // The part's own span and timestamps, so that the copy's times are the part's.
    SplitSpan span = splitSpan(request, layout, output);
    span.warmCopy = true;
    auto arguments = baseArguments();
    const auto input = splitInputArguments(request, layout, span);
    arguments.insert(arguments.end(), input.begin(), input.end());
    const SplitStreams streams = splitStreams(request, layout, {}, copy, span, stream);
    arguments.insert(arguments.end(), streams.maps.begin(), streams.maps.end());
    append(arguments, {"-map_metadata", "-1", "-c", "copy"});
    arguments.insert(arguments.end(), streams.options.begin(), streams.options.end());
    const auto out = splitOutputArguments(request, span, streams, copy);
    arguments.insert(arguments.end(), out.begin(), out.end());
    return arguments;
}

}  // namespace tavrolin
