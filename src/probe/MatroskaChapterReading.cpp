#include "probe/MatroskaChapterReading.h"

#include <fstream>
#include <optional>
#include <vector>

#include "probe/EbmlNumber.h"

namespace tavrolin {

namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint32_t ebmlHeaderID = 0x1A45DFA3;
constexpr std::uint32_t segmentID = 0x18538067;
constexpr std::uint32_t seekHeadID = 0x114D9B74;
constexpr std::uint32_t seekID = 0x4DBB;
constexpr std::uint32_t seekIDID = 0x53AB;
constexpr std::uint32_t seekPositionID = 0x53AC;
constexpr std::uint32_t chaptersID = 0x1043A770;
constexpr std::uint32_t clusterID = 0x1F43B675;
constexpr std::uint32_t editionEntryID = 0x45B9;
constexpr std::uint32_t editionFlagOrderedID = 0x45DD;
constexpr std::uint32_t chapterAtomID = 0xB6;
constexpr std::uint32_t chapterSegmentUIDID = 0x6E67;

// Bounds on what a malformed or hostile file can make the reader do.
constexpr std::uint64_t headLength = 64 * 1024;
constexpr std::uint64_t largestChapters = 512 * 1024;
constexpr int mostTopLevelElements = 64;
constexpr int deepestChapter = 16;

struct Element {
    std::uint32_t id = 0;
    std::optional<std::uint64_t> size;  // none when the size is unknown (live streams)
    std::size_t headerLength = 0;
};

std::optional<Element> readElement(Bytes bytes) {
    const auto id = readEbmlNumber(bytes, true);
    if (!id || id->second > 4) {
        return std::nullopt;
    }
    const auto size = readEbmlNumber(bytes.subspan(id->second), false);
    if (!size) {
        return std::nullopt;
    }
    Element element{static_cast<std::uint32_t>(id->first), size->first, id->second + size->second};
    if (size->first == (std::uint64_t{1} << (7 * size->second)) - 1) {
        element.size.reset();
    }
    return element;
}

std::uint64_t readUnsigned(Bytes bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 8; ++i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

// Calls `visit(id, body)` for each child in `bytes` while it is whole; false on a malformed one.
template <typename Visit>
bool forEachChild(Bytes bytes, Visit&& visit) {
    while (!bytes.empty()) {
        const auto element = readElement(bytes);
        if (!element || !element->size || *element->size > bytes.size() - element->headerLength) {
            return false;
        }
        const auto size = static_cast<std::size_t>(*element->size);
        visit(element->id, bytes.subspan(element->headerLength, size));
        bytes = bytes.subspan(element->headerLength + size);
    }
    return true;
}

bool linksSegment(Bytes chapterAtom, int depth) {
    bool links = false;
    if (depth > deepestChapter) {
        return false;
    }
    forEachChild(chapterAtom, [&](std::uint32_t id, Bytes body) {
        if (id == chapterSegmentUIDID && !body.empty()) {
            links = true;
        } else if (id == chapterAtomID) {
            links = links || linksSegment(body, depth + 1);
        }
    });
    return links;
}

std::vector<std::uint8_t> readAt(std::ifstream& file, std::uint64_t offset, std::uint64_t length) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    file.clear();
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
    bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
    return bytes;
}

// The Chapters element's body at `offset`, when one whole element of a bounded size is there.
std::optional<std::vector<std::uint8_t>> chaptersAt(std::ifstream& file, std::uint64_t offset) {
    const auto header = readAt(file, offset, 12);
    const auto element = readElement(header);
    if (!element || element->id != chaptersID || !element->size ||
        *element->size > largestChapters) {
        return std::nullopt;
    }
    auto body = readAt(file, offset + element->headerLength, *element->size);
    if (body.size() != *element->size) {
        return std::nullopt;
    }
    return body;
}

// Where the seek head says the Chapters element is, relative to the segment's body.
std::optional<std::uint64_t> seekedChapters(Bytes seekHead) {
    std::optional<std::uint64_t> position;
    forEachChild(seekHead, [&](std::uint32_t id, Bytes seek) {
        if (id != seekID) {
            return;
        }
        std::optional<std::uint64_t> target;
        std::optional<std::uint64_t> at;
        forEachChild(seek, [&](std::uint32_t child, Bytes body) {
            if (child == seekIDID) {
                target = readUnsigned(body);
            } else if (child == seekPositionID) {
                at = readUnsigned(body);
            }
        });
        if (target == chaptersID && at && !position) {
            position = at;
        }
    });
    return position;
}

std::optional<std::vector<std::uint8_t>> findChapters(std::ifstream& file) {
    const auto head = readAt(file, 0, headLength);
    const auto header = readElement(head);
    if (!header || header->id != ebmlHeaderID || !header->size ||
        *header->size > head.size() - header->headerLength) {
        return std::nullopt;
    }
    const std::uint64_t segmentAt = header->headerLength + *header->size;
    const auto segment = readElement(readAt(file, segmentAt, 12));
    if (!segment || segment->id != segmentID) {
        return std::nullopt;
    }
    // Top-level elements up to the first cluster; the seek head may point past them.
    const std::uint64_t bodyAt = segmentAt + segment->headerLength;
    std::uint64_t offset = bodyAt;
    std::optional<std::uint64_t> seeked;
    for (int count = 0; count < mostTopLevelElements; ++count) {
        const auto bytes = readAt(file, offset, 12);
        const auto element = readElement(bytes);
        if (!element || !element->size || element->id == clusterID) {
            break;
        }
        if (element->id == chaptersID) {
            return chaptersAt(file, offset);
        }
        if (element->id == seekHeadID && *element->size <= headLength && !seeked) {
            const auto seekHead = readAt(file, offset + element->headerLength, *element->size);
            seeked = seekedChapters(seekHead);
        }
        if (*element->size > UINT64_MAX - offset - element->headerLength) {
            break;
        }
        offset += element->headerLength + *element->size;
    }
    if (seeked && *seeked <= UINT64_MAX - bodyAt) {
        return chaptersAt(file, bodyAt + *seeked);
    }
    return std::nullopt;
}

}  // namespace

ChapterEditions parseMatroskaChapters(Bytes body) {
    ChapterEditions editions;
    forEachChild(body, [&](std::uint32_t id, Bytes edition) {
        if (id != editionEntryID) {
            return;
        }
        forEachChild(edition, [&](std::uint32_t child, Bytes value) {
            if (child == editionFlagOrderedID && readUnsigned(value) != 0) {
                editions.ordered = true;
            } else if (child == chapterAtomID && linksSegment(value, 0)) {
                editions.linksOtherSegments = true;
            }
        });
    });
    return editions;
}

ChapterEditions readMatroskaChapterEditions(const std::filesystem::path& file) noexcept {
    try {
        std::ifstream stream(file, std::ios::binary);
        if (!stream) {
            return {};
        }
        if (const auto body = findChapters(stream)) {
            return parseMatroskaChapters(*body);
        }
    } catch (...) {  // an allocation failure or a stream error gives no flags, like a bad file
    }
    return {};
}

}  // namespace tavrolin
