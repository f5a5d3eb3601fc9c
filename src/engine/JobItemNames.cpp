#include "engine/JobItemNames.h"

#include <array>
#include <cstdlib>
#include <random>
#include <system_error>

#include "engine/FileOperations.h"
#include "engine/SafeFileReplacement.h"
#include "model/Paths.h"
#include "model/Uuid.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kFolderPrefix = "Tavrolin-";
constexpr std::size_t kFolderRandomLength = 6;
constexpr std::string_view kFolderLetters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kUuidLength = 36;

bool isAbsoluteAndNormal(const fs::path& path) {
    return path.is_absolute() && path == path.lexically_normal() && path.has_filename();
}

// Whether `hidden` is what `make` gives `target` with the UUID found after the last `marker`.
template <typename MakeName>
bool isHiddenNameOf(const fs::path& hidden, const fs::path& target, std::string_view marker,
                    MakeName make) {
    if (!isAbsoluteAndNormal(hidden) || !isAbsoluteAndNormal(target) ||
        hidden.parent_path() != target.parent_path()) {
        return false;
    }
    const std::string name = hidden.filename().string();
    const auto at = name.rfind(marker);
    if (at == std::string::npos) {
        return false;
    }
    const auto uuid =
        Uuid::fromString(std::string_view(name).substr(at + marker.size(), kUuidLength));
    if (!uuid) {
        return false;
    }
    try {
        return make(target, marker, *uuid) == hidden;
    } catch (const fs::filesystem_error&) {
        return false;
    }
}

}  // namespace

fs::path temporaryRoot() {
    const char* root = std::getenv("TMPDIR");
    if (!root || !*root) {
        return "/tmp";
    }
    fs::path folder = standardizedPath(root);
    // "/tmp/" names the same folder as "/tmp".
    return folder.has_filename() ? folder : folder.parent_path();
}

std::string newTemporaryFolderName() {
    std::random_device source;
    std::uniform_int_distribution<std::size_t> pick(0, kFolderLetters.size() - 1);
    std::string name(kFolderPrefix);
    for (std::size_t i = 0; i < kFolderRandomLength; ++i) {
        name += kFolderLetters[pick(source)];
    }
    return name;
}

bool isWorkingNameOf(const fs::path& working, const fs::path& output) {
    return isHiddenNameOf(working, output, workingMarker, hiddenSiblingName);
}

bool isBackupNameOf(const fs::path& backup, const fs::path& original) {
    return isHiddenNameOf(backup, original, SafeFileReplacement::backupMarker, hiddenBackupName);
}

bool isTemporaryFolderName(const fs::path& folder) {
    if (!isAbsoluteAndNormal(folder) ||
        (folder.parent_path() != temporaryRoot() && folder.parent_path() != "/tmp")) {
        return false;
    }
    const std::string name = folder.filename().string();
    if (name.size() != kFolderPrefix.size() + kFolderRandomLength ||
        !name.starts_with(kFolderPrefix)) {
        return false;
    }
    return name.find_first_not_of(kFolderLetters, kFolderPrefix.size()) == std::string::npos;
}

bool isTemporaryInputName(std::string_view name) {
    constexpr std::array kinds{concatListInput,      chapterFileInput, transcriptFileInput,
                               attachedPictureInput, warmAudioInput,   reportPipeInput};
    for (const auto& kind : kinds) {
        const auto rest = textAfterPrefixedUuid(name, kind.prefix);
        if (rest && rest->size() == kind.extension.size() + 1 && rest->front() == '.' &&
            rest->substr(1) == kind.extension) {
            return true;
        }
    }
    return false;
}

}  // namespace tavrolin
