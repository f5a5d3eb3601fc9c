#pragma once

#include <filesystem>
#include <memory>

#include "model/PreferencesStore.h"
#include "shell/TavrolinApp.h"

namespace tavtest {

// The application as window tests build it: preferences in memory, downloads into `downloads`,
// no updater.
inline tavrolin::TavrolinApp::Configuration appConfiguration(
    const std::filesystem::path& downloads) {
    tavrolin::TavrolinApp::Configuration configuration;
    configuration.preferences = std::make_shared<tavrolin::InMemoryPreferencesStore>();
    configuration.downloadFolder = QString::fromStdString(downloads.string());
    configuration.startsUpdater = false;
    return configuration;
}

}  // namespace tavtest
