#pragma once

#include <string>

namespace tavrolin {

// The two texts of a preview position. Pure functions, callable from any thread; negative and
// NaN inputs count as 0.

// Shortest decimal text with at most six fraction digits and a full stop ("12.5", "3", "0"),
// independent of the process locale. Fills the start, end and split-point fields.
std::string formatPreviewSeconds(double seconds);

// "HH:MM:SS.mmm", milliseconds rounded half away from zero; the hours are not wrapped and grow
// past two digits. Shown beside the players.
std::string formatPreviewTimecode(double seconds);

}  // namespace tavrolin
