// The register read-out against simulated meters: eleven requests in order to the selected meter,
// its replies in the snapshot, the pauses, the poll timer around the run and the progress.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QProgressBar>
#include <QTimer>

#include <cstdio>

#include "tests/setup/SetupFixture.h"

namespace {

class ReadAllRegistersTest : public SetupFixture {
protected:
    std::vector<std::string> SnapshotTexts(const RegisterSnapshot& snapshot) const {
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
};

TEST_F(ReadAllRegistersTest, ReadsTheSelectedMeterInEitherBank) {
    m_pDlg->UpdateAddressList(kMeterB, true);
    m_pDlg->UpdateAddressList(kMeterA, true);
    m_pDlg->m_pAddressList->setCurrentIndex(0); // "07"
    for (const int bank : {0, 1}) {
        SCOPED_TRACE(bank);
        m_pDlg->m_pBank1->setChecked(bank == 1);
        m_bus.ClearReceivedBodies();
        m_vecSleeps.clear();
        m_vecTimerActiveInSleep.clear();

        RegisterSnapshot snapshot{};
        m_pDlg->ReadAllRegisters(&snapshot, m_pDlg->m_pProgress);

        EXPECT_EQ(RequestBodies(), ReadOutBodies(kMeterA, bank));
        EXPECT_EQ(snapshot.address, kMeterA);
        EXPECT_EQ(SnapshotTexts(snapshot), ExpectedTexts(kMeterA, bank));
        EXPECT_EQ(m_vecSleeps, kRunPauses);
        // The poll timer is off for the whole run and runs again afterwards.
        EXPECT_EQ(m_vecTimerActiveInSleep, std::vector<bool>(kRunPauses.size(), false));
        EXPECT_TRUE(m_pDlg->m_pPollTimer->isActive());
    }
    // Replies of the read-out put their meter in the list but move no selection.
    EXPECT_EQ(m_pDlg->m_pAddressList->currentText(), QStringLiteral("07"));
}

TEST_F(ReadAllRegistersTest, RestartsPollingAfreshWhenAutoscanIsOn) {
    m_pDlg->UpdateAddressList(kMeterA, true);
    // A poll request outstanding before the run is forgotten; the scan keeps its place.
    const PollCycleState listed = m_pDlg->m_pollCycle.State();
    m_pDlg->m_pollCycle = CPollCycle(PollCycleState{42, 41, true, false, listed.listedCount});

    RegisterSnapshot snapshot{};
    m_pDlg->ReadAllRegisters(&snapshot, nullptr);

    EXPECT_TRUE(m_pDlg->m_pPollTimer->isActive());
    EXPECT_EQ(m_pDlg->m_pollCycle.State(),
              (PollCycleState{42, 41, false, true, listed.listedCount}));
    // Without a bar the run is the same.
    EXPECT_EQ(m_vecSleeps, kRunPauses);
    EXPECT_EQ(snapshot.address, kMeterA);
}

TEST_F(ReadAllRegistersTest, PaintsEachPositionWhileTheThreadIsHeld) {
    m_pDlg->UpdateAddressList(kMeterA, true);
    QProgressBar* pBar = m_pDlg->m_pProgress;
    pBar->show();
    CPaintRecorder recorder(pBar);
    // At the pause for register k the bar already shows k on the screen.
    std::vector<int> paintedAtPause;
    m_fnOnSleep = [&](int) {
        paintedAtPause.push_back(recorder.m_vecPainted.empty() ? -1 : recorder.m_vecPainted.back());
    };

    RegisterSnapshot snapshot{};
    m_pDlg->ReadAllRegisters(&snapshot, pBar);

    // The bar, shown by the caller, reaches the screen with the first request's drawing at the
    // latest.
    EXPECT_EQ(paintedAtPause, (std::vector<int>{-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    // Eleven positions in a range of ten: full from the tenth on, then back to 0.
    EXPECT_EQ(recorder.Distinct(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0}));
    EXPECT_EQ(pBar->minimum(), 0);
    EXPECT_EQ(pBar->maximum(), 10);
    EXPECT_EQ(pBar->value(), 0);
}

TEST_F(ReadAllRegistersTest, WithoutSnapshotNothingHappens) {
    m_pDlg->UpdateAddressList(kMeterA, true);
    const int timerId = m_pDlg->m_pPollTimer->timerId();
    m_pDlg->ReadAllRegisters(nullptr, m_pDlg->m_pProgress);
    EXPECT_TRUE(m_vecSleeps.empty());
    EXPECT_TRUE(RequestBodies().empty());
    EXPECT_EQ(m_pDlg->m_pPollTimer->timerId(), timerId);
    EXPECT_EQ(m_pDlg->m_pProgress->maximum(), 100); // range untouched
}

TEST_F(ReadAllRegistersTest, NoSelectionAndNoAnswerLeaveTheSnapshotAsTheCallerFilledIt) {
    // Autoscan off: the timer is neither stopped nor started.
    m_pDlg->m_pAutoscan->click();
    ASSERT_FALSE(m_pDlg->m_pPollTimer->isActive());
    m_bExpectReplies = false; // nothing answers address 00

    RegisterSnapshot snapshot{};
    snapshot.address = 55;
    snapshot.values[3] = 1.5F;
    m_pDlg->ReadAllRegisters(&snapshot, m_pDlg->m_pProgress);

    EXPECT_EQ(RequestBodies(), ReadOutBodies(0, 0));
    EXPECT_EQ(snapshot.address, 55);
    std::array<float, 11> expected{};
    expected[3] = 1.5F;
    EXPECT_EQ(snapshot.values, expected);
    EXPECT_EQ(m_vecSleeps, kRunPauses);
    EXPECT_FALSE(m_pDlg->m_pPollTimer->isActive());
}

TEST_F(ReadAllRegistersTest, UpToAHundredWaitingBytesAreDiscardedBeforeTheFirstRequest) {
    m_pDlg->UpdateAddressList(kMeterA, true);
    // Five replies of meter 12 (95 bytes) arrive during the first pause. The drain of a request
    // takes only 64, so without the read-out's own drain the rest would spoil the reply for P0.
    constexpr int kStrayReplies = 5;
    m_fnOnSleep = [&](int ms) {
        if (ms != 500) {
            return;
        }
        const SimReplyFrame stray = *m_bus.ReplyFor(kMeterB, 0, 1);
        for (int i = 0; i < kStrayReplies; ++i) {
            ASSERT_TRUE(m_pty.WriteMaster(stray.data(), stray.size()));
        }
        WaitForBytesOnPort(kStrayReplies * static_cast<int>(stray.size()));
    };
    RegisterSnapshot snapshot{};
    m_pDlg->ReadAllRegisters(&snapshot, nullptr);
    EXPECT_EQ(snapshot.address, kMeterA);
    EXPECT_EQ(snapshot.values[0], 107.0F);
    EXPECT_EQ(snapshot.values[1], 900.0F);
    EXPECT_EQ(m_pDlg->m_pAddressList->count(), 1);
}

} // namespace
