#include "engine/split/PartChapterUids.h"

#include <fstream>
#include <map>
#include <string>
#include <system_error>

#include "engine/MillisecondTime.h"
#include "engine/split/MatroskaElements.h"
#include "engine/split/Mp4Boxes.h"
#include "engine/split/PartFileBytes.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kSegment = 0x18538067;
constexpr std::uint32_t kChapters = 0x1043A770;
constexpr std::uint32_t kEdition = 0x45B9;
constexpr std::uint32_t kAtom = 0xB6;
constexpr std::uint32_t kChapterUid = 0x73C4;
constexpr std::uint32_t kTags = 0x1254C367;
constexpr std::uint32_t kTag = 0x7373;
constexpr std::uint32_t kTargets = 0x63C0;
constexpr std::uint32_t kTagChapterUid = 0x63C4;

std::vector<Element> childrenOf(std::fstream& stream, const Element& parent, std::uint32_t id) {
    std::vector<Element> found;
    for (const auto& child : elementsIn(stream, parent.data, parent.end())) {
        if (child.id == id) {
            found.push_back(child);
        }
    }
    return found;
}

// `value` in `size` bytes, big-endian; none when it does not fit.
std::optional<std::string> bigEndian(std::uint64_t value, std::uint64_t size) {
    if (size == 0 || size > 8 || (size < 8 && value >> (8 * size) != 0)) {
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[bytes.size() - 1 - i] = static_cast<char>(value >> (8 * i) & 0xFF);
    }
    return bytes;
}

// A chapter's number in the four bits of the mark: 0 stays "none".
std::uint8_t markOf(std::uint64_t number) {
    return number == 0 ? 0 : static_cast<std::uint8_t>(1 + (number - 1) % 15);
}

// Where the MP4 file's Nero chapter list keeps the byte after its version and flags that
// ffmpeg skips as part of four unknown bytes and others read as one reserved byte before a
// 32-bit count: none in a file of another kind or without the list.
std::optional<std::uint64_t> chapterMarkAt(std::fstream& stream, const fs::path& file) {
    const std::uint64_t length = fs::file_size(file);
    if (readPartBytes(stream, 4, 4) != "ftyp") {
        return std::nullopt;
    }
    const auto moov = mp4BoxIn(stream, 0, length, "moov");
    const auto udta = moov ? mp4BoxIn(stream, moov->payload, moov->end, "udta") : std::nullopt;
    const auto chpl = udta ? mp4BoxIn(stream, udta->payload, udta->end, "chpl") : std::nullopt;
    if (!chpl || chpl->end < chpl->payload + 9 ||
        readPartBytes(stream, chpl->payload, 1) != std::string(1, '\x01')) {
        return std::nullopt;
    }
    return chpl->payload + 4;
}

void writeMp4ChapterMark(std::fstream& stream, const fs::path& file, const PartChapterIds& ids) {
    const auto at = chapterMarkAt(stream, file);
    const auto mark = static_cast<char>(markOf(ids.cutAtEnd) << 4 | markOf(ids.cutAtStart));
    if (at && mark != 0) {
        writePartBytes(stream, *at, std::string(1, mark), file);
        stream.flush();
    }
}

}  // namespace

PartChapterIds partChapterUids(const std::vector<SourceChapter>& chapters, double from,
                               std::optional<double> to) {
    PartChapterIds ids;
    const auto inside = chaptersInPart(chapters, from, to);
    for (const std::size_t i : inside) {
        ids.uids.push_back(i + 1);
    }
    if (inside.empty()) {
        return ids;
    }
    const auto origin = wholeMilliseconds(from);
    const auto start = wholeMilliseconds(chapters[inside.front()].start);
    if (origin && start && *start < *origin) {
        ids.cutAtStart = inside.front() + 1;
    }
    const auto limit = to ? wholeMilliseconds(*to) : std::nullopt;
    const auto end = wholeMilliseconds(chapters[inside.back()].end);
    if (limit && end && *end > *limit) {
        ids.cutAtEnd = inside.back() + 1;
    }
    return ids;
}

