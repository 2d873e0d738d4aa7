// The csv header goes only to the top of a new log: appending to a file that holds data is seen.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli/OutputFile.h"

namespace {

TEST(OutputFile, OnlyAFileWithDataHoldsData) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / "qd7-output-file-test.csv";
    std::error_code ec;
    std::filesystem::remove(path, ec);

    FILE* pNew = std::fopen(path.string().c_str(), "ab");
    ASSERT_NE(pNew, nullptr);
    EXPECT_FALSE(OutputHoldsData(pNew)); // a new log: the header goes first
    std::fputs("time,address\n", pNew);
    std::fflush(pNew);
    EXPECT_TRUE(OutputHoldsData(pNew));
    std::fclose(pNew);

    FILE* pAppend = std::fopen(path.string().c_str(), "ab"); // the next run of the logger
    ASSERT_NE(pAppend, nullptr);
    EXPECT_TRUE(OutputHoldsData(pAppend));
    std::fclose(pAppend);

    EXPECT_FALSE(OutputHoldsData(nullptr));
    std::filesystem::remove(path, ec);
}

} // namespace
