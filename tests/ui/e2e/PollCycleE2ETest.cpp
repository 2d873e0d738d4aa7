// The poll cycle end to end: the real main window on one side of a pty pair, the simulated meter
// bus answering on the other in a thread of its own. The test drives the ticks; each send tick is
// followed by the bus's answer (or by the certainty that none comes) before the reply tick.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "protocol/FrameCodec.h"
#include "render/PanelLayout.h"
#include "sim/SimBus.h"
#include "sim/SimServer.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/ListEntries.h"
#include "tests/support/PtyMeter.h"
#include "tests/support/WindowUnderTest.h"
#include "tests/ui/PanelPixels.h"
#include "ui/MeterTestDlg.h"

namespace {

using namespace std::chrono_literals;

constexpr int kSweepGuard = 1000; // polls; a sweep with one meter listed takes 200

class PollCycleE2E : public ::testing::Test {
protected:
    void StartBus(const std::vector<int>& addresses) {
        ASSERT_TRUE(m_pty.IsOpen());
        std::vector<CSimMeter> meters;
        for (const int address : addresses) {
            meters.emplace_back(address);
        }
        // The bus's clock stands still, so every process value is known in advance.
        m_pBus = std::make_unique<CSimBus>(std::move(meters), SimFaults{}, 1, [] { return 0ms; });
        m_pServer = std::make_unique<CSimServer>(*m_pBus);
        ASSERT_TRUE(m_pServer->ServeFd(m_pty.MasterFd()));
        ASSERT_TRUE(m_pServer->Start());

        // Ticks and sleeps come from the test.
        m_pWindow = std::make_unique<CWindowUnderTest>(CWindowUnderTest::Options{
            .com1 = m_pty.SlavePath(), .start = CWindowUnderTest::Start::Initialised});
        ASSERT_EQ(Session().State(), DeviceState::Open);
    }
    void TearDown() override {
        m_pWindow.reset();
        if (m_pServer) {
            m_pServer->Stop();
        }
    }

    CWindowUnderTest& Window() { return *m_pWindow; }
    CMeterSession& Session() { return m_pWindow->Session(); }
    const QImage& Panel() { return m_pWindow->Panel(); }
    std::vector<std::string> Entries() { return m_pWindow->Entries(); }
    QString Selected() { return m_pWindow->Selected(); }
    bool Answers(int address) const {
        return m_pBus->HasMeter(address) && m_setSilent.count(address) == 0;
    }
    void SetSilent(int address, bool bSilent) {
        ASSERT_TRUE(m_pBus->SetSilent(address, bSilent));
        if (bSilent) {
            m_setSilent.insert(address);
        } else {
            m_setSilent.erase(address);
        }
    }

    // A send tick, the bus's answer, then the reply tick. Gives the address that was polled, as
    // the bus heard it. A probe is a request to the address the scan cursor moved on to.
    // `replyBytes`: how many bytes must wait before the reply tick when the meter answers.
    int Poll(int replyBytes = kMinResponseLength) {
        const uint64_t frames = m_pServer->FramesReceived();
        const uint64_t replies = m_pServer->RepliesSent();
        const int cursorBefore = Session().PollState().scanCursor;
        Session().OnPollTimer(0);
        const PollCycleState sent = Session().PollState();
        EXPECT_TRUE(sent.bAwaitingResponse);
        EXPECT_TRUE(m_pServer->WaitForFrames(frames + 1, 2s));
        const std::vector<std::string> bodies = m_pBus->ReceivedBodies();
        const int address = bodies.empty() ? -1 : std::stoi(bodies.back().substr(0, 2));
        EXPECT_EQ(address, sent.currentAddress);
        if (sent.scanCursor != cursorBefore) {
            EXPECT_EQ(address, sent.scanCursor);
            m_vecProbes.push_back(address);
        }
        if (Answers(address)) {
            EXPECT_TRUE(m_pServer->WaitForReplies(replies + 1, 2s)) << address;
            EXPECT_TRUE(WaitInput(m_pty, replyBytes)) << address;
        }
        Session().OnPollTimer(0);
        EXPECT_FALSE(Session().PollState().bAwaitingResponse);
        return address;
    }
    // Polls until the scan cursor has gone once round all 100 addresses.
    void Sweep() {
        const size_t before = m_vecProbes.size();
        for (int i = 0; i < kSweepGuard && m_vecProbes.size() - before < 100; ++i) {
            Poll();
        }
        ASSERT_EQ(m_vecProbes.size() - before, 100U);
    }
    // The text the display shows for a meter's P0 in a bank, as the bus would answer now.
    std::string ExpectedValueText(int address, int bank) {
        const auto reply = m_pBus->ReplyFor(address, bank, 0);
        EXPECT_TRUE(reply.has_value());
        const DecodedResponse decoded =
            ParseResponseFrame(reply->data(), static_cast<int>(reply->size()));
        EXPECT_EQ(decoded.status, ResponseStatus::ResponseOk);
        return FormatValueText(decoded.value, decoded.decimals);
    }
    std::string Body(int address, int bank) {
        return QString::asprintf("%02dRX%dP0+0000000", address, bank).toStdString();
    }

