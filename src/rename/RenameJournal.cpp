#include "rename/RenameJournal.h"

#include <charconv>

namespace tavrolin {

namespace {

constexpr std::string_view header = "tavrolin rename journal 1\n";

void appendEscaped(std::string& out, std::string_view name) {
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

std::optional<std::string> unescaped(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '%') {
            out += field[i];
            continue;
        }
        unsigned value = 0;
        if (i + 3 > field.size()) {
            return std::nullopt;
        }
        const auto result = std::from_chars(field.data() + i + 1, field.data() + i + 3, value, 16);
        if (result.ptr != field.data() + i + 3) {
            return std::nullopt;
        }
        out += static_cast<char>(value);
        i += 2;
    }
    return out;
}

template <typename Number>
bool readNumber(std::string_view field, Number& value) {
    const auto result = std::from_chars(field.data(), field.data() + field.size(), value);
    return result.ec == std::errc() && result.ptr == field.data() + field.size();
}

// A damaged journal must not lead a restore out of its folder.
bool isPlainFileName(const std::optional<std::string>& name) {
    return name && !name->empty() && *name != "." && *name != ".." &&
           name->find('/') == std::string::npos && name->find('\0') == std::string::npos;
}

std::vector<std::string_view> split(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (start <= line.size()) {
        const std::size_t end = std::min(line.find(' ', start), line.size());
        fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

}  // namespace

std::string renderRenameJournal(const std::vector<RenameJournalEntry>& entries) {
    std::string text(header);
    for (const auto& entry : entries) {
        text += std::to_string(entry.identity.device);
        text += ' ';
        text += std::to_string(entry.identity.inode);
        for (const std::string* name :
             {&entry.temporaryName, &entry.sourceName, &entry.destinationName}) {
            text += ' ';
            appendEscaped(text, *name);
        }
        text += '\n';
    }
    return text;
}

std::optional<std::vector<RenameJournalEntry>> parseRenameJournal(std::string_view text) {
    if (!text.starts_with(header) || !text.ends_with('\n')) {
        return std::nullopt;
    }
    text.remove_prefix(header.size());
    std::vector<RenameJournalEntry> entries;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const auto fields = split(text.substr(0, end));
        text.remove_prefix(end + 1);
        if (fields.size() != 5) {
            return std::nullopt;
        }
        RenameJournalEntry entry;
        auto temporary = unescaped(fields[2]);
        auto source = unescaped(fields[3]);
        auto destination = unescaped(fields[4]);
        if (!readNumber(fields[0], entry.identity.device) ||
            !readNumber(fields[1], entry.identity.inode) || !isPlainFileName(temporary) ||
            !isPlainFileName(source) || !isPlainFileName(destination)) {
            return std::nullopt;
        }
        entry.temporaryName = std::move(*temporary);
        entry.sourceName = std::move(*source);
        entry.destinationName = std::move(*destination);
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace tavrolin
