#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/StreamCopyCompatibility.h"
#include "model/OutputContainer.h"
#include "model/RemuxSource.h"

namespace tavrolin {

// A Join file's inspection: loading, ready with every stream in ffprobe order, or failed with
// the probe's message. The same three cases as a Remux source's.
using JoinInspectionState = RemuxSource::InspectionState;
using JoinInspectionStates = std::map<std::filesystem::path, JoinInspectionState>;

// Whether files can be joined by stream copy, and the sentences that say so. Pure functions of
// the join order, the inspection states and the container; safe on any thread. The Join
// workspace checks with it before queueing, and the processor again right before ffmpeg runs.
class JoinLayoutCheck {
  public:
    // Given the installed FFmpeg's release, what it refuses to write blocks too.
    explicit JoinLayoutCheck(std::optional<FFmpegRelease> installed = std::nullopt)
        : compatibility_(installed) {}

    // Why the first file that cannot go into the concat reader's list can't: a line break in its
    // name or in the name of a folder above it, that part named; none when all can.
    static std::optional<std::string> firstPathProblem(
        const std::vector<std::filesystem::path>& files);

    // Why the files cannot be queued yet (inspection pending, a stream the container cannot
    // copy, another stream count or layout); none when nothing blocks.
    std::optional<std::string> compatibilityMessage(const std::vector<std::filesystem::path>& files,
                                                    const JoinInspectionStates& states,
                                                    OutputContainer container) const;
    // Why inspected files cannot be joined: the first file whose inspection failed, then
    // compatibilityMessage; none when nothing blocks.
    std::optional<std::string> blockingMessage(const std::vector<std::filesystem::path>& files,
                                               const JoinInspectionStates& states,
                                               OutputContainer container) const;
    // The workspace's one status line; never empty.
    std::string statusText(const std::vector<std::filesystem::path>& files,
                           const JoinInspectionStates& states, OutputContainer container) const;
    bool hasBlockingIssue(const std::vector<std::filesystem::path>& files,
                          const JoinInspectionStates& states, OutputContainer container) const;

  private:
    static std::optional<std::string> pathProblem(const std::filesystem::path& file);
    // Why the container cannot take `file`'s streams as they are.
    std::optional<std::string> containerMessage(const std::vector<MediaStream>& streams,
                                                OutputContainer container,
                                                const std::filesystem::path& file) const;

    StreamCopyCompatibility compatibility_;
};

}  // namespace tavrolin
