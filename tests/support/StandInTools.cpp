#include "support/StandInTools.h"

#include <fstream>
#include <memory>

#include "model/PreferencesStore.h"

namespace tavtest {

namespace fs = std::filesystem;

fs::path writeScript(const fs::path& path, const std::string& body) {
    fs::remove(path);
    std::ofstream(path) << "#!/bin/bash\n" << body;
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

tavrolin::ToolLocations standInTools(const fs::path& folder, const std::string& ffmpegBody,
                                     const std::string& ffprobeBody) {
    fs::create_directories(folder);
    writeScript(folder / "ffmpeg", ffmpegBody);
    if (ffprobeBody.empty()) {
        fs::remove(folder / "ffprobe");
        fs::create_symlink("/usr/bin/ffprobe", folder / "ffprobe");
    } else {
        writeScript(folder / "ffprobe", ffprobeBody);
    }
    auto preferences = std::make_shared<tavrolin::InMemoryPreferencesStore>();
    preferences->setString("customFFmpegPath", (folder / "ffmpeg").string());
    tavrolin::ToolLocations locations;
    locations.preferences = std::move(preferences);
    return locations;
}

}  // namespace tavtest
