#include "shell/SettingsModelServer.h"

#include "planning/LocalServerLanguageModel.h"
#include "widgets/GuardedTask.h"

namespace tavrolin {

namespace {

using Settings = LanguageModelServerSettings;

QString stored(const PreferencesStore* preferences, const char* key) {
    return preferences ? QString::fromStdString(preferences->string(key).value_or(std::string()))
                       : QString();
}

// Empty while the address is usable or not typed at all.
QString problemOf(const QString& address) {
    const std::string trimmed = address.trimmed().toStdString();
    return trimmed.empty() ? QString() : QString::fromStdString(Settings::addressProblem(trimmed));
}

// The environment's value, else `otherwise`.
QString fromEnvironment(const Settings::Environment& environment, const char* variable,
                        const QString& otherwise) {
    const auto value = environment ? environment(variable) : std::nullopt;
    return value ? QString::fromStdString(*value) : otherwise;
}

QString quoted(const std::string& text) {
    return QStringLiteral("\u201C") + QString::fromStdString(text) + QStringLiteral("\u201D");
}

}  // namespace

SettingsModelServer::SettingsModelServer(std::shared_ptr<PreferencesStore> preferences,
                                         Settings::Environment environment, QObject* parent)
    : QObject(parent),
      preferences_(std::move(preferences)),
      environment_(std::move(environment)),
      address_(stored(preferences_.get(), Settings::urlKey)),
      model_(stored(preferences_.get(), Settings::modelKey)),
      addressProblem_(problemOf(address_)) {
    // Typing pauses briefly between keys; one check per pause is enough.
    pause_.setSingleShot(true);
    pause_.setInterval(400);
    connect(&pause_, &QTimer::timeout, this, &SettingsModelServer::checkServer);
    checkServer();
}

SettingsModelServer::~SettingsModelServer() {
    checkTask_.request_stop();
}

QString SettingsModelServer::addressPlaceholder() const {
    return fromEnvironment(environment_, Settings::urlVariable,
                           QStringLiteral("http://127.0.0.1:8080"));
}

QString SettingsModelServer::modelPlaceholder() const {
    return fromEnvironment(environment_, Settings::modelVariable,
                           QStringLiteral("The model's name as the server lists it"));
}

QString SettingsModelServer::serverStatus() const {
    if (!addressProblem_.isEmpty()) {
        return {};
    }
    const QString address = checked_ ? QString::fromStdString(checked_->baseURL) : QString();
    switch (state_) {
        case State::notSet:
            return QStringLiteral(
                "Enter the address of a model server on this computer and the name of its model "
                "to create drafts from typed requests.");
        case State::checking:
            return QStringLiteral("Checking the model server at %1\u2026").arg(address);
        case State::listsModel:
            return QStringLiteral("The model server at %1 answers and offers %2.")
                .arg(address, quoted(checked_->model));
        case State::lacksModel:
            return QStringLiteral(
                       "The model server at %1 answers but does not offer %2. Check the model "
                       "name.")
                .arg(address, quoted(checked_->model));
        case State::noAnswer:
            return QStringLiteral(
                       "The model server at %1 does not answer. Start it, or change its address.")
                .arg(address);
        case State::unreadable:
            return unreadable_;
    }
    return {};
}

void SettingsModelServer::setAddress(const QString& address) {
    if (address == address_) {
        return;
    }
    address_ = address;
    addressProblem_ = problemOf(address);
    // An address that breaks the rule is never used: the key goes rather than keep an older one.
    store(Settings::urlKey, addressProblem_.isEmpty() ? address : QString());
    settingsEdited();
}

void SettingsModelServer::setModel(const QString& model) {
    if (model == model_) {
        return;
    }
    model_ = model;
    store(Settings::modelKey, model);
    settingsEdited();
}

void SettingsModelServer::store(const char* key, const QString& value) {
    if (!preferences_) {
        return;
    }
    const QString trimmed = value.trimmed();
    if (trimmed.isEmpty()) {
        preferences_->remove(key);
    } else {
        preferences_->setString(key, trimmed.toStdString());
    }
}

void SettingsModelServer::settingsEdited() {
    emit changed();
    pause_.start();
}

void SettingsModelServer::checkServer() {
    pause_.stop();
    checkTask_.request_stop();
    checkTask_ = std::stop_source();
    const quint64 generation = ++checkGeneration_;
    checked_ =
        preferences_ && environment_ ? Settings::read(*preferences_, environment_) : std::nullopt;
    if (!checked_) {
        state_ = State::notSet;
        emit changed();
        return;
    }
    state_ = State::checking;
    emit changed();
    runGuardedTask(
        this, checkPool_,
        [settings = *checked_, stop = checkTask_.get_token()] {
            return LocalServerLanguageModel::check(settings, std::chrono::seconds(3), stop);
        },
        [generation](SettingsModelServer& self,
                     const LocalServerLanguageModel::ServerCheck& answer) {
            if (generation != self.checkGeneration_) {
                return;  // the settings changed while the server was asked
            }
            using Answer = LocalServerLanguageModel::ServerCheck::Answer;
            switch (answer.answer) {
                case Answer::listsModel:
                    self.state_ = State::listsModel;
                    break;
                case Answer::lacksModel:
                    self.state_ = State::lacksModel;
                    break;
                case Answer::noAnswer:
                    self.state_ = State::noAnswer;
                    break;
                case Answer::unreadable:
                    self.state_ = State::unreadable;
                    self.unreadable_ = QString::fromStdString(answer.problem);
                    break;
            }
            emit self.changed();
        });
}

}  // namespace tavrolin
