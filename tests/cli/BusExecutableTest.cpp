#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "protocol/FrameCodec.h"
#include "sim/SimBus.h"
#include "sim/SimServer.h"
#include "tests/sim/SimPeer.h"
#include "tests/sim/SimProcess.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempDir.h"

using namespace std::chrono_literals;

namespace {

constexpr auto kExitWait = 5000ms;

size_t Count(const std::string& text, std::string_view needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++n;
    }
    return n;
}

// The nodevice column of meter 07 in the statistics on stderr; npos when there is no such line.
size_t NodeviceCount(const std::string& err) {
    constexpr int kNodeviceColumn = 6; // address requests ok silent corrupt rejected nodevice
    const size_t line = err.find("\n07 ", err.find("qd7-bus: statistics per meter\n"));
    if (line == std::string::npos) {
        return std::string::npos;
    }
    std::istringstream fields(err.substr(line + 1, err.find('\n', line + 1) - line - 1));
    std::string field;
    for (int i = 0; i <= kNodeviceColumn && fields >> field; ++i) {
    }
    return std::stoul(field);
}

struct ProgramRun {
    std::optional<int> code;
    std::string out;
    std::string err;
};

ProgramRun RunBus(std::vector<std::string> args, const ChildStreams& streams = {}) {
    args.insert(args.begin(), QD7_BUS_PROGRAM);
    CSimProcess bus(args, streams);
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
// whole, the header first, and with the exit code of an interrupted run; so does a scan cut short,
// with the rows it had.
TEST(BusProgram, WatchAndScanEndCleanlyOnASignal) {
    CSimProcess sim({QD7_SIM_PROGRAM, "--meters", "07"});
    const std::optional<std::string> device = sim.FirstLine(kExitWait);
    ASSERT_TRUE(device.has_value());
    for (const int signal : {SIGINT, SIGTERM}) {
        CSimProcess bus({QD7_BUS_PROGRAM, "--port", *device, "--format", "csv", "watch", "07",
                         "--interval", "20"});
        ASSERT_TRUE(bus.FirstLine(kExitWait).has_value());
        std::this_thread::sleep_for(300ms);
        ASSERT_TRUE(bus.Signal(signal));
        EXPECT_EQ(bus.WaitExit(2000ms), 130) << "signal " << signal;
        const std::string out = bus.ReadOut();
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.back(), '\n');
        EXPECT_EQ(out.rfind("time,address,bank,register,value,decimals,status,raw,tries\n", 0), 0U);
        size_t rows = 0;
        for (size_t start = out.find('\n') + 1; start < out.size(); ++rows) {
            const size_t end = out.find('\n', start);
            const std::string row = out.substr(start, end - start);
            EXPECT_EQ(std::count(row.begin(), row.end(), ','), 8) << row;
            EXPECT_NE(row.find(",07,0,P0,"), std::string::npos) << row;
            EXPECT_NE(row.find(",ok,06 02 30 37 52 44 "), std::string::npos) << row;
            start = end + 1;
        }
        EXPECT_GE(rows, 3U) << out;
    }
    CSimProcess scan({QD7_BUS_PROGRAM, "--port", *device, "scan"});
    const std::string found = scan.FirstLine(kExitWait).value_or("");
    ASSERT_GE(found.size(), 18U) << found;
    EXPECT_EQ(found.substr(0, 14), "07  bank 0  P0") << found;
    EXPECT_EQ(found.substr(found.size() - 4), "  ok") << found;
    ASSERT_TRUE(scan.Signal(SIGINT));
    EXPECT_EQ(scan.WaitExit(2000ms), 130);
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.WaitExit(kExitWait), 0);
}

// The csv rows' statuses in order, a run of equal ones as one, and how many rows there were of
// each. The header row is left out.
struct StatusRuns {
    std::vector<std::string> runs;
    std::vector<size_t> counts;
};

