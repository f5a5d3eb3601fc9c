#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

namespace tavrolin {

// Reads the samples of a 16 kHz mono 16-bit PCM WAV file, as the audio extraction writes it,
// in order. One thread at a time.
class WaveFileReader {
  public:
    static constexpr int sampleRate = 16000;

    // Throws std::runtime_error naming the file when it cannot be opened or has another format.
    explicit WaveFileReader(const std::filesystem::path& file);

    // Fills `buffer` with up to `capacity` samples; 0 at the end of the audio.
    std::size_t read(std::int16_t* buffer, std::size_t capacity);

    // The number of samples, when the header gives it.
    std::optional<std::uint64_t> sampleCount() const { return sampleCount_; }

  private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::optional<std::uint64_t> sampleCount_;
    std::uint64_t remainingBytes_ = 0;  // of the data chunk; "until the end" when unknown
};

}  // namespace tavrolin
