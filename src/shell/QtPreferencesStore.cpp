#include "shell/QtPreferencesStore.h"

namespace tavrolin {

QtPreferencesStore::QtPreferencesStore()
    : settings_(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tavrolin"),
                QStringLiteral("Tavrolin")) {}

QtPreferencesStore::QtPreferencesStore(const QString& iniFile)
    : settings_(iniFile, QSettings::IniFormat) {}

std::optional<std::string> QtPreferencesStore::string(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const QVariant value = settings_.value(QString::fromStdString(key));
    if (!value.isValid()) {
        return std::nullopt;
    }
    return value.toString().toStdString();
}

void QtPreferencesStore::setString(const std::string& key, const std::string& value) {
    std::lock_guard lock(mutex_);
    settings_.setValue(QString::fromStdString(key), QString::fromStdString(value));
}

void QtPreferencesStore::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    settings_.remove(QString::fromStdString(key));
}

void QtPreferencesStore::sync() {
    std::lock_guard lock(mutex_);
    settings_.sync();
}

}  // namespace tavrolin
