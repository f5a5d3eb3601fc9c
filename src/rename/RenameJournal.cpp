#include "rename/RenameJournal.h"

#include <algorithm>
#include <charconv>
#include <set>
#include <unordered_set>

#include "model/Uuid.h"

namespace tavrolin {

namespace {

constexpr std::string_view firstHeader = "tavrolin rename journal 1\n";
constexpr std::string_view header = "tavrolin rename journal 2\n";
constexpr std::string_view countLabel = "entries ";
constexpr std::string_view checksumLabel = "checksum ";

// FNV-1a: enough to tell a torn or edited journal from a whole one.
std::uint64_t checksumOf(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

template <typename Number>
bool readNumber(std::string_view field, Number& value, int base = 10) {
    const auto result = std::from_chars(field.data(), field.data() + field.size(), value, base);
    return !field.empty() && result.ec == std::errc() && result.ptr == field.data() + field.size();
}

// A damaged journal must not lead a restore out of its folder.
bool isPlainFileName(const std::optional<std::string>& name) {
    return name && !name->empty() && *name != "." && *name != ".." &&
           name->find('/') == std::string::npos && name->find('\0') == std::string::npos;
}

std::vector<std::string_view> split(std::string_view line, char separator) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (start <= line.size()) {
        const std::size_t end = std::min(line.find(separator, start), line.size());
        fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

std::optional<RenameJournalEntry> parseEntry(std::string_view line, bool withStamp) {
    const auto fields = split(line, ' ');
    const std::size_t names = withStamp ? 4 : 2;
    if (fields.size() != names + 3) {
        return std::nullopt;
    }
    RenameJournalEntry entry;
    auto& print = entry.fingerprint;
    if (!readNumber(fields[0], print.identity.device) ||
        !readNumber(fields[1], print.identity.inode)) {
        return std::nullopt;
    }
    if (withStamp) {
        std::uint64_t size = 0;
        std::int64_t modified = 0;
        if (!readNumber(fields[2], size) || !readNumber(fields[3], modified)) {
            return std::nullopt;
        }
        print.size = size;
        print.modifiedNanoseconds = modified;
    }
    auto temporary = unescapedName(fields[names]);
    auto source = unescapedName(fields[names + 1]);
    auto destination = unescapedName(fields[names + 2]);
    if (!isPlainFileName(temporary) || !isRenameTemporaryName(*temporary) ||
        !isPlainFileName(source) || !isPlainFileName(destination) || *source == *destination) {
        return std::nullopt;
    }
    entry.temporaryName = std::move(*temporary);
    entry.sourceName = std::move(*source);
    entry.destinationName = std::move(*destination);
    return entry;
}

// One temporary name, one old and one new name per entry: a journal that repeats any would move
// one file twice or hide one under another's name. Entries may share a file identity: older
// versions renamed hard links of one file together, and each name is still restored on its own.
bool namesEachFileOnce(const std::vector<RenameJournalEntry>& entries) {
    std::unordered_set<std::string_view> temporaries, sources, destinations;
    for (const auto& entry : entries) {
        if (!temporaries.insert(entry.temporaryName).second ||
            !sources.insert(entry.sourceName).second ||
            !destinations.insert(entry.destinationName).second) {
            return false;
        }
    }
    return std::none_of(entries.begin(), entries.end(), [&](const RenameJournalEntry& entry) {
        return sources.contains(entry.temporaryName) || destinations.contains(entry.temporaryName);
    });
}

std::optional<std::vector<RenameJournalEntry>> parseLines(std::string_view body, bool withStamp) {
    std::vector<RenameJournalEntry> entries;
    while (!body.empty()) {
        const std::size_t end = body.find('\n');
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        auto entry = parseEntry(body.substr(0, end), withStamp);
        if (!entry) {
            return std::nullopt;
        }
        entries.push_back(std::move(*entry));
        body.remove_prefix(end + 1);
    }
    if (!namesEachFileOnce(entries)) {
        return std::nullopt;
    }
    return entries;
}

}  // namespace

bool confirmsFingerprint(const FileFingerprint& recorded, const FileFingerprint& found,
                         bool strictly) {
    if (!recorded.size && !recorded.modifiedNanoseconds) {
        return recorded.identity == found.identity;  // nothing else can vouch for the file
    }
    if (recorded.size && recorded.size != found.size) {
        return false;
    }
    if (recorded.modifiedNanoseconds && recorded.modifiedNanoseconds != found.modifiedNanoseconds) {
        return false;
    }
    return !strictly || recorded.identity.device != found.identity.device ||
           recorded.identity.inode == found.identity.inode;
}

bool isRenameTemporaryName(std::string_view name) {
    const auto rest = textAfterPrefixedUuid(name, renameTemporaryPrefix);
    return rest && (rest->empty() || rest->front() == '.');
}

void appendEscapedName(std::string& out, std::string_view name) {
    static constexpr char hex[] = "0123456789ABCDEF";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || c == '%') {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        } else {
            out += c;
        }
    }
}

std::optional<std::string> unescapedName(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '%') {
            out += field[i];
            continue;
        }
        unsigned value = 0;
        if (i + 3 > field.size() || !readNumber(field.substr(i + 1, 2), value, 16)) {
            return std::nullopt;
        }
        out += static_cast<char>(value);
        i += 2;
    }
    return out;
}

