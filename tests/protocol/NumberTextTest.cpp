// Numbers as the companions' command lines take them: digits only, within range.
#include <gtest/gtest.h>

#include <optional>
#include <string_view>

#include "protocol/NumberText.h"

namespace {

TEST(NumberText, WholeNumbersWithinTheirRange) {
    EXPECT_EQ(ParseWholeNumber("9600", 50, 4'000'000), 9600);
    EXPECT_EQ(ParseWholeNumber("50", 50, 4'000'000), 50);
    EXPECT_EQ(ParseWholeNumber("49", 50, 4'000'000), std::nullopt);
    EXPECT_EQ(ParseWholeNumber("4000001", 50, 4'000'000), std::nullopt);
    EXPECT_EQ(ParseWholeNumber("99999999999999999999", 0, 100), std::nullopt) << "overflow";
    EXPECT_EQ(ParseWholeNumber("1e3", 0, 10'000), std::nullopt);
    EXPECT_EQ(ParseWholeNumber("-5", -10, 10), std::nullopt) << "no sign, even where allowed";
}

} // namespace
