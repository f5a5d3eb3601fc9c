#include "engine/ContainerPropertyLoss.h"

#include <algorithm>
#include <array>

namespace tavrolin {

namespace {

// The ISO 639-2 codes a MOV copy keeps, found by writing every code with FFmpeg 5.1 and reading
// it back: the classic QuickTime language list, in whichever of the bibliographic or
// terminology forms that list spells (so "ger" stays and "deu" goes).
constexpr std::array<std::string_view, 94> movLanguages{
    "alb", "amh", "ara", "arm", "asm", "aym", "aze", "baq", "bel", "ben", "bul", "bur",
    "cat", "ces", "chi", "dan", "dut", "dzo", "eng", "epo", "est", "fin", "fra", "geo",
    "ger", "gre", "grn", "guj", "heb", "hin", "hun", "ice", "ind", "ita", "jav", "jpn",
    "kan", "kas", "kaz", "khm", "kin", "kir", "kor", "kur", "lao", "lat", "lav", "lit",
    "mac", "mal", "mar", "may", "mlg", "mlt", "mon", "nep", "nor", "nya", "ori", "orm",
    "per", "pol", "por", "pus", "que", "ron", "run", "rus", "san", "sin", "slk", "slv",
    "smi", "snd", "som", "spa", "swa", "tam", "tat", "tel", "tgk", "tgl", "tha", "tib",
    "tir", "tuk", "tur", "uig", "ukr", "urd", "uzb", "vie", "wel", "yid"};

bool isMatroska(OutputContainer container) {
    return container == OutputContainer::mkv || container == OutputContainer::webm;
}

std::string curlyQuoted(std::string_view text) {
    return "\u201C" + std::string(text) + "\u201D";
}

std::string streamLabel(const MediaStream& stream) {
    return "#" + std::to_string(stream.index) + " " + std::string(rawValue(stream.kind));
}

std::string counted(std::size_t count, const std::string& one, const std::string& many) {
    return count == 1 ? one : std::to_string(count) + " " + many;
}

}  // namespace

bool ContainerPropertyLoss::keepsLanguage(OutputContainer container, std::string_view language) {
    if (isMatroska(container)) {
        return true;
    }
    if (container == OutputContainer::mov) {
        return std::ranges::find(movLanguages, language) != movLanguages.end();
    }
    // An MP3 file's tags are the file's, none a stream's.
    if (container == OutputContainer::mp3) {
        return false;
    }
    // The MP4 family stores three lower-case letters only: "en", "en-US" and "ENG" are dropped.
    return language.size() == 3 &&
           std::ranges::all_of(language, [](char c) { return c >= 'a' && c <= 'z'; });
}

bool ContainerPropertyLoss::keepsTitles(OutputContainer container) {
    return isMatroska(container);
}

bool ContainerPropertyLoss::keepsForcedFlag(OutputContainer container) {
    return container != OutputContainer::mov && container != OutputContainer::mp3;
}

std::vector<PropertyLoss> ContainerPropertyLoss::losses(const std::vector<MediaStream>& streams,
                                                        const ChapterEditions& chapters,
                                                        OutputContainer container) {
    const std::string name = displayName(container);
    std::vector<PropertyLoss> lost;
    for (const auto& stream : streams) {
        const auto label = streamLabel(stream);
        // "und" says no more than no language at all.
        if (stream.language && !stream.language->empty() && *stream.language != "und" &&
            !keepsLanguage(container, *stream.language)) {
            lost.push_back({PropertyLoss::Kind::language, stream.index,
                            label + ": " + name + " cannot store the language " +
                                curlyQuoted(*stream.language) + "."});
        }
        if (stream.title && !stream.title->empty() && !keepsTitles(container)) {
            lost.push_back({PropertyLoss::Kind::title, stream.index,
                            label + ": " + name + " cannot store the title " +
                                curlyQuoted(*stream.title) + "."});
        }
        if (stream.isForced && !keepsForcedFlag(container)) {
            lost.push_back({PropertyLoss::Kind::forcedFlag, stream.index,
                            label + ": " + name + " cannot keep it marked as forced."});
        }
    }
    if (chapters.ordered) {
        lost.push_back({PropertyLoss::Kind::chapterOrder, std::nullopt,
                        "Chapters: the copy keeps the marks but not their order, so it plays "
                        "from start to end, with the parts the order skips."});
    }
    if (chapters.linksOtherSegments) {
        lost.push_back({PropertyLoss::Kind::segmentLinks, std::nullopt,
                        "Chapters: the chapters that play part of another file are left out."});
    }
    return lost;
}

std::string ContainerPropertyLoss::inventory(const std::vector<PropertyLoss>& losses) {
    const auto count = [&](PropertyLoss::Kind kind) {
        return static_cast<std::size_t>(std::ranges::count(losses, kind, &PropertyLoss::kind));
    };
    std::vector<std::string> parts;
    if (const auto n = count(PropertyLoss::Kind::language)) {
        parts.push_back(counted(n, "a language", "languages"));
    }
    if (const auto n = count(PropertyLoss::Kind::title)) {
        parts.push_back(counted(n, "a title", "titles"));
    }
    if (const auto n = count(PropertyLoss::Kind::forcedFlag)) {
        parts.push_back(counted(n, "a forced flag", "forced flags"));
    }
    if (count(PropertyLoss::Kind::chapterOrder) > 0) {
        parts.push_back("the chapters' order");
    }
    if (count(PropertyLoss::Kind::segmentLinks) > 0) {
        parts.push_back("the chapters from other files");
    }
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    }
    return text;
}

}  // namespace tavrolin
