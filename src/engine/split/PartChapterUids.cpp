#include "engine/split/PartChapterUids.h"

#include <fstream>
#include <map>
#include <string>
#include <system_error>

#include "engine/MillisecondTime.h"
#include "engine/split/MatroskaElements.h"
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

}  // namespace

std::vector<std::uint64_t> partChapterUids(const std::vector<SourceChapter>& chapters, double from,
                                           std::optional<double> to) {
    std::vector<std::uint64_t> uids;
    for (const std::size_t i : chaptersInPart(chapters, from, to)) {
        uids.push_back(i + 1);
    }
    return uids;
}

void writePartChapterUids(const fs::path& file, const std::vector<std::uint64_t>& uids) {
    std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
    if (!stream) {
        throw fs::filesystem_error("cannot open the part", file,
                                   std::make_error_code(std::errc::io_error));
    }
    if (readPartBytes(stream, 0, 4) != "\x1A\x45\xDF\xA3") {
        return;  // not Matroska
    }
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
                               const std::vector<std::uint64_t>& uids) {
    rewriteFinishedPart(output, "mark the chapters of", "",
                        [&] { writePartChapterUids(file, uids); });
}

}  // namespace tavrolin
