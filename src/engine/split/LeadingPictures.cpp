#include "engine/split/LeadingPictures.h"

#include <algorithm>

namespace tavrolin {

std::vector<LeadingPictures> leadingPictures(const std::vector<CodedPicture>& decodingOrder) {
    std::vector<LeadingPictures> found;
    for (std::size_t at = 0; at < decodingOrder.size(); ++at) {
        if (!decodingOrder[at].isKeyframe) {
            continue;
        }
        LeadingPictures leading{at, 0, decodingOrder[at].time};
        for (std::size_t next = at + 1;
             next < decodingOrder.size() && !decodingOrder[next].isKeyframe; ++next) {
            if (decodingOrder[next].time < decodingOrder[at].time) {
                ++leading.count;
                leading.earliest = std::min(leading.earliest, decodingOrder[next].time);
            }
        }
        if (leading.count > 0) {
            found.push_back(leading);
        }
    }
    return found;
}

}  // namespace tavrolin
