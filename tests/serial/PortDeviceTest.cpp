// Which device each port number stands for, over folders laid out like the system's: a class
// folder of terminals with their port types, a device folder and a by-id folder, whose entries
// are links to pseudo-terminals.

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

#include "serial/PortDevice.h"
#include "serial/SerialPort.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/PtyPair.h"

namespace fs = std::filesystem;

namespace {

std::string Canonical(const std::string& path) {
    return fs::canonical(path).string();
}

class PortDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string stem = ::testing::TempDir() + "qd7-ports-XXXXXX";
        ASSERT_NE(mkdtemp(stem.data()), nullptr);
        m_root = stem;
        m_dirs = {(m_root / "class").string(), (m_root / "dev").string(),
                  (m_root / "by-id").string(), (m_root / "by-path").string()};
        for (const std::string& dir :
             {m_dirs.ttyClass, m_dirs.devices, m_dirs.byId, m_dirs.byPath}) {
            fs::create_directories(dir);
        }
        for (int i = 1; i <= 8; ++i) {
            m_env.Unset("QD7_COM" + std::to_string(i));
        }
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }

    // A terminal of the class folder with its port type, and its node in the device folder
    // (a link to a pseudo-terminal) unless the pty is none.
    void AddTerminal(const std::string& name, const char* type, const PtyPair* pPty) {
        fs::create_directories(fs::path(m_dirs.ttyClass) / name);
        if (type != nullptr) {
            std::ofstream(fs::path(m_dirs.ttyClass) / name / "type") << type << "\n";
        }
        if (pPty != nullptr) {
            fs::create_symlink(pPty->SlavePath(), fs::path(m_dirs.devices) / name);
        }
    }
    void AddAdapter(const std::string& name, const std::string& target) {
        fs::create_symlink(target, fs::path(m_dirs.byId) / name);
    }
    const PtyPair& Pty(size_t n) {
        while (m_ptys.size() <= n) {
            m_ptys.push_back(std::make_unique<PtyPair>());
        }
        return *m_ptys[n];
    }
    // The usual bench: two placeholder UARTs, three real ones (numbered so that text order and
    // numeric order differ), one UART without a node, a USB device that is no UART, and two
    // adapters plus the dangling link of an unplugged one.
    void LayOutBench() {
        AddTerminal("ttyS0", "0", &Pty(0));
        AddTerminal("ttyS3", "0", nullptr);
        AddTerminal("ttyS10", "4", &Pty(1));
        AddTerminal("ttyS2", "4", &Pty(2));
        AddTerminal("ttyS1", "4", &Pty(3));
        AddTerminal("ttyS11", "4", nullptr);
        AddTerminal("ttyUSB0", nullptr, &Pty(4));
        AddAdapter("usb-QD7_B-if00-port0", Pty(4).SlavePath());
        AddAdapter("usb-QD7_A-if00-port0", Pty(5).SlavePath());
        AddAdapter("usb-QD7_Gone-if00-port0", "/nonexistent/ttyUSB9");
    }

    // Two adapters, A and B; the port opens A as COM1, or by a ttyUSB node named in $QD7_COM1.
    // A is unplugged: its far side hangs up, its by-id link goes and its node's name passes to B,
    // which now is COM1 as well. The lost port must not open B, and must open A when it is back.
    void CheckReopenWaitsForItsOwnAdapter(bool bByVariable) {
        AddAdapter("usb-QD7_A-if00-port0", Pty(0).SlavePath());
        AddAdapter("usb-QD7_B-if00-port0", Pty(1).SlavePath());
        const fs::path node = fs::path(m_dirs.devices) / "ttyUSB0";
        fs::create_symlink(Pty(0).SlavePath(), node);
        if (bByVariable) {
            m_env.Set("QD7_COM1", node.string());
        }
        CSerialPort port;
        port.SetPortDirectories(m_dirs);
        ASSERT_NE(port.Open(1, 9600, 8, 0, 0), kNullPortHandle);
        EXPECT_EQ(port.ReopenPath(), m_dirs.byId + "/usb-QD7_A-if00-port0");

        m_ptys[0]->CloseMaster();
        fs::remove(fs::path(m_dirs.byId) / "usb-QD7_A-if00-port0");
        fs::remove(node);
        fs::create_symlink(Pty(1).SlavePath(), node);
        std::array<uint8_t, 8> buffer{};
        EXPECT_EQ(port.Read(buffer.data(), static_cast<int>(buffer.size())), 0);
        ASSERT_TRUE(port.IsLost());
        ASSERT_EQ(LocatePort(1, m_dirs).device.device, Canonical(Pty(1).SlavePath()));

        const int fdWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(fdWatch, 0);
        ASSERT_GE(inotify_add_watch(fdWatch, Pty(1).SlavePath().c_str(), IN_OPEN), 0);
        EXPECT_EQ(port.Reopen(), kNullPortHandle);
        EXPECT_TRUE(port.IsLost());
        std::array<char, 4096> events{};
        EXPECT_LT(read(fdWatch, events.data(), events.size()), 0) << "the other adapter was opened";
        close(fdWatch);

        AddAdapter("usb-QD7_A-if00-port0", Pty(2).SlavePath()); // A back, at another number
        ASSERT_NE(port.Reopen(), kNullPortHandle);
        EXPECT_FALSE(port.IsLost());
        const std::array<uint8_t, 3> bytes = {0x02, 0x41, 0x03};
        EXPECT_TRUE(port.Write(bytes.data(), static_cast<int>(bytes.size())));
        EXPECT_EQ(m_ptys[2]->ReadMaster(3, 1000), std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }

    CEnvGuard m_env;
    fs::path m_root;
    PortDirectories m_dirs;
    std::vector<std::unique_ptr<PtyPair>> m_ptys;
};