    PtyPair m_pty;
    std::unique_ptr<CSimBus> m_pBus;
    std::unique_ptr<CSimServer> m_pServer;
    std::unique_ptr<CWindowUnderTest> m_pWindow;
    std::set<int> m_setSilent;
    std::vector<int> m_vecProbes; // addresses probed by the scan, in order
};

TEST_F(PollCycleE2E, OneSweepListsExactlyTheMetersAndShowsTheSelectedValueInItsBank) {
    StartBus({3, 7, 12});
    Sweep();

    EXPECT_EQ(Entries(), (std::vector<std::string>{"03", "07", "12"}));
    EXPECT_EQ(Selected(), QStringLiteral("03"));
    EXPECT_EQ(Session().PollState().listedCount, 3);
    // Every address was probed once, from 01 up, and 00 right after 99.
    ASSERT_EQ(m_vecProbes.size(), 100U);
    EXPECT_EQ(m_vecProbes.front(), 1);
    EXPECT_EQ(m_vecProbes[98], 99);
    EXPECT_EQ(m_vecProbes[99], 0);
    EXPECT_EQ(std::set<int>(m_vecProbes.begin(), m_vecProbes.end()).size(), 100U);

    // 03's process value of bank 0, in red digits on the panel.
    const std::string bank0 = ExpectedValueText(3, 0);
    EXPECT_STREQ(Session().DisplayText(), bank0.c_str());
    EXPECT_EQ(ValueCells(Panel()), ExpectedValueCells(bank0.c_str()));
    EXPECT_NE(ValueCells(Panel()), ExpectedValueCells("    0"));

    // "Bank 1" asks every meter for bank 1, and the display follows.
    Window().Bank1()->setChecked(true);
    int polled = -1;
    for (int i = 0; i < 4 && polled != 3; ++i) {
        polled = Poll();
    }
    ASSERT_EQ(polled, 3);
    EXPECT_EQ(m_pBus->ReceivedBodies().back(), Body(3, 1));
    const std::string bank1 = ExpectedValueText(3, 1);
    ASSERT_NE(bank1, bank0);
    EXPECT_STREQ(Session().DisplayText(), bank1.c_str());
    EXPECT_EQ(ValueCells(Panel()), ExpectedValueCells(bank1.c_str()));
}

TEST_F(PollCycleE2E, AfterTheFirstListingRequestsAlternateWithTheNextProbe) {
    StartBus({3, 7, 12});
    std::vector<int> polled;
    for (int i = 0; i < 16; ++i) {
        polled.push_back(Poll());
    }
    EXPECT_EQ(polled, (std::vector<int>{1, 2, 3, 3, 4, 3, 5, 3, 6, 3, 7, 3, 8, 3, 9, 3}));
    std::vector<std::string> expectedBodies;
    for (const int address : polled) {
        expectedBodies.push_back(Body(address, 0));
    }
    EXPECT_EQ(m_pBus->ReceivedBodies(), expectedBodies);
    EXPECT_EQ(Entries(), (std::vector<std::string>{"03", "07"}));
    EXPECT_EQ(Selected(), QStringLiteral("03"));
}

TEST_F(PollCycleE2E, SilentMeterLeavesTheListAndReturnsWhenAProbeFindsIt) {
    StartBus({3, 7});
    Sweep();
    ASSERT_EQ(Entries(), (std::vector<std::string>{"03", "07"}));

    SetSilent(3, true);
    int polled = -1;
    for (int i = 0; i < 4 && polled != 3; ++i) {
        polled = Poll();
    }
    ASSERT_EQ(polled, 3);
    EXPECT_EQ(Entries(), std::vector<std::string>{"07"});
    EXPECT_EQ(Selected(), QStringLiteral("07"));
    EXPECT_TRUE(ShowsLamp(Panel(), kReceiveLampOrigin, LampYellow));

    SetSilent(3, false);
    for (int i = 0; i < kSweepGuard && Entries().size() < 2; ++i) {
        Poll();
    }
    EXPECT_EQ(Entries(), (std::vector<std::string>{"03", "07"}));
    EXPECT_EQ(Selected(), QStringLiteral("07")); // an existing selection stays
}

TEST_F(PollCycleE2E, FaultsOnTheLineFollowTheirPaths) {
    StartBus({3, 7});
    Sweep();
    ASSERT_EQ(Entries(), (std::vector<std::string>{"03", "07"}));
    Window().Pnp()->setChecked(false); // every request to the selected meter

    // A corrupted CRC: yellow, and the polled meter leaves the list.
    m_pBus->CorruptNextReplies(1);
    EXPECT_EQ(Poll(), 3);
    EXPECT_TRUE(ShowsLamp(Panel(), kReceiveLampOrigin, LampYellow));
    EXPECT_EQ(Entries(), std::vector<std::string>{"07"});
    EXPECT_EQ(Selected(), QStringLiteral("07"));

    // Well formed but refused (RX echoed): only the dump changes.
    EXPECT_EQ(Poll(), 7);
    const std::string shown = Session().DisplayText();
    m_pBus->SetReject(true);
    EXPECT_EQ(Poll(), 7);
    m_pBus->SetReject(false);
    EXPECT_TRUE(Window().ResponseEdit()->text().startsWith(QStringLiteral("06 02 30 37 52 58 ")));
    EXPECT_EQ(Entries(), std::vector<std::string>{"07"});
    EXPECT_TRUE(ShowsLamp(Panel(), kReceiveLampOrigin, LampDarkGreen));
    EXPECT_EQ(Session().DisplayText(), shown);

    // A reply that names another address is taken for that address.
    m_pBus->SetAnswerAs(7, 9);
    EXPECT_EQ(Poll(), 7);
    EXPECT_EQ(Entries(), (std::vector<std::string>{"07", "09"}));
    EXPECT_EQ(Selected(), QStringLiteral("07"));
    EXPECT_TRUE(ShowsLamp(Panel(), kReceiveLampOrigin, LampGreen));
}

TEST_F(PollCycleE2E, LongRepliesLeaveTheirTailToTheNextRead) {
    StartBus({3});
    Session().UpdateAddressList(3, true);
    Window().Pnp()->setChecked(false);
    m_pBus->SetLongReply(120); // 139 bytes a reply

    EXPECT_EQ(Poll(139), 3); // the first 60 bytes: a correct reply and noise behind it
    EXPECT_EQ(Entries(), std::vector<std::string>{"03"});
    EXPECT_EQ(Window().ResponseEdit()->text().size(), 60 * 3);

    // 79 bytes still wait; the send drains 64, and the other 15 lead the next read.
    EXPECT_EQ(Poll(15 + 139), 3);
    EXPECT_EQ(Window().ResponseEdit()->text().size(), 60 * 3);
    EXPECT_FALSE(Window().ResponseEdit()->text().startsWith(QStringLiteral("06 02 30 33")));
    EXPECT_TRUE(Entries().empty());
}

TEST_F(PollCycleE2E, SendRepeatsTheShownBodyAndShowsTheMetersReply) {
    StartBus({3});
    Session().UpdateAddressList(3, true);
    Window().Pnp()->setChecked(false);
    Window().Bank1()->setChecked(true);
    EXPECT_EQ(Poll(), 3);
    const std::string body = m_pBus->ReceivedBodies().back();
    EXPECT_EQ(Window().TextEdit()->text().toStdString(), body);

    QTest::mouseClick(Window().Autoscan(), Qt::LeftButton);
    const uint64_t replies = m_pServer->RepliesSent();
    std::vector<int> sleeps;
    Window().OnSleep([&](int ms) {
        sleeps.push_back(ms);
        EXPECT_TRUE(m_pServer->WaitForReplies(replies + 1, 2s));
        EXPECT_TRUE(WaitInput(m_pty, kMinResponseLength));
    });
    Window().ResponseEdit()->clear();
    QTest::mouseClick(Window().SendButton(), Qt::LeftButton);

    EXPECT_EQ(sleeps, std::vector<int>{1000});
    const auto bodies = m_pBus->ReceivedBodies();
    ASSERT_EQ(bodies.size(), 2U);
    EXPECT_EQ(bodies[1], body);
    EXPECT_TRUE(
        Window().ResponseEdit()->text().startsWith(QStringLiteral("06 02 30 33 52 44 31 ")));
    EXPECT_STREQ(Session().DisplayText(), ExpectedValueText(3, 1).c_str());
}

} // namespace
