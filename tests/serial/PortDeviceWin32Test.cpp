// COMn on Windows: the device of that name, unless $QD7_COMn names another.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serial/PortDevice.h"
#include "tests/support/EnvGuard.h"

namespace {

class PortDeviceWin32Test : public ::testing::Test {
protected:
    // Every QD7_COMn this test sets or clears is put back afterwards.
    CEnvGuard m_env;
};

TEST_F(PortDeviceWin32Test, ComNumbersAreDeviceNamesAndTheEnvironmentWins) {
    m_env.Unset("QD7_COM1");
    m_env.Set("QD7_COM2", "C:\\ports\\meter-bus");
    m_env.Set("QD7_COM3", "com12"); // as a user types it: opened with the device prefix
    m_env.Set("QD7_COM4", "");      // empty: as if unset
    m_env.Unset("QD7_COM12");
    struct Case {
        int port;
        std::string path;
        bool bFromEnvironment;
    };
    const Case cases[] = {
        {1, "\\\\.\\COM1", false},
        {2, "C:\\ports\\meter-bus", true},
        {3, "\\\\.\\COM12", true},
        {4, "\\\\.\\COM4", false},
        {12, "\\\\.\\COM12", false}, // beyond COM9, where the prefix is needed
        {0, "", false},
        {-1, "", false},
    };
    for (const Case& c : cases) {
        const PortLocation location = LocatePort(c.port, PortDirectories{});
        EXPECT_EQ(location.device.path, c.path) << c.port;
        EXPECT_EQ(location.bFromEnvironment, c.bFromEnvironment) << c.port;
    }

    const std::vector<PortLocation> all = LocatePorts(8, PortDirectories{});
    ASSERT_EQ(all.size(), 8U);
    EXPECT_EQ(all[0].device.path, "\\\\.\\COM1");
    EXPECT_EQ(all[2].device.path, "\\\\.\\COM12");
    EXPECT_EQ(all[7].device.path, "\\\\.\\COM8");
}

} // namespace
