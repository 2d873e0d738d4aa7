// Port names as users write them, wherever a port is named: one rule on every system.
#include <gtest/gtest.h>

#include <optional>
#include <string_view>

#include "serial/PortDevice.h"

namespace {

TEST(PortName, ComAndDigitsNameAPortByItsNumber) {
    const struct {
        std::string_view name;
        std::optional<int> number;
    } cases[] = {
        {"COM3", 3},           {"com12", 12}, {"Com007", 7},        {"COM255", 255},
        {"COM0", 0},           // a port name, but no port: the caller refuses it
        {"COM99999999999", 0}, // likewise, rather than a device path of that name
        {"COM", {}},           {"COM-5", {}}, {"COM+5", {}},        {"COM 5", {}},
        {"COM5 ", {}},         {"COMX", {}},  {"/dev/ttyUSB0", {}}, {"", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseComName(c.name), c.number) << '"' << c.name << '"';
    }
}

} // namespace
