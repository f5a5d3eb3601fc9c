// The speech module's entry point: the program opens it on first use, so that PocketSphinx
// loads only when transcription needs it.
#include <type_traits>

#include "transcription/PocketSphinxRecognizer.h"
#include "transcription/SpeechRecognizerModule.h"

extern "C" tavrolin::SpeechRecognizerBackend* tavrolin_create_speech_recognizer() {
    return new tavrolin::PocketSphinxRecognizer();
}

static_assert(
    std::is_same_v<decltype(&tavrolin_create_speech_recognizer), tavrolin::SpeechModuleEntry>);
