#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "process/ProcessRunning.h"

namespace tavrolin {

// What ffmpeg's standard error says about writing its output. FFmpeg 5.1 exits with status 0
// when a write fails only as it writes the trailer or closes the file ("Error writing trailer
// of …", "Error closing file …"), as a muxer that buffers to the end (Matroska with a sparse
// subtitle track) does on a full disk, so the status alone does not say the output is whole.
// Only ffmpeg's own error lines count, never the indented description of the media, whose
// names and titles may read like anything.
enum class FFmpegWriteFailure {
    none,
    // Writing failed for another reason.
    failed,
    // The disk, a quota or a file size limit had no room: an error line of ffmpeg's ends in
    // "No space left on device", "Disk quota exceeded" or "File too large" (in English or in
    // the process's language), whatever the exit status.
    outOfSpace,
};

FFmpegWriteFailure ffmpegWriteFailure(std::string_view standardError);

// The last eight non-empty lines of ffmpeg's standard error, joined with line feeds; the
// fallback when there are none. The hidden working output, by path or by name, reads as the
// output the user chose: a write that fails names the file they know.
std::string ffmpegFailureMessage(const ProcessResult& result,
                                 const std::filesystem::path& workingOutput = {},
                                 const std::filesystem::path& output = {});

// "Tavrolin could not write “a.mp4” in the folder “out” (<strerror of error>).", then what to
// do about that error.
std::string outputWriteFailureSentence(const std::filesystem::path& output, int error);

// The user's sentence for a run that failed writing `output` under the hidden `workingOutput`:
// a system error that ffmpeg met on the output (a read-only or vanished folder, a refused
// permission, a failing disk) names the file, its folder and what to do; any other failure
// leads ffmpegFailureMessage with the file's name and what to do.
std::string ffmpegFailureSentence(const ProcessResult& result,
                                  const std::filesystem::path& workingOutput,
                                  const std::filesystem::path& output);

// Throws MediaProcessingError outputFolderGone when the folder of the hidden `workingOutput` of
// `output` was removed or moved away; when `written` (ffmpeg said it wrote the file), also
// processFailed when the file alone was removed. Any error the job met then says less than that.
// Touches the disk.
void throwIfWorkingOutputGone(const std::filesystem::path& workingOutput,
                              const std::filesystem::path& output, bool written);

}  // namespace tavrolin
