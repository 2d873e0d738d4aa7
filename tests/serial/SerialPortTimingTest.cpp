// How long Write holds RTS up, against a recording fake whose line sends its bytes at the
// configured speed: RTS must stay up until the last stop bit has left, whether or not the driver
// can tell when its transmitter is empty, and must not stay up much longer. Where it cannot tell,
// a guard follows the frame's computed end, since a USB adapter starts sending late.

#include <algorithm>
#include <chrono>
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
    int count = kFrameBytes;
};

// The guard, worked out independently: two characters of 10 bits, at least 1 ms.
double GuardUs(int speed) {
    return std::max(1000.0, 2 * 10 * 1e6 / speed);
}

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
    std::vector<uint8_t> frame(static_cast<size_t>(c.count));
    std::iota(frame.begin(), frame.end(), uint8_t{1});
    m_line.ClearEvents();

    ASSERT_TRUE(m_port.Write(frame.data(), c.count));

    const int64_t nRtsOnUs = m_line.TimeOf("rts on");
    const int64_t nWriteUs = m_line.TimeOf("write " + std::to_string(c.count));
    const int64_t nRtsOffUs = m_line.TimeOf("rts off");
    ASSERT_GE(nRtsOnUs, 0);
    ASSERT_GT(nWriteUs, nRtsOnUs);
    ASSERT_GT(nRtsOffUs, nWriteUs);
    const double frameUs = c.count * 10 * 1e6 / c.speed;
    const double guardUs = c.bLsrReadable ? 0.0 : GuardUs(c.speed);
    const auto lineFreeUs = static_cast<double>(m_line.nLineFreeUs);
    // Not before the line is free, and the guard after it where the transmitter cannot be asked:
    // the converter would cut the frame's last characters off.
    EXPECT_GE(static_cast<double>(nRtsOffUs), lineFreeUs + guardUs);
    EXPECT_GE(static_cast<double>(nRtsOffUs - nWriteUs), frameUs);
    // Soon after: a meter answers within a few characters. One poll of the status register (at
    // most 1 ms) and a few calls of 10 us are all it may take beyond the line and the guard.
    EXPECT_LE(static_cast<double>(nRtsOffUs), lineFreeUs + guardUs + 1'100);
    // And always within the bound of a stuck transmitter.
    EXPECT_LE(static_cast<double>(nRtsOffUs - nRtsOnUs),
              std::max(2 * frameUs, frameUs + guardUs) + 50'000);
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
                                           HoldCase{"PseudoTerminal256000", 256000, false, false},
                                           // A single character: its guard is longer than itself.
                                           HoldCase{"UsbAdapterOneByte110", 110, false, true, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// Converters that switch slowly: RTS goes up the "before" delay ahead of the first byte and comes
// down the "after" delay behind the end (and the guard, where the transmitter cannot be asked).
TEST(SerialPortRtsDelayTest, DelaysWidenTheHoldOnBothSides) {
    for (const bool bLsrReadable : {true, false}) {
        SCOPED_TRACE(bLsrReadable ? "UART" : "USB adapter");
        CEnvGuard env;
        env.Set("QD7_COM6", "/fake/device6");
        FakeLine line;
        line.bPaced = true;
        line.bLsrReadable = bLsrReadable;
        CSerialPort port(MakeRecordingOps(line));
        port.SetRtsDelays(std::chrono::microseconds(3'000), std::chrono::microseconds(2'000));
        ASSERT_NE(port.Open(6, 9600, 8, 0, 0), kNullPortHandle);
        EXPECT_EQ(line.TimeOf("rs485 delays 3 2"), -1); // we drive RTS: no driver to tell
        const std::vector<uint8_t> frame(kFrameBytes, 0x55);
        line.ClearEvents();

        ASSERT_TRUE(port.Write(frame.data(), kFrameBytes));

        const int64_t nRtsOnUs = line.TimeOf("rts on");
        const int64_t nWriteUs = line.TimeOf("write 35");
        const auto nRtsOffUs = static_cast<double>(line.TimeOf("rts off"));
        ASSERT_GE(nRtsOnUs, 0);
        EXPECT_GE(nWriteUs - nRtsOnUs, 3'000);
        EXPECT_LE(nWriteUs - nRtsOnUs, 3'100);
        const double endUs =
            static_cast<double>(line.nLineFreeUs) + (bLsrReadable ? 0.0 : GuardUs(9600)) + 2'000;
        EXPECT_GE(nRtsOffUs, endUs);
        EXPECT_LE(nRtsOffUs, endUs + 1'100);
    }
}

// In the kernel's RS485 mode the driver raises RTS around the frame itself: Write leaves RTS
// alone, at open too, and still returns only once the frame has left. The RTS delays go to the
// driver at open, in whole milliseconds; a driver that does not take them fails the open.
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
    // No guard of ours: the driver ends the transmission, with its own delay.
    EXPECT_LE(line.nNowUs, line.nLineFreeUs + 1'100);
    for (const std::string& event : line.events) {
        EXPECT_EQ(event.rfind("rts", 0), std::string::npos) << event;
    }
    EXPECT_NE(line.TimeOf("dtr on"), -1);

    // Without delays asked, the driver's own are left alone.
    EXPECT_EQ(std::count_if(line.events.begin(), line.events.end(),
                            [](const std::string& e) { return e.rfind("rs485", 0) == 0; }),
              0);
    port.SetRtsDelays(std::chrono::microseconds(4'500), std::chrono::microseconds(0));
    line.ClearEvents();
    ASSERT_NE(port.Open(6, 9600, 8, 0, 0), kNullPortHandle);
    EXPECT_NE(line.TimeOf("rs485 delays 5 0"), -1);
    // The driver waits the delays, not we.
    const int64_t nStartUs = line.nNowUs;
    ASSERT_TRUE(port.Write(frame.data(), kFrameBytes));
    EXPECT_LT(line.TimeOf("write 35") - nStartUs, 1'000);
    EXPECT_LE(line.nNowUs, line.nLineFreeUs + 1'100);

    line.bKernelDelaysRefused = true;
    line.ClearEvents();
    EXPECT_EQ(port.Open(6, 9600, 8, 0, 0), kNullPortHandle);
    EXPECT_EQ(port.FailureReason(),
              "/fake/device6: the driver refuses the RTS delays (before 5 ms, after 0 ms)");
    EXPECT_EQ(line.events.back(), "close 7");
    EXPECT_FALSE(port.IsOpen());
}

} // namespace
