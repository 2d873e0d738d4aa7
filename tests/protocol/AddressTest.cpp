// Bus addresses as every program writes and reads them.
#include "protocol/Address.h"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace {

TEST(Address, TypedAddressesAreOneOrTwoDigitsUpTo99) {
    const struct {
        std::string_view text;
        std::optional<int> address;
    } cases[] = {
        {"7", 7}, {"07", 7},  {"00", 0},  {"99", 99}, {"100", {}}, {"007", {}},
        {"", {}}, {"-0", {}}, {"+7", {}}, {" 7", {}}, {"7 ", {}},  {"0x", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseAddress(c.text), c.address) << '"' << c.text << '"';
    }
}

// Two digits, so that the window's list sorted as text is sorted by number, as "%02d" writes them.
TEST(Address, WrittenAsTwoDigits) {
    const struct {
        int address;
        const char* text;
    } cases[] = {{0, "00"}, {7, "07"}, {10, "10"}, {99, "99"}, {-1, "-1"}, {100, "100"}};
    for (const auto& c : cases) {
        EXPECT_EQ(FormatAddress(c.address), c.text) << c.address;
    }
}

} // namespace
