#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "sim/SimDevice.h"
#include "tests/support/PtyPair.h"

namespace {

// The simulator refuses to serve the kernel's consoles, as the tool's port refuses to open them:
// the devices in the kernel's list (here one naming a pty, in the format of /proc/consoles), and
// /dev/tty and /dev/console whatever the list says.
TEST(SimDevice, RefusesTheKernelsConsolesAsThePortDoes) {
    PtyPair pty;
    ASSERT_TRUE(pty.IsOpen());
    struct stat st {};
    ASSERT_EQ(::stat(pty.SlavePath().c_str(), &st), 0);
    const std::string listPath =
        ::testing::TempDir() + "qd7-sim-consoles-" + std::to_string(::getpid()) + ".txt";
    std::ofstream(listPath) << "tty0                 -WU (E  p  )    4:1\n"
                            << "ttyS0                -W- (EC p a)    " << major(st.st_rdev) << ":"
                            << minor(st.st_rdev) << "\n";

    std::string error;
    EXPECT_FALSE(OpenSerialDevice(pty.SlavePath(), 9600, error, listPath).IsValid());
    EXPECT_EQ(error, pty.SlavePath() + " is the system console");

    error.clear();
    EXPECT_TRUE(OpenSerialDevice(pty.SlavePath(), 9600, error, "/nonexistent/consoles").IsValid())
        << error;

    for (const char* console : {"/dev/tty", "/dev/console"}) {
        if (::access(console, F_OK) != 0) {
            continue;
        }
        error.clear();
        EXPECT_FALSE(OpenSerialDevice(console, 9600, error, "/nonexistent/consoles").IsValid());
        EXPECT_EQ(error, std::string(console) + " is the system console");
    }
    std::remove(listPath.c_str());
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
