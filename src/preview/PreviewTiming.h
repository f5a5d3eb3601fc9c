#pragma once

namespace tavrolin {

// The time rules of the frame-accurate preview, as pure functions. `frameRate` below 1 counts
// as 1 everywhere.

// The frame number shown for `seconds`: seconds x rate, rounded half away from zero.
long long previewFrameNumber(double seconds, double frameRate);

// Where a seek to `seconds` lands: the start of the nearest frame (half rounds away from zero),
// then at least 0 and at most max(duration, 0).
double snappedPreviewTime(double seconds, double frameRate, double duration);

// The pause before the next step of a held frame button, `elapsed` seconds of pauses into the
// hold: the step rate rises linearly from min(rate, 4) to the frame rate over 1.25 s.
double frameRepeatInterval(double frameRate, double elapsed);

}  // namespace tavrolin
