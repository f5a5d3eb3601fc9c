#pragma once

#include <filesystem>
#include <optional>
#include <stop_token>
#include <vector>

#include "model/ChapterMarker.h"
#include "model/MediaStream.h"

namespace tavrolin {

// What a media file holds. Throws MediaProbeError, MediaProcessingError::toolNotFound, or
// std::system_error when ffprobe cannot start. A stopped token terminates ffprobe; the
// inspection then fails like any failed run and the caller drops the outcome.
class MediaProbing {
  public:
    virtual ~MediaProbing() = default;
    virtual std::vector<MediaStream> inspectStreams(const std::filesystem::path& file,
                                                    std::stop_token stop = {}) = 0;
    virtual std::vector<ChapterMarker> inspectChapters(const std::filesystem::path& file,
                                                       std::stop_token stop = {}) = 0;
    virtual std::optional<double> inspectDuration(const std::filesystem::path& file,
                                                  std::stop_token stop = {}) = 0;
};

}  // namespace tavrolin
