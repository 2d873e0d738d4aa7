#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Version.h"
#include "protocol/FrameCodec.h"
#include "tests/sim/SimPeer.h"
#include "tests/sim/SimProcess.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempDir.h"

using namespace std::chrono_literals;

namespace {

constexpr auto kWait = 3000ms;

std::string ReadLink(const std::string& path) {
    std::array<char, 256> target{};
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size() - 1);
    return n < 0 ? std::string() : std::string(target.data(), static_cast<size_t>(n));
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> Command(std::vector<std::string> args) {
    args.insert(args.begin(), QD7_SIM_PROGRAM);
    return args;
}

DecodedResponse AskThrough(const std::string& device, int address, int bank, int reg) {
    CUniqueFd peer = OpenPeer(device);
    if (!peer.IsValid() || !WriteBytes(peer.Get(), RequestBytes(address, bank, reg))) {
        return {};
    }
    const std::vector<uint8_t> reply = ReadBytes(peer.Get(), 19, kWait);
    return ParseResponseFrame(reply.data(), static_cast<int>(reply.size()));
}

TEST(SimProgram, HelpListsEveryOption) {
    CSimProcess sim(Command({"--help"}));
    ASSERT_TRUE(sim.IsStarted());
    EXPECT_EQ(sim.WaitExit(kWait), 0);
    const std::string out = sim.ReadOut();
    for (const char* option :
         {"--meters", "--link", "--device", "--seed", "--drop", "--corrupt", "--noise", "--delay",
          "--long", "--silent", "--verbose", "--listen"}) {
        EXPECT_NE(out.find(option), std::string::npos) << option;
    }
}

TEST(SimProgram, VersionIsTheProjectsVersion) {
    CSimProcess sim(Command({"--version"}));
    ASSERT_TRUE(sim.IsStarted());
    EXPECT_EQ(sim.WaitExit(kWait), 0);
    EXPECT_EQ(sim.ReadOut(), std::string("qd7-sim ") + kQd7Version + "\n");
}

TEST(SimProgram, RefusesBadOptionsWithAClearMessage) {
    CSimProcess sim(Command({"--meters", "01,100"}));
    EXPECT_EQ(sim.WaitExit(kWait), 2);
    const std::string err = sim.ReadErr();
    EXPECT_NE(err.find("\"100\" is not an address 00..99"), std::string::npos) << err;
    EXPECT_TRUE(sim.ReadOut().empty());
}

// The link points at the device, the meters answer through it, and each stop signal ends the run
// cleanly with the link gone.
TEST(SimProgram, MakesItsLinkServesAndRemovesTheLinkOnStopSignals) {
    for (const int stop : {SIGTERM, SIGINT}) {
        CTempDir dir;
        const std::string link = dir.Path() + "/com1";
        CSimProcess sim(Command({"--meters", "01,07,12", "--link", link}));
        const std::optional<std::string> line = sim.FirstLine(kWait);
        ASSERT_TRUE(line);
        const std::string device = line->substr(0, line->find(' '));
        EXPECT_EQ(*line, device + " " + link);
        EXPECT_EQ(ReadLink(link), device);

        const DecodedResponse decoded = AskThrough(link, 12, 1, 4);
        ASSERT_EQ(decoded.status, ResponseStatus::ResponseOk);
        EXPECT_EQ(decoded.address, 12);
        EXPECT_FLOAT_EQ(decoded.value, -40.5F);

        ASSERT_TRUE(sim.Signal(stop));
        EXPECT_EQ(sim.WaitExit(kWait), 0) << "signal " << stop;
        EXPECT_FALSE(Exists(link)) << "signal " << stop;
        EXPECT_TRUE(sim.ReadErr().empty()) << "quiet without --verbose";
    }
}

TEST(SimProgram, LeavesAFileInThePlaceOfTheLinkAlone) {
    CTempDir dir;
    const std::string path = dir.Path() + "/com1";
    std::ofstream(path) << "not a link";
    CSimProcess sim(Command({"--link", path}));
    EXPECT_EQ(sim.WaitExit(kWait), 1);
    EXPECT_NE(sim.ReadErr().find("not a symbolic link"), std::string::npos);
    EXPECT_TRUE(ReadLink(path).empty());
    EXPECT_TRUE(Exists(path));
}

// --verbose logs to stderr; --silent keeps a meter quiet while the other answers. The request to
// the silent meter goes first, so the one reply read proves it was heard and left unanswered.
TEST(SimProgram, VerboseLogsTrafficAndSilentMetersStayQuiet) {
    CSimProcess sim(Command({"--meters", "01,07", "--silent", "07", "--verbose"}));
    const std::optional<std::string> device = sim.FirstLine(kWait);
    ASSERT_TRUE(device);
    CUniqueFd peer = OpenPeer(*device);
    std::vector<uint8_t> both = RequestBytes(7, 0, 0);
    const std::vector<uint8_t> second = RequestBytes(1, 0, 0);
    both.insert(both.end(), second.begin(), second.end());
    ASSERT_TRUE(WriteBytes(peer.Get(), both));
    const std::vector<uint8_t> reply = ReadBytes(peer.Get(), 19, kWait);
    ASSERT_EQ(reply.size(), 19U);
    EXPECT_EQ(ParseResponseFrame(reply.data(), 19).address, 1);

    ASSERT_TRUE(sim.Signal(SIGTERM));
    EXPECT_EQ(sim.WaitExit(kWait), 0);
    const std::string err = sim.ReadErr();
    EXPECT_NE(err.find("rx 07RX0P0+0000000 (meter silent)"), std::string::npos) << err;
    EXPECT_NE(err.find("rx 01RX0P0+0000000 -> 01RD0P0+"), std::string::npos) << err;
    EXPECT_NE(err.find("tx 06 02 30 31 52 44 30 50 30 2B"), std::string::npos) << err;
}

// Started with stdout closed (cron, a service manager), the simulator must not print its device's
// path onto the device: the pty would get descriptor 1, and the tool would read the text as noise
// before the first reply.
TEST(SimProgram, WithStdoutClosedOnlyRepliesReachThePeer) {
    CTempDir dir;
    const std::string link = dir.Path() + "/com1";
    CSimProcess sim(Command({"--meters", "07", "--link", link}), ChildStreams{{}, {STDOUT_FILENO}});
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (!Exists(link) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(Exists(link));
    CUniqueFd peer = OpenPeer(link);
    ASSERT_TRUE(peer.IsValid());
    EXPECT_FALSE(WaitForInput(peer.Get(), 1, 300ms)) << "bytes before any request";
    ASSERT_TRUE(WriteBytes(peer.Get(), RequestBytes(7, 0, 1)));
    const std::vector<uint8_t> reply = ReadBytes(peer.Get(), 19, kWait);
    EXPECT_EQ(ParseResponseFrame(reply.data(), static_cast<int>(reply.size())).status,
              ResponseStatus::ResponseOk);
    ASSERT_TRUE(sim.Signal(SIGTERM));
    EXPECT_EQ(sim.WaitExit(kWait), 0);
}

// /dev/console would put frames on the system's console: refused before anything is opened.
TEST(SimProgram, RefusesToServeTheConsole) {
    if (::access("/dev/console", F_OK) != 0) {
        GTEST_SKIP() << "no /dev/console here";
    }
    CSimProcess sim(Command({"--device", "/dev/console"}));
    EXPECT_EQ(sim.WaitExit(kWait), 1);
    EXPECT_EQ(sim.ReadErr(), "qd7-sim: /dev/console is the system console\n");
    EXPECT_TRUE(sim.ReadOut().empty());
}

TEST(SimProgram, ServesAnExistingDevice) {
    PtyPair pty;
    ASSERT_TRUE(pty.IsOpen());
    CSimProcess sim(Command({"--meters", "05", "--device", pty.SlavePath()}));
    EXPECT_EQ(sim.FirstLine(kWait), pty.SlavePath());
    const std::vector<uint8_t> request = RequestBytes(5, 0, 2);
    ASSERT_TRUE(pty.WriteMaster(request.data(), request.size()));
    const std::vector<uint8_t> reply = pty.ReadMaster(19, 3000);
    const DecodedResponse decoded =
        ParseResponseFrame(reply.data(), static_cast<int>(reply.size()));
    ASSERT_EQ(decoded.status, ResponseStatus::ResponseOk);
    EXPECT_FLOAT_EQ(decoded.value, 750.5F);
    ASSERT_TRUE(sim.Signal(SIGTERM));
    EXPECT_EQ(sim.WaitExit(kWait), 0);
}

} // namespace
