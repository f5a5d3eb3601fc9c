#include "engine/JobFiles.h"

#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include "engine/FileOperations.h"
#include "model/Uuid.h"

namespace tavrolin {

namespace fs = std::filesystem;

fs::path hiddenWorkingOutput(const fs::path& output) {
    return hiddenSiblingName(output, workingMarker, Uuid::random());
}

JobFiles::JobFiles(fs::path recordsFolder) : record_(std::move(recordsFolder)) {}

JobFiles::~JobFiles() {
    if (!workingOutput.empty()) {
        removeQuietly(workingOutput);
    }
    if (!temporaryFolder_.empty()) {
        std::error_code ignored;
        fs::remove_all(temporaryFolder_, ignored);
    }
}

void JobFiles::useWorkingOutput(const fs::path& working, const fs::path& output) {
    record_.addWorkingOutput(working, output);
    workingOutput = working;
}

void JobFiles::recordBackup(const fs::path& backup, const fs::path& original) {
    record_.addBackup(backup, original);
}

fs::path JobFiles::writeTemporaryInput(const TemporaryInputKind& kind, std::string_view contents) {
    fs::path file = temporaryPath(kind);
    writeNewFile(file, contents);
    return file;
}

fs::path JobFiles::temporaryPath(const TemporaryInputKind& kind) {
    if (temporaryFolder_.empty()) {
        // mkdtemp's way, but named in the record before the folder exists, so that a crash in
        // between leaves nothing unrecorded.
        const fs::path root = temporaryRoot();
        for (int attempt = 1;; ++attempt) {
            const fs::path folder = root / newTemporaryFolderName();
            record_.setTemporaryFolder(folder);
            if (::mkdir(folder.c_str(), 0700) == 0) {
                temporaryFolder_ = folder;
                break;
            }
            const int error = errno;
            if (error != EEXIST || attempt == 100) {
                record_.setTemporaryFolder({});
                throw fs::filesystem_error("cannot create temporary folder", folder,
                                           std::error_code(error, std::generic_category()));
            }
        }
    }
    return temporaryFolder_ / (std::string(kind.prefix) + Uuid::random().toString() + "." +
                               std::string(kind.extension));
}

}  // namespace tavrolin
