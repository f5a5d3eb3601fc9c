#pragma once

#include <QSettings>
#include <QString>
#include <mutex>

#include "model/PreferencesStore.h"

namespace tavrolin {

// The application's settings in QSettings (organisation and application "Tavrolin"). One
// QSettings object behind a mutex, so any thread may read or write.
class QtPreferencesStore : public PreferencesStore {
  public:
    // The user's settings file of the application.
    QtPreferencesStore();
    // An INI file of its own (tests).
    explicit QtPreferencesStore(const QString& iniFile);

    std::optional<std::string> string(const std::string& key) const override;
    void setString(const std::string& key, const std::string& value) override;
    void remove(const std::string& key) override;
    // Writes pending changes to disk.
    void sync();

  private:
    mutable std::mutex mutex_;
    mutable QSettings settings_;
};

}  // namespace tavrolin
