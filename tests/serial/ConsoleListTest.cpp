#include <gtest/gtest.h>
#include <string>
#include <sys/sysmacros.h>

#include "serial/ConsoleList.h"

namespace {

// /proc/consoles as a virtual machine shows it: the serial console and the current VT.
constexpr const char* kVmConsoles = "ttyS0                -W- (EC p a)    4:64\n"
                                    "tty0                 -WU (E  p  )    4:1\n";

struct ConsoleCase {
    const char* list;
    unsigned nMajor, nMinor;
    bool bConsole;
};

TEST(ConsoleListTest, RecognisesListedDevicesAndTheTwoConsoleNames) {
    const ConsoleCase cases[] = {
        {kVmConsoles, 4, 64, true},   // /dev/ttyS0
        {kVmConsoles, 4, 1, true},    // /dev/tty1
        {kVmConsoles, 4, 65, false},  // /dev/ttyS1
        {kVmConsoles, 4, 6, false},   // minor 6 is not 64
        {kVmConsoles, 64, 4, false},  // major and minor not swapped
        {kVmConsoles, 136, 2, false}, // a pty
        {"", 5, 0, true},             // /dev/tty
        {"", 5, 1, true},             // /dev/console
        {"", 5, 2, false},            // /dev/ptmx
        {"ttyS0 -W- (EC p a) 4:64\r\n", 4, 64, true},
        {"ttyS0 -W- (EC p a) 4:64   ", 4, 64, true}, // no final newline, trailing blanks
        {"ttyS0 -W- (EC p a) 4:64x\n", 4, 64, false},
        {"garbage\n\n:\n4:\n:64\n", 4, 64, false},
        {"ttyUSB0 -W- (EC p a) 188:0\nttyS0 -W- (EC p a) 4:64\n", 188, 0, true},
    };
    for (const ConsoleCase& c : cases) {
        SCOPED_TRACE(std::string(c.list) + " / " + std::to_string(c.nMajor) + ":" +
                     std::to_string(c.nMinor));
        EXPECT_EQ(IsConsoleDevice(makedev(c.nMajor, c.nMinor), c.list), c.bConsole);
    }
}

TEST(ConsoleListTest, UnreadableListIsEmpty) {
    EXPECT_TRUE(ReadConsoleList("/nonexistent/qd7-consoles").empty());
}

} // namespace
