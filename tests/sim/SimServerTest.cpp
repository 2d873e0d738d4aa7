#include <gtest/gtest.h>

#include <fcntl.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "protocol/FrameCodec.h"
#include "sim/SimBus.h"
#include "sim/SimServer.h"
#include "tests/sim/SimPeer.h"
#include "tests/support/PtyPair.h"

using namespace std::chrono_literals;

namespace {

constexpr auto kWait = 2000ms;

DecodedResponse Decode(const std::vector<uint8_t>& bytes, size_t offset = 0) {
    if (bytes.size() < offset) {
        return {};
    }
    return ParseResponseFrame(bytes.data() + offset, static_cast<int>(bytes.size() - offset));
}

// Meters 01 and 07 served on the server's own pseudo-terminal, the test's fd as the tool's side.
// The bus's clock stands still, so P0 does not move between a reply and the test's check.
class SimServerTest : public ::testing::Test {
protected:
    CSimBus m_bus{{CSimMeter(1), CSimMeter(7)}, {}, 1, [] { return 0ms; }};
    CSimServer m_server{m_bus};

    void SetUp() override {
        ASSERT_TRUE(m_server.OpenPty());
        ASSERT_TRUE(m_server.Start());
    }

    // Sends a request and gives what came back once `replies` replies in all have been written.
    std::vector<uint8_t> Exchange(int fd, int address, uint64_t replies, size_t expectBytes = 19) {
        EXPECT_TRUE(WriteBytes(fd, RequestBytes(address, 0, 0)));
        EXPECT_TRUE(m_server.WaitForReplies(replies, kWait));
        return ReadBytes(fd, expectBytes, kWait);
    }
};

TEST_F(SimServerTest, AnswersARequestOnItsPty) {
    CUniqueFd peer = OpenPeer(m_server.DevicePath());
    ASSERT_TRUE(peer.IsValid()) << m_server.DevicePath();
    const std::vector<uint8_t> reply = Exchange(peer.Get(), 7, 1);
    const DecodedResponse decoded = Decode(reply);
    ASSERT_EQ(decoded.status, ResponseStatus::ResponseOk);
    EXPECT_EQ(decoded.address, 7);
    EXPECT_FLOAT_EQ(decoded.value, 107.0F);
    EXPECT_EQ(m_server.RepliesSent(), 1U);
    EXPECT_EQ(m_server.ReceivedBodies(), std::vector<std::string>{"07RX0P0+0000000"});
}

TEST_F(SimServerTest, SurvivesThePeerClosingAndReopening) {
    for (uint64_t round = 1; round <= 3; ++round) {
        CUniqueFd peer = OpenPeer(m_server.DevicePath());
        ASSERT_TRUE(peer.IsValid());
        EXPECT_EQ(Decode(Exchange(peer.Get(), 1, round)).status, ResponseStatus::ResponseOk)
            << "round " << round;
    }
    EXPECT_TRUE(m_server.IsRunning());
}

// The replies to two requests in one write come back in order, each as one frame.
TEST_F(SimServerTest, AnswersRequestsInTheOrderHeard) {
    CUniqueFd peer = OpenPeer(m_server.DevicePath());
    std::vector<uint8_t> both = RequestBytes(7, 0, 0);
    const std::vector<uint8_t> second = RequestBytes(1, 1, 3);
    both.insert(both.end(), second.begin(), second.end());
    ASSERT_TRUE(WriteBytes(peer.Get(), both));
    ASSERT_TRUE(m_server.WaitForReplies(2, kWait));
    const std::vector<uint8_t> bytes = ReadBytes(peer.Get(), 38, kWait);
    ASSERT_EQ(bytes.size(), 38U);
    EXPECT_EQ(Decode(bytes).address, 7);
    EXPECT_EQ(Decode(bytes, 19).address, 1);
    EXPECT_EQ(Decode(bytes, 19).registerIndex, 3);
}

// Faults set by a test while the server runs apply to the next request: a dropped reply never
// reaches the line, so the second request's reply is the first thing to read.
TEST_F(SimServerTest, FaultsChangedWhileRunningApply) {
    CUniqueFd peer = OpenPeer(m_server.DevicePath());
    m_bus.DropNextReplies();
    ASSERT_TRUE(WriteBytes(peer.Get(), RequestBytes(1, 0, 0)));
    ASSERT_TRUE(m_server.WaitForFrames(1, kWait));
    m_bus.CorruptNextReplies();
    // Replies leave in the order of their requests: had the first not been dropped, it would be
    // read here.
    const std::vector<uint8_t> corrupt = Exchange(peer.Get(), 7, 1);
    ASSERT_EQ(corrupt.size(), 19U);
    EXPECT_EQ(std::string(corrupt.begin() + 2, corrupt.begin() + 4), "07");
    EXPECT_EQ(Decode(corrupt).status, ResponseStatus::ResponseCorrupt);
    EXPECT_EQ(Decode(Exchange(peer.Get(), 7, 2)).status, ResponseStatus::ResponseOk);
}

TEST_F(SimServerTest, SendsALateReplyNoSoonerThanItsDelay) {
    CUniqueFd peer = OpenPeer(m_server.DevicePath());
    m_bus.SetDelay(300ms);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(WriteBytes(peer.Get(), RequestBytes(1, 0, 0)));
    const std::vector<uint8_t> reply = ReadBytes(peer.Get(), 19, kWait);
    const auto took = std::chrono::steady_clock::now() - sent;
    EXPECT_EQ(Decode(reply).status, ResponseStatus::ResponseOk);
    EXPECT_GE(took, 300ms);
}

TEST_F(SimServerTest, StopsAndStartsAgain) {
    m_server.Stop();
    EXPECT_FALSE(m_server.IsRunning());
    m_server.Stop();
    ASSERT_TRUE(m_server.Start());
    EXPECT_FALSE(m_server.Start()) << "already running";
    CUniqueFd peer = OpenPeer(m_server.DevicePath());
    EXPECT_EQ(Decode(Exchange(peer.Get(), 1, 1)).status, ResponseStatus::ResponseOk);
}

// The shared pty-pair fixture: the server serves its master, the tool's side opens the slave and
// may close and reopen it.
TEST(SimServerOnPair, ServesTheMasterOfATestsPtyPair) {
    PtyPair pty;
    ASSERT_TRUE(pty.IsOpen());
    CSimBus bus({CSimMeter(12)});
    CSimServer server(bus);
    ASSERT_TRUE(server.ServeFd(pty.MasterFd()));
    EXPECT_EQ(server.DevicePath(), pty.SlavePath());
    ASSERT_TRUE(server.Start());
    for (uint64_t round = 1; round <= 2; ++round) {
        CUniqueFd peer = OpenPeer(pty.SlavePath());
        ASSERT_TRUE(WriteBytes(peer.Get(), RequestBytes(12, 1, 10)));
        ASSERT_TRUE(server.WaitForReplies(round, kWait));
        const DecodedResponse decoded = Decode(ReadBytes(peer.Get(), 19, kWait));
        ASSERT_EQ(decoded.status, ResponseStatus::ResponseOk);
        EXPECT_FLOAT_EQ(decoded.value, 100.0F);
    }
    server.Stop();
}

// --device: the server opens an existing device (here a pty's slave) and the far side talks on the
// master.
TEST(SimServerOnPair, ServesAnExistingDevice) {
    PtyPair pty;
    ASSERT_TRUE(pty.IsOpen());
    CSimBus bus({CSimMeter(3)});
    CSimServer server(bus);
    std::string error;
    ASSERT_TRUE(server.OpenDevice(pty.SlavePath(), 9600, error)) << error;
    ASSERT_TRUE(server.Start());
    const std::vector<uint8_t> request = RequestBytes(3, 0, 1);
    ASSERT_TRUE(pty.WriteMaster(request.data(), request.size()));
    ASSERT_TRUE(server.WaitForReplies(1, kWait));
    const std::vector<uint8_t> reply = pty.ReadMaster(19, 2000);
    EXPECT_EQ(Decode(reply).status, ResponseStatus::ResponseOk);
    EXPECT_EQ(Decode(reply).registerIndex, 1);

    CSimServer other(bus);
    EXPECT_FALSE(other.OpenDevice("/nonexistent/tty", 9600, error));
    EXPECT_NE(error.find("/nonexistent/tty"), std::string::npos);
    EXPECT_FALSE(other.OpenDevice(pty.SlavePath(), 14400, error)) << "not a standard speed";
    EXPECT_FALSE(other.Start()) << "no device";
}

// A peer that sends requests and reads nothing fills its input with replies until the server
// can write no more. Stop() must end the server at once all the same, on its own pty and on a
// test's blocking pty master alike.
class SimServerStopTest : public ::testing::TestWithParam<bool> {};

TEST_P(SimServerStopTest, StopsAtOnceWhileThePeerReadsNothing) {
    const bool bServeTestsMaster = GetParam();
    PtyPair pty;
    ASSERT_TRUE(pty.IsOpen());
    CSimBus bus({CSimMeter(1)}, {}, 1, [] { return 0ms; });
    bus.SetLongReply(SimFaults::kMaxExtraBytes); // a few replies fill the peer's input
    auto server = std::make_unique<CSimServer>(bus);
    ASSERT_TRUE(bServeTestsMaster ? server->ServeFd(pty.MasterFd()) : server->OpenPty());
    ASSERT_TRUE(server->Start());
    CUniqueFd peer = OpenPeer(bServeTestsMaster ? pty.SlavePath() : server->DevicePath());
    ASSERT_TRUE(peer.IsValid());
    constexpr int kRequests = 40;
    for (int i = 0; i < kRequests; ++i) {
        ASSERT_TRUE(WriteBytes(peer.Get(), RequestBytes(1, 0, 0)));
    }
    ASSERT_TRUE(server->WaitForFrames(10, kWait));

    CSimServer* pServer = server.get();
    auto stopped = std::async(std::launch::async, [pServer] { pServer->Stop(); });
    const bool bStoppedAtOnce = stopped.wait_for(1s) == std::future_status::ready;
    EXPECT_TRUE(bStoppedAtOnce) << "Stop() waits on the stuck peer";
    // Should it be stuck, reading the peer's input lets the server on, so the test ends.
    while (stopped.wait_for(10ms) != std::future_status::ready) {
        ReadBytes(peer.Get(), 1 << 16, 10ms);
    }
    EXPECT_FALSE(server->IsRunning());
    if (bServeTestsMaster) {
        EXPECT_EQ(::fcntl(pty.MasterFd(), F_GETFL) & O_NONBLOCK, 0) << "the fd's flags come back";
    }
}

INSTANTIATE_TEST_SUITE_P(Device, SimServerStopTest, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "TestsBlockingMaster" : "OwnPty");
});

} // namespace
