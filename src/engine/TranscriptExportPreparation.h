#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "model/ProcessingRequest.h"
#include "model/SubtitleCue.h"
#include "probe/PacketCensus.h"
#include "process/ProcessRunning.h"

namespace tavrolin {

// What a transcript export needs before its ffmpeg run: its cues in a form the output's subtitle
// codec keeps whole, and where the output holds each selected source stream. Called on the job's
// thread.

// ffmpeg reads the transcript as SubRip, whose reader takes anything like "<Jerry>" for a tag and
// drops it when it converts the text for MP4 or WebM. WebVTT stores character references, which
// that reader passes through untouched; mov_text is plain text, so an invisible word joiner after
// each "<" keeps it from being read as a tag. Matroska copies the SubRip text as it is.
std::vector<SubtitleCue> transcriptCuesFor(std::vector<SubtitleCue> cues,
                                           const std::filesystem::path& output);

// A source's streams as ffprobe's stream=index,codec_type reads them.
using SourceStreamKinds = std::vector<std::pair<std::int64_t, std::string>>;

// Where a transcript export writes each selected source stream: in selection order, or with
// "-map 0" at its own index, once the source's streams as read (`kinds`, none: unread) show its
// subtitle streams still the selected ones; throws MediaProcessingError::invalidRequest when
// they are not.
std::vector<CopiedStream> exportedStreams(const TranscriptionMediaRequest& transcript,
                                          const std::optional<SourceStreamKinds>& kinds);

// The same with the source's streams read by ffprobe (run under `stop`) when they matter. Empty
// when `stop` was requested.
std::vector<CopiedStream> exportedStreams(ProcessRunning& runner,
                                          const TranscriptionMediaRequest& transcript,
                                          const std::filesystem::path& ffprobe,
                                          std::stop_token stop);

}  // namespace tavrolin
