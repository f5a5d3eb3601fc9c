#include "probe/LibavPacketReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
#include <libavutil/hash.h>
#include <libavutil/intreadwrite.h>
}

#include "model/CancellationError.h"
#include "model/ErrorMessage.h"
#include "probe/PacketReadError.h"

namespace tavrolin {

namespace {

constexpr int kBufferSize = 32768;  // the file protocol's, as ffprobe reads

// The first complaint libav logs on this thread while a reader is inside it: the demuxer tells
// a file cut short or damaged only by its log.
thread_local std::string* complaints = nullptr;

// Only the demuxer's own complaints tell of the file: a codec's parser also complains of
// packets it merely does not expect (a Vorbis header in the stream of a chained Ogg file).
bool fromDemuxer(void* context) {
    const AVClass* kind = context != nullptr ? *static_cast<const AVClass**>(context) : nullptr;
    return kind != nullptr && std::strcmp(kind->class_name, "AVFormatContext") == 0;
}

void collectComplaint(void* context, int level, const char* format, va_list arguments) {
    if (complaints == nullptr || level > AV_LOG_ERROR || !complaints->empty() ||
        !fromDemuxer(context)) {
        return;
    }
    char line[512];
    std::vsnprintf(line, sizeof line, format, arguments);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '.')) {
        text.pop_back();
    }
    *complaints = text;
}

// Collects what libav complains of during one call into it.
class Listening {
  public:
    explicit Listening(std::string& into) : previous_(complaints) { complaints = &into; }
    ~Listening() { complaints = previous_; }
    Listening(const Listening&) = delete;
    Listening& operator=(const Listening&) = delete;

  private:
    std::string* previous_;
};

std::string libavText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

std::optional<std::int64_t> known(std::int64_t value) {
    return value == AV_NOPTS_VALUE ? std::nullopt : std::optional<std::int64_t>(value);
}

PacketTags tagsOf(const AVDictionary* metadata) {
    PacketTags tags;
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(metadata, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr) {
        tags.emplace_back(entry->key, entry->value);
    }
    return tags;
}

// The samples a packet's skip-samples side data drops from its end: a little-endian count after
// the one it drops from its start, in the 10 bytes libav always writes.
std::int64_t endTrimOf(const AVPacket& packet) {
    std::size_t size = 0;
    const std::uint8_t* data = av_packet_get_side_data(&packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
    return data != nullptr && size == 10 ? AV_RL32(data + 4) : 0;
}

}  // namespace

// The descriptor and libav's context over it.
struct LibavPacketReader::Input {
    int descriptor = -1;
    int readError = 0;  // the errno of the first failed read(2)
    AVIOContext* io = nullptr;
    AVFormatContext* context = nullptr;
    std::string complaint;

    ~Input() {
        avformat_close_input(&context);
        if (io != nullptr) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        if (descriptor >= 0) {
            ::close(descriptor);
        }
    }

    static int readBytes(void* opaque, std::uint8_t* buffer, int size) {
        auto* input = static_cast<Input*>(opaque);
        for (;;) {
            const ssize_t got = ::read(input->descriptor, buffer, static_cast<std::size_t>(size));
            if (got > 0) {
                return static_cast<int>(got);
            }
            if (got == 0) {
                return AVERROR_EOF;
            }
            if (errno != EINTR) {
                if (input->readError == 0) {
                    input->readError = errno;
                }
                return AVERROR(errno);
            }
        }
    }

    static std::int64_t seekBytes(void* opaque, std::int64_t offset, int whence) {
        auto* input = static_cast<Input*>(opaque);
        if (whence == AVSEEK_SIZE) {
            struct stat status {};
            return ::fstat(input->descriptor, &status) == 0 ? status.st_size : AVERROR(errno);
        }
        const off_t at = ::lseek(input->descriptor, offset, whence & ~AVSEEK_FORCE);
        return at < 0 ? AVERROR(errno) : at;
    }

    // Throws readFailed when a read(2) failed.
    void requireReads(const std::filesystem::path& file) const {
        if (readError != 0) {
            throw PacketReadError::readFailed(file, std::strerror(readError));
        }
    }
};

