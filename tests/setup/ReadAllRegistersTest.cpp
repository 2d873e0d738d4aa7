// The register read-out of the meter session, without a window: eleven requests in order to the
// selected meter, its replies in the snapshot, the pauses, the poll timer around the run and the
// progress. The port's system calls are the recording fake; in every pause the simulated meters
// hear what was written and their replies wait on the line.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "sim/SimBus.h"
#include "tests/setup/SimReadOut.h"
#include "tests/ui/SessionFixture.h"

namespace {

constexpr int kMeterA = 7;
constexpr int kMeterB = 12;

// A progress bar that remembers what it was told.
struct CRecordingProgress final : IReadOutProgress {
    void SetRange(int low, int high) override {
        calls.push_back("range " + std::to_string(low) + " " + std::to_string(high));
    }
    void SetPosition(int position) override {
        calls.push_back("position " + std::to_string(position));
        nPosition = position;
    }
    std::vector<std::string> calls;
    std::optional<int> nPosition;
};

class ReadAllRegistersTest : public SessionFixture {
protected:
    void SetUp() override {
        SessionFixture::SetUp();
        m_view.fnDuringSleep = [this](int ms) {
            m_vecTimerRunningInSleep.push_back(m_view.bTimerRunning);
            if (m_fnOnSleep) {
                m_fnOnSleep(ms);
            }
            for (const SimReply& reply : m_bus.Feed(std::exchange(m_line.sent, {}))) {
                m_line.input.insert(m_line.input.end(), reply.bytes.begin(), reply.bytes.end());
            }
        };
    }

    static std::vector<std::string> SnapshotTexts(const RegisterSnapshot& snapshot) {
        std::vector<std::string> texts;
        for (const float value : snapshot.values) {
            std::array<char, 32> text{};
            std::snprintf(text.data(), text.size(), "%g", static_cast<double>(value));
            texts.emplace_back(text.data());
        }
        return texts;
    }

    const std::vector<int> kRunPauses = {500, 700, 700, 700, 700, 700,
                                         700, 700, 700, 700, 700, 700};

