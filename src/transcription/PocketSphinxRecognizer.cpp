#include "transcription/PocketSphinxRecognizer.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <mutex>
#include <set>
#include <stdexcept>

#include "transcription/SpeechPauseFinder.h"
#include "transcription/TranscriptionLocales.h"
#include "transcription/WaveFileReader.h"

namespace tavrolin {

namespace fs = std::filesystem;

namespace {

constexpr double framesPerSecond = 100;

// Process-wide and set once: a "-logfn" per decoder would swap the library's global log file
// under a decoder that another thread is running.
void silenceLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] { err_set_logfp(nullptr); });
}

std::optional<fs::path> firstDictionary(const fs::path& folder, const std::string& name) {
    std::error_code error;
    if (fs::is_regular_file(folder / ("cmudict-" + name + ".dict"), error)) {
        return folder / ("cmudict-" + name + ".dict");
    }
    std::vector<fs::path> dictionaries;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".dict" && entry.is_regular_file(error)) {
            dictionaries.push_back(entry.path());
        }
    }
    std::sort(dictionaries.begin(), dictionaries.end());
    if (dictionaries.empty()) {
        return std::nullopt;
    }
    return dictionaries.front();
}

// The model's noise words (<sil>, [NOISE], ...), which are no speech.
std::set<std::string> fillerWords(const fs::path& acousticModel) {
    std::set<std::string> words{"<s>", "</s>", "<sil>"};
    std::ifstream noise(acousticModel / "noisedict");
    std::string word;
    std::string phone;
    while (noise >> word >> phone) {
        words.insert(word);
    }
    return words;
}

// "the(2)" is the second pronunciation of "the".
std::string withoutPronunciationMark(std::string word) {
    if (word.ends_with(')')) {
        if (const auto open = word.rfind('('); open != std::string::npos && open > 0) {
            word.erase(open);
        }
    }
    return word;
}

class PocketSphinxRecognition final : public SpeechRecognition {
  public:
    PocketSphinxRecognition(cmd_ln_t* config, ps_decoder_t* decoder, std::set<std::string> fillers)
        : config_(config), decoder_(decoder), fillers_(std::move(fillers)) {}
    ~PocketSphinxRecognition() override {
        ps_free(decoder_);
        cmd_ln_free_r(config_);
    }
    PocketSphinxRecognition(const PocketSphinxRecognition&) = delete;
    PocketSphinxRecognition& operator=(const PocketSphinxRecognition&) = delete;

    void decode(const fs::path& wavFile,
                const std::function<void(const SpeechRecognitionResult&)>& onResult,
                const std::function<void(std::optional<double>)>& onProgress) override;
    void stop() override { stopped_.store(true); }

  private:
    // Feeds buffered samples up to the absolute sample `end`, one chunk at a time; false once
    // stopped.
    bool feedUpTo(std::uint64_t end);
    void beginUtterance(std::uint64_t start);
    SpeechRecognitionResult endUtterance(std::uint64_t end);
    void reportProgress(const std::function<void(std::optional<double>)>& onProgress) const;

    cmd_ln_t* config_;
    ps_decoder_t* decoder_;
    const std::set<std::string> fillers_;
    std::atomic<bool> stopped_{false};

    std::vector<std::int16_t> buffer_;  // read but not yet fed, starting at bufferStart_
    std::uint64_t bufferStart_ = 0;
    std::uint64_t utteranceStart_ = 0;
    std::optional<std::uint64_t> totalSamples_;
};

bool PocketSphinxRecognition::feedUpTo(std::uint64_t end) {
    std::size_t fed = 0;
    const std::size_t wanted = static_cast<std::size_t>(
        std::min<std::uint64_t>(end > bufferStart_ ? end - bufferStart_ : 0, buffer_.size()));
    while (fed < wanted) {
        if (stopped_.load()) {
            return false;
        }
        const std::size_t count = std::min(PocketSphinxRecognizer::chunkSamples, wanted - fed);
        ps_process_raw(decoder_, buffer_.data() + fed, count, FALSE, FALSE);
        fed += count;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(fed));
    bufferStart_ += fed;
    return !stopped_.load();
}

