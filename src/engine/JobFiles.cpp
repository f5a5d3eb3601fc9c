#include "engine/JobFiles.h"

#include <stdlib.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "engine/FileOperations.h"
#include "model/Paths.h"
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

fs::path JobFiles::writeTemporaryInput(const std::string& prefix, const std::string& extension,
                                       std::string_view contents) {
    fs::path file = temporaryPath(prefix, extension);
    writeNewFile(file, contents);
    return file;
}

fs::path JobFiles::temporaryPath(const std::string& prefix, const std::string& extension) {
    if (temporaryFolder_.empty()) {
        const char* root = std::getenv("TMPDIR");
        std::string pattern = (root && *root ? std::string(root) : std::string("/tmp"));
        pattern += "/Tavrolin-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw fs::filesystem_error("cannot create temporary folder", fs::path(pattern),
                                       std::error_code(errno, std::generic_category()));
        }
        temporaryFolder_ = standardizedPath(pattern);
        // Recorded while still empty: nothing is written into it before the record exists.
        record_.addTemporaryFolder(temporaryFolder_);
    }
    return temporaryFolder_ / (prefix + Uuid::random().toString() + "." + extension);
}

}  // namespace tavrolin
