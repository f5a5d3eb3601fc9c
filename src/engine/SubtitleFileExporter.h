#pragma once

#include <filesystem>
#include <mutex>
#include <vector>

#include "engine/SubtitleDocumentRenderer.h"
#include "model/SubtitleCue.h"

namespace tavrolin {

// Writes a subtitle document to a file the user chose, through a hidden temporary file beside
// it, and never replaces an existing file. Exports through one exporter never overlap.
class SubtitleFileExporter {
  public:
    // Throws TranscriptionError::outputExists when `destination` exists (nothing is written),
    // the renderer's TranscriptionError, MediaProcessingError::notEnoughSpace when the write
    // finds no room, or std::filesystem::filesystem_error (naming the destination) when
    // writing or moving fails otherwise; no temporary file is left behind.
    void exportFile(const std::vector<SubtitleCue>& cues, SubtitleFileFormat format,
                    const std::filesystem::path& destination);

  private:
    std::mutex mutex_;
    SubtitleDocumentRenderer renderer_;
};

}  // namespace tavrolin
