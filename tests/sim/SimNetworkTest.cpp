// The simulated bus on the network: on a TCP port of its own, one client at a time, and behind a
// real device server (ser2net) as the meters on the server's line.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "protocol/FrameCodec.h"
#include "sim/SimBus.h"
#include "sim/SimServer.h"
#include "tests/sim/SimPeer.h"
#include "tests/sim/SimProcess.h"
#include "tests/support/LineProbe.h"
#include "tests/support/PtyPair.h"
#include "tests/support/Ser2net.h"

using namespace std::chrono_literals;

namespace {

constexpr auto kWait = 3000ms;

CUniqueFd ConnectTo(const std::string& url) {
    const uint16_t port = static_cast<uint16_t>(std::stoi(url.substr(url.rfind(':') + 1)));
    CUniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        fd.Reset();
    }
    return fd;
}

DecodedResponse Ask(int fd, int address, int reg) {
    if (!WriteBytes(fd, RequestBytes(address, 0, reg))) {
        return {};
    }
    const std::vector<uint8_t> reply = ReadBytes(fd, kMinResponseLength, kWait);
    return ParseResponseFrame(reply.data(), static_cast<int>(reply.size()));
}

// A second client while the first is served is turned away at once (its connection closes); the
// first goes on, and once it has gone the next one is served.
TEST(SimOnTcp, ServesOneClientAtATime) {
    CSimBus bus({CSimMeter(7)}, {}, 1, [] { return 0ms; });
    CSimServer server(bus);
    std::string error;
    ASSERT_TRUE(server.Listen("tcp://127.0.0.1:0", error)) << error;
    ASSERT_TRUE(server.Start());
    const std::string url = server.DevicePath();
    ASSERT_EQ(url.rfind("tcp://127.0.0.1:", 0), 0U) << url;

    CUniqueFd first = ConnectTo(url);
    ASSERT_TRUE(first.IsValid());
    EXPECT_EQ(Ask(first.Get(), 7, 1).status, ResponseStatus::ResponseOk);
    CUniqueFd second = ConnectTo(url);
    ASSERT_TRUE(second.IsValid());
    EXPECT_TRUE(ReadBytes(second.Get(), 1, kWait).empty()) << "closed without a byte";
    EXPECT_EQ(Ask(first.Get(), 7, 2).status, ResponseStatus::ResponseOk);

    first.Reset();
    // The server notices the first client's end by itself; until then a newcomer is turned away.
    std::optional<DecodedResponse> answered;
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (!answered && std::chrono::steady_clock::now() < deadline) {
        CUniqueFd next = ConnectTo(url);
        const DecodedResponse decoded = Ask(next.Get(), 7, 1);
        if (decoded.status == ResponseStatus::ResponseOk) {
            answered = decoded;
        }
    }
    ASSERT_TRUE(answered.has_value());
    EXPECT_FLOAT_EQ(answered->value, 900.0F);
}

// qd7-sim as the meters on a device server's line: it connects to ser2net, whose port (a pty here,
// the test's side as the tool) gets the line from --speed over RFC 2217; the tool's request is
// answered through the server.
TEST(SimBehindDeviceServer, AnswersOnTheServersLine) {
    PtyPair line;
    ASSERT_TRUE(line.IsOpen());
    CSer2net server(line.SlavePath(), CSer2net::Mode::Rfc2217);
    ASSERT_TRUE(server.Start()) << server.Log();
    CSimProcess sim(
        {QD7_SIM_PROGRAM, "--meters", "05", "--device", server.Url(), "--speed", "19200"});
    EXPECT_EQ(sim.FirstLine(kWait), server.Url()) << sim.ReadErr();
    EXPECT_EQ(ProbeLineSpeed(line.SlaveFd()).output, 19200U);
    const std::vector<uint8_t> request = RequestBytes(5, 0, 2);
    ASSERT_TRUE(line.WriteMaster(request.data(), request.size()));
    const std::vector<uint8_t> reply = line.ReadMaster(kMinResponseLength, 3000);
    const DecodedResponse decoded =
        ParseResponseFrame(reply.data(), static_cast<int>(reply.size()));
    ASSERT_EQ(decoded.status, ResponseStatus::ResponseOk);
    EXPECT_FLOAT_EQ(decoded.value, 750.5F);

    // The server gone: the simulator ends and says why.
    server.Stop();
    EXPECT_EQ(sim.WaitExit(kWait), 1);
    EXPECT_EQ(sim.ReadErr(),
              "qd7-sim: " + server.Url() + ": the device server closed the connection\n");
}

} // namespace
