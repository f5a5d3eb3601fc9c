#pragma once

#include <functional>
#include <stop_token>

#include "model/ProcessingRequest.h"

namespace tavrolin {

using ProgressCallback = std::function<void(double fraction)>;

// Runs one media-writing request to its output. Throws MediaProcessingError,
// CancellationError (when `stop` was requested: nothing is written), TranscriptionError, or a
// std::filesystem::filesystem_error.
class MediaProcessing {
  public:
    virtual ~MediaProcessing() = default;
    virtual void process(const ProcessingRequest& request, ProgressCallback progress,
                         std::stop_token stop) = 0;
    // Terminates the running job's children, if any; the job then ends with CancellationError.
    // Any thread.
    virtual void cancel() = 0;
};

}  // namespace tavrolin
