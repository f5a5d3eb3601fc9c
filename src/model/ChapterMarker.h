#pragma once

#include <string>

#include "model/Uuid.h"

namespace tavrolin {

// One chapter mark; identity is `id`.
struct ChapterMarker {
    Uuid id;
    double startTime = 0;
    std::string title;

    friend bool operator==(const ChapterMarker&, const ChapterMarker&) = default;
};

}  // namespace tavrolin
