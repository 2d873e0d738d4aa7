// How long Write holds RTS up, against a recording fake whose line sends its bytes at the
// configured speed: RTS must stay up until the last stop bit has left, whether or not the driver
// can tell when its transmitter is empty, and must not stay up much longer.

#include <gtest/gtest.h>
#include <numeric>
#include <string>
#include <vector>

#include "serial/LineTiming.h"
#include "serial/SerialPort.h"
#include "tests/serial/RecordingSerialOps.h"
#include "tests/support/EnvGuard.h"

namespace {

constexpr int kFrameBytes = 35;

TEST(LineTimingTest, CharactersAndFramesOnTheLine) {
    struct Case {
        LineSettings line;
        int count;
        int bits;
        int64_t us;
    };
    const Case cases[] = {
        {{9600, 8, 0, 0}, 35, 10, 36'459},   // 36458.3: never shorter than the line
        {{9600, 8, 0, 0}, 1, 10, 1'042},     //
        {{110, 8, 0, 0}, 35, 10, 3'181'819}, // 3181818.2
        {{256000, 8, 0, 0}, 35, 10, 1'368},  // 1367.2
        {{9600, 7, 2, 2}, 35, 11, 40'105},   // 7E2: 11 bits, 40104.2
        {{115200, 8, 1, 0}, 35, 11, 3'343},  // 8O1: 3342.01
        {{0, 8, 0, 0}, 35, 10, 0},           // no speed, no time
        {{9600, 8, 0, 0}, 0, 10, 0},         //
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.line.speed) + " " + std::to_string(c.count));
        EXPECT_EQ(CharacterBits(c.line), c.bits);
        EXPECT_EQ(LineTimeUs(c.line, c.count), c.us);
    }
}

struct HoldCase {
    const char* name;
    int speed;
    bool bLsrReadable; // a UART's line-status register
    bool bOutqReadable;
};

void PrintTo(const HoldCase& c, std::ostream* os) {
    *os << c.name;
}

class SerialPortHoldTest : public ::testing::TestWithParam<HoldCase> {
protected:
    void SetUp() override {
        m_env.Set("QD7_COM6", "/fake/device6");
        m_line.bPaced = true;
        m_line.bLsrReadable = GetParam().bLsrReadable;
        m_line.bOutqReadable = GetParam().bOutqReadable;
    }

    CEnvGuard m_env;
    FakeLine m_line;
    CSerialPort m_port{MakeRecordingOps(m_line)};
};

TEST_P(SerialPortHoldTest, RtsFallsOnceTheLastBitHasLeftAndNotMuchLater) {
    const HoldCase& c = GetParam();
    ASSERT_NE(m_port.Open(6, c.speed, 8, 0, 0), kNullPortHandle);
    std::vector<uint8_t> frame(kFrameBytes);
    std::iota(frame.begin(), frame.end(), uint8_t{1});
    m_line.ClearEvents();

    ASSERT_TRUE(m_port.Write(frame.data(), kFrameBytes));

    const int64_t nRtsOnUs = m_line.TimeOf("rts on");
    const int64_t nWriteUs = m_line.TimeOf("write 35");
    const int64_t nRtsOffUs = m_line.TimeOf("rts off");
    ASSERT_GE(nRtsOnUs, 0);
    ASSERT_GT(nWriteUs, nRtsOnUs);
    ASSERT_GT(nRtsOffUs, nWriteUs);
    const double frameUs = kFrameBytes * 10 * 1e6 / c.speed;
    // Not before the line is free: the converter would cut the frame's last characters off.
    EXPECT_GE(nRtsOffUs, m_line.nLineFreeUs);
    EXPECT_GE(static_cast<double>(nRtsOffUs - nWriteUs), frameUs);
    // Soon after: a meter answers within a few characters. One poll of the status register (at
    // most 1 ms) and a few calls of 10 us are all it may take beyond the line.
    EXPECT_LE(nRtsOffUs, m_line.nLineFreeUs + 1'100);
    // And always within the bound of a stuck transmitter.
    EXPECT_LE(static_cast<double>(nRtsOffUs - nRtsOnUs), 2 * frameUs + 50'000);
    EXPECT_LT(m_line.nCalls, 1'000); // slept, not polled busily
}

INSTANTIATE_TEST_SUITE_P(Lines, SerialPortHoldTest,
                         ::testing::Values(HoldCase{"Uart110", 110, true, true},
                                           HoldCase{"Uart9600", 9600, true, true},
                                           HoldCase{"Uart256000", 256000, true, true},
                                           HoldCase{"UsbAdapter110", 110, false, true},
                                           HoldCase{"UsbAdapter9600", 9600, false, true},
                                           HoldCase{"UsbAdapter256000", 256000, false, true},
                                           HoldCase{"PseudoTerminal110", 110, false, false},
                                           HoldCase{"PseudoTerminal9600", 9600, false, false},
                                           HoldCase{"PseudoTerminal256000", 256000, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// In the kernel's RS485 mode the driver raises RTS around the frame itself: Write leaves RTS
// alone, at open too, and still returns only once the frame has left.
TEST(SerialPortRs485Test, KernelModeLeavesRtsToTheDriverAndStillWaitsForTheLine) {
    CEnvGuard env;
    env.Set("QD7_COM6", "/fake/device6");
    FakeLine line;
    line.bPaced = true;
    line.bLsrReadable = false;
    line.bOutqReadable = false;
    line.bKernelRs485 = true;
    CSerialPort port(MakeRecordingOps(line));
    ASSERT_NE(port.Open(6, 9600, 8, 0, 0), kNullPortHandle);
    const std::vector<uint8_t> frame(kFrameBytes, 0x55);

    ASSERT_TRUE(port.Write(frame.data(), kFrameBytes));

    EXPECT_GE(line.nNowUs, line.nLineFreeUs);
    for (const std::string& event : line.events) {
        EXPECT_EQ(event.rfind("rts", 0), std::string::npos) << event;
    }
    EXPECT_NE(line.TimeOf("dtr on"), -1);
}

} // namespace
