// CSerialPort on a real pseudo-terminal: the program opens the slave through QD7_COMn, the test
// plays the far side on the master.

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <numeric>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "serial/SerialPort.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/FdIo.h"
#include "tests/support/LineProbe.h"
#include "tests/support/PtyPair.h"
#include "ui/PortSettings.h"

namespace {

using ::testing::ElementsAre;

constexpr int kPort = 3;

class SerialPortPtyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.IsOpen());
        m_env.Set("QD7_COM3", m_pty.SlavePath());
    }

    static std::vector<uint8_t> Counting(size_t n, uint8_t first = 0x10) {
        std::vector<uint8_t> bytes(n);
        std::iota(bytes.begin(), bytes.end(), first);
        return bytes;
    }

    CEnvGuard m_env;
    PtyPair m_pty;
    CSerialPort m_port;
};

TEST_F(SerialPortPtyTest, WriteSendsEveryByteToTheFarSide) {
    ASSERT_NE(m_port.Open(kPort, 9600, 8, 0, 0), kNullPortHandle);
    const std::vector<uint8_t> frame = Counting(35);
    EXPECT_TRUE(m_port.Write(frame.data(), static_cast<int>(frame.size())));
    EXPECT_EQ(m_pty.ReadMaster(35, 1000), frame);
}

TEST_F(SerialPortPtyTest, BytesWrittenBeforeCloseStillReachTheFarSide) {
    ASSERT_NE(m_port.Open(kPort, 9600, 8, 0, 0), kNullPortHandle);
    const std::vector<uint8_t> frame = Counting(35);
    EXPECT_TRUE(m_port.Write(frame.data(), static_cast<int>(frame.size())));
    ASSERT_TRUE(m_port.Close());
    EXPECT_EQ(m_pty.ReadMaster(35, 1000), frame);
}

TEST_F(SerialPortPtyTest, ReadHandsOutAtMostMaxCountAndLeavesTheRestQueued) {
    ASSERT_NE(m_port.Open(kPort, 9600, 8, 0, 0), kNullPortHandle);
    const std::vector<uint8_t> reply = Counting(10);
    ASSERT_TRUE(m_pty.WriteMaster(reply.data(), reply.size()));

    std::array<uint8_t, 16> buffer{};
    ASSERT_EQ(m_port.Read(buffer.data(), 4), 4);
    EXPECT_THAT((std::vector<uint8_t>(buffer.begin(), buffer.begin() + 4)),
                ElementsAre(0x10, 0x11, 0x12, 0x13));
    ASSERT_EQ(m_port.Read(buffer.data(), static_cast<int>(buffer.size())), 6);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 6),
              std::vector<uint8_t>(reply.begin() + 4, reply.end()));

    // Nothing left: no wait, and the buffer stays as it was.
    buffer.fill(0x5A);
    EXPECT_EQ(m_port.Read(buffer.data(), static_cast<int>(buffer.size())), 0);
    EXPECT_EQ(buffer[0], 0x5A);
}

// The wait for input ends when bytes come or the far side hangs up, not at its deadline; with
// nothing coming it takes its whole time. The long deadlines only bound a hang.
TEST_F(SerialPortPtyTest, WaitForInputEndsWithTheFirstBytesOrAHangUp) {
    using namespace std::chrono_literals;
    using Clock = std::chrono::steady_clock;
    std::array<uint8_t, 16> buffer{};
    EXPECT_FALSE(m_port.WaitForInput(10s)) << "a closed port has nothing to wait for";

    ASSERT_NE(m_port.Open(kPort, 9600, 8, 0, 0), kNullPortHandle);
    auto start = Clock::now();
    EXPECT_FALSE(m_port.WaitForInput(30ms));
    EXPECT_GE(Clock::now() - start, 30ms);

    std::thread far([&] {
        std::this_thread::sleep_for(50ms);
        const std::array<uint8_t, 3> reply = {0x06, 0x02, 0x30};
        m_pty.WriteMaster(reply.data(), reply.size());
    });
    start = Clock::now();
    EXPECT_TRUE(m_port.WaitForInput(20s));
    EXPECT_LT(Clock::now() - start, 10s);
    far.join();
    EXPECT_EQ(m_port.Read(buffer.data(), static_cast<int>(buffer.size())), 3);

    m_pty.CloseMaster();
    start = Clock::now();
    EXPECT_TRUE(m_port.WaitForInput(20s));
    EXPECT_LT(Clock::now() - start, 10s);
    EXPECT_EQ(m_port.Read(buffer.data(), static_cast<int>(buffer.size())), 0);
    EXPECT_TRUE(m_port.IsLost());
}

