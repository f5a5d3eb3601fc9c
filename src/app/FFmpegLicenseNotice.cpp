#include "app/FFmpegLicenseNotice.h"

#include "app/AppStyle.h"

namespace tavrolin {

namespace {

const QString privacySentence = QStringLiteral("Processing remains entirely on this computer.");

bool hasOption(std::string_view line, std::string_view option) {
    std::size_t at = 0;
    while ((at = line.find(option, at)) != std::string_view::npos) {
        const std::size_t end = at + option.size();
        const bool startsWord = at == 0 || line[at - 1] == ' ';
        const bool endsWord = end == line.size() || line[end] == ' ' || line[end] == '\r';
        if (startsWord && endsWord) {
            return true;
        }
        at = end;
    }
    return false;
}

}  // namespace

QString FFmpegBuildFacts::licenceName() const {
    if (isGPL) {
        return isVersion3 ? QStringLiteral("GPL version 3") : QStringLiteral("GPL 2");
    }
    return isVersion3 ? QStringLiteral("LGPL version 3") : QStringLiteral("LGPL 2.1");
}

std::optional<FFmpegBuildFacts> parseFFmpegVersionOutput(std::string_view output) {
    constexpr std::string_view marker = "ffmpeg version ";
    std::optional<FFmpegBuildFacts> facts;
    std::size_t lineStart = 0;
    while (lineStart < output.size()) {
        std::size_t lineEnd = output.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) {
            lineEnd = output.size();
        }
        std::string_view line = output.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        if (!facts && line.starts_with(marker)) {
            std::string_view rest = line.substr(marker.size());
            const std::size_t space = rest.find_first_of(" \r");
            facts.emplace();
            facts->version = std::string(rest.substr(0, space));
        } else if (facts && line.starts_with("configuration:")) {
            facts->isGPL = hasOption(line, "--enable-gpl");
            facts->isVersion3 = hasOption(line, "--enable-version3");
        }
    }
    if (facts && facts->version.empty()) {
        return std::nullopt;
    }
    return facts;
}

QString ffmpegLicenseNotice(const std::optional<FFmpegBuildFacts>& facts,
                            const std::filesystem::path& ffmpeg, bool isBundled) {
    QString text;
    if (facts) {
        text = QStringLiteral("Tavrolin uses FFmpeg %1 (%2) under the %3 or later.")
                   .arg(QString::fromStdString(facts->version), toQString(ffmpeg),
                        facts->licenceName());
    } else {
        text = QStringLiteral("Tavrolin uses FFmpeg (%1).").arg(toQString(ffmpeg));
    }
    if (isBundled) {
        text += QStringLiteral(
            " Its corresponding source and license notices are included with the app.");
    }
    return text + u' ' + privacySentence;
}

QString ffmpegMissingNotice() {
    return privacySentence;
}

}  // namespace tavrolin
