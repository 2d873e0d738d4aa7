// write, backup and restore against the simulated bus on a pty: each write is judged by its
// read-back alone, nothing goes on the wire for a command line or a backup that is refused, and a
// meter's setup copied to another reads back the same.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "protocol/CodeTables.h"
#include "sim/SimBus.h"
#include "sim/SimServer.h"
#include "tests/cli/BusRun.h"
#include "tests/support/PtyPair.h"

using namespace std::chrono_literals;

namespace {

// Meters 07 and 12 with the simulator's default registers.
class BusWrite : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.IsOpen());
        ASSERT_TRUE(m_server.ServeFd(m_pty.MasterFd()));
        ASSERT_TRUE(m_server.Start());
        m_strDir = ::testing::TempDir() + "qd7-bus-write-" + std::to_string(::getpid());
        std::filesystem::create_directories(m_strDir);
    }
    void TearDown() override {
        m_server.Stop();
        std::filesystem::remove_all(m_strDir);
    }

    Outcome Bus(std::vector<std::string_view> args) { return RunBus(m_pty.SlavePath(), args); }
    std::string Path(std::string_view name) const { return m_strDir + "/" + std::string(name); }

    PtyPair m_pty;
    CSimBus m_bus{{CSimMeter(7), CSimMeter(12)}, {}, 1, [] { return 7500ms; }};
    CSimServer m_server{m_bus};
    std::string m_strDir;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A backup's registers, without what differs from meter to meter (address, time, raw frames).
std::string Registers(const std::string& backup) {
    std::string registers;
    std::istringstream lines(backup);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("\"register\"") != std::string::npos) {
            registers += line.substr(0, line.find(", \"raw\"")) + "\n";
        }
    }
    return registers;
}

TEST_F(BusWrite, AValueWrittenIsReadBackAndAReadGivesItLater) {
    const Outcome run = Bus({"write", "07", "C1", "123.4", "Y0", "-0.50"});
    EXPECT_EQ(run.code, 0) << run.out << run.err;
    EXPECT_EQ(run.out, "07  bank 0  C1       123.4  written\n"
                       "07  bank 0  Y0       -0.50  written\n");
    // Each write is followed by its read-back, nothing else.
    EXPECT_EQ(m_server.ReceivedBodies(),
              (std::vector<std::string>{"07WX0C1+0012341", "07RX0C1+0000000", "07WX0Y0-0000502",
                                        "07RX0Y0+0000000"}));
    const Outcome read = Bus({"--format", "csv", "read", "07", "C1,Y0"});
    EXPECT_EQ(read.code, 0) << read.err;
    ASSERT_EQ(read.lines.size(), 3U) << read.out;
    EXPECT_NE(read.lines[1].find(",07,0,C1,123.4,1,ok,"), std::string::npos) << read.lines[1];
    EXPECT_NE(read.lines[2].find(",07,0,Y0,-0.50,2,ok,"), std::string::npos) << read.lines[2];
    // Bank 1 and meter 12 were not touched.
    EXPECT_DOUBLE_EQ(*m_bus.RegisterValue(7, 1, 2), 300.0);
    EXPECT_DOUBLE_EQ(*m_bus.RegisterValue(12, 0, 2), 750.5);
}

TEST_F(BusWrite, ARegisterThatDoesNotTakeItsValueSaysSo) {
    m_bus.SetReadOnly(12, true);
    const Outcome run = Bus({"--format", "csv", "write", "07,12", "C1", "123.4"});
    EXPECT_EQ(run.code, 1) << run.err;
    EXPECT_EQ(run.lines.front(),
              "time,address,bank,register,value,decimals,status,raw,tries,wanted,before");
    EXPECT_EQ(CsvStatuses(run), (std::vector<std::string>{"written", "not-taken"})) << run.out;
    ASSERT_EQ(run.lines.size(), 3U);
    EXPECT_NE(run.lines[2].find(",12,0,C1,750.5,1,not-taken,"), std::string::npos) << run.lines[2];
    EXPECT_TRUE(run.lines[2].ends_with(",1,123.4,")) << run.lines[2];

    // A meter that hears nothing: the write and its read-back go out, and the row says silent.
    m_bus.SetSilent(7, true);
    const Outcome silent =
        Bus({"--timeout", "50", "--reply-window", "60", "write", "07", "K0", "1"});
    EXPECT_EQ(silent.code, 1);
    EXPECT_EQ(silent.out, "07  bank 0  K0           -  silent  (wrote 1)\n");
}

// The meter answers 300 ms after each request, past the 200 ms timeout, and answers a write as if
// it were a read, with the value sent, while it keeps its own. Taken for the read-back, that late
// answer would make the row written; the read-back waits until it has come, and is late itself.
TEST_F(BusWrite, ALateAnswerToTheWriteIsNeverTheReadBack) {
    m_bus.SetReadOnly(7, true);
    m_bus.SetWriteReplyCommand(kCommandResponse);
    m_bus.SetMeterDelay(7, 300ms);
    const Outcome run =
        Bus({"--timeout", "200", "--reply-window", "1000", "write", "07", "C1", "123.4"});
    EXPECT_EQ(run.code, 1) << run.out << run.err;
    EXPECT_EQ(run.out, "07  bank 0  C1           -  silent  (wrote 123.4)\n") << run.err;
    EXPECT_NE(run.err.find("qd7-bus: 07 answered "), std::string::npos) << run.err;
    EXPECT_EQ(m_server.ReceivedBodies(),
              (std::vector<std::string>{"07WX0C1+0012341", "07RX0C1+0000000"}));
    // Given the time, the read-back says what the meter holds.
    const Outcome waited = Bus({"--timeout", "500", "write", "07", "C1", "123.4"});
    EXPECT_EQ(waited.code, 1) << waited.err;
    EXPECT_EQ(waited.out, "07  bank 0  C1       750.5  not-taken  (wrote 123.4)\n");
}