TEST_F(SerialPortPtyTest, BytesThatArrivedBeforeOpenAreGoneAfterIt) {
    const std::vector<uint8_t> stale = Counting(20, 0x80);
    ASSERT_TRUE(m_pty.WriteMaster(stale.data(), stale.size()));
    ASSERT_TRUE(WaitForInput(m_pty.SlaveFd(), static_cast<int>(stale.size()),
                             std::chrono::milliseconds(1000)));

    ASSERT_NE(m_port.Open(kPort, 9600, 8, 0, 0), kNullPortHandle);
    std::array<uint8_t, 64> buffer{};
    EXPECT_EQ(m_port.Read(buffer.data(), static_cast<int>(buffer.size())), 0);

    const std::array<uint8_t, 3> fresh = {0x06, 0x30, 0x31};
    ASSERT_TRUE(m_pty.WriteMaster(fresh.data(), fresh.size()));
    ASSERT_EQ(m_port.Read(buffer.data(), static_cast<int>(buffer.size())), 3);
    EXPECT_THAT((std::vector<uint8_t>(buffer.begin(), buffer.begin() + 3)),
                ElementsAre(0x06, 0x30, 0x31));
}

TEST_F(SerialPortPtyTest, MissingDeviceFailsAndALaterOpenOfAnExistingOneSucceeds) {
    m_env.Set("QD7_COM3", "/nonexistent/qd7-no-such-port");
    EXPECT_EQ(m_port.Open(kPort, 9600, 8, 0, 0), kNullPortHandle);
    EXPECT_FALSE(m_port.m_bOpen);
    EXPECT_EQ(m_port.m_hPort, kNullPortHandle);

    m_env.Set("QD7_COM3", m_pty.SlavePath());
    EXPECT_NE(m_port.Open(kPort, 9600, 8, 0, 0), kNullPortHandle);
    EXPECT_TRUE(m_port.m_bOpen);
}

TEST_F(SerialPortPtyTest, ADeviceHeldByOnePortCannotBeOpenedByAnother) {
    ASSERT_NE(m_port.Open(kPort, 9600, 8, 0, 0), kNullPortHandle);
    EXPECT_TRUE(ProbeExclusive(m_pty.SlaveFd()));
    {
        CSerialPort other;
        EXPECT_EQ(other.Open(kPort, 9600, 8, 0, 0), kNullPortHandle);
        EXPECT_FALSE(other.m_bOpen);
    }
    // The refused opener left the holder's exclusivity alone.
    EXPECT_TRUE(ProbeExclusive(m_pty.SlaveFd()));

    ASSERT_TRUE(m_port.Close());
    EXPECT_FALSE(ProbeExclusive(m_pty.SlaveFd()));
    CSerialPort other;
    EXPECT_NE(other.Open(kPort, 9600, 8, 0, 0), kNullPortHandle);
}

TEST_F(SerialPortPtyTest, OpenOnAnOpenPortReleasesTheOldDevice) {
    ASSERT_NE(m_port.Open(kPort, 9600, 8, 0, 0), kNullPortHandle);
    // Still held, the old descriptor's lock would refuse this one.
    ASSERT_NE(m_port.Open(kPort, 19200, 8, 0, 0), kNullPortHandle);
    EXPECT_EQ(ProbeLineSpeed(m_pty.SlaveFd()).output, 19200U);
    ASSERT_TRUE(m_port.Close());
    CSerialPort other;
    EXPECT_NE(other.Open(kPort, 9600, 8, 0, 0), kNullPortHandle);
}

