// The poll cycle's rules without the window: each row is a state, one event, and what the cycle
// does and leaves behind. The window tests check only that the window feeds it and carries its
// decisions out.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ui/PollCycle.h"

// How a failed row shows the cycle's values; found by argument-dependent lookup.
static void PrintTo(const PollCycleState& s, std::ostream* pOut) {
    *pOut << "{cursor " << s.scanCursor << ", current " << s.currentAddress << ", awaiting "
          << s.bAwaitingResponse << ", probe selected " << s.bProbeSelected << ", listed "
          << s.listedCount << "}";
}

static void PrintTo(const PollAction& a, std::ostream* pOut) {
    *pOut << (a.step == PollStep::Send ? "send to " + std::to_string(a.address) : "read");
}

namespace {

using S = PollCycleState; // {scan cursor, current address, awaiting, probe selected, listed}

struct Event {
    enum Kind { Construct, Reset, StartPolling, Tick, ListUpdate } kind;
    bool bPnp = false;    // Tick
    int selected = 0;     // Tick: the list's selection (0 when none)
    int address = 0;      // ListUpdate
    bool found = false;   // ListUpdate: answered correctly, or the reply failed
    bool bListed = false; // ListUpdate: the address is an entry now
    int countAfter = 0;   // ListUpdate: entries once the change is applied
};

Event Tick(bool bPnp, int selected) {
    return {Event::Tick, bPnp, selected};
}
Event Reply(int address, bool bListed, int countAfter) {
    return {Event::ListUpdate, false, 0, address, true, bListed, countAfter};
}
Event Failure(int address, bool bListed, int countAfter) {
    return {Event::ListUpdate, false, 0, address, false, bListed, countAfter};
}

struct Row {
    const char* name;
    S before;
    Event event;
    std::optional<PollAction> action; // what a tick does
    std::optional<ListChange> change; // what a list update does to the list
    S after;
};

void PrintTo(const Row& row, std::ostream* pOut) {
    *pOut << row.name;
}

// What the window does with each event: the list's side is applied by the window, which counts
// the entries only when the change was not ignored.
struct Outcome {
    std::optional<PollAction> action;
    std::optional<ListChange> change;
};

Outcome Apply(CPollCycle& cycle, const Event& e) {
    Outcome outcome;
    switch (e.kind) {
    case Event::Construct:
        cycle = CPollCycle();
        break;
    case Event::Reset:
        cycle.Reset();
        break;
    case Event::StartPolling:
        cycle.OnStartPolling();
        break;
    case Event::Tick:
        outcome.action = cycle.OnTick(e.bPnp, e.selected);
        break;
    case Event::ListUpdate:
        outcome.change = CPollCycle::ChangeFor(e.address, e.found, e.bListed);
        if (*outcome.change != ListChange::Ignore) {
            cycle.CountListed(e.countAfter);
        }
        break;
    }
    return outcome;
}

constexpr PollAction kRead{PollStep::Read, -1};
constexpr PollAction Send(int address) {
    return {PollStep::Send, address};
}

const S kResetValues{0, -1, false, true, 0};
const S kBusy{42, 7, true, false, 3}; // mid-cycle: a reply outstanding, the selected meter next

class PollCycleTableTest : public ::testing::TestWithParam<Row> {};

TEST_P(PollCycleTableTest, StateAndEventGiveActionAndNewState) {
    const Row& row = GetParam();
    CPollCycle cycle(row.before);
    const Outcome outcome = Apply(cycle, row.event);
    EXPECT_EQ(outcome.action, row.action);
    EXPECT_EQ(outcome.change, row.change);
    EXPECT_EQ(cycle.State(), row.after);
    EXPECT_EQ(cycle.CurrentAddress(), row.after.currentAddress);
}

INSTANTIATE_TEST_SUITE_P(
    PollCycle, PollCycleTableTest,
    ::testing::Values(
        // The reset values: from construction on, and after every (re)open.
        Row{"ConstructionHoldsTheResetValues", kBusy, {Event::Construct}, {}, {}, kResetValues},
        Row{"ResetFromAnyState", kBusy, {Event::Reset}, {}, {}, kResetValues},
        // StartPolling: the next tick sends, the selected meter first; the scan keeps its place.
        Row{"StartPollingClearsTheFlagsOnly",
            kBusy,
            {Event::StartPolling},
            {},
            {},
            S{42, 7, false, true, 3}},
        // A reply tick follows every send tick, whatever the boxes say.
        Row{"AwaitingReadsThenSendsNext",
            kBusy,
            Tick(true, 12),
            kRead,
            {},
            S{42, 7, false, false, 3}},
        Row{"AwaitingReadsWithPnpOffToo",
            kBusy,
            Tick(false, 12),
            kRead,
            {},
            S{42, 7, false, false, 3}},
        // PNP off: always the selected meter; the flag and the cursor stand still.
        Row{"PnpOffSendsToTheSelectedMeter",
            S{42, 7, false, false, 3},
            Tick(false, 12),
            Send(12),
            {},
            S{42, 12, true, false, 3}},
        Row{"PnpOffLeavesTheFlagSet",
            S{42, 7, false, true, 3},
            Tick(false, 12),
            Send(12),
            {},
            S{42, 12, true, true, 3}},
        Row{"PnpOffWithoutSelectionSendsToZero",
            S{5, -1, false, true, 0},
            Tick(false, 0),
            Send(0),
            {},
            S{5, 0, true, true, 0}},
        // PNP on: the selected meter when the flag is set and the list counted non-empty...
        Row{"PnpOnFlagSetAndListedAsksTheSelected",
            S{42, 7, false, true, 3},
            Tick(true, 12),
            Send(12),
            {},
            S{42, 12, true, false, 3}},
        // ...otherwise the next address of the scan.
        Row{"PnpOnFlagClearProbesTheNext",
            S{42, 12, false, false, 3},
            Tick(true, 12),
            Send(43),
            {},
            S{43, 43, true, true, 3}},
        Row{"PnpOnCountedEmptyProbesEvenWithTheFlagSet",
            kResetValues,
            Tick(true, 3),
            Send(1),
            {},
            S{1, 1, true, true, 0}},
        Row{"ScanReaches99",
            S{98, 98, false, true, 0},
            Tick(true, 0),
            Send(99),
            {},
            S{99, 99, true, true, 0}},
        Row{"ScanWrapsFrom99To0",
            S{99, 99, false, true, 0},
            Tick(true, 0),
            Send(0),
            {},
            S{0, 0, true, true, 0}},
        // The address list: a correct reply adds, a failed one removes, and the entries are
        // counted again after every update of an address 00..99.
        Row{"ReplyFromUnlistedAdds",
            S{42, 7, false, true, 2},
            Reply(7, false, 3),
            {},
            ListChange::Add,
            S{42, 7, false, true, 3}},
        Row{"ReplyFromAddress0Adds",
            S{42, 7, false, true, 1},
            Reply(0, false, 2),
            {},
            ListChange::Add,
            S{42, 7, false, true, 2}},
        Row{"ReplyFromAddress99Adds",
            S{42, 7, false, true, 1},
            Reply(99, false, 2),
            {},
            ListChange::Add,
            S{42, 7, false, true, 2}},
        Row{"ReplyFromListedOnlyRecounts",
            kResetValues,
            Reply(3, true, 2),
            {},
            ListChange::Keep,
            S{0, -1, false, true, 2}},
        Row{"FailureOfListedRemoves",
            S{42, 12, false, false, 3},
            Failure(12, true, 2),
            {},
            ListChange::Remove,
            S{42, 12, false, false, 2}},
        Row{"FailureOfTheLastEmptiesTheCount",
            S{42, 5, false, false, 1},
            Failure(5, true, 0),
            {},
            ListChange::Remove,
            S{42, 5, false, false, 0}},
        Row{"FailureOfUnlistedOnlyRecounts",
            S{42, 9, false, true, 0},
            Failure(9, false, 1),
            {},
            ListChange::Keep,
            S{42, 9, false, true, 1}},
        Row{"Address100IsIgnored",
            S{42, 7, false, true, 3},
            Reply(100, false, 9),
            {},
            ListChange::Ignore,
            S{42, 7, false, true, 3}},
        Row{"NoneSinceTheResetIsIgnored",
            S{0, -1, false, true, 3},
            Failure(-1, false, 9),
            {},
            ListChange::Ignore,
            S{0, -1, false, true, 3}},
        Row{"NegativeIsIgnored",
            S{0, -1, false, true, 3},
            Failure(-5, false, 9),
            {},
            ListChange::Ignore,
            S{0, -1, false, true, 3}}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// The addresses of the send ticks in a run of ticks, reads shown as -1.
std::vector<int> Ticks(CPollCycle& cycle, int ticks, bool bPnp, int selected) {
    std::vector<int> sent;
    for (int i = 0; i < ticks; ++i) {
        const PollAction action = cycle.OnTick(bPnp, selected);
        sent.push_back(action.step == PollStep::Send ? action.address : -1);
    }
    return sent;
}

TEST(PollCycleRunTest, AfterAResetTheScanProbesFrom01To99ThenFrom00) {
    CPollCycle cycle;
    cycle.Reset();
    const std::vector<int> sent = Ticks(cycle, 202, true, 0);
    std::vector<int> expected;
    for (int k = 1; k <= 101; ++k) {
        expected.push_back(k % 100);
        expected.push_back(-1);
    }
    EXPECT_EQ(sent, expected);
}

TEST(PollCycleRunTest, WithAMeterListedTheSelectedMeterAlternatesWithTheProbes) {
    CPollCycle cycle;
    cycle.Reset();
    cycle.CountListed(1);
    cycle.OnStartPolling();
    EXPECT_EQ(Ticks(cycle, 8, true, 5), (std::vector<int>{5, -1, 1, -1, 5, -1, 2, -1}));
    // Without PNP every request goes to the selected meter, and the scan stands still.
    EXPECT_EQ(Ticks(cycle, 4, false, 5), (std::vector<int>{5, -1, 5, -1}));
    EXPECT_EQ(cycle.State().scanCursor, 2);
}

} // namespace
