// The frame decoder module's entry point: the program opens it on first use, so that libav and
// what it links load only when a preview needs them.
#include <type_traits>

#include "preview/LibavFrameDecoder.h"

extern "C" tavrolin::FrameDecoder* tavrolin_open_frame_decoder(const std::filesystem::path& file,
                                                               std::stop_token stop, int maxWidth,
                                                               int maxHeight) {
    return new tavrolin::LibavFrameDecoder(file, std::move(stop), maxWidth, maxHeight);
}

// The entry point's type must stay what the program casts it to.
static_assert(
    std::is_same_v<decltype(&tavrolin_open_frame_decoder), tavrolin::FrameDecoderModuleEntry>);