// The far side hanging up is what an unplugged adapter looks like: whichever of Write or Read
// meets it first closes the port quietly, at once, and marks it lost.
TEST_F(SerialPortPtyTest, FarSideHangingUpClosesThePortQuietlyOnWriteOrRead) {
    for (const bool bWriteFirst : {true, false}) {
        SCOPED_TRACE(bWriteFirst ? "write first" : "read first");
        PtyPair pty;
        ASSERT_TRUE(pty.IsOpen());
        ASSERT_NE(m_port.OpenPath(pty.SlavePath(), {9600, 8, 0, 0}), kNullPortHandle);
        pty.CloseMaster();
        const std::vector<uint8_t> frame = Counting(35);
        std::array<uint8_t, 8> buffer{};
        if (bWriteFirst) {
            EXPECT_TRUE(m_port.Write(frame.data(), static_cast<int>(frame.size())));
        } else {
            EXPECT_EQ(m_port.Read(buffer.data(), static_cast<int>(buffer.size())), 0);
        }
        EXPECT_FALSE(m_port.IsOpen());
        EXPECT_TRUE(m_port.IsLost());
        EXPECT_FALSE(m_port.Write(frame.data(), static_cast<int>(frame.size())));
        EXPECT_EQ(m_port.Read(buffer.data(), static_cast<int>(buffer.size())), 0);
        // The device released: the next open of a live one works.
        EXPECT_NE(m_port.Open(kPort, 9600, 8, 0, 0), kNullPortHandle);
        EXPECT_FALSE(m_port.IsLost());
        m_port.Close();
    }
}

// Why a port does not open, as the user will read it: the device's name and the reason.
TEST_F(SerialPortPtyTest, FailedOpenSaysWhichDeviceAndWhy) {
    const std::string stem = ::testing::TempDir() + "qd7-open-" + std::to_string(getpid());
    const std::string plainFile = stem + ".txt";
    std::ofstream(plainFile) << "not a port\n";
    const std::string danglingLink = stem + "-unplugged";
    ASSERT_EQ(symlink("/nonexistent/qd7-ttyUSB9", danglingLink.c_str()), 0);
    const std::string consoleList = stem + "-consoles.txt";
    struct stat st {};
    ASSERT_EQ(stat(m_pty.SlavePath().c_str(), &st), 0);
    std::ofstream(consoleList) << "ttyS0 -W- (EC p a) " << major(st.st_rdev) << ":"
                               << minor(st.st_rdev) << "\n";
    CSerialPort holder;
    // Another program with /dev/null open, as every daemon has: a character device with holders,
    // which must be refused as what it is, not as a port in use.
    struct Child {
        pid_t pid = -1;
        ~Child() {
            if (pid > 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
    } nullHolder;
    const int fdNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fdNull, 0);
    nullHolder.pid = fork();
    if (nullHolder.pid == 0) {
        for (;;) {
            pause();
        }
    }
    close(fdNull);
    ASSERT_GT(nullHolder.pid, 0);

    struct Case {
        const char* name;
        std::string path;
        std::string consoles; // the console list the port reads
        int stopBits;
        OpenFailure kind;
        const char* words;
    };
    const std::string pty = m_pty.SlavePath();
    const std::vector<Case> cases = {
        {"missing", "/nonexistent/qd7-no-such-port", "", 0, OpenFailure::NoDevice,
         "no such file or device"},
        {"dangling link", danglingLink, "", 0, OpenFailure::NoDevice,
         "a dangling link (to /nonexistent/qd7-ttyUSB9, which does not exist)"},
        {"plain file", plainFile, "", 0, OpenFailure::NotSerial, "not a serial device"},
        {"null device", "/dev/null", "", 0, OpenFailure::NotSerial, "not a serial device"},
        {"held by another port", pty, "", 0, OpenFailure::InUse, "in use by another program"},
        {"kernel console", pty, consoleList, 0, OpenFailure::KernelConsole, "console"},
        {"settings refused", pty, "", 1, OpenFailure::SettingsRefused,
         "refuses the line settings (9600 bit/s 8N1.5)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool bHold = c.kind == OpenFailure::InUse;
        if (bHold) {
            ASSERT_NE(holder.OpenPath(pty, {9600, 8, 0, 0}), kNullPortHandle);
        }
        const std::string consoles = c.consoles.empty() ? "/nonexistent" : c.consoles;
        CSerialPort port(CreateSystemSerialOps(consoles));
        EXPECT_EQ(port.OpenPath(c.path, {9600, 8, 0, c.stopBits}), kNullPortHandle);
        EXPECT_FALSE(port.IsOpen());
        if (c.kind != OpenFailure::SettingsRefused) { // the port's own verdict, not the system's
            const auto ops = CreateSystemSerialOps(consoles);
            OpenError error;
            const PortHandle h = ops->OpenDevice(c.path, error);
            EXPECT_EQ(h, kNullPortHandle);
            EXPECT_EQ(error.kind, c.kind);
            if (h != kNullPortHandle) {
                ops->CloseDevice(h);
            }
        }
        EXPECT_EQ(port.FailureReason().rfind(c.path + ": ", 0), 0U) << port.FailureReason();
        EXPECT_NE(port.FailureReason().find(c.words), std::string::npos) << port.FailureReason();
        holder.Close();
    }
    std::remove(plainFile.c_str());
    std::remove(danglingLink.c_str());
    std::remove(consoleList.c_str());
}

// Only a user outside the device's group meets this; root may open anything.
TEST_F(SerialPortPtyTest, DeviceWithoutAccessNamesTheDialoutFix) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root is never refused access";
    }
    ASSERT_EQ(chmod(m_pty.SlavePath().c_str(), 0), 0);
    EXPECT_EQ(m_port.OpenPath(m_pty.SlavePath(), {9600, 8, 0, 0}), kNullPortHandle);
    EXPECT_NE(m_port.FailureReason().find("sudo usermod -aG dialout $USER"), std::string::npos);
}

