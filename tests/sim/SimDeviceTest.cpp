#include <gtest/gtest.h>

#include "sim/SimDevice.h"

namespace {

// The simulator refuses to serve the kernel's console, as the tool refuses to open it.
TEST(SimDevice, RecognisesTheConsoleFromTheKernelsList) {
    const std::string consoles = "tty0                 -WU (E  p  )    4:1\n"
                                 "ttyS0                -W- (EC p a)    4:64\n";
    EXPECT_TRUE(IsConsoleDevice("/dev/ttyS0", consoles));
    EXPECT_TRUE(IsConsoleDevice("/dev/tty0", consoles));
    EXPECT_FALSE(IsConsoleDevice("/dev/ttyS1", consoles));
    EXPECT_FALSE(IsConsoleDevice("/dev/ttyS0", ""));
}

TEST(SimDevice, KnowsTheStandardSpeeds) {
    for (const int speed : {1200, 9600, 19200, 115200, 921600}) {
        EXPECT_TRUE(IsStandardSpeed(speed)) << speed;
    }
    for (const int speed : {0, 14400, 56000, 128000, 256000}) {
        EXPECT_FALSE(IsStandardSpeed(speed)) << speed;
    }
}

} // namespace
