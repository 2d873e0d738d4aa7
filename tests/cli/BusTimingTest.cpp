// qd7-bus against meters whose every reply carries, as its value, the number of requests the
// meter has heard (the simulator's counting mode), so that each ok row can be checked against the
// request it claims to answer. Meters 01 and 12 answer at once; 07 answers the case's delay after
// each request, from at once to beyond its reply window.

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "sim/SimBus.h"
#include "sim/SimServer.h"
#include "tests/cli/BusRun.h"
#include "tests/support/PtyPair.h"

using namespace std::chrono_literals;

namespace {

constexpr int kSlowMeter = 7;

// One csv row as the checks need it.
struct Row {
    int address = -1;
    std::string status;
    std::string value;
    int tries = 0;
};

std::vector<Row> Rows(const Outcome& run) {
    std::vector<Row> rows;
    for (size_t i = 1; i < run.lines.size(); ++i) {
        const std::vector<std::string> f = Split(run.lines[i] + ",", ',');
        if (f.size() != 9) {
            ADD_FAILURE() << "not a row: " << run.lines[i];
            continue;
        }
        rows.push_back(Row{std::stoi(f[1]), f[6], f[4], std::stoi(f[8])});
    }
    return rows;
}

// "01:ok 07:silent*3": each row's address and status, and its tries when more than one.
std::string Shape(const std::vector<Row>& rows) {
    std::string text;
    for (const Row& row : rows) {
        text += (text.empty() ? "" : " ") + std::string(row.address < 10 ? "0" : "") +
                std::to_string(row.address) + ":" + row.status +
                (row.tries != 1 ? "*" + std::to_string(row.tries) : "");
    }
    return text;
}

// What becomes of the slow meter's requests.
enum class Fate {
    InTime,      // answered within the timeout
    Late,        // answered after the timeout, within the reply window
    BeyondWindow // answered after the reply window: outside the protocol
};

struct TimingCase {
    const char* name;
    std::chrono::milliseconds delay; // of meter 07
    std::vector<std::string_view> options;
    Fate fate;
};

// A run of qd7-bus and the rows it must give.
struct TimedRun {
    std::vector<std::string_view> args;
    std::string shape;
};

// The case's name in the test's name and in its messages.
void PrintTo(const TimingCase& c, std::ostream* os) {
    *os << c.name;
}

class BusTiming : public ::testing::TestWithParam<TimingCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.IsOpen());
        m_bus.SetCountRequests(true);
        m_bus.SetMeterDelay(kSlowMeter, GetParam().delay);
        ASSERT_TRUE(m_server.ServeFd(m_pty.MasterFd()));
        ASSERT_TRUE(m_server.Start());
    }
    void TearDown() override { m_server.Stop(); }

    // Runs qd7-bus with the case's options, and checks that every ok row carries the value of the
    // request it answers, and that the rows' tries account for every request the meters heard.
    Outcome Run(const TimedRun& timed) {
        std::vector<std::string_view> args = {"--format", "csv"};
        args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
        args.insert(args.end(), timed.args.begin(), timed.args.end());
        const std::string what = std::string(GetParam().name) + ", " + Joined(timed.args);
        // A reply of the run before that is still on its way goes out first.
        EXPECT_TRUE(m_server.WaitForReplies(m_bus.RepliesProduced(), 5s)) << what;
        std::map<int, uint64_t> heard;
        for (const int address : m_bus.Addresses()) {
            heard[address] = m_bus.RequestsHeard(address);
        }
        const Outcome run = RunBus(m_pty.SlavePath(), args);
        const std::vector<Row> rows = Rows(run);
        EXPECT_EQ(Shape(rows), timed.shape) << what << "\n" << run.out << run.err;
        std::map<int, uint64_t> asked = heard;
        for (const Row& row : rows) {
            asked[row.address] += static_cast<uint64_t>(row.tries);
            if (row.status == "ok") {
                EXPECT_EQ(row.value, std::to_string(asked[row.address]))
                    << what << ": the row of " << row.address << " answers another request\n"
                    << run.out;
            }
        }
        EXPECT_TRUE(m_server.WaitForReplies(m_bus.RepliesProduced(), 5s)) << what;
        for (const int address : {1, kSlowMeter, 12}) {
            if (asked[address] != heard[address]) { // a meter without a row in a scan
                EXPECT_EQ(m_bus.RequestsHeard(address), asked[address])
                    << what << ": the rows' tries of " << address << " are not every request";
            }
        }
        return run;
    }

    static std::string Joined(const std::vector<std::string_view>& args) {
        std::string text;
        for (const std::string_view arg : args) {
            text += (text.empty() ? "" : " ") + std::string(arg);
        }
        return text;
    }

    PtyPair m_pty;
    CSimBus m_bus{{CSimMeter(1), CSimMeter(kSlowMeter), CSimMeter(12)}};
    CSimServer m_server{m_bus};
};

