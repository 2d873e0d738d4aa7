// The order of the operating-system calls behind CSerialPort, against a recording fake.

#include <algorithm>
#include <array>
#include <chrono>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <numeric>
#include <string>
#include <vector>

#include "serial/SerialPort.h"
#include "tests/serial/RecordingSerialOps.h"
#include "tests/support/EnvGuard.h"

namespace {

using ::testing::ElementsAre;

constexpr int kPort = 5;
constexpr const char* kDevice = "/fake/device5";
// 35 characters of 10 bits at 9600 bit/s, rounded up.
constexpr int64_t kFrameUs9600 = 36'459;

class SerialPortOrderTest : public ::testing::Test {
protected:
    void SetUp() override { m_env.Set("QD7_COM5", kDevice); }

    PortHandle OpenDefault() { return m_port.Open(kPort, 9600, 8, 0, 0); }

    // The frame every caller sends: 35 bytes.
    static std::array<uint8_t, 35> Frame() {
        std::array<uint8_t, 35> frame{};
        std::iota(frame.begin(), frame.end(), uint8_t{1});
        return frame;
    }

    // Events from the first "rts on" on.
    std::vector<std::string> EventsFromRtsOn() const {
        const auto it = std::find(m_line.events.begin(), m_line.events.end(), "rts on");
        return {it, m_line.events.end()};
    }

    CEnvGuard m_env;
    FakeLine m_line;
    CSerialPort m_port{MakeRecordingOps(m_line)};
};

TEST_F(SerialPortOrderTest, OpenConfiguresThenSetsDtrOnRtsOffThenFlushesBothQueues) {
    EXPECT_EQ(m_port.Open(kPort, 19200, 7, 2, 2), CRecordingSerialOps::kHandle);
    EXPECT_TRUE(m_port.m_bOpen);
    EXPECT_EQ(m_port.m_hPort, CRecordingSerialOps::kHandle);
    EXPECT_THAT(m_line.events, ElementsAre("open /fake/device5", "configure 19200 7 2 2", "dtr on",
                                           "rts off", "flush"));
}

TEST_F(SerialPortOrderTest, ClosedPortDoesNothing) {
    std::array<uint8_t, 4> buffer = {1, 2, 3, 4};
    const auto frame = Frame();
    EXPECT_FALSE(m_port.Write(frame.data(), static_cast<int>(frame.size())));
    EXPECT_EQ(m_port.Read(buffer.data(), static_cast<int>(buffer.size())), 0);
    EXPECT_FALSE(m_port.Close());
    EXPECT_THAT(buffer, ElementsAre(1, 2, 3, 4));
    EXPECT_TRUE(m_line.events.empty());
}

TEST_F(SerialPortOrderTest, SecondCloseReturnsFalseAndClosesNothing) {
    ASSERT_NE(OpenDefault(), kNullPortHandle);
    EXPECT_TRUE(m_port.Close());
    EXPECT_FALSE(m_port.Close());
    EXPECT_EQ(std::count(m_line.events.begin(), m_line.events.end(), "close 7"), 1);
    EXPECT_EQ(m_port.m_hPort, kNullPortHandle);
    EXPECT_FALSE(m_port.m_bOpen);
}

TEST_F(SerialPortOrderTest, RefusedSettingClosesTheDeviceAgain) {
    m_line.bConfigureRefuses = true;
    EXPECT_EQ(OpenDefault(), kNullPortHandle);
    EXPECT_THAT(m_line.events,
                ElementsAre("open /fake/device5", "configure 9600 8 0 0", "close 7"));
    EXPECT_FALSE(m_port.m_bOpen);
    EXPECT_EQ(m_port.m_hPort, kNullPortHandle);
    EXPECT_FALSE(m_port.Close());
}

TEST_F(SerialPortOrderTest, DeviceThatDoesNotOpenLeavesThePortClosed) {
    m_line.openFailure = OpenFailure::NoDevice;
    EXPECT_EQ(OpenDefault(), kNullPortHandle);
    EXPECT_THAT(m_line.events, ElementsAre("open /fake/device5"));
    EXPECT_FALSE(m_port.m_bOpen);
    EXPECT_EQ(m_port.m_hPort, kNullPortHandle);
}

TEST_F(SerialPortOrderTest, OpenOnAnOpenPortClosesTheOldDeviceFirst) {
    ASSERT_NE(OpenDefault(), kNullPortHandle);
    m_line.ClearEvents();
    ASSERT_NE(m_port.Open(kPort, 115200, 8, 0, 0), kNullPortHandle);
    ASSERT_GE(m_line.events.size(), 2U);
    EXPECT_EQ(m_line.events[0], "close 7");
    EXPECT_EQ(m_line.events[1], "open /fake/device5");
}

TEST_F(SerialPortOrderTest, DestructorClosesAnOpenPort) {
    {
        CSerialPort port(MakeRecordingOps(m_line));
        ASSERT_NE(port.Open(kPort, 9600, 8, 0, 0), kNullPortHandle);
    }
    EXPECT_EQ(m_line.events.back(), "close 7");
}

TEST_F(SerialPortOrderTest, WriteHoldsRtsUpFromBeforeTheFirstByteUntilTheTransmitterIsEmpty) {
    ASSERT_NE(OpenDefault(), kNullPortHandle);
    m_line.outputQueued = {20, 1, 0};
    m_line.transmitter = {TransmitterState::Busy, TransmitterState::Busy, TransmitterState::Empty};
    const auto frame = Frame();
    EXPECT_TRUE(m_port.Write(frame.data(), static_cast<int>(frame.size())));

    std::vector<std::string> events = EventsFromRtsOn();
    events.erase(std::remove(events.begin(), events.end(), "sleep"), events.end());
    EXPECT_THAT(events, ElementsAre("rts on", "write 35", "outq", "outq", "outq", "lsr", "lsr",
                                    "lsr", "rts off"));
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), m_line.sent.begin(), m_line.sent.end()));
}

