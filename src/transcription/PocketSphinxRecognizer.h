#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transcription/SpeechRecognizerBackend.h"

namespace tavrolin {

// The speech recogniser on PocketSphinx. Each folder under the model root in the Debian layout
// (<root>/en-us holding the acoustic model en-us/, the language model en-us.lm.bin and a
// pronunciation dictionary *.dict) is one locale, named by its folder ("en-us" is en-US).
//
// A decode feeds 128 ms chunks to one decoder, ends an utterance at the quietest 100 ms once it
// is past 20 s and at 30 s at the latest (long utterances get slow and lose their times), and
// reports each utterance's words with times from the segment frames and confidences from the
// segment posteriors; silence and noise markers are dropped, "(2)" pronunciation marks removed.
// The library's own log is off. Thread-safe for the locale queries and prepare.
class PocketSphinxRecognizer final : public SpeechRecognizerBackend {
  public:
    static constexpr double preferredUtteranceSeconds = 20;
    static constexpr double maximumUtteranceSeconds = 30;
    static constexpr std::size_t chunkSamples = 2048;  // 128 ms

    explicit PocketSphinxRecognizer(std::filesystem::path modelRoot = defaultModelRoot());

    // /usr/share/pocketsphinx/model
    static std::filesystem::path defaultModelRoot();

    std::vector<std::string> localeIdentifiers() const override;
    std::optional<std::string> equivalentLocale(std::string_view identifier) const override;
    std::unique_ptr<SpeechRecognition> prepare(const std::string& identifier) override;

  private:
    struct ModelFolder {
        std::string identifier;
        std::filesystem::path acousticModel;
        std::filesystem::path languageModel;
        std::filesystem::path dictionary;
    };
    std::vector<ModelFolder> modelFolders() const;

    const std::filesystem::path modelRoot_;
};

}  // namespace tavrolin
