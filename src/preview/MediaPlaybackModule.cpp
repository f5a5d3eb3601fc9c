#include "preview/MediaPlayback.h"
#include "process/ModuleLoader.h"

namespace tavrolin {

std::unique_ptr<MediaPlayback> createMediaPlayback(MediaPlayback::Callbacks callbacks) {
    const auto create = reinterpret_cast<MediaPlaybackModuleEntry>(
        moduleEntry("The preview's playback", mediaPlaybackModuleFile, mediaPlaybackModuleEntry));
    return std::unique_ptr<MediaPlayback>(create(std::move(callbacks)));
}

}  // namespace tavrolin
