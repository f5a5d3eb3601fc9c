#pragma once

#include <memory>
#include <mutex>

#include "transcription/SpeechRecognizerBackend.h"

namespace tavrolin {

// The speech recogniser of the speech module (PocketSphinx), which is loaded on the first call
// that needs it, so that the recogniser's libraries load only when the Transcribe page asks.
// Every call throws ModuleUnavailableError while the module is missing. Any thread.
class ModuleSpeechRecognizer final : public SpeechRecognizerBackend {
  public:
    std::vector<std::string> localeIdentifiers() const override;
    std::optional<std::string> equivalentLocale(std::string_view identifier) const override;
    std::unique_ptr<SpeechRecognition> prepare(const std::string& identifier) override;

  private:
    SpeechRecognizerBackend& backend() const;

    mutable std::mutex mutex_;
    mutable std::unique_ptr<SpeechRecognizerBackend> backend_;
};

inline constexpr const char* speechModuleFile = "libtavrolin-speech.so";
inline constexpr const char* speechModuleEntry = "tavrolin_create_speech_recognizer";
using SpeechModuleEntry = SpeechRecognizerBackend* (*)();

}  // namespace tavrolin
