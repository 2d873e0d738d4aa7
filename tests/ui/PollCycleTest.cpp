// The poll cycle without a window. Its rules first: each row is a state, one event, and what the
// cycle does and leaves behind. Then the meter session that runs it: the ticks, the timer, the
// address list and the port the cycle polls on, shown through a recording view, the port's system
// calls the recording fake. The window tests check only that the window's timer and boxes reach it.
#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "protocol/FrameCodec.h"
#include "tests/support/PtyMeter.h"
#include "tests/ui/SessionFixture.h"
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

class PollSessionTest : public SessionFixture {};

TEST_F(PollSessionTest, TicksSendWithTheBoxesAsTheyAreThenReadAndAlwaysRedraw) {
    // PNP on and nothing listed: a probe of 01, in the bank of "Bank 1".
    m_view.Check(Box::Bank1, true);
    m_session.OnPollTimer(0);
    EXPECT_EQ(SentBody(), "01RX1P0+0000000");
    EXPECT_EQ(m_view.calls.back(), "unit Sec");
    EXPECT_EQ(m_view.calls[m_view.calls.size() - 2], "value     0");

    // The reply tick reads what came: 01 answers and is listed.
    m_line.input = ReplyFrame("01RD1P0+0001251");
    m_view.calls.clear();
    m_session.OnPollTimer(0);
    EXPECT_EQ(SentBody(), "(0 bytes)");
    EXPECT_EQ(m_view.entries, std::vector<std::string>{"01"});
    EXPECT_EQ(m_view.calls.back(), "unit Sec");
    EXPECT_EQ(m_view.value, "  12.5");

    // PNP off: every request to the selected meter, in the bank the box says now.
    m_view.Check(Box::Pnp, false);
    m_view.Check(Box::Bank1, false);
    m_session.OnPollTimer(0);
    EXPECT_EQ(SentBody(), "01RX0P0+0000000");
}

TEST_F(PollSessionTest, ForeignTimerIdSendsAndReadsNothingButRedraws) {
    const std::vector<uint8_t> reply = ReplyFrame("03RD0P0+0001251");
    m_line.input = reply;
    m_session.SetPollState(PollCycleState{0, -1, true, true, 0}); // a reply is awaited
    m_line.ClearEvents();
    m_view.calls.clear();

    m_session.OnPollTimer(5);

    // Not a call on the port: only the redraw.
    EXPECT_EQ(m_line.events, (std::vector<std::string>{"value     0", "unit Sec"}));
    EXPECT_TRUE(m_session.PollState().bAwaitingResponse);
    // The reply is still waiting for the next tick with id 0.
    m_session.OnPollTimer(0);
    EXPECT_FALSE(m_session.PollState().bAwaitingResponse);
    EXPECT_EQ(m_view.response, FormatHexDump(reply.data(), 19));
}

struct ListCase {
    const char* name;
    std::vector<std::string> entries;
    int selected; // index, -1 none
    int address;
    bool found;
    std::vector<std::string> expected;
    const char* expectedSelection; // "" none
    int expectedCount;             // -1: left as it was (42)
};

void PrintTo(const ListCase& c, std::ostream* pOut) {
    *pOut << c.name;
}

class UpdateAddressListTest : public PollSessionTest,
                              public ::testing::WithParamInterface<ListCase> {};

TEST_P(UpdateAddressListTest, FollowsTheReplies) {
    const ListCase& c = GetParam();
    m_view.entries = c.entries;
    m_view.selection = c.selected;
    PollCycleState state = m_session.PollState();
    state.listedCount = 42;
    m_session.SetPollState(state);

    m_session.UpdateAddressList(c.address, c.found);

    EXPECT_EQ(m_view.entries, c.expected);
    EXPECT_EQ(m_view.AddressListText(), c.expectedSelection);
    EXPECT_EQ(m_session.PollState().listedCount, c.expectedCount < 0 ? 42 : c.expectedCount);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateAddressListTest,
    ::testing::Values(
        ListCase{"InsertsInOrderKeepingTheSelection",
                 {"03", "12"},
                 1,
                 7,
                 true,
                 {"03", "07", "12"},
                 "12",
                 3},
        ListCase{"FirstEntryIsSelected", {}, -1, 5, true, {"05"}, "05", 1},
        ListCase{"ListedAgainOnlyRecounts", {"03", "07"}, 1, 7, true, {"03", "07"}, "07", 2},
        ListCase{"BadReplyOfSelectedMovesToEntry0",
                 {"03", "07", "12"},
                 2,
                 12,
                 false,
                 {"03", "07"},
                 "03",
                 2},
        ListCase{
            "BadReplyOfProbeMovesToEntry0", {"03", "07", "12"}, 2, 7, false, {"03", "12"}, "03", 2},
        ListCase{"LastOneLeavesNothingSelected", {"05"}, 0, 5, false, {}, "", 0},
        ListCase{"BadReplyOfUnlistedChangesNothing", {"03"}, 0, 9, false, {"03"}, "03", 1},
        ListCase{"Address100Ignored", {"03"}, 0, 100, true, {"03"}, "03", -1},
        ListCase{"NoneIgnored", {"03"}, 0, -1, false, {"03"}, "03", -1},
        ListCase{"NegativeIgnored", {"05"}, 0, -5, false, {"05"}, "05", -1},
        ListCase{"Address0Listed", {"03"}, 0, 0, true, {"00", "03"}, "03", 2}),
    [](const ::testing::TestParamInfo<ListCase>& info) { return std::string(info.param.name); });

TEST_F(PollSessionTest, SelectedMeterIsTheListTextAndZeroWithoutOne) {
    EXPECT_EQ(m_session.SelectedAddress(), 0);
    List({12, 7});
    EXPECT_EQ(m_session.SelectedAddress(), 12);
    m_session.UpdateAddressList(12, false);
    EXPECT_EQ(m_session.SelectedAddress(), 7);
}