TEST_F(BusWrite, WhatIsRefusedSendsNothing) {
    std::ofstream(Path("damaged.json")) << "{\"format\": \"qd7-bus backup\", \"version\": 1,";
    std::ofstream(Path("p0.json"))
        << "{\"format\": \"qd7-bus backup\", \"version\": 1, \"address\": 7, \"registers\": "
           "[{\"bank\": 0, \"register\": \"P0\", \"value\": 1, \"decimals\": 0}]}";
    const std::string damaged = Path("damaged.json");
    const std::string p0 = Path("p0.json");
    const std::string missing = Path("missing.json");
    const struct {
        std::vector<std::string_view> args;
        std::string_view says;
    } cases[] = {
        {{"write", "07", "P0", "1"}, "P0 is the process value"},
        {{"write", "07:12", "C1", "1"}, "is a range"},
        {{"write", "07", "C1", "1.2345678"}, "the nearest value that can be written is 1.23457"},
        {{"write", "07", "C1", "1", "C2"}, "C2 needs the value"},
        {{"restore", damaged, "--to", "12"}, "damaged.json: not json: line 1, column"},
        {{"restore", p0, "--to", "12"}, "P0 is the process value, which is measured"},
        {{"restore", missing, "--to", "12"}, "missing.json: No such file or directory"},
    };
    for (const auto& c : cases) {
        const Outcome run = Bus(c.args);
        EXPECT_EQ(run.code, 2) << c.says;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    // Given the time to reach the meters, anything sent would have been heard by now.
    const Outcome read = Bus({"read", "07", "C1"});
    EXPECT_EQ(m_server.ReceivedBodies(), std::vector<std::string>{"07RX0C1+0000000"});
    EXPECT_NE(read.out.find("750.5  ok"), std::string::npos);
}

TEST_F(BusWrite, ASetupCopiedToAnotherMeterReadsBackTheSame) {
    // Meter 07's setup differs from the defaults in three registers, one of them in bank 1 and
    // one in its places alone.
    ASSERT_TRUE(m_bus.WriteRegister(7, 0, 2, 123.4, 1));
    ASSERT_TRUE(m_bus.WriteRegister(7, 1, 7, -0.0005, 4));
    ASSERT_TRUE(m_bus.WriteRegister(7, 0, 8, 1000.0, 2));
    const std::string backup07 = Path("meter07.json");
    const Outcome saved = Bus({"-q", "backup", "07", "-o", backup07});
    EXPECT_EQ(saved.code, 0) << saved.err;
    EXPECT_EQ(saved.out, "") << "-q: only the rows that are not ok";
    ASSERT_NE(ReadFile(backup07).find("\"address\": 7,"), std::string::npos) << ReadFile(backup07);

    const Outcome dry = Bus({"restore", backup07, "--to", "12", "--dry-run"});
    EXPECT_EQ(dry.code, 0) << dry.err;
    EXPECT_EQ(dry.out, "12  bank 0  C1       750.5  ok  (to write 123.4)\n"
                       "12  bank 0  X1        1000  ok  (to write 1000.00)\n"
                       "12  bank 1  X0           4  ok  (to write -0.0005)\n");
    EXPECT_NE(dry.err.find("12: 3 of 20 registers differ from the backup of 07; nothing was "
                           "written (--dry-run)"),
              std::string::npos)
        << dry.err;
    for (const std::string& body : m_server.ReceivedBodies()) {
        EXPECT_EQ(body.substr(2, 2), "RX") << "a dry run wrote " << body;
    }

    const Outcome restored = Bus({"--format", "csv", "restore", backup07, "--to", "12"});
    EXPECT_EQ(restored.code, 0) << restored.out << restored.err;
    std::vector<std::string> statuses = CsvStatuses(restored);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "written"), 3) << restored.out;
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "ok"), 17) << restored.out;
    EXPECT_NE(restored.out.find(",12,1,X0,-0.0005,4,written,"), std::string::npos);
    EXPECT_NE(restored.out.find(",1,-0.0005,4\n"), std::string::npos) << "wanted, before";

    const Outcome again = Bus({"backup", "12"});
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_NE(again.out.find("\"address\": 12,"), std::string::npos) << again.out;
    EXPECT_EQ(Registers(again.out), Registers(ReadFile(backup07)));
    EXPECT_NE(Registers(again.out).find("\"register\": \"X1\", \"value\": 1000.00"),
              std::string::npos);
}

TEST_F(BusWrite, ABackupOfARegisterUnreadIsNotWritten) {
    const std::string file = Path("meter07.json");
    std::ofstream(file) << "an earlier backup\n";
    m_bus.DropNextReplies(1);
    const Outcome run = Bus({"--reply-window", "200", "backup", "07", "-o", file});
    EXPECT_EQ(run.code, 1) << run.err;
    EXPECT_NE(run.err.find("07: no backup written, not every register was read: C0 of bank 0 "
                           "silent"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(ReadFile(file), "an earlier backup\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_strDir),
                            std::filesystem::directory_iterator()),
              1)
        << "nothing left beside it";
}

} // namespace