TEST_F(SerialPortPtyTest, EverySpeedOfTheListIsSetExactly) {
    for (const int speed : kBaudTable) {
        SCOPED_TRACE(speed);
        ASSERT_NE(m_port.Open(kPort, speed, 8, 0, 0), kNullPortHandle);
        const ProbedSpeed probed = ProbeLineSpeed(m_pty.SlaveFd());
        EXPECT_EQ(probed.output, static_cast<unsigned>(speed));
        EXPECT_EQ(probed.input, static_cast<unsigned>(speed));
        EXPECT_TRUE(m_port.Close());
    }
}

TEST_F(SerialPortPtyTest, LineIsRawWithoutFlowControlAndTheOriginalComesBackAtClose) {
    // A line as a login shell would leave it: canonical, echoing, translating, XON/XOFF, 1200.
    termios original{};
    ASSERT_EQ(tcgetattr(m_pty.SlaveFd(), &original), 0);
    original.c_lflag |= ICANON | ECHO | ISIG;
    original.c_iflag |= ICRNL | IXON | IXOFF;
    original.c_oflag |= OPOST | ONLCR;
    original.c_cflag |= CRTSCTS;
    cfsetspeed(&original, B1200);
    ASSERT_EQ(tcsetattr(m_pty.SlaveFd(), TCSANOW, &original), 0);
    ASSERT_EQ(tcgetattr(m_pty.SlaveFd(), &original), 0);

    ASSERT_NE(m_port.Open(kPort, 115200, 7, 2, 2), kNullPortHandle);
    termios open{};
    ASSERT_EQ(tcgetattr(m_pty.SlaveFd(), &open), 0);
    EXPECT_EQ(open.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0U);
    EXPECT_EQ(open.c_iflag & (ICRNL | IXON | IXOFF | INPCK | ISTRIP), 0U);
    EXPECT_EQ(open.c_oflag & OPOST, 0U);
    EXPECT_EQ(open.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(open.c_cflag & CRTSCTS, 0U);
    EXPECT_EQ(open.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
    EXPECT_EQ(open.c_cc[VMIN], 0);
    EXPECT_EQ(open.c_cc[VTIME], 0);
    EXPECT_EQ(ProbeLineSpeed(m_pty.SlaveFd()).output, 115200U);

    ASSERT_TRUE(m_port.Close());
    termios restored{};
    ASSERT_EQ(tcgetattr(m_pty.SlaveFd(), &restored), 0);
    EXPECT_EQ(restored.c_iflag, original.c_iflag);
    EXPECT_EQ(restored.c_oflag, original.c_oflag);
    EXPECT_EQ(restored.c_cflag, original.c_cflag);
    EXPECT_EQ(restored.c_lflag, original.c_lflag);
    EXPECT_TRUE(
        std::equal(std::begin(restored.c_cc), std::end(restored.c_cc), std::begin(original.c_cc)));
    EXPECT_EQ(ProbeLineSpeed(m_pty.SlaveFd()).output, 1200U);
}

struct RefusedCase {
    const char* name;
    int speed, dataBits, parity, stopBits;
};

void PrintTo(const RefusedCase& c, std::ostream* os) {
    *os << c.name;
}

class SerialPortRefusedTest : public SerialPortPtyTest,
                              public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(SerialPortRefusedTest, OpenFailsAndLeavesTheDeviceAsItWas) {
    const RefusedCase& c = GetParam();
    termios before{};
    ASSERT_EQ(tcgetattr(m_pty.SlaveFd(), &before), 0);
    const unsigned nSpeedBefore = ProbeLineSpeed(m_pty.SlaveFd()).output;

    EXPECT_EQ(m_port.Open(kPort, c.speed, c.dataBits, c.parity, c.stopBits), kNullPortHandle);
    EXPECT_FALSE(m_port.m_bOpen);

    termios after{};
    ASSERT_EQ(tcgetattr(m_pty.SlaveFd(), &after), 0);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(ProbeLineSpeed(m_pty.SlaveFd()).output, nSpeedBefore);
    EXPECT_FALSE(ProbeExclusive(m_pty.SlaveFd()));
    // Released: the next valid Open gets the device.
    EXPECT_NE(m_port.Open(kPort, 9600, 8, 0, 0), kNullPortHandle);
}

INSTANTIATE_TEST_SUITE_P(Settings, SerialPortRefusedTest,
                         ::testing::Values(RefusedCase{"OneAndAHalfStopBits", 9600, 8, 0, 1},
                                           RefusedCase{"StopBitsCode3", 9600, 8, 0, 3},
                                           RefusedCase{"SixDataBits", 9600, 6, 0, 0},
                                           RefusedCase{"ParityCode5", 9600, 8, 5, 0},
                                           RefusedCase{"NegativeParity", 9600, 8, -1, 0},
                                           RefusedCase{"ZeroSpeed", 0, 8, 0, 0},
                                           RefusedCase{"NegativeSpeed", -9600, 8, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// A console of the kernel is refused before it is opened. The list names the pty's slave here,
// in the format of /proc/consoles.
TEST_F(SerialPortPtyTest, ADeviceListedAsConsoleIsNeverOpened) {
    struct stat st {};
    ASSERT_EQ(stat(m_pty.SlavePath().c_str(), &st), 0);
    const std::string listPath =
        ::testing::TempDir() + "qd7-consoles-" + std::to_string(getpid()) + ".txt";
    std::array<char, 128> line{};
    std::snprintf(line.data(), line.size(), "ttyS0                -W- (EC p a)    %u:%u\n",
                  major(st.st_rdev), minor(st.st_rdev));
    std::ofstream(listPath) << "tty0                 -WU (E  p  )    4:1\n" << line.data();

    CSerialPort consolePort(CreateSystemSerialOps(listPath));
    EXPECT_EQ(consolePort.Open(kPort, 9600, 8, 0, 0), kNullPortHandle);
    EXPECT_FALSE(ProbeExclusive(m_pty.SlaveFd()));

    std::ofstream(listPath) << "tty0                 -WU (E  p  )    4:1\n";
    CSerialPort plainPort(CreateSystemSerialOps(listPath));
    EXPECT_NE(plainPort.Open(kPort, 9600, 8, 0, 0), kNullPortHandle);
    std::remove(listPath.c_str());
}

} // namespace