    // The meters' clock stands still, so every value is known in advance.
    CSimBus m_bus{{CSimMeter(kMeterA), CSimMeter(kMeterB)}, {}, 1, [] {
                      return std::chrono::milliseconds(0);
                  }};
    std::vector<bool> m_vecTimerRunningInSleep;
    std::function<void(int ms)> m_fnOnSleep;
};

TEST_F(ReadAllRegistersTest, ReadsTheSelectedMeterInEitherBank) {
    List({kMeterB, kMeterA});
    m_view.selection = 0; // "07"
    for (const int bank : {0, 1}) {
        SCOPED_TRACE(bank);
        m_view.Check(Box::Bank1, bank == 1);
        m_bus.ClearReceivedBodies();
        m_view.sleeps.clear();
        m_vecTimerRunningInSleep.clear();

        RegisterSnapshot snapshot{};
        CRecordingProgress progress;
        m_session.ReadAllRegisters(&snapshot, &progress);

        EXPECT_EQ(m_bus.ReceivedBodies(), ReadOutBodies(kMeterA, bank));
        EXPECT_EQ(snapshot.address, kMeterA);
        EXPECT_EQ(SnapshotTexts(snapshot), ExpectedTexts(kMeterA, bank));
        EXPECT_EQ(m_view.sleeps, kRunPauses);
        // The poll timer is off for the whole run and runs again afterwards.
        EXPECT_EQ(m_vecTimerRunningInSleep, std::vector<bool>(kRunPauses.size(), false));
        EXPECT_TRUE(m_view.bTimerRunning);
    }
    // Replies of the read-out put their meter in the list but move no selection.
    EXPECT_EQ(m_view.AddressListText(), "07");
}

TEST_F(ReadAllRegistersTest, RestartsPollingAfreshWhenAutoscanIsOn) {
    List({kMeterA});
    // A poll request outstanding before the run is forgotten; the scan keeps its place.
    m_session.SetPollState(PollCycleState{42, 41, true, false, 1});
    const int starts = m_view.nTimerStarts;

    RegisterSnapshot snapshot{};
    m_session.ReadAllRegisters(&snapshot, nullptr);

    EXPECT_TRUE(m_view.bTimerRunning);
    EXPECT_EQ(m_view.nTimerStarts, starts + 1);
    EXPECT_EQ(m_session.PollState(), (PollCycleState{42, 41, false, true, 1}));
    // Without a bar the run is the same.
    EXPECT_EQ(m_view.sleeps, kRunPauses);
    EXPECT_EQ(snapshot.address, kMeterA);
}

TEST_F(ReadAllRegistersTest, ProgressCountsElevenRequestsInARangeOfTenThenGoesBackToZero) {
    List({kMeterA});
    CRecordingProgress progress;
    // At the pause for register k, the bar shows the k registers before it.
    std::vector<int> positionAtPause;
    m_fnOnSleep = [&](int) { positionAtPause.push_back(progress.nPosition.value_or(-1)); };

    RegisterSnapshot snapshot{};
    m_session.ReadAllRegisters(&snapshot, &progress);

    EXPECT_EQ(positionAtPause, (std::vector<int>{-1, -1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    std::vector<std::string> expected = {"range 0 10"};
    for (int k = 1; k <= 11; ++k) {
        expected.push_back("position " + std::to_string(k));
    }
    expected.emplace_back("position 0");
    EXPECT_EQ(progress.calls, expected);
}

TEST_F(ReadAllRegistersTest, WithoutSnapshotNothingHappens) {
    List({kMeterA});
    m_view.calls.clear();
    m_line.ClearEvents();
    CRecordingProgress progress;
    m_session.ReadAllRegisters(nullptr, &progress);
    EXPECT_TRUE(m_view.calls.empty());
    EXPECT_TRUE(m_line.events.empty());
    EXPECT_TRUE(progress.calls.empty());
}

TEST_F(ReadAllRegistersTest, NoSelectionAndNoAnswerLeaveTheSnapshotAsTheCallerFilledIt) {
    // Autoscan off: the timer is neither stopped nor started. Nothing answers address 00.
    m_view.Check(Box::Autoscan, false);
    m_session.StopPolling();
    m_view.calls.clear();

    RegisterSnapshot snapshot{};
    snapshot.address = 55;
    snapshot.values[3] = 1.5F;
    m_session.ReadAllRegisters(&snapshot, nullptr);

    EXPECT_EQ(m_bus.ReceivedBodies(), ReadOutBodies(0, 0));
    EXPECT_EQ(snapshot.address, 55);
    std::array<float, 11> expected{};
    expected[3] = 1.5F;
    EXPECT_EQ(snapshot.values, expected);
    EXPECT_EQ(m_view.sleeps, kRunPauses);
    EXPECT_FALSE(m_view.bTimerRunning);
    EXPECT_EQ(std::count_if(m_view.calls.begin(), m_view.calls.end(),
                            [](const std::string& call) { return call.rfind("timer", 0) == 0; }),
              0);
}

TEST_F(ReadAllRegistersTest, UpToAHundredWaitingBytesAreDiscardedBeforeTheFirstRequest) {
    List({kMeterA});
    // Seven replies of meter 12 (133 bytes) arrive during the first pause. The drain of a request
    // takes only 64, so with a read-out's drain of less than 70 the rest would spoil the reply
    // for P0.
    constexpr int kStrayReplies = 7;
    m_fnOnSleep = [&](int ms) {
        if (ms != 500) {
            return;
        }
        const SimReplyFrame stray = *m_bus.ReplyFor(kMeterB, 0, 1);
        for (int i = 0; i < kStrayReplies; ++i) {
            m_line.input.insert(m_line.input.end(), stray.begin(), stray.end());
        }
    };
    RegisterSnapshot snapshot{};
    m_session.ReadAllRegisters(&snapshot, nullptr);
    EXPECT_EQ(snapshot.address, kMeterA);
    EXPECT_EQ(snapshot.values[0], 107.0F);
    EXPECT_EQ(snapshot.values[1], 900.0F);
    EXPECT_EQ(m_view.AddressEntryCount(), 1);
}

} // namespace
