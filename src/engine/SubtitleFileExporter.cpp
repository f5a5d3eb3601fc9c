#include "engine/SubtitleFileExporter.h"

#include "engine/FileOperations.h"
#include "model/MediaProcessingError.h"
#include "model/Transcription.h"
#include "model/Uuid.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

// The user knows the destination, not our hidden name; a write that found no room says so.
[[noreturn]] void rethrowFor(const fs::filesystem_error& error, const fs::path& destination,
                             const fs::path& temporary) {
    if (isOutOfSpace(error.code().value())) {
        throw MediaProcessingError::notEnoughSpace(destination.parent_path(),
                                                   destination.filename().string());
    }
    throw fs::filesystem_error("cannot export subtitles", destination, temporary, error.code());
}

}  // namespace

void SubtitleFileExporter::exportFile(const std::vector<SubtitleCue>& cues,
                                      SubtitleFileFormat format, const fs::path& destination) {
    std::lock_guard lock{mutex_};
    // symlink_status: a dangling link is an existing name too.
    std::error_code statusError;
    const fs::file_status status = fs::symlink_status(destination, statusError);
    if (fs::exists(status)) {
        throw TranscriptionError::outputExists();
    }
    if (statusError && status.type() != fs::file_type::not_found) {
        throw fs::filesystem_error("cannot check destination", destination, statusError);
    }

    const std::string document = renderer_.render(cues, format);
    const fs::path temporary =
        destination.parent_path() / (".tavrolin-subtitle-" + Uuid::random().toString());
    // writeNewFile leaves nothing behind when it fails (and never touches a name it did not
    // create), so only a failed move has a temporary file to remove.
    try {
        writeNewFile(temporary, document);
    } catch (const fs::filesystem_error& error) {
        rethrowFor(error, destination, temporary);
    }
    try {
        moveNoReplace(temporary, destination);
    } catch (const fs::filesystem_error& error) {
        removeQuietly(temporary);
        rethrowFor(error, destination, temporary);
    }
}

}  // namespace tavrolin
