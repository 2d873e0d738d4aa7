#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>

#include "protocol/FrameCodec.h"
#include "serial/SerialPort.h"
#include "sim/SimBus.h"
#include "sim/SimServer.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/PtyPair.h"

using namespace std::chrono_literals;

namespace {

constexpr auto kWait = 2000ms;

// The tool's side of one poll: the request for P0 goes out through the serial port, and once the
// simulator has answered the reply is read as the tool reads it, at most 60 bytes, and decoded.
DecodedResponse PollOnce(CSerialPort& port, CSimServer& server, int address, int bank, int reg,
                         uint64_t repliesSoFar) {
    FrameBuffer frame{};
    if (!BuildRequestFrame(frame, address, kCommandRead, bank, reg, 0.0) ||
        !port.Write(frame.data(), kWireFrameLength) ||
        !server.WaitForReplies(repliesSoFar + 1, kWait)) {
        return {};
    }
    std::array<uint8_t, kFrameBufferSize> reply{};
    const int n = port.Read(reply.data(), kMaxResponseRead);
    return ParseResponseFrame(reply.data(), n);
}

// One exchange with a meter, end to end at the wire: codec, CSerialPort on COM1, a pty, and the
// simulator in its thread.
TEST(WireExchange, ReadsAMetersValueThroughTheSerialPort) {
    PtyPair pty;
    ASSERT_TRUE(pty.IsOpen());
    CSimBus bus({CSimMeter(7), CSimMeter(12)}, {}, 1, [] { return 7500ms; });
    CSimServer server(bus);
    ASSERT_TRUE(server.ServeFd(pty.MasterFd()));
    ASSERT_TRUE(server.Start());
    CEnvGuard env;
    env.Set("QD7_COM1", pty.SlavePath());

    CSerialPort port;
    ASSERT_NE(port.Open(1, 9600, 8, 0, 0), kNullPortHandle);
    const DecodedResponse decoded = PollOnce(port, server, 12, 0, 0, 0);
    ASSERT_EQ(decoded.status, ResponseStatus::ResponseOk);
    EXPECT_EQ(decoded.address, 12);
    EXPECT_EQ(decoded.bank, 0);
    EXPECT_EQ(decoded.registerIndex, 0);
    EXPECT_EQ(decoded.decimals, 1);
    EXPECT_FLOAT_EQ(decoded.value, 132.0F) << "100 + 12 + 20 at a quarter of the sine";
    EXPECT_EQ(server.ReceivedBodies(), std::vector<std::string>{"12RX0P0+0000000"});
    server.Stop();
}

// The tool closes and reopens its port when the line settings change; the simulator on its own
// pty keeps answering, and a corrupted reply reads as corrupt at the far end.
TEST(WireExchange, KeepsAnsweringAcrossPortReopensOnItsOwnPty) {
    CSimBus bus({CSimMeter(1)}, {}, 1, [] { return 0ms; });
    CSimServer server(bus);
    ASSERT_TRUE(server.OpenPty());
    ASSERT_TRUE(server.Start());
    CEnvGuard env;
    env.Set("QD7_COM1", server.DevicePath());

    CSerialPort port;
    uint64_t replies = 0;
    for (const int speed : {9600, 19200, 115200}) {
        ASSERT_NE(port.Open(1, speed, 8, 0, 0), kNullPortHandle) << speed;
        const DecodedResponse decoded = PollOnce(port, server, 1, 1, 10, replies++);
        ASSERT_EQ(decoded.status, ResponseStatus::ResponseOk) << speed;
        EXPECT_FLOAT_EQ(decoded.value, 100.0F);
        port.Close();
    }
    ASSERT_NE(port.Open(1, 9600, 8, 0, 0), kNullPortHandle);
    bus.CorruptNextReplies();
    EXPECT_EQ(PollOnce(port, server, 1, 0, 0, replies).status, ResponseStatus::ResponseCorrupt);
    server.Stop();
}

} // namespace
