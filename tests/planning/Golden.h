#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tavtest {

// Compares `actual` with a checked-in file under tests/planning/golden. With
// TAVROLIN_UPDATE_GOLDEN=1 in the environment the file is rewritten instead (review the diff).
inline void expectGolden(const std::string& name, const std::string& actual) {
    const std::filesystem::path file =
        std::filesystem::path(TAVROLIN_TEST_SOURCE_DIR) / "planning" / "golden" / name;
    if (const char* update = std::getenv("TAVROLIN_UPDATE_GOLDEN"); update && *update == '1') {
        std::ofstream(file, std::ios::binary) << actual;
        return;
    }
    std::ifstream input(file, std::ios::binary);
    ASSERT_TRUE(input) << "missing golden file " << file;
    std::stringstream expected;
    expected << input.rdbuf();
    EXPECT_EQ(actual, expected.str()) << "differs from " << file;
}

}  // namespace tavtest
