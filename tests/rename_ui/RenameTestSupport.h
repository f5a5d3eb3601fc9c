#pragma once

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rename/BatchRenamer.h"
#include "rename/RenameViewModel.h"
#include "support/QtTestApplication.h"
#include "support/TempDir.h"

namespace tavtest {

// The real file system, counting listings (each plan lists the folder once), with moves that
// can be made to fail and listings that can be held until the test lets them go.
class ObservedFileManager : public tavrolin::LocalFileManager {
  public:
    std::vector<std::string> visibleNames(const std::filesystem::path& folder) override {
        std::unique_lock lock(mutex_);
        ++listings_;
        released_.wait(lock, [&] { return !holding_; });
        lock.unlock();
        return LocalFileManager::visibleNames(folder);
    }
    void moveItem(const std::filesystem::path& from, const std::filesystem::path& to) override {
        if (failsMoves) {
            throw std::filesystem::filesystem_error(
                "injected", to, std::error_code(EACCES, std::generic_category()));
        }
        LocalFileManager::moveItem(from, to);
    }
    int listings() {
        std::lock_guard lock(mutex_);
        return listings_;
    }
    void hold() {
        std::lock_guard lock(mutex_);
        holding_ = true;
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            holding_ = false;
        }
        released_.notify_all();
    }

    std::atomic<bool> failsMoves = false;

  private:
    std::mutex mutex_;
    std::condition_variable released_;
    int listings_ = 0;
    bool holding_ = false;
};

// A folder of episode files whose contents name them, and a workspace model on the real renamer.
struct RenameFixture {
    RenameFixture() { qtApplication(); }

    std::vector<std::filesystem::path> make(const std::vector<std::string>& names) {
        std::vector<std::filesystem::path> paths;
        for (const auto& name : names) {
            std::ofstream(folder / name) << name;
            paths.push_back(folder / name);
        }
        return paths;
    }
    // File name -> content of every visible file.
    std::map<std::string, std::string> contents() const {
        std::map<std::string, std::string> result;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
            std::ifstream stream(entry.path());
            result[entry.path().filename().string()] = {std::istreambuf_iterator<char>(stream), {}};
        }
        return result;
    }
    bool settle() {
        return waitUntil([&] { return !model->hasPendingWork(); });
    }

    TempDir folder;
    std::shared_ptr<ObservedFileManager> files = std::make_shared<ObservedFileManager>();
    std::unique_ptr<tavrolin::RenameViewModel> model = std::make_unique<tavrolin::RenameViewModel>(
        std::make_shared<tavrolin::BatchRenamer>(files));
};

}  // namespace tavtest
