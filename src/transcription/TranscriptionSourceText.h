#pragma once

#include <QString>

#include <optional>
#include <string>

#include "model/Transcription.h"

namespace tavrolin {

// The texts and symbols of a Transcribe source row and of the times the page shows, shared by the
// source column, its list models, the review area and the timeline.

// The status line of one source row, without the percentage.
std::string sourceStatusText(const BatchTranscriptionSource& source, bool isCancellingThis);
QString sourceStatusSymbol(BatchTranscriptionSourceStatus::Kind kind);
// "<p>%" with p rounded half away from zero, when a fraction is known.
std::optional<std::string> sourcePercentText(const BatchTranscriptionSource& source);
// "%02d:%02d:%02d" of the start truncated toward zero.
std::string clockTimeText(double seconds);

}  // namespace tavrolin
