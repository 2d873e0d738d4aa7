// qd7-bus through a real serial device server: ser2net on 127.0.0.1 in front of the simulator's
// pty, as raw TCP and as RFC 2217, and the simulator's own TCP port.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/sim/SimProcess.h"
#include "tests/support/Ser2net.h"

using namespace std::chrono_literals;

namespace {

constexpr auto kExitWait = 10000ms;

struct ProgramRun {
    std::optional<int> code;
    std::string out;
    std::string err;
};

ProgramRun RunBus(std::vector<std::string> args) {
    args.insert(args.begin(), QD7_BUS_PROGRAM);
    CSimProcess bus(args);
    ProgramRun run;
    run.code = bus.WaitExit(kExitWait);
    run.out = bus.ReadOut();
    run.err = bus.ReadErr();
    return run;
}

// The rows of the three meters 01, 07 and 12 that every test's simulator plays, found by a scan.
constexpr const char* kFoundRows[] = {"01  bank 0  P0 ", "07  bank 0  P0 ", "12  bank 0  P0 "};

void ExpectScanFindsTheMeters(const std::string& port) {
    const ProgramRun scan = RunBus({"--port", port, "scan", "--to", "15"});
    EXPECT_EQ(scan.code, 0) << scan.err;
    EXPECT_EQ(scan.err, "");
    for (const char* row : kFoundRows) {
        EXPECT_NE(scan.out.find(row), std::string::npos) << row << " in\n" << scan.out;
    }
    EXPECT_EQ(std::count(scan.out.begin(), scan.out.end(), '\n'), 3) << scan.out;
}

class BusOnDeviceServer : public ::testing::Test {
protected:
    void SetUp() override {
        m_pSim = std::make_unique<CSimProcess>(
            std::vector<std::string>{QD7_SIM_PROGRAM, "--meters", "01,07,12"});
        const std::optional<std::string> line = m_pSim->FirstLine(kExitWait);
        ASSERT_TRUE(line.has_value());
        m_strPty = *line;
    }
    void TearDown() override {
        m_pSim->Signal(SIGTERM);
        EXPECT_EQ(m_pSim->WaitExit(kExitWait), 0);
    }

    std::unique_ptr<CSimProcess> m_pSim;
    std::string m_strPty;
};

// A speed outside the standard set goes to the server all the same, with a word that it may be
// confirmed and not set.
TEST_F(BusOnDeviceServer, ASpeedOutsideTheStandardSetIsTriedAndSaid) {
    CSer2net server(m_strPty, CSer2net::Mode::Rfc2217);
    ASSERT_TRUE(server.Start()) << server.Log();
    const ProgramRun read =
        RunBus({"--port", server.Url(), "--speed", "14400", "read", "12", "C3"});
    EXPECT_EQ(read.code, 0) << read.err;
    EXPECT_EQ(read.out, "12  bank 0  C3      -15.25  ok\n");
    EXPECT_EQ(read.err,
              "qd7-bus: " + server.Url() +
                  ": 14400 bit/s is no standard speed of POSIX systems: a device server may "
                  "confirm it and set none (some versions of ser2net do); if no meter answers, "
                  "choose a standard speed\n");
}

TEST_F(BusOnDeviceServer, ScansAndReadsThroughRawTcpAndRfc2217) {
    for (const CSer2net::Mode mode : {CSer2net::Mode::RawTcp, CSer2net::Mode::Rfc2217}) {
        CSer2net server(m_strPty, mode);
        ASSERT_TRUE(server.Start()) << server.Log();
        SCOPED_TRACE(server.Url());
        ExpectScanFindsTheMeters(server.Url());
        const ProgramRun read = RunBus({"--port", server.Url(), "read", "12", "C3", "Y0"});
        EXPECT_EQ(read.code, 0) << read.err;
        EXPECT_EQ(read.out, "12  bank 0  C3      -15.25  ok\n12  bank 0  Y0     0.00005  ok\n");
    }
}

// A device server restarted is an adapter unplugged: watch logs nodevice meanwhile, connects
// again to the same address each round, and says both on stderr.
TEST_F(BusOnDeviceServer, WatchGoesOnByItselfWhenTheServerIsBack) {
    CSer2net server(m_strPty, CSer2net::Mode::Rfc2217);
    ASSERT_TRUE(server.Start()) << server.Log();
    CSimProcess bus({QD7_BUS_PROGRAM, "--port", server.Url(), "--format", "csv", "watch", "07",
                     "--interval", "100"});
    const auto has = [](std::string_view status, std::string_view after = {}) {
        return [status, after](const std::string& out) {
            const size_t from = after.empty() ? 0 : out.find(after);
            return from != std::string::npos && out.find(status, from) != std::string::npos;
        };
    };
    ASSERT_TRUE(bus.WaitForOut(has(",ok,"), kExitWait));
    server.Stop();
    ASSERT_TRUE(bus.WaitForOut(has(",nodevice,"), kExitWait));
    ASSERT_TRUE(server.Start()) << server.Log();
    ASSERT_TRUE(bus.WaitForOut(has(",ok,", ",nodevice,"), kExitWait)) << server.Log();
    ASSERT_TRUE(bus.Signal(SIGINT));
    EXPECT_EQ(bus.WaitExit(kExitWait), 130) << "interrupted";
    const std::string err = bus.ReadErr();
    EXPECT_EQ(err.substr(0, err.find("qd7-bus: statistics per meter\n")),
              "qd7-bus: " + server.Url() +
                  ": the device has gone away; watch opens it again when it is back\nqd7-bus: " +
                  server.Url() +
                  " has no stable identity: watch connects to this address again, whatever "
                  "answers there then\nqd7-bus: " +
                  server.Url() + ": the device is back\n");
}

TEST(BusOnSimulatorPort, ScansTheSimulatorsOwnTcpPort) {
    CSimProcess sim({QD7_SIM_PROGRAM, "--meters", "01,07,12", "--listen", "tcp://127.0.0.1:0"});
    const std::optional<std::string> url = sim.FirstLine(kExitWait);
    ASSERT_TRUE(url.has_value());
    ASSERT_EQ(url->rfind("tcp://127.0.0.1:", 0), 0U) << *url;
    ExpectScanFindsTheMeters(*url);
    // The next client is served once the first has gone.
    const ProgramRun read = RunBus({"--port", *url, "read", "07", "C0"});
    EXPECT_EQ(read.out, "07  bank 0  C0       900.0  ok\n") << read.err;
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.WaitExit(kExitWait), 0);
}

} // namespace
