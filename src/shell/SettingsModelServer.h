#pragma once

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>
#include <memory>
#include <stop_token>

#include "model/PreferencesStore.h"
#include "planning/LanguageModelServerSettings.h"

namespace tavrolin {

// The local model server as Settings edits it: the address and the model name, the address
// checked against the loopback rule as the user types, and whether the server answers. A valid
// edit is stored at once; an empty field, or an address that breaks the rule, removes its key,
// so the environment variable applies again. The server is asked off the GUI thread a
// moment after the last edit; an answer for older settings is dropped. GUI thread only.
class SettingsModelServer : public QObject {
    Q_OBJECT
  public:
    enum class State { notSet, checking, listsModel, lacksModel, noAnswer, unreadable };

    SettingsModelServer(std::shared_ptr<PreferencesStore> preferences,
                        LanguageModelServerSettings::Environment environment,
                        QObject* parent = nullptr);
    ~SettingsModelServer() override;

    QString address() const { return address_; }
    QString model() const { return model_; }
    // What an empty field stands for: the environment's value, else an example.
    QString addressPlaceholder() const;
    QString modelPlaceholder() const;
    // Empty while the typed address is usable or empty.
    QString addressProblem() const { return addressProblem_; }
    State state() const { return state_; }
    // One sentence about the server in use; empty while the address has a problem.
    QString serverStatus() const;

    void setAddress(const QString& address);
    void setModel(const QString& model);
    // Asks the server now, for the settings in effect.
    void checkServer();

  signals:
    void changed();

  private:
    void store(const char* key, const QString& value);
    void settingsEdited();

    std::shared_ptr<PreferencesStore> preferences_;
    LanguageModelServerSettings::Environment environment_;
    QString address_;
    QString model_;
    QString addressProblem_;
    std::optional<LanguageModelServerSettings> checked_;
    State state_ = State::notSet;
    QString unreadable_;  // the sentence for an answer Tavrolin can't read
    QTimer pause_;
    std::stop_source checkTask_;
    quint64 checkGeneration_ = 0;
    // Declared last: destroyed first, joining a check that the stop has ended.
    QThreadPool checkPool_;
};

}  // namespace tavrolin
