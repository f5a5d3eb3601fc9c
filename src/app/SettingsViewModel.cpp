#include "app/SettingsViewModel.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

#include "app/AppStyle.h"
#include "app/FFmpegLicenseNotice.h"

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
    : QObject(parent), dependencies_(std::move(dependencies)) {
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
    QPointer<SettingsViewModel> self(this);
    auto runner = dependencies_.runner;
    if (!runner) {
        return;
    }
    QThreadPool::globalInstance()->start(
        [self, runner, ffmpeg, isBundled, generation, stop = licenseTask_.get_token()] {
            const auto facts = askFFmpegVersion(*runner, ffmpeg, stop);
            if (stop.stop_requested()) {
                return;
            }
            const QString notice = ffmpegLicenseNotice(facts, ffmpeg, isBundled);
            // Delivered through the application object: `self` is only looked at on the GUI
            // thread, where it is cleared when the view model is gone.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, generation, notice] {
                    if (self && self->licenseGeneration_ == generation) {
                        self->licenseNotice_ = notice;
                        emit self->changed();
                    }
                },
                Qt::QueuedConnection);
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
