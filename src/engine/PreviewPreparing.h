#pragma once

#include <filesystem>
#include <functional>
#include <stop_token>

namespace tavrolin {

// Prepares a playable local copy of a source. Throws PreviewPreparationError, or
// CancellationError when `stop` was requested.
class PreviewPreparing {
  public:
    virtual ~PreviewPreparing() = default;
    virtual std::filesystem::path preparePreview(const std::filesystem::path& source,
                                                 std::function<void(double)> progress,
                                                 std::stop_token stop = {}) = 0;
    virtual void cancel() = 0;
};

}  // namespace tavrolin
