#include "shell/FFmpegLicenseNotice.h"

#include "widgets/AppStyle.h"

namespace tavrolin {

namespace {

const QString privacySentence = QStringLiteral("Processing remains entirely on this computer.");

}  // namespace

QString ffmpegLicenseNotice(const std::optional<FFmpegBuildFacts>& facts,
                            const std::filesystem::path& ffmpeg, bool isBundled) {
    QString text;
    if (facts) {
        text = QStringLiteral("Tavrolin uses FFmpeg %1 (%2) under the %3 or later.")
                   .arg(QString::fromStdString(facts->version), toQString(ffmpeg),
                        QString::fromStdString(facts->licenceName()));
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