std::string renderRenameJournal(const std::vector<RenameJournalEntry>& entries) {
    std::string text(header);
    text += countLabel;
    text += std::to_string(entries.size());
    text += '\n';
    for (const auto& entry : entries) {
        const auto& print = entry.fingerprint;
        for (const auto& number :
             {std::to_string(print.identity.device), std::to_string(print.identity.inode),
              std::to_string(print.size.value_or(0)),
              std::to_string(print.modifiedNanoseconds.value_or(0))}) {
            text += number;
            text += ' ';
        }
        appendEscapedName(text, entry.temporaryName);
        for (const std::string* name : {&entry.sourceName, &entry.destinationName}) {
            text += ' ';
            appendEscapedName(text, *name);
        }
        text += '\n';
    }
    char digits[16];
    const std::uint64_t checksum = checksumOf(text);
    const auto end = std::to_chars(std::begin(digits), std::end(digits), checksum, 16).ptr;
    text += checksumLabel;
    text.append(16 - static_cast<std::size_t>(end - digits), '0');
    text.append(digits, end);
    text += '\n';
    return text;
}

std::optional<RenameJournal> parseRenameJournal(std::string_view text) {
    if (text.starts_with(firstHeader) && text.ends_with('\n')) {
        auto entries = parseLines(text.substr(firstHeader.size()), false);
        if (!entries) {
            return std::nullopt;
        }
        return RenameJournal{std::move(*entries), false};
    }
    // The checksum line is the last one, and covers every byte before it.
    const std::size_t checksumAt = text.rfind(checksumLabel);
    if (!text.starts_with(header) || !text.ends_with('\n') ||
        checksumAt == std::string_view::npos || text[checksumAt - 1] != '\n') {
        return std::nullopt;
    }
    std::uint64_t checksum = 0;
    const std::string_view digits = text.substr(
        checksumAt + checksumLabel.size(), text.size() - 1 - checksumAt - checksumLabel.size());
    if (digits.size() != 16 || !readNumber(digits, checksum, 16) ||
        checksum != checksumOf(text.substr(0, checksumAt))) {
        return std::nullopt;
    }
    std::string_view body = text.substr(header.size(), checksumAt - header.size());
    const std::size_t countEnd = body.find('\n');
    std::size_t count = 0;
    if (!body.starts_with(countLabel) || countEnd == std::string_view::npos ||
        !readNumber(body.substr(countLabel.size(), countEnd - countLabel.size()), count)) {
        return std::nullopt;
    }
    auto entries = parseLines(body.substr(countEnd + 1), true);
    if (!entries || entries->size() != count) {
        return std::nullopt;
    }
    return RenameJournal{std::move(*entries), true};
}

}  // namespace tavrolin