// The command-line companion watches for input while a frame goes out, to time a late reply by
// its arrival: the write then waits for input where it would sleep, and holds RTS up just as
// long. Without the watch (the window program) the write sleeps as it always did.
TEST_F(SerialPortOrderTest, TheInputWatchWaitsWhereTheWriteSleepsAndHoldsRtsAsLong) {
    struct WatchCase {
        const char* name;
        bool bWatch;
        bool bInput;
    };
    int64_t rtsUpUs = -1;
    for (const WatchCase c :
         {WatchCase{"no watch", false, true}, WatchCase{"no input", true, false},
          WatchCase{"input at once", true, true}}) {
        FakeLine line;
        line.transmitter = {TransmitterState::Unknown};
        line.input = c.bInput ? std::vector<uint8_t>{0x06, 0x02} : std::vector<uint8_t>{};
        CSerialPort port{MakeRecordingOps(line)};
        ASSERT_NE(port.Open(kPort, 9600, 8, 0, 0), kNullPortHandle) << c.name;
        port.SetWatchInputDuringWrite(c.bWatch);
        line.ClearEvents();
        const auto frame = Frame();
        EXPECT_TRUE(port.Write(frame.data(), static_cast<int>(frame.size())));
        const bool bWaited =
            std::find(line.events.begin(), line.events.end(), "wait input") != line.events.end();
        EXPECT_EQ(bWaited, c.bWatch) << c.name;
        EXPECT_EQ(port.InputSeenBeforeWriteEnd().has_value(), c.bWatch && c.bInput) << c.name;
        if (c.bWatch && c.bInput) {
            EXPECT_GE(*port.InputSeenBeforeWriteEnd(), std::chrono::microseconds(kFrameUs9600))
                << "the input was there when the frame began";
        }
        const int64_t upUs = line.TimeOf("rts off") - line.TimeOf("rts on");
        EXPECT_GE(upUs, kFrameUs9600) << c.name;
        if (rtsUpUs >= 0) {
            EXPECT_NEAR(upUs, rtsUpUs, 100) << c.name << ": RTS is up as long with the watch";
        }
        rtsUpUs = upUs;
    }
}

TEST_F(SerialPortOrderTest, PartialWritesAndAFullQueueStillSendEveryByteInOrder) {
    ASSERT_NE(OpenDefault(), kNullPortHandle);
    m_line.nWriteChunk = 8;
    m_line.bWouldBlockBetweenChunks = true;
    const auto frame = Frame();
    EXPECT_TRUE(m_port.Write(frame.data(), static_cast<int>(frame.size())));

    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), m_line.sent.begin(), m_line.sent.end()));
    const std::vector<std::string> events = EventsFromRtsOn();
    EXPECT_EQ(std::count(events.begin(), events.end(), "write 8"), 4);
    EXPECT_EQ(std::count(events.begin(), events.end(), "write 3"), 1);
    EXPECT_GE(std::count(events.begin(), events.end(), "wait writable"), 4);
    EXPECT_EQ(events.back(), "rts off");
}