void PocketSphinxRecognition::beginUtterance(std::uint64_t start) {
    // A fresh stream per utterance: with one stream across utterances the decoder numbers the
    // frames of every utterance after the first 10 frames too early. Frames then count from the
    // utterance's own start, which we know to the sample.
    utteranceStart_ = start;
    ps_start_stream(decoder_);
    ps_start_utt(decoder_);
}

SpeechRecognitionResult PocketSphinxRecognition::endUtterance(std::uint64_t end) {
    ps_end_utt(decoder_);
    const double offset = static_cast<double>(utteranceStart_) / WaveFileReader::sampleRate;
    SpeechRecognitionResult result;
    result.startTime = offset;
    result.endTime = static_cast<double>(end) / WaveFileReader::sampleRate;
    logmath_t* logmath = ps_get_logmath(decoder_);
    for (ps_seg_t* segment = ps_seg_iter(decoder_); segment != nullptr;
         segment = ps_seg_next(segment)) {
        const char* word = ps_seg_word(segment);
        if (word == nullptr || fillers_.contains(word)) {
            continue;
        }
        int startFrame = 0;
        int endFrame = 0;
        ps_seg_frames(segment, &startFrame, &endFrame);
        int32 acoustic = 0;
        int32 language = 0;
        int32 backoff = 0;
        const double posterior =
            logmath_exp(logmath, ps_seg_prob(segment, &acoustic, &language, &backoff));
        result.words.push_back(
            {withoutPronunciationMark(word), offset + startFrame / framesPerSecond,
             offset + (endFrame + 1) / framesPerSecond, std::clamp(posterior, 0.0, 1.0)});
    }
    return result;
}

void PocketSphinxRecognition::reportProgress(
    const std::function<void(std::optional<double>)>& onProgress) const {
    if (!onProgress) {
        return;
    }
    if (!totalSamples_ || *totalSamples_ == 0) {
        onProgress(std::nullopt);
        return;
    }
    onProgress(std::clamp(static_cast<double>(bufferStart_) / *totalSamples_, 0.0, 1.0));
}

void PocketSphinxRecognition::decode(
    const fs::path& wavFile, const std::function<void(const SpeechRecognitionResult&)>& onResult,
    const std::function<void(std::optional<double>)>& onProgress) {
    WaveFileReader reader(wavFile);
    totalSamples_ = reader.sampleCount();
    const auto preferred = static_cast<std::uint64_t>(
        PocketSphinxRecognizer::preferredUtteranceSeconds * WaveFileReader::sampleRate);
    const auto maximum = static_cast<std::uint64_t>(
        PocketSphinxRecognizer::maximumUtteranceSeconds * WaveFileReader::sampleRate);
    const SpeechPauseFinder pauseFinder;
    const auto emit = [&](std::uint64_t end) {
        const SpeechRecognitionResult result = endUtterance(end);
        if (onResult && !result.words.empty()) {
            onResult(result);
        }
        reportProgress(onProgress);
    };

    buffer_.clear();
    bufferStart_ = 0;
    beginUtterance(0);
    std::vector<std::int16_t> chunk(PocketSphinxRecognizer::chunkSamples);
    bool atEnd = false;
    std::uint64_t lastReport = 0;
    for (;;) {
        // Read ahead up to the longest utterance, feeding what lies before the preferred length.
        while (!atEnd && bufferStart_ + buffer_.size() < utteranceStart_ + maximum) {
            const std::size_t count = reader.read(chunk.data(), chunk.size());
            if (count == 0) {
                atEnd = true;
                break;
            }
            buffer_.insert(buffer_.end(), chunk.begin(), chunk.begin() + count);
            if (!feedUpTo(utteranceStart_ + preferred)) {
                return;
            }
            if (bufferStart_ >= lastReport + WaveFileReader::sampleRate) {
                lastReport = bufferStart_;
                reportProgress(onProgress);
            }
        }
        if (atEnd) {
            if (!feedUpTo(bufferStart_ + buffer_.size())) {
                return;
            }
            emit(bufferStart_);
            return;
        }
        const std::uint64_t searchStart = utteranceStart_ + preferred;
        const std::span<const std::int16_t> window(
            buffer_.data() + (searchStart - bufferStart_),
            static_cast<std::size_t>(utteranceStart_ + maximum - searchStart));
        const std::uint64_t cut = searchStart + pauseFinder.quietestCut(window);
        if (!feedUpTo(cut)) {
            return;
        }
        emit(cut);
        beginUtterance(cut);
    }
}

}  // namespace