void writePartChapterUids(const fs::path& file, const PartChapterIds& ids) {
    std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
    if (!stream) {
        throw fs::filesystem_error("cannot open the part", file,
                                   std::make_error_code(std::errc::io_error));
    }
    if (readPartBytes(stream, 0, 4) != "\x1A\x45\xDF\xA3") {
        writeMp4ChapterMark(stream, file, ids);
        return;
    }
    const auto& uids = ids.uids;
    for (const auto& segment : elementsIn(stream, 0, fs::file_size(file))) {
        if (segment.id != kSegment) {
            continue;
        }
        const auto level1 = elementsIn(stream, segment.data, segment.end());
        std::vector<Element> atoms;
        std::vector<Element> owners;  // each atom's element to refresh the CRC-32 of
        for (const auto& chapters : level1) {
            if (chapters.id == kChapters) {
                for (const auto& edition : childrenOf(stream, chapters, kEdition)) {
                    for (const auto& atom : childrenOf(stream, edition, kAtom)) {
                        atoms.push_back(atom);
                        owners.push_back(chapters);
                    }
                }
            }
        }
        if (atoms.size() != uids.size()) {
            return;
        }
        // ffmpeg writes each ID in as few bytes as it needs: the new one must fit there.
        std::vector<std::pair<Element, std::string>> fields;
        std::map<std::uint64_t, std::uint64_t> renamed;
        for (std::size_t i = 0; i < atoms.size(); ++i) {
            const auto uid = childrenOf(stream, atoms[i], kChapterUid);
            const auto bytes =
                uid.size() == 1 ? bigEndian(uids[i], uid.front().size) : std::nullopt;
            if (!bytes) {
                return;
            }
            renamed[unsignedIn(stream, uid.front())] = uids[i];
            fields.emplace_back(uid.front(), *bytes);
        }
        for (const auto& [field, bytes] : fields) {
            writePartBytes(stream, field.data, bytes, file);
        }
        for (const auto& chapters : level1) {
            if (chapters.id == kChapters) {
                refreshCrc(stream, chapters, file);
            }
        }
        for (const auto& tags : level1) {
            if (tags.id != kTags) {
                continue;
            }
            for (const auto& tag : childrenOf(stream, tags, kTag)) {
                for (const auto& targets : childrenOf(stream, tag, kTargets)) {
                    for (const auto& target : childrenOf(stream, targets, kTagChapterUid)) {
                        const auto found = renamed.find(unsignedIn(stream, target));
                        const auto bytes = found != renamed.end()
                                               ? bigEndian(found->second, target.size)
                                               : std::nullopt;
                        if (bytes) {
                            writePartBytes(stream, target.data, *bytes, file);
                        }
                    }
                }
            }
            refreshCrc(stream, tags, file);
        }
        stream.flush();
        return;
    }
}

void writeSplitPartChapterUids(const fs::path& file, const fs::path& output,
                               const PartChapterIds& ids) {
    rewriteFinishedPart(output, "mark the chapters of", "",
                        [&] { writePartChapterUids(file, ids); });
}

PartChapterCuts readPartChapterCuts(const fs::path& file) {
    try {
        std::fstream stream(file, std::ios::in | std::ios::binary);
        const auto at = stream ? chapterMarkAt(stream, file) : std::nullopt;
        const std::string mark = at ? readPartBytes(stream, *at, 1) : std::string();
        if (mark.size() == 1) {
            const auto bits = static_cast<std::uint8_t>(mark.front());
            return {static_cast<std::uint8_t>(bits & 0x0F), static_cast<std::uint8_t>(bits >> 4)};
        }
    } catch (const std::exception&) {
    }
    return {};
}

}  // namespace tavrolin
