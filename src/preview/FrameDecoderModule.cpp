#include "preview/FrameDecoder.h"
#include "process/ModuleLoader.h"

namespace tavrolin {

std::shared_ptr<FrameDecoder> openFrameDecoder(const std::filesystem::path& file,
                                               std::stop_token stop, int maxWidth, int maxHeight) {
    const auto open = reinterpret_cast<FrameDecoderModuleEntry>(
        moduleEntry("The frame-accurate preview", frameDecoderModuleFile, frameDecoderModuleEntry));
    return std::shared_ptr<FrameDecoder>(open(file, std::move(stop), maxWidth, maxHeight));
}

}  // namespace tavrolin
