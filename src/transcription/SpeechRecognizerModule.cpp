#include "transcription/SpeechRecognizerModule.h"

#include "process/ModuleLoader.h"
#include "process/StartupGate.h"

namespace tavrolin {

SpeechRecognizerBackend& ModuleSpeechRecognizer::backend() const {
    const std::lock_guard lock(mutex_);
    if (!backend_) {
        // The Transcribe page checks its languages as it is made; not before the window shows.
        StartupGate::wait();
        const auto create = reinterpret_cast<SpeechModuleEntry>(
            moduleEntry("Transcription", speechModuleFile, speechModuleEntry));
        backend_.reset(create());
    }
    return *backend_;
}

std::vector<std::string> ModuleSpeechRecognizer::localeIdentifiers() const {
    return backend().localeIdentifiers();
}

std::optional<std::string> ModuleSpeechRecognizer::equivalentLocale(
    std::string_view identifier) const {
    return backend().equivalentLocale(identifier);
}

std::unique_ptr<SpeechRecognition> ModuleSpeechRecognizer::prepare(const std::string& identifier) {
    return backend().prepare(identifier);
}

}  // namespace tavrolin