TEST_F(PollSessionTest, StartAndStopPollingTouchTheTimerAndOnlyTheTwoFlags) {
    m_session.SetPollState(PollCycleState{42, 7, true, false, 3});
    const int starts = m_view.nTimerStarts;
    m_session.StartPolling();
    EXPECT_EQ(m_view.nTimerStarts, starts + 1); // a running timer is started afresh
    const PollCycleState restarted{42, 7, false, true, 3};
    EXPECT_EQ(m_session.PollState(), restarted);

    m_session.StopPolling();
    EXPECT_FALSE(m_view.bTimerRunning);
    EXPECT_EQ(m_session.PollState(), restarted);
}

TEST_F(PollSessionTest, ReopeningResetsTheCycleButKeepsTheListSoTheFirstRequestIsAProbe) {
    List({3, 7});
    ASSERT_EQ(m_session.PollState().listedCount, 2);
    m_session.SetPollState(PollCycleState{42, 7, true, false, 2});

    m_session.ClosePort();
    EXPECT_FALSE(m_view.bTimerRunning); // stopped before the port closes
    m_session.OpenPortFromSettings();

    EXPECT_TRUE(m_view.boxes.empty());
    EXPECT_EQ(m_view.entries, (std::vector<std::string>{"03", "07"}));
    EXPECT_EQ(m_view.AddressListText(), "03");
    EXPECT_EQ(m_session.PollState(), PollCycleState{});

    // Counted empty until a reply recounts the list: the first request probes 01, not 03.
    m_session.OnPollTimer(0);
    EXPECT_EQ(m_session.PollState().currentAddress, 1);
    EXPECT_EQ(SentBody(), "01RX0P0+0000000");
}

TEST_F(PollSessionTest, SettingsIndicesBecomeTheLineSettingsOfTheTables) {
    struct Case {
        PortSettings settings;
        int port;
        const char* configure;
    };
    const std::vector<Case> cases = {
        {{0, 14, 1, 0, 0}, 1, "configure 256000 8 0 0"},
        {{0, 0, 1, 0, 0}, 1, "configure 110 8 0 0"},
        {{0, 6, 0, 0, 0}, 1, "configure 9600 7 0 0"},
        {{0, 6, 1, 2, 0}, 1, "configure 9600 8 2 0"},
        {{0, 6, 1, 1, 1}, 1, "configure 9600 8 1 2"},
        {{7, 10, 1, 0, 0}, 8, "configure 56000 8 0 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.configure);
        m_env.Set("QD7_COM" + std::to_string(c.port), "/fake/com" + std::to_string(c.port));
        m_line.ClearEvents();
        m_session.ApplyLineSettings(c.settings);
        EXPECT_TRUE(m_view.boxes.empty());
        EXPECT_EQ(m_session.State(), DeviceState::Open);
        EXPECT_GE(m_line.TimeOf("open /fake/com" + std::to_string(c.port)), 0);
        EXPECT_GE(m_line.TimeOf(c.configure), 0);
    }
}

TEST_F(PollSessionTest, PortThatCannotOpenIsReportedWithItsNumberAndTheCycleStillResets) {
    m_env.Set("QD7_COM3", "/fake/com3");
    m_line.openFailure = OpenFailure::NoDevice;
    m_session.SetPollState(PollCycleState{42, 7, true, false, 3});
    m_session.ApplyLineSettings({2, 6, 1, 0, 0});

    ASSERT_EQ(m_view.boxes.size(), 1U);
    EXPECT_EQ(m_view.boxes[0].first, "COM3 can't open!");
    EXPECT_EQ(m_view.boxes[0].second, m_session.SerialPort().FailureReason());
    EXPECT_EQ(m_view.boxes[0].second.rfind("/fake/com3: ", 0), 0U) << m_view.boxes[0].second;
    EXPECT_EQ(m_session.State(), DeviceState::Closed);
    EXPECT_EQ(m_session.PollState(), PollCycleState{});
    EXPECT_TRUE(m_view.bTimerRunning); // Autoscan is on: polling goes on without a port

    // Without a port a poll sends nothing and counts as no reply; the session keeps working.
    m_session.OnPollTimer(0);
    m_session.OnPollTimer(0);
    EXPECT_EQ(m_view.response, "");
    EXPECT_EQ(m_view.LampOf(Lamp::Receive), LampColour::Yellow);
}

TEST_F(PollSessionTest, StateFollowsThePortFromStartToEnd) {
    FakeLine line;
    CRecordingMeterView view;
    CMeterSession session(view, MakeRecordingOps(line));
    EXPECT_EQ(session.State(), DeviceState::NotStarted);
    session.OpenPortFromSettings();
    EXPECT_EQ(session.State(), DeviceState::Open);

    // The device goes: the tick's read notices; while it is away each tick tries it once, quietly;
    // the tick after it is back opens it again.
    line.bGone = true;
    line.openFailure = OpenFailure::NoDevice;
    session.OnPollTimer(0);
    EXPECT_EQ(session.State(), DeviceState::Lost);
    session.OnPollTimer(0);
    EXPECT_EQ(session.State(), DeviceState::Lost);
    line.bGone = false;
    line.openFailure = OpenFailure::None;
    session.OnPollTimer(0);
    EXPECT_EQ(session.State(), DeviceState::Open);
    EXPECT_TRUE(view.boxes.empty());

    session.ClosePort();
    EXPECT_EQ(session.State(), DeviceState::Closed);
    session.End();
    EXPECT_EQ(session.State(), DeviceState::Ended);
}

} // namespace