TEST_F(SerialPortOrderTest, WriteErrorGoesUnnoticedButRtsFalls) {
    ASSERT_NE(OpenDefault(), kNullPortHandle);
    m_line.bWriteFails = true;
    const auto frame = Frame();
    EXPECT_TRUE(m_port.Write(frame.data(), static_cast<int>(frame.size())));
    const std::vector<std::string> events = EventsFromRtsOn();
    EXPECT_EQ(std::count(events.begin(), events.end(), "write failed"), 1);
    EXPECT_EQ(events.back(), "rts off");
}

TEST_F(SerialPortOrderTest, NothingToSendLeavesRtsAlone) {
    ASSERT_NE(OpenDefault(), kNullPortHandle);
    m_line.ClearEvents();
    const uint8_t byte = 0;
    EXPECT_TRUE(m_port.Write(&byte, 0));
    EXPECT_TRUE(m_port.Write(&byte, -5));
    EXPECT_TRUE(m_port.Write(nullptr, 35));
    EXPECT_TRUE(m_line.events.empty());
}

// A transmitter that never reports empty, or a queue that never drains or never takes a byte:
// the wait ends at twice the frame's time on the line plus 50 ms, and RTS falls.
struct StuckCase {
    const char* name;
    bool bQueueFull;
    int nOutputQueued;
    TransmitterState transmitter;
};

void PrintTo(const StuckCase& c, std::ostream* os) {
    *os << c.name;
}

class SerialPortStuckTest : public SerialPortOrderTest,
                            public ::testing::WithParamInterface<StuckCase> {};

