#pragma once

#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "engine/SafeFileReplacement.h"
#include "model/ProcessingRequest.h"

namespace tavrolin {

// The state of the files a job reads, taken before ffmpeg runs and compared after, so that an
// output made from a file that changed meanwhile is never published. Plain file-system calls on
// the job's thread.
using InputFingerprints =
    std::vector<std::pair<std::filesystem::path, std::optional<SourceFileFingerprint>>>;

// What ffmpeg reads, each with its state before the run; none for a file that cannot be read
// now (ffmpeg then says why).
InputFingerprints inputFingerprints(const ProcessingRequest& request);

// Before anything reads them: an input removed or renamed since it was queued throws
// MediaProcessingError::sourceMissing (ffmpeg would only say "No such file"); something else
// put at its name throws sourceNotFile, found without opening it (a named pipe would hold every
// tool that opens it).
void throwIfAnyInputUnreadable(const ProcessingRequest& request);

// A file's state now; a file that is gone throws MediaProcessingError::sourceMissing.
SourceFileFingerprint fingerprintNow(const std::filesystem::path& file);

// An input written to while ffmpeg read it gives an output of neither version
// (MediaProcessingError::processFailed); one removed meanwhile is gone from where the user keeps
// it (MediaProcessingError::sourceMissing).
void throwIfAnyInputChanged(const InputFingerprints& fingerprints);

}  // namespace tavrolin
