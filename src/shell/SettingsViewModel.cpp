#include "shell/SettingsViewModel.h"

#include <QThreadPool>

#include "shell/FFmpegLicenseNotice.h"
#include "shell/SettingsModelServer.h"
#include "widgets/AppStyle.h"
#include "widgets/GuardedTask.h"

namespace tavrolin {

namespace {

bool samePath(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error)) {
        return true;
    }
    return a.lexically_normal() == b.lexically_normal();
}

}  // namespace

SettingsViewModel::SettingsViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent),
      dependencies_(std::move(dependencies)),
      modelServer_(
          new SettingsModelServer(dependencies_.preferences, dependencies_.environment, this)) {
    status_ = QStringLiteral("Checking…");
    if (dependencies_.preferences) {
        customPath_ = QString::fromStdString(
            dependencies_.preferences->string(customFFmpegPathKey).value_or(std::string()));
    }
    refreshStatus();
}

SettingsViewModel::~SettingsViewModel() {
    licenseTask_.request_stop();
}

void SettingsViewModel::refreshStatus() {
    std::optional<FFmpegToolchain> toolchain;
    try {
        toolchain = FFmpegToolchain::resolve(dependencies_.locations);
        isAvailable_ = true;
        status_ = QStringLiteral("Ready: ") + toQString(toolchain->ffmpeg);
    } catch (const std::exception& error) {
        isAvailable_ = false;
        status_ = QString::fromStdString(error.what());
    }
    usesBundledFFmpeg_ = false;
    if (toolchain) {
        for (const auto& candidate : dependencies_.locations.bundledFFmpegCandidates) {
            if (samePath(candidate, toolchain->ffmpeg)) {
                usesBundledFFmpeg_ = true;
            }
        }
    }
    emit changed();
    if (toolchain) {
        readLicense(toolchain->ffmpeg, usesBundledFFmpeg_);
    } else {
        licenseTask_.request_stop();
        ++licenseGeneration_;
        licenseNotice_ = ffmpegMissingNotice();
        emit changed();
    }
}

void SettingsViewModel::readLicense(const std::filesystem::path& ffmpeg, bool isBundled) {
    licenseTask_.request_stop();
    licenseTask_ = std::stop_source();
    const quint64 generation = ++licenseGeneration_;
    auto runner = dependencies_.runner;
    if (!runner) {
        return;
    }
    runGuardedTask(
        this, licensePool_,
        [runner, ffmpeg, isBundled, stop = licenseTask_.get_token()]() -> std::optional<QString> {
            const auto facts = askFFmpegVersion(*runner, ffmpeg, stop);
            if (stop.stop_requested()) {
                return std::nullopt;
            }
            return ffmpegLicenseNotice(facts, ffmpeg, isBundled);
        },
        [generation](SettingsViewModel& self, std::optional<QString> notice) {
            if (notice && self.licenseGeneration_ == generation) {
                self.licenseNotice_ = *notice;
                emit self.changed();
            }
        });
}

void SettingsViewModel::chooseFFmpeg(const std::filesystem::path& executable) {
    customPath_ = toQString(executable);
    if (dependencies_.preferences) {
        dependencies_.preferences->setString(customFFmpegPathKey, executable.string());
    }
    refreshStatus();
}

void SettingsViewModel::useAutomaticLocation() {
    customPath_.clear();
    if (dependencies_.preferences) {
        dependencies_.preferences->remove(customFFmpegPathKey);
    }
    refreshStatus();
}

QUrl SettingsViewModel::licenseURL() const {
    const auto& file =
        usesBundledFFmpeg_ ? dependencies_.bundledNotice : dependencies_.systemNotice;
    if (file.empty()) {
        return {};
    }
    return QUrl::fromLocalFile(toQString(file));
}

void SettingsViewModel::openFFmpegLicense() {
    const QUrl url = licenseURL();
    if (!url.isEmpty() && dependencies_.openURL) {
        dependencies_.openURL(url);
    }
}

}  // namespace tavrolin