TEST_P(SerialPortStuckTest, WaitIsBoundedAndRtsFalls) {
    const StuckCase& c = GetParam();
    ASSERT_NE(OpenDefault(), kNullPortHandle);
    m_line.outputQueued = {c.nOutputQueued};
    m_line.transmitter = {c.transmitter};
    m_line.nWriteChunk = c.bQueueFull ? 0 : 1 << 20;
    m_line.bWouldBlockBetweenChunks = c.bQueueFull;
    const int64_t nStartUs = m_line.nNowUs;
    const auto frame = Frame();

    EXPECT_TRUE(m_port.Write(frame.data(), static_cast<int>(frame.size())));

    const int64_t nBoundUs = 2 * kFrameUs9600 + 50'000;
    const int64_t nTookUs = m_line.nNowUs - nStartUs;
    EXPECT_GE(nTookUs, nBoundUs); // it did wait, as long as it may
    EXPECT_LE(nTookUs, nBoundUs + 2'000);
    EXPECT_EQ(m_line.events.back(), "rts off");
    EXPECT_LT(m_line.nCalls, 10'000); // the pauses are long, not a busy loop
}

INSTANTIATE_TEST_SUITE_P(
    Stuck, SerialPortStuckTest,
    ::testing::Values(StuckCase{"TransmitterNeverEmpty", false, 0, TransmitterState::Busy},
                      StuckCase{"QueueNeverDrains", false, 12, TransmitterState::Empty},
                      StuckCase{"QueueNeverTakesAByte", true, 0, TransmitterState::Empty}),
    [](const auto& info) { return std::string(info.param.name); });

// An adapter unplugged under an open port: the port closes itself at once, without waiting for a
// transmitter that is no more, and says it was lost until it is opened or closed again.
TEST_F(SerialPortOrderTest, DeviceGoneOnWriteClosesThePortQuietlyAndMarksItLost) {
    ASSERT_NE(OpenDefault(), kNullPortHandle);
    m_line.ClearEvents();
    m_line.bGone = true;
    const auto frame = Frame();
    EXPECT_TRUE(m_port.Write(frame.data(), static_cast<int>(frame.size())));
    EXPECT_THAT(m_line.events, ElementsAre("rts on", "write gone", "rts off", "close 7"));
    EXPECT_FALSE(m_port.IsOpen());
    EXPECT_EQ(m_port.m_hPort, kNullPortHandle);
    EXPECT_TRUE(m_port.IsLost());
    EXPECT_FALSE(m_port.Write(frame.data(), static_cast<int>(frame.size())));

    // A failed attempt to open it again keeps it lost; a successful one ends that.
    m_line.openFailure = OpenFailure::NoDevice;
    EXPECT_EQ(OpenDefault(), kNullPortHandle);
    EXPECT_TRUE(m_port.IsLost());
    m_line.openFailure = OpenFailure::None;
    m_line.bGone = false;
    EXPECT_NE(OpenDefault(), kNullPortHandle);
    EXPECT_FALSE(m_port.IsLost());
}

TEST_F(SerialPortOrderTest, DeviceGoneOnReadClosesThePortAndACloseForgetsIt) {
    ASSERT_NE(OpenDefault(), kNullPortHandle);
    m_line.ClearEvents();
    m_line.bGone = true;
    std::array<uint8_t, 8> buffer{};
    EXPECT_EQ(m_port.Read(buffer.data(), static_cast<int>(buffer.size())), 0);
    EXPECT_THAT(m_line.events, ElementsAre("inq", "close 7"));
    EXPECT_TRUE(m_port.IsLost());
    EXPECT_FALSE(m_port.Close()); // already closed
    EXPECT_FALSE(m_port.IsLost());
}

// The reason of a failed open names the device, and says what the system said.
TEST_F(SerialPortOrderTest, FailedOpenKeepsItsReasonUntilTheNextSuccessfulOne) {
    m_line.openFailure = OpenFailure::InUse;
    EXPECT_EQ(OpenDefault(), kNullPortHandle);
    EXPECT_EQ(m_port.FailureReason(), "/fake/device5: in use by another program");

    m_line.openFailure = OpenFailure::None;
    m_line.bConfigureRefuses = true;
    EXPECT_EQ(m_port.Open(kPort, 256000, 8, 2, 2), kNullPortHandle);
    EXPECT_EQ(m_port.FailureReason(),
              "/fake/device5: the driver refuses the line settings (256000 bit/s 8E2)");

    m_line.bConfigureRefuses = false;
    EXPECT_NE(OpenDefault(), kNullPortHandle);
    EXPECT_EQ(m_port.FailureReason(), "");
}

TEST_F(SerialPortOrderTest, ReadTakesAtMostMaxCountOfTheWaitingBytes) {
    ASSERT_NE(OpenDefault(), kNullPortHandle);
    m_line.ClearEvents();
    m_line.nInputWaiting = 10;
    std::array<uint8_t, 16> buffer{};
    EXPECT_EQ(m_port.Read(buffer.data(), 4), 4);
    EXPECT_THAT(m_line.events, ElementsAre("inq", "read 4"));

    m_line.ClearEvents();
    m_line.nInputWaiting = 3;
    EXPECT_EQ(m_port.Read(buffer.data(), 16), 3);
    EXPECT_THAT(m_line.events, ElementsAre("inq", "read 3"));
}

TEST_F(SerialPortOrderTest, ReadWithNothingWaitingDoesNotReadOrTouchTheBuffer) {
    ASSERT_NE(OpenDefault(), kNullPortHandle);
    m_line.ClearEvents();
    std::array<uint8_t, 4> buffer = {9, 9, 9, 9};
    EXPECT_EQ(m_port.Read(buffer.data(), 4), 0);
    EXPECT_THAT(m_line.events, ElementsAre("inq"));
    EXPECT_THAT(buffer, ElementsAre(9, 9, 9, 9));
}

TEST_F(SerialPortOrderTest, ReadWithoutRoomReadsNothing) {
    ASSERT_NE(OpenDefault(), kNullPortHandle);
    m_line.ClearEvents();
    m_line.nInputWaiting = 10;
    std::array<uint8_t, 4> buffer{};
    EXPECT_EQ(m_port.Read(buffer.data(), 0), 0);
    EXPECT_EQ(m_port.Read(buffer.data(), -1), 0); // would be a huge count as unsigned
    EXPECT_EQ(m_port.Read(nullptr, 4), 0);
    EXPECT_TRUE(m_line.events.empty());
}

TEST_F(SerialPortOrderTest, ReadErrorDeliversNothing) {
    ASSERT_NE(OpenDefault(), kNullPortHandle);
    m_line.nInputWaiting = 5;
    m_line.nReadResult = 0;
    std::array<uint8_t, 8> buffer{};
    EXPECT_EQ(m_port.Read(buffer.data(), 8), 0);
}

} // namespace
