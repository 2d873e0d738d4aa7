#include "cli/BusProgram.h"
#include "cli/OutputFile.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "sim/SimBus.h"
#include "sim/SimServer.h"
#include "tests/cli/BusRun.h"
#include "tests/support/CommaLocale.h"
#include "tests/support/FdIo.h"
#include "tests/support/PtyPair.h"

using namespace std::chrono_literals;

namespace {

// The meters of these tests: 00, 07 and 99, their clock held where P0 stands at 120 + address.
CSimBus MakeBus() {
    return CSimBus{{CSimMeter(0), CSimMeter(7), CSimMeter(99)}, {}, 1, [] { return 7500ms; }};
}

// qd7-bus in this process, on the slave of a pty whose master the simulator serves in a thread.
class BusOnSim : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.IsOpen());
        ASSERT_TRUE(m_server.ServeFd(m_pty.MasterFd()));
        ASSERT_TRUE(m_server.Start());
    }
    void TearDown() override { m_server.Stop(); }

    Outcome Bus(std::vector<std::string_view> args, const std::string& prefill = {}) {
        return RunBus(m_pty.SlavePath(), std::move(args), prefill);
    }

    PtyPair m_pty;
    CSimBus m_bus = MakeBus();
    CSimServer m_server{m_bus};
};

TEST_F(BusOnSim, ScanFindsExactlyItsMetersAndAsksEveryAddressOnce) {
    const Outcome run = Bus({"--format", "csv", "--timeout", "40", "scan"});
    EXPECT_EQ(run.code, 0) << run.err;
    ASSERT_EQ(run.lines.size(), 4U) << run.out;
    EXPECT_EQ(run.lines[0], "time,address,bank,register,value,decimals,status,raw,tries");
    const std::vector<std::string> expected = {"00,0,P0,120.0,1,ok", "07,0,P0,127.0,1,ok",
                                               "99,0,P0,219.0,1,ok"};
    for (size_t i = 0; i < expected.size(); ++i) {
        const std::vector<std::string> f = Split(run.lines[i + 1], ',');
        ASSERT_EQ(f.size(), 9U) << run.lines[i + 1];
        EXPECT_EQ(f[1] + "," + f[2] + "," + f[3] + "," + f[4] + "," + f[5] + "," + f[6],
                  expected[i]);
    }
    const std::vector<std::string> bodies = m_server.ReceivedBodies();
    ASSERT_EQ(bodies.size(), 100U);
    EXPECT_EQ(bodies.front(), "00RX0P0+0000000");
    EXPECT_EQ(bodies[42], "42RX0P0+0000000");
    EXPECT_EQ(bodies.back(), "99RX0P0+0000000");
}

TEST_F(BusOnSim, ScanWithoutAnswerExitsOne) {
    const Outcome run = Bus({"--timeout", "30", "scan", "--from", "01", "--to", "06"});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "qd7-bus: no meter answered at 01..06\n");
    EXPECT_EQ(m_server.ReceivedBodies().size(), 6U);
}

struct RegisterRow {
    const char* code;
    const char* value;
    const char* decimals;
};

