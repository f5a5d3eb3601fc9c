#include "engine/InputFingerprints.h"

#include <exception>

#include "model/ErrorMessage.h"
#include "model/MediaProcessingError.h"

namespace tavrolin {

namespace fs = std::filesystem;

InputFingerprints inputFingerprints(const ProcessingRequest& request) {
    InputFingerprints fingerprints;
    for (const auto& input : request.inputs()) {
        std::optional<SourceFileFingerprint> fingerprint;
        try {
            fingerprint = SourceFileFingerprint::of(input);
        } catch (const std::exception&) {
        }
        fingerprints.emplace_back(input, fingerprint);
    }
    return fingerprints;
}

void throwIfAnyInputUnreadable(const ProcessingRequest& request) {
    for (const auto& input : request.inputs()) {
        if (isFileGone(input)) {
            throw MediaProcessingError::sourceMissing(input);
        }
        if (const auto kind = specialFileKind(input)) {
            throw MediaProcessingError::sourceNotFile(input, *kind);
        }
    }
}

SourceFileFingerprint fingerprintNow(const fs::path& file) {
    if (isFileGone(file)) {
        throw MediaProcessingError::sourceMissing(file);
    }
    return SourceFileFingerprint::of(file);
}

void throwIfAnyInputChanged(const InputFingerprints& fingerprints) {
    for (const auto& [input, before] : fingerprints) {
        if (!before) {
            continue;
        }
        if (isFileGone(input)) {
            throw MediaProcessingError::sourceMissing(input);
        }
        std::optional<SourceFileFingerprint> now;
        try {
            now = SourceFileFingerprint::of(input);
        } catch (const std::exception&) {
        }
        if (now != before) {
            throw MediaProcessingError::processFailed(
                "\u201C" + input.filename().string() +
                "\u201D changed while Tavrolin was reading it. Nothing was written.");
        }
    }
}

}  // namespace tavrolin