TEST_F(PortDeviceTest, UartsByNumberThenAdaptersByName) {
    LayOutBench();
    const std::vector<SerialDevice> devices = ListSerialDevices(m_dirs);
    struct Expected {
        std::string path, device, byIdName;
    };
    const std::vector<Expected> expected = {
        {m_dirs.devices + "/ttyS1", Canonical(Pty(3).SlavePath()), ""},
        {m_dirs.devices + "/ttyS2", Canonical(Pty(2).SlavePath()), ""},
        {m_dirs.devices + "/ttyS10", Canonical(Pty(1).SlavePath()), ""},
        {m_dirs.byId + "/usb-QD7_A-if00-port0", Canonical(Pty(5).SlavePath()),
         "usb-QD7_A-if00-port0"},
        {m_dirs.byId + "/usb-QD7_B-if00-port0", Canonical(Pty(4).SlavePath()),
         "usb-QD7_B-if00-port0"},
    };
    ASSERT_EQ(devices.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(devices[i].path, expected[i].path);
        EXPECT_EQ(devices[i].device, expected[i].device);
        EXPECT_EQ(devices[i].byIdName, expected[i].byIdName);
    }
}

TEST_F(PortDeviceTest, PortNumbersFollowTheListAndTheVariableWins) {
    LayOutBench();
    m_env.Set("QD7_COM2", "/tmp/qd7-sim-link");
    struct Case {
        int port;
        std::string path;
        bool bFromEnvironment;
    };
    const std::vector<Case> cases = {
        {1, m_dirs.devices + "/ttyS1", false},
        {2, "/tmp/qd7-sim-link", true}, // set by hand: wins over ttyS2
        {3, m_dirs.devices + "/ttyS10", false},
        {4, m_dirs.byId + "/usb-QD7_A-if00-port0", false},
        {5, m_dirs.byId + "/usb-QD7_B-if00-port0", false},
        {6, "", false}, // beyond the five ports present
        {0, "", false},
        {-1, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        const PortLocation location = LocatePort(c.port, m_dirs);
        EXPECT_EQ(location.device.path, c.path);
        EXPECT_EQ(location.bFromEnvironment, c.bFromEnvironment);
    }
    EXPECT_EQ(LocatePort(6, m_dirs).nPresent, 5);

    // Without any port present, every number is missing.
    const PortDirectories empty{(m_root / "none").string(), (m_root / "none").string(),
                                (m_root / "none").string(), (m_root / "none").string()};
    EXPECT_TRUE(ListSerialDevices(empty).empty());
    EXPECT_EQ(LocatePort(1, empty).device.path, "");
}

// An adapter plugged in later shows at the next look, and COMn opens it by its stable name: the
// bytes reach that adapter's far side.
TEST_F(PortDeviceTest, OpenLooksAgainAndReachesTheAdapterByItsName) {
    CSerialPort port;
    port.SetPortDirectories(m_dirs);
    EXPECT_EQ(port.Open(1, 9600, 8, 0, 0), kNullPortHandle);
    EXPECT_EQ(port.FailureReason(), "COM1: no serial port present");

    AddAdapter("usb-QD7_A-if00-port0", Pty(0).SlavePath());
    ASSERT_NE(port.Open(1, 9600, 8, 0, 0), kNullPortHandle);
    const std::array<uint8_t, 3> bytes = {0x02, 0x30, 0x03};
    EXPECT_TRUE(port.Write(bytes.data(), static_cast<int>(bytes.size())));
    EXPECT_EQ(m_ptys[0]->ReadMaster(3, 1000), std::vector<uint8_t>(bytes.begin(), bytes.end()));

    EXPECT_EQ(port.Open(2, 9600, 8, 0, 0), kNullPortHandle);
    EXPECT_EQ(port.FailureReason(), "COM2: beyond the 1 serial port present");
}

// Two adapters of one make without serial numbers: udev gives both the same by-id name and points
// it at whichever came last, so each is known by the USB socket it is plugged into (by-path). As
// sysfs shows them: each terminal's device folder under a USB device with ids and no serial.
TEST_F(PortDeviceTest, AdaptersWithoutSerialNumbersAreReopenedByTheirSocketNeverSwapped) {
    const std::string shared = "usb-1a86_USB_Serial-if00-port0";
    const auto plug = [&](const std::string& node, const PtyPair& pty, const std::string& socket) {
        const fs::path usb = m_root / "usb" / socket;
        fs::create_directories(usb / "1.0");
        std::ofstream(usb / "idVendor") << "1a86\n";
        std::ofstream(usb / "idProduct") << "7523\n";
        fs::create_directories(fs::path(m_dirs.ttyClass) / node);
        fs::create_symlink(usb / "1.0", fs::path(m_dirs.ttyClass) / node / "device");
        const fs::path nodePath = fs::path(m_dirs.devices) / node;
        fs::create_symlink(pty.SlavePath(), nodePath);
        fs::create_symlink(nodePath, fs::path(m_dirs.byPath) /
                                         ("pci-0000:00:14.0-usb-0:" + socket + ":1.0-port0"));
        // The shared name follows the adapter plugged in last, replaced in one step as udev does.
        const fs::path fresh = fs::path(m_dirs.byId) / ".new";
        fs::create_symlink(nodePath, fresh);
        fs::rename(fresh, fs::path(m_dirs.byId) / shared);
    };
    const auto unplug = [&](const std::string& node, const std::string& socket) {
        fs::remove(fs::path(m_dirs.devices) / node);
        fs::remove_all(fs::path(m_dirs.ttyClass) / node);
        fs::remove(fs::path(m_dirs.byPath) / ("pci-0000:00:14.0-usb-0:" + socket + ":1.0-port0"));
    };
    plug("ttyUSB0", Pty(0), "1");
    CSerialPort port;
    port.SetPortDirectories(m_dirs);
    ASSERT_NE(port.Open(1, 9600, 8, 0, 0), kNullPortHandle);
    plug("ttyUSB1", Pty(1), "2"); // the second adapter takes the shared name
    const std::string socket1 = m_dirs.byPath + "/pci-0000:00:14.0-usb-0:1:1.0-port0";
    EXPECT_EQ(port.ReopenPath(), socket1);
    EXPECT_TRUE(port.HasStableIdentity());

    // The first one unplugged: the shared name leads to the second, which is never opened.
    m_ptys[0]->CloseMaster();
    unplug("ttyUSB0", "1");
    std::array<uint8_t, 8> buffer{};
    EXPECT_EQ(port.Read(buffer.data(), static_cast<int>(buffer.size())), 0);
    ASSERT_TRUE(port.IsLost());
    const int fdWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(fdWatch, 0);
    ASSERT_GE(inotify_add_watch(fdWatch, Pty(1).SlavePath().c_str(), IN_OPEN), 0);
    EXPECT_EQ(port.Reopen(), kNullPortHandle);
    std::array<char, 4096> events{};
    EXPECT_LT(read(fdWatch, events.data(), events.size()), 0) << "the other adapter was opened";
    close(fdWatch);

    // Back in its socket, at another number: that one is opened.
    plug("ttyUSB2", Pty(2), "1");
    ASSERT_NE(port.Reopen(), kNullPortHandle) << port.FailureReason();
    const std::array<uint8_t, 3> bytes = {0x02, 0x42, 0x03};
    EXPECT_TRUE(port.Write(bytes.data(), static_cast<int>(bytes.size())));
    EXPECT_EQ(m_ptys[2]->ReadMaster(3, 1000), std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

// What a name can promise: a system name of the device's own holds, a link of the user's own or a
// pseudo-terminal's number may lead elsewhere later, and a device server's address is whatever
// answers there.
TEST_F(PortDeviceTest, IdentityIsStableOnlyWhereTheNameIsTheDevicesOwn) {
    AddAdapter("usb-QD7_A-if00-port0", Pty(0).SlavePath()); // no sysfs: taken as its own name
    const fs::path userLink = m_root / "my-meter-bus";
    fs::create_symlink(Pty(1).SlavePath(), userLink);
    const fs::path linkToAdapter = m_root / "adapter-a";
    fs::create_symlink(Pty(0).SlavePath(), linkToAdapter);
    struct Case {
        std::string path;
        std::string expected;
        bool bStable;
    };
    const std::vector<Case> cases = {
        {m_dirs.byId + "/usb-QD7_A-if00-port0", m_dirs.byId + "/usb-QD7_A-if00-port0", true},
        {linkToAdapter.string(), m_dirs.byId + "/usb-QD7_A-if00-port0", true},
        {userLink.string(), userLink.string(), false},
        {Pty(1).SlavePath(), Pty(1).SlavePath(), false},
        {"rfc2217://127.0.0.1:4001", "rfc2217://127.0.0.1:4001", false},
        {"/dev/null", "/dev/null", true}, // a node of the system, there for good
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const DeviceIdentity identity = IdentifyDevice(c.path, m_dirs);
        EXPECT_EQ(identity.path, c.expected);
        EXPECT_EQ(identity.bStable, c.bStable);
    }
}

TEST_F(PortDeviceTest, ReopenWaitsForItsOwnAdapterOpenedAsComN) {
    CheckReopenWaitsForItsOwnAdapter(false);
}

TEST_F(PortDeviceTest, ReopenWaitsForItsOwnAdapterOpenedByItsNodeName) {
    CheckReopenWaitsForItsOwnAdapter(true);
}

// Opening a device can toggle its modem lines (and reset a board behind it): the mapping only
// looks. The kernel reports every open of the linked ptys; none may come.
TEST_F(PortDeviceTest, ListingOpensNoDevice) {
    LayOutBench();
    const int fdWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(fdWatch, 0);
    for (const auto& pPty : m_ptys) {
        ASSERT_GE(inotify_add_watch(fdWatch, pPty->SlavePath().c_str(), IN_OPEN), 0);
    }
    std::array<char, 4096> events{};

    EXPECT_EQ(ListSerialDevices(m_dirs).size(), 5U);
    EXPECT_EQ(LocatePort(4, m_dirs).device.byIdName, "usb-QD7_A-if00-port0");
    EXPECT_LT(read(fdWatch, events.data(), events.size()), 0) << "a device was opened";

    // The watch does see an open.
    CSerialPort port;
    port.SetPortDirectories(m_dirs);
    ASSERT_NE(port.Open(4, 9600, 8, 0, 0), kNullPortHandle);
    EXPECT_GT(read(fdWatch, events.data(), events.size()), 0);
    close(fdWatch);
}

} // namespace