StatusRuns RunsOfStatuses(const std::string& csv) {
    StatusRuns result;
    size_t start = csv.find('\n') + 1;
    for (size_t end; start != 0 && (end = csv.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const std::string row = csv.substr(start, end - start);
        size_t field = 0;
        for (int i = 0; i < 6 && field != std::string::npos; ++i) {
            field = row.find(',', field) + 1;
        }
        const std::string status = row.substr(field, row.find(',', field) - field);
        if (result.runs.empty() || result.runs.back() != status) {
            result.runs.push_back(status);
            result.counts.push_back(0);
        }
        ++result.counts.back();
    }
    return result;
}

// The adapter unplugged and plugged in again, as far as a pty can show it: the simulator behind
// the link stops (its pty hangs up, the link goes) and a new one starts under the same link.
// watch says both on stderr, logs nodevice meanwhile and goes on by itself.
TEST(BusProgram, WatchSaysTheDeviceWentAndGoesOnWhenItIsBack) {
    CTempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::string link = dir.Path() + "/com1";
    const std::vector<std::string> simArgs = {QD7_SIM_PROGRAM, "--meters", "07", "--link", link};
    auto first = std::make_unique<CSimProcess>(simArgs);
    ASSERT_TRUE(first->FirstLine(kExitWait).has_value());

    CSimProcess bus(
        {QD7_BUS_PROGRAM, "--port", link, "--format", "csv", "watch", "07", "--interval", "50"});
    const auto has = [](std::string_view status, size_t after = 0) {
        return [status, after](const std::string& out) {
            return out.find(status, after) != std::string::npos;
        };
    };
    ASSERT_TRUE(bus.WaitForOut(has(",ok,"), kExitWait));
    ASSERT_TRUE(first->Signal(SIGTERM));
    EXPECT_EQ(first->WaitExit(kExitWait), 0);
    first.reset();
    ASSERT_TRUE(bus.WaitForOut(has(",nodevice,"), kExitWait));

    CSimProcess second(simArgs);
    ASSERT_TRUE(second.FirstLine(kExitWait).has_value());
    ASSERT_TRUE(bus.WaitForOut(
        [](const std::string& out) {
            const size_t gone = out.find(",nodevice,");
            return gone != std::string::npos && out.find(",ok,", gone) != std::string::npos;
        },
        kExitWait));
    ASSERT_TRUE(bus.Signal(SIGINT));
    EXPECT_EQ(bus.WaitExit(kExitWait), 130) << "interrupted";
    const std::string out = bus.ReadOut();
    // The statistics follow what was said; the rows logged as nodevice are counted there.
    const std::string err = bus.ReadErr();
    const size_t statistics = err.find("qd7-bus: statistics per meter\n");
    // The link may lead to another bus by the time it is back: said once.
    EXPECT_EQ(
        err.substr(0, statistics),
        "qd7-bus: " + link +
            ": the device has gone away; watch opens it again when it is back\nqd7-bus: " + link +
            " has no stable identity: watch opens it again by this name, whatever device "
            "that names then\nqd7-bus: " +
            link + ": the device is back\n");
    EXPECT_EQ(Count(out, ",nodevice,"), NodeviceCount(err)) << err;

    // A request in flight when the line went, or sent before the new simulator read its pty, may
    // have gone unanswered: silent rows are allowed at the two turns, nothing else.
    StatusRuns runs = RunsOfStatuses(out);
    size_t nSilent = 0;
    for (size_t i = runs.runs.size(); i-- > 0;) {
        if (runs.runs[i] == "silent") {
            nSilent += runs.counts[i];
            runs.runs.erase(runs.runs.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    EXPECT_EQ(runs.runs, (std::vector<std::string>{"ok", "nodevice", "ok"})) << out;
    EXPECT_LE(nSilent, 2U) << out;
    EXPECT_NE(out.find(",07,0,P0,,,nodevice,,0\n"), std::string::npos)
        << "no value, no bytes, no request";
    second.Signal(SIGTERM);
    EXPECT_EQ(second.WaitExit(kExitWait), 0);
}

// Started with stdout or stderr closed (cron, a service manager), qd7-bus must not get the port
// as descriptor 1 or 2 and print its rows or messages onto the bus: the simulator hears whole
// frames and nothing else.
TEST(BusProgram, WithAStandardStreamClosedOnlyFramesReachTheBus) {
    struct ClosedCase {
        int fd;
        std::vector<std::string> args;
        size_t frames;
    };
    const std::vector<ClosedCase> cases = {
        {STDOUT_FILENO, {"read", "07", "P0"}, 1},                   // prints a row
        {STDERR_FILENO, {"scan", "--from", "01", "--to", "02"}, 2}, // prints "no meter answered"
    };
    for (const ClosedCase& c : cases) {
        PtyPair pty;
        ASSERT_TRUE(pty.IsOpen());
        CSimBus simBus({CSimMeter(7)});
        CSimServer server(simBus);
        std::mutex mutex;
        size_t nHeard = 0;
        server.SetTrafficLog([&](std::string_view line) {
            constexpr std::string_view kRead = "rx ";
            if (line.substr(0, kRead.size()) == kRead) {
                const std::lock_guard lock(mutex);
                nHeard += (line.size() - kRead.size()) / 3; // "XX " per byte
            }
        });
        ASSERT_TRUE(server.ServeFd(pty.MasterFd()));
        ASSERT_TRUE(server.Start());

        std::vector<std::string> args = {"--port", pty.SlavePath(), "--timeout", "50"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProgramRun run = RunBus(args, ChildStreams{{}, {c.fd}});
        ASSERT_TRUE(run.code.has_value()) << "fd " << c.fd;
        // One more frame of our own: once it is heard, every byte before it has been read.
        CUniqueFd peer = OpenPeer(pty.SlavePath());
        ASSERT_TRUE(WriteBytes(peer.Get(), RequestBytes(7, 0, 0)));
        ASSERT_TRUE(server.WaitForFrames(c.frames + 1, kExitWait)) << "fd " << c.fd;
        server.Stop();
        const std::lock_guard lock(mutex);
        EXPECT_EQ(nHeard, (c.frames + 1) * kWireFrameLength) << "fd " << c.fd;
    }
}

// Started with its standard output closed, qd7-bus says at once that its output goes nowhere,
// and ends as a failed output.
TEST(BusProgram, AClosedStandardOutputIsAFailedOutput) {
    CSimProcess sim({QD7_SIM_PROGRAM, "--meters", "07"});
    const std::optional<std::string> device = sim.FirstLine(kExitWait);
    ASSERT_TRUE(device.has_value());
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"}, {"--port", *device, "read", "07", "P0"}}) {
        const ProgramRun run = RunBus(args, ChildStreams{{}, {STDOUT_FILENO}});
        EXPECT_EQ(run.code, 4) << args.back();
        EXPECT_EQ(
            run.err.rfind("qd7-bus: cannot write the output: the standard output is closed", 0), 0U)
            << run.err;
    }
    // -qq writes nothing there: the exit code alone, as asked.
    const ProgramRun quiet =
        RunBus({"-qq", "--port", *device, "read", "07", "P0"}, ChildStreams{{}, {STDOUT_FILENO}});
    EXPECT_EQ(quiet.code, 0);
    EXPECT_EQ(quiet.err, "");
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.WaitExit(kExitWait), 0);
}

// A full disk is a failure with its reason and exit code 4, whatever was being written; a
// reader that went away (`| head -1`) ends qd7-bus quietly.
TEST(BusProgram, OutputThatCannotBeWrittenIsAFailureButAClosedPipeIsNot) {
    if (::access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "no /dev/full here";
    }
    CSimProcess sim({QD7_SIM_PROGRAM, "--meters", "07"});
    const std::optional<std::string> device = sim.FirstLine(kExitWait);
    ASSERT_TRUE(device.has_value());
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--help"},
          {"--port", *device, "read", "07", "P0"},
          {"--port", *device, "--format", "csv", "watch", "07", "--count", "2"}}) {
        const ProgramRun run = RunBus(args, ChildStreams{"/dev/full", {}});
        EXPECT_EQ(run.code, 4) << args.back();
        EXPECT_EQ(run.err, "qd7-bus: cannot write the output: No space left on device\n")
            << args.back();
    }

    CSimProcess bus({QD7_BUS_PROGRAM, "--port", *device, "watch", "07", "--interval", "20"});
    ASSERT_TRUE(bus.FirstLine(kExitWait).has_value());
    bus.CloseOut();
    EXPECT_EQ(bus.WaitExit(kExitWait), 0);
    // Quiet about the pipe; only the watch's statistics.
    EXPECT_EQ(bus.ReadErr().rfind("qd7-bus: statistics per meter\n", 0), 0U) << bus.ReadErr();
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.WaitExit(kExitWait), 0);
}

} // namespace
