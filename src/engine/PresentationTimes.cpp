#include "engine/PresentationTimes.h"

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

std::string firstVideoCodec(const std::vector<MediaStream>& streams) {
    for (const auto& stream : streams) {
        if (stream.kind == MediaStreamKind::video) {
            return stream.codecName;
        }
    }
    return {};
}

}  // namespace tavrolin