TEST_F(BusOnSim, ReadGivesTheElevenRegistersWithTheirDecimalsInAnyLocale) {
    const CCommaDecimalLocale comma;
    ASSERT_TRUE(comma.IsSet());
    const Outcome run = Bus({"--format", "csv", "read", "07"});
    EXPECT_EQ(run.code, 0) << run.err;
    const std::vector<RegisterRow> expected = {
        {"P0", "127.0", "1"},  {"C0", "900.0", "1"},   {"C1", "750.5", "1"},  {"C2", "20", "0"},
        {"C3", "-15.25", "2"}, {"K0", "987.6", "1"},   {"K1", "-12.34", "2"}, {"X0", "0.0001", "4"},
        {"X1", "1000", "0"},   {"Y0", "0.00005", "5"}, {"Y1", "123456", "0"},
    };
    ASSERT_EQ(run.lines.size(), expected.size() + 1) << run.out;
    for (size_t i = 0; i < expected.size(); ++i) {
        const std::vector<std::string> f = Split(run.lines[i + 1], ',');
        ASSERT_EQ(f.size(), 9U) << run.lines[i + 1];
        EXPECT_EQ(f[1], "07");
        EXPECT_EQ(f[3], expected[i].code);
        EXPECT_EQ(f[4], expected[i].value) << expected[i].code;
        EXPECT_EQ(f[5], expected[i].decimals) << expected[i].code;
        EXPECT_EQ(f[6], "ok");
        EXPECT_EQ(f[7].size(), 19U * 3 - 1) << "the reply's 19 bytes";
        EXPECT_EQ(f[7].substr(0, 18), "06 02 30 37 52 44 ");
    }
}

struct FaultCase {
    const char* name;
    std::function<void(CSimBus&)> fault;
    std::vector<std::string_view> args;
    const char* status;
    int code;
};

