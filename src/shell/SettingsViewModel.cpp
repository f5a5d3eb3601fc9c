#include "shell/SettingsViewModel.h"

#include <QThreadPool>

#include "model/ErrorMessage.h"
#include "process/FFmpegVersion.h"
#include "shell/FFmpegLicenseNotice.h"
#include "shell/SettingsModelServer.h"
#include "widgets/AppStyle.h"
#include "widgets/BlockingFileWork.h"
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

// What the tools' search found, on a worker thread.
struct SettingsViewModel::Resolution {
    std::optional<FFmpegToolchain> toolchain;
    std::string error;
    bool isBundled = false;
};

SettingsViewModel::SettingsViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent),
      dependencies_(std::move(dependencies)),
      modelServer_(
          new SettingsModelServer(dependencies_.preferences, dependencies_.environment, this)),
      checks_(std::make_unique<BlockingFileWork>(this)) {
    status_ = QStringLiteral("Checking…");
    if (dependencies_.preferences) {
        customPath_ = QString::fromStdString(
            dependencies_.preferences->string(customFFmpegPathKey).value_or(std::string()));
    }
    refreshStatus();
}

SettingsViewModel::~SettingsViewModel() {
    licenseTask_.request_stop();
    choiceTask_.request_stop();
}

void SettingsViewModel::refreshStatus() {
    const quint64 generation = ++statusGeneration_;
    status_ = QStringLiteral("Checking…");
    isChecking_ = true;
    emit changed();
    const bool started = checks_->start([this, generation, locations = dependencies_.locations] {
        Resolution found;
        try {
            found.toolchain = FFmpegToolchain::resolve(locations);
            for (const auto& candidate : locations.bundledFFmpegCandidates) {
                found.isBundled = found.isBundled || samePath(candidate, found.toolchain->ffmpeg);
            }
        } catch (const std::exception& error) {
            found.error = error.what();
        }
        return [this, generation, found = std::move(found)] {
            if (generation == statusGeneration_) {
                showResolution(found);
            }
        };
    });
    if (!started) {
        showResolution({std::nullopt, "Tavrolin could not look for FFmpeg now. Try again.", false});
    }
}

void SettingsViewModel::showResolution(const Resolution& found) {
    isChecking_ = false;
    isAvailable_ = found.toolchain.has_value();
    status_ = found.toolchain ? QStringLiteral("Ready: ") + toQString(found.toolchain->ffmpeg)
                              : QString::fromStdString(found.error);
    usesBundledFFmpeg_ = found.isBundled;
    emit changed();
    if (found.toolchain) {
        readLicense(found.toolchain->ffmpeg, usesBundledFFmpeg_);
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
    choiceTask_.request_stop();
    choiceTask_ = std::stop_source();
    const quint64 generation = ++choiceGeneration_;
    choiceNote_ = QStringLiteral("Checking ") + QString::fromStdString(quotedName(executable)) +
                  QStringLiteral("…");
    choiceRefused_ = false;
    emit changed();
    const bool started =
        checks_->start([this, generation, executable, runner = dependencies_.runner,
                        stop = choiceTask_.get_token()] {
            std::optional<std::string> problem;
            if (runner) {
                problem = ffmpegChoiceProblem(*runner, executable, stop);
            }
            return [this, generation, executable, problem = std::move(problem)] {
                if (generation != choiceGeneration_) {
                    return;
                }
                if (problem) {
                    choiceNote_ = QString::fromStdString(*problem);
                    choiceRefused_ = true;
                    emit changed();
                } else {
                    useChoice(executable);
                }
            };
        });
    if (!started) {
        choiceNote_ = QStringLiteral("Tavrolin could not check ") +
                      QString::fromStdString(quotedName(executable)) +
                      QStringLiteral(" now. Try again.");
        choiceRefused_ = true;
        emit changed();
    }
}

void SettingsViewModel::useChoice(const std::filesystem::path& executable) {
    choiceNote_.clear();
    choiceRefused_ = false;
    customPath_ = toQString(executable);
    if (dependencies_.preferences) {
        dependencies_.preferences->setString(customFFmpegPathKey, executable.string());
    }
    refreshStatus();
}

void SettingsViewModel::useAutomaticLocation() {
    // A choice still being checked is given up.
    ++choiceGeneration_;
    choiceTask_.request_stop();
    choiceNote_.clear();
    choiceRefused_ = false;
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
