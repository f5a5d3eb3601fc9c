#include "engine/split/PresentationTimes.h"

namespace tavrolin {

bool generatesPresentationTimes(std::string_view videoCodec) {
    return videoCodec == "mpeg4" || videoCodec == "mpeg2video" || videoCodec == "mpeg1video";
}

std::vector<std::string> presentationTimeArguments(std::string_view videoCodec) {
    if (!generatesPresentationTimes(videoCodec)) {
        return {};
    }
    return {"-fflags", "+genpts"};
}

bool isPackedPlaceholder(std::string_view videoCodec, std::int64_t bytes) {
    // A start code and a header that codes nothing: 6 to 8 bytes as DivX and Xvid write it.
    // A B-frame that changes nothing can take 18 (320x240), so ffmpeg's unpacking filter, which
    // drops up to 19, is not followed here.
    constexpr std::int64_t kLargestPlaceholder = 8;
    return videoCodec == "mpeg4" && bytes > 0 && bytes <= kLargestPlaceholder;
}

std::string firstVideoCodec(const std::vector<MediaStream>& streams) {
    for (const auto& stream : streams) {
        if (stream.kind == MediaStreamKind::video) {
            return stream.codecName;
        }
    }
    return {};
}

}  // namespace tavrolin
