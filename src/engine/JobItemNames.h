#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tavrolin {

// The names a job gives what it makes, and the exact tests a later start applies before it
// removes a recorded name: a record in the state folder can be damaged or old, so it is trusted
// only where a name has precisely the shape this program gives it. Pure functions apart from
// temporaryRoot, which reads TMPDIR.

// What a job's hidden working output carries in its name: ".<stem>.tmp-tavrolin-<UUID><ext>".
inline constexpr std::string_view workingMarker = ".tmp-tavrolin-";

// A kind of small input file a job writes into its private temporary folder:
// prefix + UUID + "." + extension.
struct TemporaryInputKind {
    std::string_view prefix;
    std::string_view extension;
};
inline constexpr TemporaryInputKind concatListInput{"Tavrolin-Concat-", "txt"};
inline constexpr TemporaryInputKind chapterFileInput{"Tavrolin-Chapters-", "ffmetadata"};
inline constexpr TemporaryInputKind transcriptFileInput{"Tavrolin-Transcript-", "srt"};
inline constexpr TemporaryInputKind attachedPictureInput{"Tavrolin-Picture-", "picture"};
inline constexpr TemporaryInputKind warmAudioInput{"Tavrolin-Audio-", "ogg"};
// Not a file but a FIFO, through which a probe started early hands over its report.
inline constexpr TemporaryInputKind reportPipeInput{"Tavrolin-Report-", "fifo"};

// $TMPDIR (absolute and normal), or /tmp when it is unset or empty.
std::filesystem::path temporaryRoot();

// A fresh name for a private temporary folder: "Tavrolin-" and six random letters or digits,
// as mkdtemp makes them.
std::string newTemporaryFolderName();

// Whether `working` is the hidden working name of `output`: beside it, and exactly what
// hiddenSiblingName gives for some UUID. Both paths absolute and normal.
bool isWorkingNameOf(const std::filesystem::path& working, const std::filesystem::path& output);

// Whether `backup` is a replacement's backup name of `original` in the same sense.
bool isBackupNameOf(const std::filesystem::path& backup, const std::filesystem::path& original);

// Whether `folder` is named like a private temporary folder and lies directly in the temporary
// root (or in /tmp, where a run without TMPDIR put it).
bool isTemporaryFolderName(const std::filesystem::path& folder);

// Whether `name` is a file name a job gives a temporary input (one of the kinds above).
bool isTemporaryInputName(std::string_view name);

}  // namespace tavrolin
