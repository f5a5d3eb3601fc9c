#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "model/MediaProcessingError.h"
#include "model/MediaStream.h"

// Small helpers the engine tests share.
namespace tavtest {

// A stream of a request: only its index and kind matter to the engine.
inline tavrolin::MediaStream stream(std::int64_t index, tavrolin::MediaStreamKind kind) {
    tavrolin::MediaStream s;
    s.index = index;
    s.kind = kind;
    s.codecName = "x";
    return s;
}

// Arguments written as one line, split at each space.
inline std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> all;
    std::istringstream in(line);
    for (std::string word; in >> word;) {
        all.push_back(word);
    }
    return all;
}

// The MediaProcessingError that `f` throws; a test failure when it throws none.
template <typename F>
tavrolin::MediaProcessingError processingError(F&& f) {
    try {
        f();
    } catch (const tavrolin::MediaProcessingError& error) {
        return error;
    }
    ADD_FAILURE() << "no MediaProcessingError thrown";
    return tavrolin::MediaProcessingError::processFailed("");
}

// A file's bytes; empty when it cannot be read.
inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes `contents` as a file's bytes, replacing what was there.
inline void writeFile(const std::filesystem::path& path, const std::string& contents) {
    std::ofstream(path, std::ios::binary) << contents;
}

}  // namespace tavtest