LibavPacketReader::LibavPacketReader(const std::filesystem::path& file, PacketReadOptions options,
                                     std::stop_token stop)
    : file_(file), input_(std::make_unique<Input>()), checksums_(options.checksums) {
    static std::once_flag listening;
    std::call_once(listening, [] { av_log_set_callback(collectComplaint); });
    if (const auto kind = specialFileKind(file)) {
        throw PacketReadError::cannotOpen(file, std::string(*kind));
    }
    input_->descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (input_->descriptor < 0) {
        throw PacketReadError::readFailed(file, std::strerror(errno));
    }
    throwIfStopped(stop);
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kBufferSize));
    input_->io = avio_alloc_context(buffer, kBufferSize, 0, input_.get(), &Input::readBytes,
                                    nullptr, &Input::seekBytes);
    input_->context = avformat_alloc_context();
    if (input_->io == nullptr || input_->context == nullptr) {
        if (input_->io == nullptr) {
            av_free(buffer);
        }
        throw PacketReadError::cannotOpen(file, libavText(AVERROR(ENOMEM)));
    }
    input_->context->pb = input_->io;
    if (options.generateTimes) {
        input_->context->flags |= AVFMT_FLAG_GENPTS;
    }
    // The option ffprobe sets for every file: a transport stream's programs all read.
    AVDictionary* demuxerOptions = nullptr;
    av_dict_set(&demuxerOptions, "scan_all_pmts", "1", AV_DICT_DONT_OVERWRITE);
    int opened = 0;
    {
        Listening listen(input_->complaint);
        opened = avformat_open_input(&input_->context, file.c_str(), nullptr, &demuxerOptions);
    }
    av_dict_free(&demuxerOptions);
    input_->requireReads(file);
    if (opened < 0) {
        // A failed open frees the context.
        input_->context = nullptr;
        throw PacketReadError::cannotOpen(
            file, input_->complaint.empty() ? libavText(opened) : input_->complaint);
    }
    throwIfStopped(stop);
    {
        Listening listen(input_->complaint);
        avformat_find_stream_info(input_->context, nullptr);
    }
    input_->requireReads(file);
    throwIfStopped(stop);
    const AVFormatContext& context = *input_->context;
    for (unsigned at = 0; at < context.nb_streams; ++at) {
        const AVStream& stream = *context.streams[at];
        const char* type = av_get_media_type_string(stream.codecpar->codec_type);
        PacketStream& read = format_.streams.emplace_back();
        read.index = stream.index;
        read.codecType = type != nullptr ? type : "unknown";
        read.codecName = avcodec_get_name(stream.codecpar->codec_id);
        read.attachedPicture = (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
        read.timeBase = {stream.time_base.num, stream.time_base.den};
        read.videoDelay = stream.codecpar->video_delay;
        char tag[AV_FOURCC_MAX_STRING_SIZE] = {};
        read.codecTag = av_fourcc_make_string(tag, stream.codecpar->codec_tag);
        if (stream.codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            read.sampleRate = stream.codecpar->sample_rate;
        }
        read.frameRate = {stream.r_frame_rate.num, stream.r_frame_rate.den};
        read.tags = tagsOf(stream.metadata);
    }
    for (unsigned at = 0; at < context.nb_chapters; ++at) {
        const AVChapter& chapter = *context.chapters[at];
        format_.chapters.push_back({{chapter.time_base.num, chapter.time_base.den},
                                    known(chapter.start),
                                    known(chapter.end),
                                    tagsOf(chapter.metadata)});
    }
    format_.name = context.iformat->name;
    format_.startMicroseconds = known(context.start_time);
    format_.durationMicroseconds = known(context.duration);
    format_.bitRate = std::max<std::int64_t>(context.bit_rate, 0);
}

LibavPacketReader::~LibavPacketReader() = default;

PacketReadEnd LibavPacketReader::read(const PacketVisitor& visit, std::stop_token stop) {
    PacketReadEnd end;
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr) {
        throw PacketReadError::readFailed(file_, libavText(AVERROR(ENOMEM)));
    }
    struct Release {
        AVPacket*& packet;
        ~Release() { av_packet_free(&packet); }
    } release{packet};
    AVHashContext* hash = nullptr;
    if (checksums_ && av_hash_alloc(&hash, "CRC32") < 0) {
        throw PacketReadError::readFailed(file_, libavText(AVERROR(ENOMEM)));
    }
    struct ReleaseHash {
        AVHashContext*& hash;
        ~ReleaseHash() { av_hash_freep(&hash); }
    } releaseHash{hash};
    // Complaints before this read (the header's) are not this read's.
    input_->complaint.clear();
    for (;;) {
        throwIfStopped(stop);
        int got = 0;
        {
            Listening listen(input_->complaint);
            got = av_read_frame(input_->context, packet);
        }
        input_->requireReads(file_);
        if (got < 0) {
            // ffprobe stops at any error as at the end.
            if (got != AVERROR_EOF && input_->complaint.empty()) {
                input_->complaint = libavText(got);
            }
            break;
        }
        ReadPacket read;
        read.stream = packet->stream_index;
        read.pts = known(packet->pts);
        read.dts = known(packet->dts);
        read.duration = packet->duration;
        read.size = packet->size;
        read.position = packet->pos >= 0 ? std::optional<std::int64_t>(packet->pos) : std::nullopt;
        read.keyframe = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        read.discard = (packet->flags & AV_PKT_FLAG_DISCARD) != 0;
        read.sideData = packet->side_data_elems > 0;
        read.endTrim = endTrimOf(*packet);
        if (hash != nullptr) {
            av_hash_init(hash);
            av_hash_update(hash, packet->data, packet->size);
            char digest[AV_HASH_MAX_SIZE * 2 + 1] = {};
            av_hash_final_hex(hash, reinterpret_cast<std::uint8_t*>(digest), sizeof digest);
            read.dataHash = std::string(av_hash_get_name(hash)) + ':' + digest;
        }
        av_packet_unref(packet);
        if (!visit(read)) {
            end.stoppedEarly = true;
            break;
        }
    }
    end.damage = input_->complaint;
    return end;
}

void LibavPacketReader::seek(double seconds) {
    const auto target = static_cast<std::int64_t>(seconds * AV_TIME_BASE);
    int sought = 0;
    {
        Listening listen(input_->complaint);
        sought = avformat_seek_file(input_->context, -1, INT64_MIN, target, INT64_MAX, 0);
    }
    input_->requireReads(file_);
    if (sought < 0) {
        throw PacketReadError::cannotOpen(
            file_, "cannot seek to " + std::to_string(seconds) + " s: " + libavText(sought));
    }
}

}  // namespace tavrolin
