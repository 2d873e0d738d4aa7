#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/sim/SimProcess.h"
#include "tests/support/EnvGuard.h"

using namespace std::chrono_literals;

namespace {

constexpr auto kExitWait = 5000ms;

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

TEST(BusProgram, HelpAndVersionForPeopleAndForTheManualPage) {
    const ProgramRun help = RunBus({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.out.rfind("Usage: qd7-bus [OPTION]... scan", 0), 0U) << help.out;
    for (const char* section : {"\nCommands:\n", "\nOptions:\n", "\nExit status:\n"}) {
        EXPECT_NE(help.out.find(section), std::string::npos) << section;
    }
    const ProgramRun version = RunBus({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "qd7-bus (qd7test) " QD7_VERSION_TEXT "\n");
}

TEST(BusProgram, UsageErrorsExitTwoWithTheReasonOnStderr) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"read"}, {"--speed", "x", "scan"}, {}}) {
        const ProgramRun run = RunBus(args);
        EXPECT_EQ(run.code, 2) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("qd7-bus: ", 0), 0U) << run.err;
        EXPECT_NE(run.err.find("Try 'qd7-bus --help'"), std::string::npos) << run.err;
    }
}

TEST(BusProgram, APortThatCannotBeOpenedExitsThreeNamingTheDevice) {
    CEnvGuard env;
    env.Set("QD7_COM8", "/nonexistent/qd7-com8");
    for (const std::string& port : {std::string("/nonexistent/qd7-tty"), std::string("COM8")}) {
        const ProgramRun run = RunBus({"--port", port, "read", "07"});
        EXPECT_EQ(run.code, 3) << port;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("/nonexistent/qd7-"), std::string::npos) << run.err;
    }
}

// The logger case: csv lines to a pipe until a signal ends it; it exits at once, with every line
// whole, the header first.
TEST(BusProgram, WatchEndsCleanlyOnASignal) {
    CSimProcess sim({QD7_SIM_PROGRAM, "--meters", "07"});
    const std::optional<std::string> device = sim.FirstLine(kExitWait);
    ASSERT_TRUE(device.has_value());
    for (const int signal : {SIGINT, SIGTERM}) {
        CSimProcess bus({QD7_BUS_PROGRAM, "--port", *device, "--format", "csv", "watch", "07",
                         "--interval", "20"});
        ASSERT_TRUE(bus.FirstLine(kExitWait).has_value());
        std::this_thread::sleep_for(300ms);
        ASSERT_TRUE(bus.Signal(signal));
        EXPECT_EQ(bus.WaitExit(2000ms), 0) << "signal " << signal;
        const std::string out = bus.ReadOut();
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.back(), '\n');
        EXPECT_EQ(out.rfind("time,address,bank,register,value,decimals,status,raw\n", 0), 0U);
        size_t rows = 0;
        for (size_t start = out.find('\n') + 1; start < out.size(); ++rows) {
            const size_t end = out.find('\n', start);
            const std::string row = out.substr(start, end - start);
            EXPECT_EQ(std::count(row.begin(), row.end(), ','), 7) << row;
            EXPECT_NE(row.find(",07,0,P0,"), std::string::npos) << row;
            EXPECT_NE(row.find(",ok,06 02 30 37 52 44 "), std::string::npos) << row;
            start = end + 1;
        }
        EXPECT_GE(rows, 3U) << out;
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.WaitExit(kExitWait), 0);
}

} // namespace
