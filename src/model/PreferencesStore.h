#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace tavrolin {

// Key-value settings ("customFFmpegPath", "lastWorkspaceSection", ...). Implementations are
// safe to call from any thread.
class PreferencesStore {
  public:
    virtual ~PreferencesStore() = default;
    virtual std::optional<std::string> string(const std::string& key) const = 0;
    virtual void setString(const std::string& key, const std::string& value) = 0;
    virtual void remove(const std::string& key) = 0;
};

// In memory: for tests and for code that runs without the application's settings.
class InMemoryPreferencesStore : public PreferencesStore {
  public:
    std::optional<std::string> string(const std::string& key) const override {
        std::lock_guard lock(mutex_);
        auto it = values_.find(key);
        if (it == values_.end()) {
            return std::nullopt;
        }
        return it->second;
    }
    void setString(const std::string& key, const std::string& value) override {
        std::lock_guard lock(mutex_);
        values_[key] = value;
    }
    void remove(const std::string& key) override {
        std::lock_guard lock(mutex_);
        values_.erase(key);
    }

  private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> values_;
};

}  // namespace tavrolin