PocketSphinxRecognizer::PocketSphinxRecognizer(fs::path modelRoot)
    : modelRoot_(std::move(modelRoot)) {}

fs::path PocketSphinxRecognizer::defaultModelRoot() {
    return "/usr/share/pocketsphinx/model";
}

std::vector<PocketSphinxRecognizer::ModelFolder> PocketSphinxRecognizer::modelFolders() const {
    std::vector<ModelFolder> folders;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(modelRoot_, error)) {
        const std::string name = entry.path().filename().string();
        std::error_code entryError;
        if (name.starts_with('.') || !entry.is_directory(entryError)) {
            continue;
        }
        const fs::path acoustic = entry.path() / name;
        const fs::path language = entry.path() / (name + ".lm.bin");
        const auto dictionary = firstDictionary(entry.path(), name);
        if (fs::is_regular_file(acoustic / "mdef", entryError) &&
            fs::is_regular_file(language, entryError) && dictionary) {
            folders.push_back({canonicalLocaleIdentifier(name), acoustic, language, *dictionary});
        }
    }
    std::sort(folders.begin(), folders.end(),
              [](const auto& a, const auto& b) { return a.identifier < b.identifier; });
    return folders;
}

std::vector<std::string> PocketSphinxRecognizer::localeIdentifiers() const {
    std::vector<std::string> identifiers;
    for (const auto& folder : modelFolders()) {
        identifiers.push_back(folder.identifier);
    }
    return identifiers;
}

std::optional<std::string> PocketSphinxRecognizer::equivalentLocale(
    std::string_view identifier) const {
    return equivalentLocaleIdentifier(identifier, localeIdentifiers());
}

std::unique_ptr<SpeechRecognition> PocketSphinxRecognizer::prepare(const std::string& identifier) {
    silenceLibraryLog();
    const auto folders = modelFolders();
    const auto folder = std::find_if(folders.begin(), folders.end(),
                                     [&](const auto& f) { return f.identifier == identifier; });
    const std::string failure =
        "The speech model for \u201C" + identifier + "\u201D could not be loaded.";
    if (folder == folders.end()) {
        throw std::runtime_error(failure);
    }
    // Silence removal off: it drops frames, and the word times would no longer match the audio.
    // The search limits (at most 3000 active HMMs and 10 words per frame) cut the decoding time
    // by a fifth on generated speech and recognised as many words as the defaults.
    cmd_ln_t* config =
        cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", folder->acousticModel.c_str(), "-lm",
                    folder->languageModel.c_str(), "-dict", folder->dictionary.c_str(),
                    "-remove_silence", "no", "-maxhmmpf", "3000", "-maxwpf", "10", nullptr);
    if (config == nullptr) {
        throw std::runtime_error(failure);
    }
    ps_decoder_t* decoder = ps_init(config);
    if (decoder == nullptr) {
        cmd_ln_free_r(config);
        throw std::runtime_error(failure);
    }
    return std::make_unique<PocketSphinxRecognition>(config, decoder,
                                                     fillerWords(folder->acousticModel));
}

}  // namespace tavrolin