TEST_P(BusTiming, EveryOkRowIsTheAnswerToItsOwnRequest) {
    const Fate fate = GetParam().fate;
    if (fate == Fate::BeyondWindow) {
        // Said when it comes before the meter is asked again; no row takes it.
        const Outcome watch = Run({{"watch", "07,01", "--interval", "500", "--count", "2"},
                                   "07:silent 01:ok 07:silent 01:ok"});
        EXPECT_NE(watch.err.find("qd7-bus: 07 answered 4"), std::string::npos) << watch.err;
        EXPECT_NE(watch.err.find(" ms after its request, beyond its reply window; --timeout "),
                  std::string::npos)
            << watch.err;
        return;
    }
    const bool bInTime = fate == Fate::InTime;
    const std::string slow = bInTime ? "07:ok" : "07:silent";
    const std::vector<TimedRun> runs = {
        {{"watch", "07", "--interval", "0", "--count", "3"}, slow + " " + slow + " " + slow},
        {{"watch", "01,07,12", "--interval", "0", "--count", "2"},
         "01:ok " + slow + " 12:ok 01:ok " + slow + " 12:ok"},
        {{"--retries", "2", "read", "01,07,12", "P0"},
         "01:ok " + std::string(bInTime ? "07:ok" : "07:silent*3") + " 12:ok"},
        // A late reply within the window proves the meter there: no retry for it.
        {{"--retries", "2", "scan", "01,05,07,09,12"}, "01:ok 07:ok 12:ok"},
    };
    for (const TimedRun& timed : runs) {
        const Outcome run = Run(timed);
        const bool bScan = timed.args.back() == "01,05,07,09,12";
        EXPECT_EQ(run.code, bInTime || bScan ? 0 : 1) << Joined(timed.args) << "\n" << run.err;
        if (!bInTime) {
            EXPECT_NE(run.err.find("qd7-bus: 07 answered "), std::string::npos)
                << Joined(timed.args) << ": the late reply is said";
        } else if (!bScan) {
            EXPECT_EQ(run.err.find("answered"), std::string::npos) << run.err;
        }
    }
}

// The delays 60 and 100 ms are a meter behind a USB adapter with its latency timer and a modest
// turnaround: the defaults find it. Beyond, a multiple of a 100 ms timeout, up to 650 ms within a
// window that leaves the simulator's timing room.
INSTANTIATE_TEST_SUITE_P(
    Delays, BusTiming,
    ::testing::Values(
        TimingCase{"at once", 0ms, {}, Fate::InTime},
        TimingCase{"60 ms, defaults", 60ms, {}, Fate::InTime},
        TimingCase{"100 ms, defaults", 100ms, {}, Fate::InTime},
        TimingCase{"100 ms, defaults at 115200", 100ms, {"--speed", "115200"}, Fate::InTime},
        TimingCase{
            "1.2 timeouts", 120ms, {"--timeout", "100", "--reply-window", "800"}, Fate::Late},
        TimingCase{"2 timeouts", 200ms, {"--timeout", "100", "--reply-window", "800"}, Fate::Late},
        TimingCase{"3 timeouts", 300ms, {"--timeout", "100", "--reply-window", "800"}, Fate::Late},
        TimingCase{"5 timeouts", 500ms, {"--timeout", "100", "--reply-window", "800"}, Fate::Late},
        TimingCase{"650 ms", 650ms, {"--timeout", "100", "--reply-window", "800"}, Fate::Late},
        TimingCase{"beyond the window",
                   400ms,
                   {"--timeout", "100", "--reply-window", "300"},
                   Fate::BeyondWindow}),
    [](const ::testing::TestParamInfo<TimingCase>& info) {
        std::string name;
        for (const char c : std::string(info.param.name)) {
            if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
                name += c;
            }
        }
        return name;
    });

// The hint names the delay from the request that the reply answers, and the timeout it suggests
// catches that meter: with it, every reading is ok and its own.
TEST(BusTimingHint, TheSuggestedTimeoutCatchesTheTrueDelay) {
    PtyPair pty;
    ASSERT_TRUE(pty.IsOpen());
    CSimBus bus({CSimMeter(kSlowMeter)});
    bus.SetCountRequests(true);
    bus.SetMeterDelay(kSlowMeter, 321ms);
    CSimServer server(bus);
    ASSERT_TRUE(server.ServeFd(pty.MasterFd()));
    ASSERT_TRUE(server.Start());

    const Outcome late =
        RunBus(pty.SlavePath(), {"watch", "07", "--interval", "0", "--count", "2"});
    EXPECT_EQ(late.code, 1);
    std::istringstream said(late.err);
    std::string word;
    int delay = 0;
    int suggested = 0;
    while (said >> word) {
        if (word == "answered") {
            said >> delay;
        } else if (word == "--timeout") {
            said >> suggested;
            break;
        }
    }
    EXPECT_GE(delay, 300) << late.err;
    EXPECT_LE(delay, 340) << late.err;
    EXPECT_GE(suggested, delay + 20) << late.err;
    ASSERT_TRUE(server.WaitForReplies(bus.RepliesProduced(), 5s));

    const uint64_t before = bus.RequestsHeard(kSlowMeter);
    const std::string timeout = std::to_string(suggested);
    const Outcome caught =
        RunBus(pty.SlavePath(), {"--timeout", timeout, "--format", "csv", "watch", "07",
                                 "--interval", "0", "--count", "3"});
    EXPECT_EQ(caught.code, 0) << caught.err;
    EXPECT_EQ(caught.err.find("answered"), std::string::npos) << caught.err;
    const std::vector<Row> rows = Rows(caught);
    ASSERT_EQ(rows.size(), 3U) << caught.out;
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].status, "ok");
        EXPECT_EQ(rows[i].value, std::to_string(before + i + 1)) << caught.out;
    }
    server.Stop();
}

} // namespace