TEST_F(BusOnSim, WhatBecameOfEachRequestAndTheExitCode) {
    const std::vector<FaultCase> cases = {
        {"no meter at the address", [](CSimBus&) {}, {"read", "08", "P0"}, "silent", 1},
        {"a meter gone quiet",
         [](CSimBus& b) { b.SetSilent(7, true); },
         {"read", "07", "P0"},
         "silent",
         1},
        {"a reply with a wrong CRC",
         [](CSimBus& b) { b.CorruptNextReplies(1); },
         {"read", "07", "P0"},
         "corrupt",
         1},
        {"a reply echoing RX",
         [](CSimBus& b) { b.SetReject(true); },
         {"read", "07", "P0"},
         "rejected",
         1},
        {"a reply from another address",
         [](CSimBus& b) { b.SetAnswerAs(7, 8); },
         {"read", "07", "P0"},
         "silent",
         1},
        {"a reply later than the timeout",
         [](CSimBus& b) { b.SetDelay(200ms); },
         {"--timeout", "60", "read", "07", "P0"},
         "silent",
         1},
        {"a slow reply within the timeout",
         [](CSimBus& b) { b.SetDelay(80ms); },
         {"--timeout", "400", "read", "07", "P0"},
         "ok",
         0},
    };
    for (const FaultCase& c : cases) {
        m_bus.SetFaults({});
        m_bus.SetSilent(7, false);
        m_bus.SetAnswerAs(7, -1);
        c.fault(m_bus);
        std::vector<std::string_view> args = {"--format", "json"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome run = Bus(args);
        EXPECT_EQ(run.code, c.code) << c.name;
        ASSERT_EQ(run.lines.size(), 1U) << c.name << ": " << run.out;
        EXPECT_NE(run.lines[0].find("\"status\":\"" + std::string(c.status) + "\""),
                  std::string::npos)
            << c.name << ": " << run.lines[0];
    }
}

// Random bytes before every reply and 45 more after it (a 64-byte reply): each reply is found
// behind the noise, and what trails it is thrown away before the next request.
TEST_F(BusOnSim, NoiseBeforeAndAfterEveryReplyIsSkipped) {
    m_bus.SetNoiseBytes(50);
    m_bus.SetLongReply(45);
    const Outcome run = Bus({"read", "07"});
    EXPECT_EQ(run.code, 0) << run.out;
    ASSERT_EQ(run.lines.size(), 11U) << run.out;
    EXPECT_EQ(run.lines[0], "07  bank 0  P0       127.0  ok");
    EXPECT_EQ(run.lines[4], "07  bank 0  C3      -15.25  ok");
}

TEST_F(BusOnSim, WatchWithACountGivesThatManyRounds) {
    const Outcome run =
        Bus({"--format", "json", "watch", "07", "--count", "3", "--interval", "30"});
    EXPECT_EQ(run.code, 0) << run.err;
    ASSERT_EQ(run.lines.size(), 3U) << run.out;
    std::string previousTime;
    for (const std::string& line : run.lines) {
        EXPECT_EQ(line.substr(0, 9), "{\"time\":\"");
        EXPECT_NE(line.find("\"address\":7,\"bank\":0,\"register\":\"P0\",\"value\":127.0,"
                            "\"decimals\":1,\"status\":\"ok\""),
                  std::string::npos)
            << line;
        const std::string time = line.substr(9, 24);
        EXPECT_LT(previousTime, time) << "rounds 30 ms apart have rising times";
        previousTime = time;
    }
    EXPECT_EQ(m_server.ReceivedBodies().size(), 3U);

    const Outcome oneSilent = Bus({"watch", "07", "08", "--count", "1"});
    EXPECT_EQ(oneSilent.code, 1);
    ASSERT_EQ(oneSilent.lines.size(), 2U);
    EXPECT_EQ(oneSilent.lines[1].substr(24), "  08  bank 0  P0           -  silent");
}

TEST_F(BusOnSim, SendShowsTheFrameTheReplyAndWhatItSays) {
    const Outcome run = Bus({"--bank", "0", "send", "07RX1C1+0000000"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "request  07RX1C1+0000000  ETX,BB\n"
                       "reply    06 02 30 37 52 44 31 43 31 2B 30 30 33 30 30 30 31 03 47\n"
                       "decoded  address 07  bank 1  register C1  value 300.0  decimals 1\n"
                       "status   ok\n");
    EXPECT_EQ(m_server.ReceivedBodies(), std::vector<std::string>{"07RX1C1+0000000"});

    const Outcome silent = Bus({"--timeout", "50", "--format", "csv", "send", "08WX0C0+0000100"});
    EXPECT_EQ(silent.code, 1);
    ASSERT_EQ(silent.lines.size(), 2U);
    EXPECT_EQ(silent.lines[1].substr(24), ",08,0,C0,,,silent,,1");
}

TEST_F(BusOnSim, CsvAppendedToALogWritesNoSecondHeader) {
    const std::string log = "time,address,bank,register,value,decimals,status,raw,tries\n"
                            "2024-05-01T12:00:00.000Z,07,0,P0,101.0,1,ok,06\n";
    const Outcome run = Bus({"--format", "csv", "watch", "07", "--count", "1"}, log);
    EXPECT_EQ(run.code, 0);
    ASSERT_EQ(run.lines.size(), 3U) << run.out;
    EXPECT_EQ(run.out.substr(0, log.size()), log);
    EXPECT_EQ(run.lines[2].substr(24, 23), ",07,0,P0,127.0,1,ok,06 ");
}

// Every reply 100 ms after its request, past a 60 ms timeout: a late reply must never be taken for
// a later request's, of the same register or another, and it is said on stderr with the timeout
// that waits for it. A scan lists the meter all the same: its late reply proves it there.
TEST_F(BusOnSim, ALateReplyNeverAnswersALaterRequestAndIsSaid) {
    m_bus.SetDelay(100ms);
    struct LateCase {
        const char* name;
        std::vector<std::string_view> args;
        std::vector<std::string> statuses;
        int code;
    };
    const std::vector<std::string> silent3(3, "silent");
    const std::vector<LateCase> cases = {
        {"the same register again", {"read", "07", "P0", "P0", "P0"}, silent3, 1},
        {"other registers of the meter", {"read", "07", "P0", "C0", "C1"}, silent3, 1},
        {"a watch faster than the meter",
         {"watch", "07", "--interval", "30", "--count", "3"},
         silent3,
         1},
        {"a scan past the meter", {"scan", "--from", "06", "--to", "08"}, {"ok"}, 0},
    };
    std::string lastErr;
    for (const LateCase& c : cases) {
        std::vector<std::string_view> args = {"--format", "csv", "--timeout", "60"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome run = Bus(args);
        EXPECT_EQ(run.code, c.code) << c.name;
        EXPECT_EQ(CsvStatuses(run), c.statuses) << c.name << ":\n" << run.out;
        EXPECT_GE(Count(run.err, "qd7-bus: 07 answered "), 1U) << c.name << ": " << run.err;
        EXPECT_NE(run.err.find(" ms after its request; --timeout "), std::string::npos) << c.name;
        lastErr = run.err;
    }

    // The timeout named waits for the meter, and every reading is then the meter's own.
    const size_t at = lastErr.find("--timeout ");
    ASSERT_NE(at, std::string::npos);
    const std::string suggested = lastErr.substr(at + 10, lastErr.find(' ', at + 10) - at - 10);
    EXPECT_GE(std::stoi(suggested), 125) << lastErr;
    const Outcome patient = Bus({"--timeout", suggested, "read", "07", "P0", "C0", "C1"});
    EXPECT_EQ(patient.code, 0) << patient.err;
    EXPECT_EQ(patient.out, "07  bank 0  P0       127.0  ok\n"
                           "07  bank 0  C0       900.0  ok\n"
                           "07  bank 0  C1       750.5  ok\n");
    EXPECT_EQ(patient.err, "");
}

// Lists and ranges where an address or a register is taken, each asked in the order typed.
TEST_F(BusOnSim, ListsAndRangesOfMetersAndRegisters) {
    const Outcome read = Bus({"read", "00,07", "P0,C0:C1"});
    EXPECT_EQ(read.code, 0) << read.err;
    EXPECT_EQ(read.out, "00  bank 0  P0       120.0  ok\n"
                        "00  bank 0  C0       900.0  ok\n"
                        "00  bank 0  C1       750.5  ok\n"
                        "07  bank 0  P0       127.0  ok\n"
                        "07  bank 0  C0       900.0  ok\n"
                        "07  bank 0  C1       750.5  ok\n");
    m_bus.ClearReceivedBodies();
    const Outcome scan = Bus({"--format", "csv", "scan", "98:99,07"});
    EXPECT_EQ(scan.code, 0) << scan.err;
    EXPECT_EQ(m_bus.ReceivedBodies(),
              (std::vector<std::string>{"98RX0P0+0000000", "99RX0P0+0000000", "07RX0P0+0000000"}));
    EXPECT_EQ(scan.lines.size(), 3U) << scan.out;
}

// Half the replies dropped, in the simulator's fixed pattern: with retries every reading ends ok,
// its row says how many requests it took, and the statistics count every request, the dropped
// ones as silent.
TEST_F(BusOnSim, RetriesTurnDropsIntoOkRowsAndTheStatisticsCountEveryTry) {
    SimFaults faults;
    faults.nDropPercent = 50;
    m_bus.SetFaults(faults);
    const Outcome run =
        Bus({"--format", "csv", "--timeout", "40", "--reply-window", "50", "--retries", "10",
             "--stats", "read", "07", "P0", "P0", "P0", "P0", "P0", "P0", "P0", "P0"});
    EXPECT_EQ(run.code, 0) << run.err;
    ASSERT_EQ(run.lines.size(), 9U) << run.out;
    int requests = 0;
    int retried = 0;
    for (size_t i = 1; i < run.lines.size(); ++i) {
        const std::vector<std::string> f = Split(run.lines[i], ',');
        ASSERT_EQ(f.size(), 9U) << run.lines[i];
        EXPECT_EQ(f[6], "ok") << run.lines[i];
        requests += std::stoi(f[8]);
        retried += f[8] != "1" ? 1 : 0;
    }
    EXPECT_GT(retried, 0) << "no drop in the pattern: the test proves nothing\n" << run.out;
    EXPECT_EQ(requests, static_cast<int>(m_bus.FramesReceived()));
    // "07  requests  ok  silent  corrupt  rejected  nodevice  loss %  times"
    const size_t at = run.err.find("\n07 ");
    ASSERT_NE(at, std::string::npos) << run.err;
    std::istringstream line(run.err.substr(at + 1));
    std::string address;
    int nRequests = 0;
    int nOk = 0;
    int nSilent = 0;
    line >> address >> nRequests >> nOk >> nSilent;
    EXPECT_EQ(nRequests, requests) << run.err;
    EXPECT_EQ(nOk, 8) << run.err;
    EXPECT_EQ(nSilent, requests - 8) << run.err;
}

// -v shows each request and reply in hex with times, the same bytes the simulator heard and sent.
TEST_F(BusOnSim, TheTraceShowsTheBytesTheSimulatorHeardAndSent) {
    std::vector<std::string> log;
    std::mutex logMutex;
    m_server.Stop();
    m_server.SetTrafficLog([&](std::string_view line) {
        const std::lock_guard lock(logMutex);
        log.emplace_back(line);
    });
    ASSERT_TRUE(m_server.Start());
    const Outcome run = Bus({"-v", "read", "07", "P0"});
    m_server.Stop();
    EXPECT_EQ(run.code, 0) << run.err;
    const size_t tx = run.err.find(" ms  tx  02 30 37 52 58 30 50 30 2B");
    const size_t rx = run.err.find(" ms  rx  06 02 30 37 52 44 30 50 30");
    const size_t ok = run.err.find(" ms  ok  07 P0 in ");
    ASSERT_NE(tx, std::string::npos) << run.err;
    ASSERT_NE(rx, std::string::npos) << run.err;
    ASSERT_NE(ok, std::string::npos) << run.err;
    EXPECT_LT(tx, rx);
    EXPECT_LT(rx, ok);
    EXPECT_NE(run.err.find("35 bytes, 36.459 ms on the line  |.07RX0P0+0000000."),
              std::string::npos)
        << run.err;
    // The simulator's log holds the same bytes each way.
    const auto hex = [&](size_t at) {
        const size_t start = run.err.find("  ", at + 6) + 2;
        return run.err.substr(start, run.err.find("  ", start) - start);
    };
    const std::lock_guard lock(logMutex);
    std::string heard;
    std::string sent;
    for (const std::string& line : log) {
        if (line.rfind("rx ", 0) == 0) {
            heard += (heard.empty() ? "" : " ") + line.substr(3);
        } else if (line.rfind("tx ", 0) == 0) {
            sent += (sent.empty() ? "" : " ") + line.substr(3);
        }
    }
    const auto trimmed = [](std::string text) {
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    };
    EXPECT_EQ(trimmed(heard), hex(tx)) << run.err;
    EXPECT_EQ(trimmed(sent), hex(rx)) << run.err;
    // Without -v, nothing of it.
    EXPECT_EQ(Bus({"read", "07", "P0"}).err, "");
}

// A meter that answers within the scan's listening margin is found at once; one slower than that
// and than the whole timeout is listed too, when its reply comes within its window, and said.
TEST_F(BusOnSim, TheQuickScanListsASlowMeterAndSaysHowSlow) {
    m_bus.SetDelay(10ms);
    const Outcome quick = Bus({"--format", "csv", "scan", "--from", "05", "--to", "08"});
    EXPECT_EQ(quick.code, 0) << quick.err;
    EXPECT_EQ(CsvStatuses(quick), std::vector<std::string>{"ok"}) << quick.out;
    EXPECT_EQ(quick.err, "");
    m_bus.SetDelay(250ms);
    const Outcome slow = Bus({"--format", "csv", "scan", "--from", "05", "--to", "08"});
    EXPECT_EQ(slow.code, 0) << slow.err;
    EXPECT_EQ(CsvStatuses(slow), std::vector<std::string>{"ok"}) << slow.out;
    EXPECT_NE(slow.err.find("qd7-bus: 07 answered 25"), std::string::npos) << slow.err;
}

// Progress goes to a terminal only, on one line rewritten; a file gets none (every scan above
// writes its stderr to a file and finds it holding only what it expects).
TEST_F(BusOnSim, ScanProgressShowsOnATerminal) {
    PtyPair terminal;
    ASSERT_TRUE(terminal.IsOpen());
    FILE* err = fdopen(dup(terminal.SlaveFd()), "w");
    ASSERT_NE(err, nullptr);
    FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    const std::array<std::string_view, 8> args = {
        "--port", m_pty.SlavePath(), "scan", "--from", "06", "--to", "08", "--timeout"};
    std::vector<std::string_view> all(args.begin(), args.end());
    all.push_back("40");
    const std::atomic<bool> stop{false};
    // As the program finds its stderr before it runs.
    EXPECT_EQ(RunBusProgram(all, out, err, stop, BusProcess{IsTerminal(err)}), 0);
    std::fclose(err);
    std::fclose(out);
    const std::vector<uint8_t> bytes = ReadBytes(terminal.MasterFd(), 4096, 200ms);
    const std::string shown(bytes.begin(), bytes.end());
    EXPECT_NE(shown.find("\rscan 06 (1 of 3), none found yet"), std::string::npos) << shown;
    EXPECT_NE(shown.find("\rscan 08 (3 of 3), found 1: 07"), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\n'), std::string::npos) << "one line, rewritten: " << shown;
}

// The device behind the port goes away while read or scan runs (the far side of the pty hangs
// up once two requests were heard): the row in hand says nodevice, the reason goes to stderr,
// and the run ends with exit 3 instead of logging silence for every request left.
TEST(BusDeviceGone, ReadAndScanEndWithExitThreeAndTheReason) {
    for (const std::vector<std::string_view>& args :
         {std::vector<std::string_view>{"--format", "csv", "read", "07"},
          std::vector<std::string_view>{"--format", "csv", "scan"}}) {
        PtyPair pty;
        ASSERT_TRUE(pty.IsOpen());
        CSimBus bus = MakeBus();
        CSimServer server(bus);
        ASSERT_TRUE(server.ServeFd(pty.MasterFd()));
        ASSERT_TRUE(server.Start());
        std::thread unplug([&] {
            server.WaitForFrames(2, 5000ms);
            server.Stop();
            pty.CloseMaster();
        });
        const Outcome run = RunBus(pty.SlavePath(), args);
        unplug.join();
        const std::string command(args.back() == "07" ? "read" : "scan");
        EXPECT_EQ(run.code, 3) << command;
        std::vector<std::string> statuses = CsvStatuses(run);
        ASSERT_FALSE(statuses.empty()) << command;
        EXPECT_EQ(statuses.back(), "nodevice") << command << ":\n" << run.out;
        statuses.pop_back();
        EXPECT_EQ(statuses, std::vector<std::string>(statuses.size(), "ok")) << run.out;
        EXPECT_EQ(run.err, "qd7-bus: " + pty.SlavePath() + ": the device has gone away\n");
    }
}

// A line that never falls quiet (a byte of noise every few milliseconds, no meter) must not hold
// the request after a failure for ever: the wait for the reply has its bound, the reply window.
TEST(BusNoisyLine, TheWaitForAQuietLineEnds) {
    PtyPair pty;
    ASSERT_TRUE(pty.IsOpen());
    std::atomic<bool> done{false};
    std::thread noise([&] {
        const uint8_t byte = 0x55;
        while (!done.load() && pty.WriteMaster(&byte, 1)) {
            pty.ReadMaster(64, 0); // what the tool sends, so that the pty never fills
            std::this_thread::sleep_for(5ms);
        }
    });
    const Outcome run = RunBus(pty.SlavePath(), {"--timeout", "20", "read", "08", "P0", "P0"});
    done = true;
    noise.join();
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.out, "08  bank 0  P0           -  silent\n08  bank 0  P0           -  silent\n");
}

} // namespace
