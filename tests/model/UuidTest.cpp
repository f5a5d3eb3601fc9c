#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <system_error>

#include "model/ErrorMessage.h"
#include "model/Uuid.h"

using namespace tavrolin;

TEST(UuidValues, TextRoundTripIsUpperCaseVersion4) {
    const Uuid uuid = Uuid::random();
    const std::string text = uuid.toString();
    ASSERT_EQ(text.size(), 36u);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            EXPECT_EQ(text[i], '-');
        } else {
            EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(text[i])) ||
                        (text[i] >= 'A' && text[i] <= 'F'))
                << text;
        }
    }
    EXPECT_EQ(text[14], '4');
    EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos);
    EXPECT_EQ(Uuid::fromString(text), uuid);

    std::string lower = text;
    for (auto& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(Uuid::fromString(lower), uuid);
    EXPECT_EQ(Uuid().toString(), "00000000-0000-0000-0000-000000000000");
}

TEST(UuidValues, MalformedTextIsRefused) {
    EXPECT_EQ(Uuid::fromString(""), std::nullopt);
    EXPECT_EQ(Uuid::fromString("12345678-1234-1234-1234-12345678901"), std::nullopt);
    EXPECT_EQ(Uuid::fromString("12345678x1234-1234-1234-123456789012"), std::nullopt);
    EXPECT_EQ(Uuid::fromString("1234567G-1234-1234-1234-123456789012"), std::nullopt);
    EXPECT_EQ(Uuid::fromString("{2345678-1234-1234-1234-123456789012}"), std::nullopt);
}

TEST(UuidValues, RandomValuesDoNotRepeat) {
    std::set<Uuid> seen;
    for (int i = 0; i < 10000; ++i) {
        EXPECT_TRUE(seen.insert(Uuid::random()).second);
    }
}

TEST(UserMessage, FileSystemErrorNamesTheFileInCurlyQuotes) {
    const std::filesystem::filesystem_error error("cannot open", "/tmp/folder/My File.srt",
                                                  std::error_code(ENOENT, std::generic_category()));
    EXPECT_EQ(userMessage(error), "\u201CMy File.srt\u201D: No such file or directory");

    const std::filesystem::filesystem_error folder("cannot open", "/tmp/folder/",
                                                   std::error_code(EACCES, std::system_category()));
    EXPECT_EQ(userMessage(folder),
              "\u201C"
              "folder"
              "\u201D: Permission denied");

    const std::filesystem::filesystem_error noPath(
        "x", std::error_code(ENOSPC, std::generic_category()));
    EXPECT_EQ(userMessage(noPath), "No space left on device");

    const std::runtime_error plain("Plain message.");
    EXPECT_EQ(userMessage(plain), "Plain message.");
    EXPECT_EQ(userMessage(std::make_exception_ptr(plain)), "Plain message.");
}

TEST(UserMessage, RealFileSystemFailureReadsAsReason) {
    try {
        (void)std::filesystem::file_size("/nonexistent-tavrolin-folder/missing.mkv");
        FAIL() << "expected a file-system error";
    } catch (const std::filesystem::filesystem_error& error) {
        EXPECT_EQ(userMessage(error), "\u201Cmissing.mkv\u201D: No such file or directory");
    }
}
